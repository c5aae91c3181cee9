// mf2t: Standard MIDI File to event text.
#include <array>
#include <bit>
#include <cstring>
#include <utility>

#include "converters/Converters.h"
#include "converters/EventText.h"

namespace zelmod::convert {
namespace {

constexpr char HexDigits[] = "0123456789ABCDEF";
constexpr char DigitPairs[] = "00010203040506070809101112131415161718192021222324252627282930313233"
                              "34353637383940414243444546474849505152535455565758596061626364656667"
                              "6869707172737475767778798081828384858687888990919293949596979899";

// Digits of a number: its bit width tells the count up to one, and one
// comparison settles it (1233 / 4096 is just above log10(2)).
int digitCount(std::uint64_t value) {
    static constexpr auto powersOfTen = [] {
        std::array<std::uint64_t, 20> powers{0, 10}; // 0: zero has one digit too
        for (std::size_t i = 2; i < powers.size(); ++i)
            powers[i] = powers[i - 1] * 10;
        return powers;
    }();
    const int estimate = (std::bit_width(value | 1) * 1233) >> 12;
    return estimate + (value >= powersOfTen[estimate] ? 1 : 0);
}

// Writes value in count digits, two at a time from the end.
template <typename Number> char* appendDigits(char* out, Number value, int count) {
    char* digit = out + count;
    for (; value >= 100; value /= 100) {
        digit -= 2;
        std::memcpy(digit, &DigitPairs[2 * (value % 100)], 2);
    }
    if (value >= 10) {
        digit -= 2;
        std::memcpy(digit, &DigitPairs[2 * value], 2);
    } else {
        *--digit = static_cast<char>('0' + value);
    }
    return out + count;
}

char* appendLargeUnsigned(char* out, std::uint64_t value) {
    const int count = digitCount(value);
    // Numbers nearly always fit 32 bits, where dividing is cheaper.
    if (value <= UINT32_MAX)
        return appendDigits(out, static_cast<std::uint32_t>(value), count);
    return appendDigits(out, value, count);
}

// Most numbers are data bytes: those are written without a call or a loop.
inline char* appendUnsigned(char* out, std::uint64_t value) {
    if (value < 10) {
        *out = static_cast<char>('0' + value);
        return out + 1;
    }
    if (value < 100) {
        std::memcpy(out, &DigitPairs[2 * value], 2);
        return out + 2;
    }
    return appendLargeUnsigned(out, value);
}

char* appendText(char* out, std::string_view text) {
    std::memcpy(out, text.data(), text.size());
    return out + text.size();
}

// Writes ticks, which grow slowly: the digits above the last four are
// written anew only when they change.
class TickWriter {
  public:
    char* append(char* out, std::uint64_t tick) {
        const std::uint64_t high = tick / 10000;
        const auto low = static_cast<std::uint32_t>(tick - high * 10000);
        if (high == 0)
            return appendUnsigned(out, low);
        if (high != high_) {
            high_ = high;
            highLength_ = static_cast<std::size_t>(appendLargeUnsigned(highText_.data(), high) -
                                                   highText_.data());
        }
        // A fixed size copies faster; the line goes on over what is past the digits.
        std::memcpy(out, highText_.data(), highText_.size());
        out += highLength_;
        std::memcpy(out, &DigitPairs[2 * (low / 100)], 2);
        std::memcpy(out + 2, &DigitPairs[2 * (low % 100)], 2);
        return out + 4;
    }

  private:
    std::uint64_t high_ = 0;          // never 0 once written
    std::array<char, 16> highText_{}; // digits of UINT64_MAX / 10000
    std::size_t highLength_ = 0;
};

// One event of a track as it stands in the file. Its payload (meta data,
// SysEx data, system data bytes) follows in the file and is not read yet.
struct Event {
    std::uint64_t offset = 0;
    std::uint64_t tick = 0;
    std::uint32_t delta = 0;
    int deltaBytes = 0;
    std::uint8_t status = 0; // 0xFF for meta events
    std::uint8_t metaType = 0;
    std::array<std::uint8_t, 2> data{};
    bool statusOmitted = false;
    bool sameStatus = false;      // same status as the track's previous channel event
    bool afterNonChannel = false; // a meta, SysEx or system event came since that one
    std::uint32_t length = 0;     // payload bytes
    int lengthBytes = 0;
};

// Longest head of an event: delta time, status, meta type and length.
constexpr std::size_t EventHeadBytes = 2 * MaxVariableLengthBytes + 2;

// The bytes of an event's head, decoded where they lie in the input buffer.
struct HeadBytes {
    const unsigned char* begin;
    const unsigned char* at;
    const unsigned char* end;
    std::uint64_t offset; // of begin in the file

    std::uint64_t offsetOf(const unsigned char* byte) const {
        return offset + static_cast<std::uint64_t>(byte - begin);
    }
};

bool isChannel(const Event& event) {
    return event.status < 0xF0;
}

// How reading a variable-length number went.
enum class NumberRead { Whole, Ended, TooLong };

// Reads the variable-length number at `at` into value, moving `at` past the
// bytes it took and counting them in bytes.
NumberRead readVariableLength(const unsigned char*& at, const unsigned char* end,
                              std::uint32_t& value, int& bytes) {
    value = 0;
    for (bytes = 1; at != end; ++bytes) {
        const std::uint8_t b = *at++;
        value = (value << 7) | (b & 0x7F);
        if (!(b & 0x80))
            return NumberRead::Whole;
        if (bytes == MaxVariableLengthBytes)
            return NumberRead::TooLong;
    }
    return NumberRead::Ended;
}

// Program change (Cn) and channel pressure (Dn) have one data byte.
std::size_t channelDataBytes(std::uint8_t status) {
    return (status & 0xE0) == 0xC0 ? 1 : 2;
}

// Meta and SysEx events give their length; system messages have a fixed one.
bool hasLengthField(std::uint8_t status) {
    return status == 0xFF || status == 0xF0 || status == 0xF7;
}

// Pass one's view of a track: for each running-status default, how many
// channel events with the same status it would get wrong.
struct RunningStatusSkim {
    std::array<std::uint64_t, 3> misses{};
    std::uint8_t last = 0;
    bool afterNonChannel = false;
    bool stopped = false;
    std::uint32_t beyond = 0; // payload bytes past the buffer, still to pass over

    // Passes over the event at `at` and its payload. False when the payload
    // goes on past end, or when the bytes cannot be an event (then stopped).
    bool event(const unsigned char*& at, const unsigned char* end) {
        std::uint32_t length = 0;
        if (!variableLength(at, end, length) || at == end)
            return stop();
        const bool omitted = *at < 0x80;
        const std::uint8_t status = omitted ? last : *at++;
        if (status == 0)
            return stop();
        if (status >= 0xF0) {
            afterNonChannel = true;
            if (status == 0xFF && at == end)
                return stop();
            at += status == 0xFF ? 1 : 0; // the meta type
            length = static_cast<std::uint32_t>(systemDataBytes(status));
            if (hasLengthField(status) && !variableLength(at, end, length))
                return stop();
            const auto here = static_cast<std::size_t>(end - at);
            beyond = length > here ? static_cast<std::uint32_t>(length - here) : 0;
            at += length - beyond;
            return beyond == 0;
        }
        if (channelDataBytes(status) > static_cast<std::size_t>(end - at))
            return stop();
        at += channelDataBytes(status);
        for (int mode = 0; mode < 3 && status == last; ++mode) {
            if (defaultOmitsStatus(RunningStatus(mode), afterNonChannel) != omitted)
                ++misses[mode];
        }
        last = status;
        afterNonChannel = false;
        return true;
    }

    RunningStatus best() const {
        int best = 0;
        for (int mode = 1; mode < 3; ++mode) {
            if (misses[mode] < misses[best])
                best = mode;
        }
        return RunningStatus(best);
    }

  private:
    bool stop() {
        stopped = true;
        return false;
    }

    static bool variableLength(const unsigned char*& at, const unsigned char* end,
                               std::uint32_t& value) {
        int bytes = 0;
        return readVariableLength(at, end, value, bytes) == NumberRead::Whole;
    }
};

// The start of a channel event's line up to its first value ("On ch=1 n="),
// and the prefix of its second value (" v="), made from the event table.
struct ChannelLine {
    std::array<char, 32> text{};
    std::size_t length = 0;
    FieldForm firstForm = FieldForm::Data7;
    std::array<char, 8> second{};
    std::size_t secondLength = 0;
};

std::array<ChannelLine, 0x70> makeChannelLines() {
    std::array<ChannelLine, 0x70> lines;
    for (unsigned status = 0x80; status < 0xF0; ++status) {
        const EventName& name = channelEvent(static_cast<std::uint8_t>(status));
        ChannelLine& line = lines[status & 0x7F];
        char* out = appendText(line.text.data(), name.name);
        *out++ = ' ';
        out = appendText(out, ChannelField);
        out = appendUnsigned(out, (status & 0x0F) + 1u);
        *out++ = ' ';
        out = appendText(out, name.fields[0].prefix);
        line.length = static_cast<std::size_t>(out - line.text.data());
        line.firstForm = name.fields[0].form;
        if (name.fieldCount > 1) {
            line.second[0] = ' ';
            out = appendText(line.second.data() + 1, name.fields[1].prefix);
            line.secondLength = static_cast<std::size_t>(out - line.second.data());
        }
    }
    return lines;
}

class MidiToText {
  public:
    MidiToText(const std::string& midiPath, const std::string& textPath)
        : name_(midiPath), in_(midiPath, "MThd"), out_(textPath) {}
    MidiToText(const MemoryInput& midi, const MemoryOutput& text)
        : name_(midi.name), in_(midi), out_(text) {}
    MidiToText(const std::string& midiPath, TextPipe& text)
        : name_(midiPath), in_(midiPath, "MThd"), out_(text) {}

    void run() {
        const std::uint16_t declaredTracks = header();
        bool moreChunks = true;
        while (moreChunks && in_.offset() < in_.size())
            moreChunks = chunk(tracksRead_ >= declaredTracks);
        if (tracksRead_ < declaredTracks) {
            fail(in_.size(), "the file ends after " + std::to_string(tracksRead_) + " of the " +
                                 std::to_string(declaredTracks) + " tracks of its MThd chunk");
        }
        out_.commit();
    }

  private:
    // Inside a track the place names the track too, counted from 1 as the
    // file holds them.
    [[noreturn]] void fail(std::uint64_t offset, const std::string& what) {
        const std::string track =
            inTrack_ ? "track " + std::to_string(tracksRead_ + 1) + ", " : std::string();
        throw ConversionError(name_ + ": " + track + "byte " + std::to_string(offset) + ": " +
                              what);
    }

    // The next byte of an event's head; the head's bytes end where the chunk does.
    std::uint8_t byte(HeadBytes& head) {
        if (head.at == head.end)
            dataEnded(head.offsetOf(head.at));
        return *head.at++;
    }

    [[noreturn]] void dataEnded(std::uint64_t offset) {
        if (offset >= chunkEnd_)
            fail(chunkEnd_, "event runs past the end of its MTrk chunk");
        fail(offset, "unexpected end of file");
    }

    void enterChunk(std::uint64_t end) {
        chunkEnd_ = end;
        in_.setLimit(end);
    }

    std::uint32_t variableLength(HeadBytes& head, int& bytes) {
        const unsigned char* start = head.at;
        std::uint32_t value = 0;
        switch (readVariableLength(head.at, head.end, value, bytes)) {
        case NumberRead::Whole:
            break;
        case NumberRead::Ended:
            dataEnded(head.offsetOf(head.at));
        case NumberRead::TooLong:
            fail(head.offsetOf(start), "variable-length number longer than 4 bytes");
        }
        return value;
    }

    std::uint32_t read32() {
        std::uint32_t value = 0;
        for (int i = 0; i < 4; ++i)
            value = (value << 8) | static_cast<std::uint8_t>(in_.get());
        return value;
    }

    // Reads the header chunk, writes its line and returns the declared track count.
    std::uint16_t header() {
        unsigned char head[14];
        if (in_.read(head, 8) < 8 || std::memcmp(head, "MThd", 4) != 0)
            fail(0, "not a MIDI file (no MThd chunk at the start)");
        const std::uint32_t length =
            (std::uint32_t{head[4]} << 24) | (head[5] << 16) | (head[6] << 8) | head[7];
        if (length < 6)
            fail(4, "MThd chunk of " + std::to_string(length) + " bytes is shorter than 6");
        if (in_.size() - 8 < length)
            fail(0, "truncated MThd chunk");
        in_.read(head + 8, 6);
        const unsigned format = (head[8] << 8) | head[9];
        const std::uint16_t tracks = static_cast<std::uint16_t>((head[10] << 8) | head[11]);
        char* out = line();
        out = appendText(out, HeaderWord);
        *out++ = ' ';
        out = appendText(out, FormatField);
        out = appendUnsigned(out, format);
        *out++ = ' ';
        out = appendText(out, TracksField);
        out = appendUnsigned(out, tracks);
        *out++ = ' ';
        out = appendText(out, DivisionField);
        if (head[12] & 0x80) {
            // SMPTE: negative frames per second, then ticks per frame.
            *out++ = '-';
            out = appendUnsigned(out, 256 - head[12]);
            *out++ = '/';
            out = appendUnsigned(out, head[13]);
        } else {
            out = appendUnsigned(out, (head[12] << 8) | head[13]);
        }
        enterChunk(8 + std::uint64_t{length});
        payloadLine(out, FieldForm::Hex, length - 6, {});
        return tracks;
    }

    // Reads one chunk after the header; false when the rest of the file is
    // trailing bytes. Once the declared tracks are read, what does not form
    // a whole chunk is taken as bytes after the last chunk.
    bool chunk(bool allTracksRead) {
        const std::uint64_t start = in_.offset();
        const std::uint64_t remaining = in_.size() - start;
        unsigned char id[4];
        std::uint32_t length = 0;
        in_.setLimit(in_.size());
        if (remaining >= 8) {
            in_.read(id, 4);
            length = read32();
        }
        if (remaining < 8 || remaining - 8 < length) {
            if (!allTracksRead) {
                inTrack_ = remaining >= 8 && std::memcmp(id, "MTrk", 4) == 0;
                fail(start, remaining < 8 ? std::string("truncated chunk header")
                                          : "truncated " + printable(id) + " chunk");
            }
            in_.seek(start);
            enterChunk(in_.size());
            char* out = appendText(line(), TrailingWord);
            payloadLine(out, FieldForm::Hex, remaining, {});
            return false;
        }
        enterChunk(in_.offset() + length);
        if (std::memcmp(id, "MTrk", 4) == 0) {
            inTrack_ = true;
            track();
            inTrack_ = false;
            ++tracksRead_;
        } else {
            char* out = appendText(line(), ChunkWord);
            *out++ = ' ';
            out = appendQuoted(out, id, 4);
            payloadLine(out, FieldForm::Hex, length, {});
        }
        return true;
    }

    static std::string printable(const unsigned char* id) {
        std::string text;
        for (int i = 0; i < 4; ++i)
            text += isPlainTextByte(id[i]) ? static_cast<char>(id[i]) : '?';
        return text;
    }

    // Track: pass one picks the running-status default that needs the fewest
    // marks, pass two writes the lines.
    void track() {
        const std::uint64_t start = in_.offset();
        trackMode_ = preferredRunningStatus();
        in_.seek(start);
        beginTrack();
        char* out = appendText(line(), TrackStartWord);
        *out++ = ' ';
        out = appendText(out, RunningStatusMark);
        out = appendText(out, RunningStatusWords[static_cast<int>(trackMode_)]);
        endLine(out);
        Event event;
        while (nextEvent(event))
            writeEvent(event);
        endLine(appendText(line(), TrackEndWord));
    }

    // Pass one skims the track for the running-status default that needs the
    // fewest marks. It checks nothing: at the first fault it stops, and pass
    // two reports the fault when it comes to it.
    RunningStatus preferredRunningStatus() {
        RunningStatusSkim skim;
        for (std::uint64_t next = in_.offset(); next < chunkEnd_ && !skim.stopped;) {
            if (in_.offset() != next)
                in_.seek(next);
            const unsigned char* begin = nullptr;
            const std::size_t count = in_.peek(begin, EventHeadBytes);
            // Heads that start before safeEnd lie whole in the buffer; near
            // its end, one event a peek.
            const unsigned char* const end = begin + count;
            const unsigned char* const safeEnd =
                count > EventHeadBytes ? end - EventHeadBytes : begin + 1;
            const unsigned char* at = begin;
            while (at < safeEnd && skim.event(at, end))
                ;
            next += static_cast<std::uint64_t>(at - begin) + std::exchange(skim.beyond, 0);
        }
        return skim.best();
    }
    void beginTrack() {
        tick_ = 0;
        lastStatus_ = 0;
        afterNonChannel_ = false;
        resumeAt_ = in_.offset();
    }

    // Decodes the next event's head where it lies in the input buffer.
    bool nextEvent(Event& event) {
        if (in_.offset() != resumeAt_)
            in_.seek(resumeAt_);
        if (resumeAt_ >= chunkEnd_)
            return false;
        const unsigned char* bytes = nullptr;
        const std::size_t count = in_.peek(bytes, EventHeadBytes);
        HeadBytes head{bytes, bytes, bytes + count, resumeAt_};
        event.offset = resumeAt_;
        event.delta = variableLength(head, event.deltaBytes);
        tick_ += event.delta;
        event.tick = tick_;
        std::uint8_t first = byte(head);
        event.statusOmitted = first < 0x80;
        if (event.statusOmitted) {
            if (lastStatus_ == 0)
                fail(head.offsetOf(head.at - 1), "running status with no status before it");
            event.status = lastStatus_;
        } else {
            event.status = first;
            if (first < 0xF0)
                first = byte(head);
        }
        event.length = 0;
        if (event.status < 0xF0)
            channelData(event, head, first);
        else
            nonChannelHead(event, head);
        in_.skip(static_cast<std::size_t>(head.at - head.begin));
        resumeAt_ = in_.offset() + event.length;
        return true;
    }

    void channelData(Event& event, HeadBytes& head, std::uint8_t first) {
        event.data[0] = dataByte(head, first, "channel");
        event.data[1] =
            channelDataBytes(event.status) == 1 ? 0 : dataByte(head, byte(head), "channel");
        event.sameStatus = event.status == lastStatus_;
        event.afterNonChannel = afterNonChannel_;
        lastStatus_ = event.status;
        afterNonChannel_ = false;
    }

    void nonChannelHead(Event& event, HeadBytes& head) {
        afterNonChannel_ = true;
        if (event.status == 0xFF)
            event.metaType = byte(head);
        if (hasLengthField(event.status)) {
            event.length = variableLength(head, event.lengthBytes);
            if (event.length > chunkEnd_ - head.offsetOf(head.at))
                fail(event.offset, "event runs past the end of its MTrk chunk");
        } else {
            // The data bytes are checked here and written with the line.
            event.length = static_cast<std::uint32_t>(systemDataBytes(event.status));
            for (std::uint32_t i = 0; i < event.length; ++i)
                dataByte(head, byte(head), "system");
            head.at -= event.length;
        }
    }

    // The byte just read, which must be a data byte of a message of this kind.
    std::uint8_t dataByte(const HeadBytes& head, std::uint8_t value, const char* kind) {
        if (value & 0x80)
            fail(head.offsetOf(head.at - 1),
                 std::string("status byte inside a ") + kind + " message");
        return value;
    }

    void writeEvent(const Event& event) {
        char* out = tickWriter_.append(line(), event.tick);
        *out++ = ' ';
        if (isChannel(event)) {
            const ChannelLine& start = channelLines_[event.status & 0x7F];
            std::memcpy(out, start.text.data(), start.text.size());
            out += start.length;
            out = appendField(out, start.firstForm, &event.data[0]);
            if (start.secondLength > 0) {
                std::memcpy(out, start.second.data(), start.second.size());
                out = appendField(out + start.secondLength, FieldForm::Data7, &event.data[1]);
            }
            if (event.sameStatus &&
                defaultOmitsStatus(trackMode_, event.afterNonChannel) != event.statusOmitted) {
                out = appendMark(out, RunningStatusMark);
                out = appendText(out, RunningStatusWords[event.statusOmitted ? 0 : 1]);
            }
            endLine(appendDeltaMark(out, event));
            return;
        }
        const Marks marks{&event, true};
        if (event.status == 0xFF) {
            const EventName* named = metaEvent(event.metaType);
            if (named && (hasVariableField(*named) || fixedSize(*named) == event.length)) {
                std::array<std::uint8_t, 8> fixed{};
                const std::size_t size = fixedSize(*named);
                in_.read(fixed.data(), size);
                out = appendFixedFields(appendText(out, named->name), *named, fixed.data());
                const FieldForm form = hasVariableField(*named)
                                           ? named->fields[named->fieldCount - 1].form
                                           : FieldForm::Hex;
                payloadLine(out, form, event.length - size, marks);
                return;
            }
            const EventName& generic = genericMetaEvent();
            out = appendFixedFields(appendText(out, generic.name), generic, &event.metaType);
            payloadLine(out, FieldForm::Hex, event.length, marks);
            return;
        }
        if (event.status == 0xF0 || event.status == 0xF7) {
            payloadLine(appendText(out, sysExEvent(event.status).name), FieldForm::Hex,
                        event.length, marks);
            return;
        }
        const EventName& system = systemEvent();
        out = appendFixedFields(appendText(out, system.name), system, &event.status);
        payloadLine(out, FieldForm::Hex, event.length, Marks{&event, false});
    }

    char* appendFixedFields(char* out, const EventName& name, const std::uint8_t* bytes) {
        for (int i = 0; i < name.fieldCount; ++i) {
            const Field& field = name.fields[i];
            if (fieldSize(field.form) == 0)
                break;
            *out++ = ' ';
            out = appendText(out, field.prefix);
            out = appendField(out, field.form, bytes);
            bytes += fieldSize(field.form);
        }
        return out;
    }

    static char* appendField(char* out, FieldForm form, const std::uint8_t* bytes) {
        switch (form) {
        case FieldForm::Data7:
        case FieldForm::Byte:
            return appendUnsigned(out, bytes[0]);
        case FieldForm::SignedByte:
            if (bytes[0] & 0x80) {
                *out++ = '-';
                return appendUnsigned(out, 256u - bytes[0]);
            }
            return appendUnsigned(out, bytes[0]);
        case FieldForm::HexByte:
            *out++ = HexDigits[bytes[0] >> 4];
            *out++ = HexDigits[bytes[0] & 15];
            return out;
        case FieldForm::Uint16:
            return appendUnsigned(out, (bytes[0] << 8) | bytes[1]);
        case FieldForm::Uint24:
            return appendUnsigned(out, (bytes[0] << 16) | (bytes[1] << 8) | bytes[2]);
        case FieldForm::Bend14:
            return appendUnsigned(out, bytes[0] | (bytes[1] << 7));
        case FieldForm::Text:
        case FieldForm::Hex:
            break;
        }
        return out;
    }

    static char* appendMark(char* out, std::string_view mark) {
        *out++ = ' ';
        return appendText(out, mark);
    }

    static char* appendDeltaMark(char* out, const Event& event) {
        if (event.deltaBytes == minimalVariableLengthBytes(event.delta))
            return out;
        out = appendMark(out, DeltaBytesMark);
        return appendUnsigned(out, static_cast<unsigned>(event.deltaBytes));
    }

    // The marks that end a meta, SysEx or system line.
    struct Marks {
        const Event* event = nullptr;
        bool hasLength = false;
    };

    // Writes a payload read from the file: up to a line's worth after out,
    // then the marks, then the rest on continuation lines.
    void payloadLine(char* out, FieldForm form, std::uint64_t total, Marks marks) {
        std::uint64_t left = total;
        out = appendPayloadPiece(out, form, left);
        if (marks.event) {
            out = appendDeltaMark(out, *marks.event);
            const Event& event = *marks.event;
            if (marks.hasLength && event.lengthBytes != minimalVariableLengthBytes(event.length)) {
                out = appendMark(out, LengthBytesMark);
                out = appendUnsigned(out, static_cast<unsigned>(event.lengthBytes));
            }
        }
        if (total > PayloadBytesPerLine) {
            out = appendMark(out, TotalLengthMark);
            out = appendUnsigned(out, total);
        }
        endLine(out);
        while (left > 0) {
            out = appendText(line(), ContinuationWord);
            endLine(appendPayloadPiece(out, form, left));
        }
    }

    char* appendPayloadPiece(char* out, FieldForm form, std::uint64_t& left) {
        std::array<std::uint8_t, PayloadBytesPerLine> piece;
        const std::size_t count =
            left < piece.size() ? static_cast<std::size_t>(left) : piece.size();
        if (in_.read(piece.data(), count) < count)
            dataEnded(in_.offset());
        left -= count;
        if (form == FieldForm::Text) {
            *out++ = ' ';
            return appendQuoted(out, piece.data(), count);
        }
        for (std::size_t i = 0; i < count; ++i) {
            *out++ = ' ';
            *out++ = HexDigits[piece[i] >> 4];
            *out++ = HexDigits[piece[i] & 15];
        }
        return out;
    }

    static char* appendQuoted(char* out, const std::uint8_t* bytes, std::size_t count) {
        *out++ = '"';
        for (std::size_t i = 0; i < count; ++i) {
            const std::uint8_t b = bytes[i];
            if (isPlainTextByte(b)) {
                *out++ = static_cast<char>(b);
            } else if (b == '"' || b == '\\') {
                *out++ = '\\';
                *out++ = static_cast<char>(b);
            } else {
                *out++ = '\\';
                *out++ = 'x';
                *out++ = HexDigits[b >> 4];
                *out++ = HexDigits[b & 15];
            }
        }
        *out++ = '"';
        return out;
    }

    // Room for one whole line; lines are never longer than MaxLineLength.
    char* line() { return lineStart_ = out_.reserve(MaxLineLength); }

    void endLine(char* out) {
        *out++ = '\r';
        *out++ = '\n';
        out_.advance(static_cast<std::size_t>(out - lineStart_));
    }

    std::string name_;
    InputFile in_;
    OutputFile out_;
    char* lineStart_ = nullptr;
    unsigned tracksRead_ = 0;
    bool inTrack_ = false;
    std::uint64_t chunkEnd_ = 0;
    std::uint64_t resumeAt_ = 0;
    std::uint64_t tick_ = 0;
    TickWriter tickWriter_;
    std::uint8_t lastStatus_ = 0;
    bool afterNonChannel_ = false;
    RunningStatus trackMode_ = RunningStatus::On;
    const std::array<ChannelLine, 0x70> channelLines_ = makeChannelLines();
};

} // namespace

void midiToText(const std::string& midiPath, const std::string& textPath) {
    MidiToText(midiPath, textPath).run();
}

void midiToTextInMemory(const MemoryInput& midi, const MemoryOutput& text) {
    MidiToText(midi, text).run();
}

void midiToTextPiped(const std::string& midiPath, TextPipe& text) {
    MidiToText(midiPath, text).run();
}

} // namespace zelmod::convert
