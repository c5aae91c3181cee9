// t2mf: event text to Standard MIDI File.
#include <algorithm>
#include <array>
#include <cctype>
#include <cstring>

#include "converters/Converters.h"
#include "converters/EventText.h"
#include "converters/LineReader.h"
#include "files/TextPipe.h"

namespace zelmod::convert {
namespace {

// The type and length that begin every chunk.
using ChunkHead = std::array<std::uint8_t, 8>;

// A mistake in the current line; the converter adds file and line number.
struct TextError {
    std::string what;
};

// A decimal digit's value; above 9 for any other character.
inline unsigned digitValue(char c) {
    return static_cast<unsigned>(static_cast<unsigned char>(c)) - '0';
}

// Twenty significant digits can overflow 64 bits; nineteen cannot.
constexpr std::size_t MaxSafeDigits = 19;

std::uint64_t parseNumber(std::string_view text, std::uint64_t max, std::uint64_t min = 0) {
    std::uint64_t value = 0;
    std::size_t digits = 0; // after the leading zeros
    for (const char c : text) {
        if (c < '0' || c > '9')
            throw TextError{shown(text) + " is not a decimal number"};
        value = value * 10 + static_cast<unsigned>(c - '0');
        digits += value > 0 ? 1 : 0;
    }
    if (text.empty())
        throw TextError{"empty number"};
    if (value < min || value > max || digits > MaxSafeDigits) {
        throw TextError{shown(text) + " is out of range " + std::to_string(min) + ".." +
                        std::to_string(max)};
    }
    return value;
}

int hexDigit(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

std::uint8_t parseHexByte(std::string_view text) {
    const int high = text.size() == 2 ? hexDigit(text[0]) : -1;
    const int low = text.size() == 2 ? hexDigit(text[1]) : -1;
    if (high < 0 || low < 0)
        throw TextError{shown(text) + " is not a byte in two hexadecimal digits"};
    return static_cast<std::uint8_t>(high * 16 + low);
}

// The fields of one line, cut at single spaces; a quoted text is one field
// even when it holds spaces, so nothing inside it is ever taken as a mark.
class FieldCursor {
  public:
    explicit FieldCursor(std::string_view line) : rest_(line) {}

    bool atEnd() const { return rest_.empty() && !pendingSpace_; }
    bool nextIsMark() const {
        const std::string_view field = peek();
        return !field.empty() && field[0] != '"' && field.find('=') != std::string_view::npos;
    }

    std::string_view next() {
        if (atEnd())
            throw TextError{"the line ends where a field is expected"};
        const std::string_view field = peek();
        if (field.empty())
            throw TextError{"empty field (two spaces in a row, or a space at an end)"};
        take(field.size());
        return field;
    }

    // Takes the next field when it is an event's name, without first
    // cutting it out; else leaves it for next(), whose reader names the fault.
    const EventName* eventName() {
        const EventName* event = findEventAt(rest_);
        if (event)
            take(event->name.size());
        return event;
    }

    std::string_view next(std::string_view prefix) {
        const std::string_view field = next();
        if (!startsWith(field, prefix))
            throw TextError{"expected " + std::string(prefix) + "..., found " + shown(field)};
        return field.substr(prefix.size());
    }

    // Takes the next field in one pass when it is prefix and decimal digits
    // of a value in min..max, as nearly every field of an event line is; else
    // leaves it for next(), whose reader names what is wrong with it.
    bool plainNumber(std::string_view prefix, std::uint64_t max, std::uint64_t& value,
                     std::uint64_t min = 0) {
        if (!startsWith(rest_, prefix))
            return false;
        const char* const digits = rest_.data() + prefix.size();
        const char* const last = digits + std::min(rest_.size() - prefix.size(), MaxSafeDigits);
        const char* at = digits;
        std::uint64_t number = 0;
        for (unsigned digit = 0; at != last && (digit = digitValue(*at)) <= 9; ++at)
            number = number * 10 + digit;
        const auto end = static_cast<std::size_t>(at - rest_.data());
        if (at == digits || (end < rest_.size() && rest_[end] != ' ') || number < min ||
            number > max)
            return false;
        take(end);
        value = number;
        return true;
    }

  private:
    // Passes over a field of size bytes and the space after it.
    void take(std::size_t size) {
        rest_.remove_prefix(size);
        pendingSpace_ = !rest_.empty();
        if (pendingSpace_)
            rest_.remove_prefix(1);
    }

    std::string_view peek() const {
        if (!rest_.empty() && rest_[0] == '"')
            return rest_.substr(0, quotedLength());
        std::size_t length = 0;
        while (length < rest_.size() && rest_[length] != ' ')
            ++length;
        return rest_.substr(0, length);
    }

    std::size_t quotedLength() const {
        std::size_t length = 1;
        while (length < rest_.size() && rest_[length] != '"')
            length += rest_[length] == '\\' ? 2 : 1;
        if (length >= rest_.size())
            throw TextError{"quoted text without its closing quote"};
        ++length;
        if (length < rest_.size() && rest_[length] != ' ')
            throw TextError{"no space after the closing quote"};
        return length;
    }

    std::string_view rest_;
    bool pendingSpace_ = false;
};

// Bytes of one quoted text field, with its escapes undone.
std::size_t unquote(std::string_view field, std::uint8_t* out) {
    if (field.size() < 2 || field.front() != '"')
        throw TextError{"expected quoted text, found " + shown(field)};
    std::size_t count = 0;
    for (std::size_t i = 1; i + 1 < field.size(); ++i) {
        const char c = field[i];
        if (c != '\\') {
            if (!isPlainTextByte(static_cast<std::uint8_t>(c)))
                throw TextError{"character in quoted text that must be escaped"};
            out[count++] = static_cast<std::uint8_t>(c);
        } else if (field[i + 1] == '\\' || field[i + 1] == '"') {
            out[count++] = static_cast<std::uint8_t>(field[++i]);
        } else if (field[i + 1] == 'x' && i + 4 < field.size()) {
            out[count++] = parseHexByte(field.substr(i + 2, 2));
            i += 3;
        } else {
            throw TextError{"unknown escape in quoted text"};
        }
    }
    return count;
}

// Marks found at the end of a line; zero or absent where the line has none.
struct Marks {
    enum Allowed : unsigned { RunningStatusAllowed = 1, LengthBytesAllowed = 2, TotalAllowed = 4 };
    int runningStatus = -1; // -1 none, else a RunningStatus
    int deltaBytes = 0;
    int lengthBytes = 0;
    std::int64_t total = -1;
};

Marks parseMarks(FieldCursor& fields, unsigned allowed, bool hasDelta) {
    Marks marks;
    while (!fields.atEnd()) {
        const std::string_view field = fields.next();
        const std::size_t equals = field.find('=');
        const std::string_view key = field.substr(0, equals + 1);
        const std::string_view value = field.substr(equals + 1);
        if (equals == std::string_view::npos) {
            throw TextError{"unexpected field " + shown(field)};
        } else if (key == RunningStatusMark && (allowed & Marks::RunningStatusAllowed)) {
            if (value != RunningStatusWords[0] && value != RunningStatusWords[1])
                throw TextError{"rs= takes on or off, found " + shown(field)};
            marks.runningStatus = value == RunningStatusWords[0] ? 0 : 1;
        } else if (key == DeltaBytesMark && hasDelta) {
            marks.deltaBytes = static_cast<int>(parseNumber(value, MaxVariableLengthBytes));
        } else if (key == LengthBytesMark && (allowed & Marks::LengthBytesAllowed)) {
            marks.lengthBytes = static_cast<int>(parseNumber(value, MaxVariableLengthBytes));
        } else if (key == TotalLengthMark && (allowed & Marks::TotalAllowed)) {
            marks.total = static_cast<std::int64_t>(parseNumber(value, 0xFFFFFFFF));
        } else {
            throw TextError{"unexpected field " + shown(field)};
        }
    }
    return marks;
}

class TextToMidi {
  public:
    TextToMidi(const std::string& textPath, const std::string& midiPath)
        : name_(textPath), in_(textPath), out_(midiPath) {}
    TextToMidi(const MemoryInput& text, const MemoryOutput& midi)
        : name_(text.name), in_(text), out_(midi) {}
    TextToMidi(TextPipe& text, const std::string& midiPath)
        : name_(text.name()), in_(text), out_(midiPath) {}

    std::uint64_t run() {
        try {
            header();
            while (nextLine()) {
                FieldCursor fields(line_);
                const std::string_view word = fields.next();
                if (word == TrackStartWord)
                    track(fields);
                else if (word == ChunkWord)
                    chunk(fields);
                else if (word == TrailingWord)
                    trailing(fields);
                else
                    throw TextError{"expected MTrk, Chunk or Trailing, found " + shown(word)};
            }
            // A reader would take the file for a cut one.
            if (tracksWritten_ < declaredTracks_) {
                throw TextError{"the text ends after " + std::to_string(tracksWritten_) +
                                " of the " + std::to_string(declaredTracks_) +
                                " tracks of the MThd line"};
            }
        } catch (const TextError& error) {
            const std::uint64_t line = std::max<std::uint64_t>(in_.lineNumber(), 1);
            throw ConversionError(name_ + ": line " + std::to_string(line) + ": " + error.what);
        }
        out_.commit();
        return capped_;
    }

  private:
    bool nextLine() { return in_.next(line_); }

    void requireLine(const char* what) {
        if (!nextLine())
            throw TextError{std::string("the text ends ") + what};
    }

    void header() {
        if (!nextLine())
            throw TextError{"empty event text"};
        FieldCursor fields(line_);
        if (fields.next() != HeaderWord)
            throw TextError{"the text does not start with an MThd line"};
        const auto format = parseNumber(fields.next(FormatField), 0xFFFF);
        const auto tracks = parseNumber(fields.next(TracksField), 0xFFFF);
        declaredTracks_ = tracks;
        const std::uint16_t division = parseDivision(fields.next(DivisionField));
        const std::size_t padding = hexPayload(fields);
        const std::uint64_t total = payloadTotal(fields, padding);
        if (total > 0xFFFFFFFF - 6)
            throw TextError{"MThd padding too long"};
        out_.write("MThd", 4);
        write32(static_cast<std::uint32_t>(6 + total));
        write16(static_cast<std::uint16_t>(format));
        write16(static_cast<std::uint16_t>(tracks));
        write16(division);
        writePayload(FieldForm::Hex, total, padding);
    }

    static std::uint16_t parseDivision(std::string_view text) {
        if (!text.starts_with('-'))
            return static_cast<std::uint16_t>(parseNumber(text, 0x7FFF));
        const std::size_t slash = text.find('/');
        if (slash == std::string_view::npos)
            throw TextError{"SMPTE division needs -FRAMES/TICKS, found " + shown(text)};
        const auto frames = parseNumber(text.substr(1, slash - 1), 128);
        const auto ticks = parseNumber(text.substr(slash + 1), 255);
        if (frames == 0)
            throw TextError{"SMPTE division with 0 frames per second"};
        return static_cast<std::uint16_t>(((256 - frames) << 8) | ticks);
    }

    void chunk(FieldCursor& fields) {
        std::array<std::uint8_t, MaxLineLength> id;
        if (unquote(fields.next(), id.data()) != 4)
            throw TextError{"a chunk type has four bytes"};
        // A reader takes every MTrk chunk for a track and reads its events.
        if (std::equal(id.begin(), id.begin() + 4, TrackStartWord.begin()))
            throw TextError{"an MTrk chunk is written as a track (MTrk line, events, TrkEnd)"};
        const std::size_t count = hexPayload(fields);
        const std::uint64_t total = payloadTotal(fields, count);
        out_.write(id.data(), 4);
        write32(static_cast<std::uint32_t>(total));
        writePayload(FieldForm::Hex, total, count);
    }

    void trailing(FieldCursor& fields) {
        // A MIDI reader takes bytes after the last chunk as such only once
        // the declared tracks are read; before that they are a broken chunk.
        if (tracksWritten_ < declaredTracks_) {
            throw TextError{"Trailing line after " + std::to_string(tracksWritten_) + " of the " +
                            std::to_string(declaredTracks_) + " tracks of the MThd line"};
        }
        const std::size_t count = hexPayload(fields);
        const std::uint64_t total = payloadTotal(fields, count);
        ChunkHead head{};
        writePayload(FieldForm::Hex, total, count, &head);
        // A reader takes bytes that begin with a whole chunk for that chunk.
        const std::uint32_t length =
            (std::uint32_t{head[4]} << 24) | (head[5] << 16) | (head[6] << 8) | head[7];
        if (total >= head.size() && length <= total - head.size())
            throw TextError{"the Trailing bytes begin with a whole chunk"};
        if (nextLine())
            throw TextError{"line after the Trailing line"};
    }

    void track(FieldCursor& fields) {
        mode_ = RunningStatus::On;
        if (!fields.atEnd()) {
            const std::string_view word = fields.next(RunningStatusMark);
            std::size_t mode = 0;
            while (mode < RunningStatusWords.size() && RunningStatusWords[mode] != word)
                ++mode;
            if (mode == RunningStatusWords.size())
                throw TextError{"rs= takes on, off or carry, found " + shown(word)};
            mode_ = RunningStatus(mode);
            if (!fields.atEnd())
                throw TextError{"unexpected field " + shown(fields.next())};
        }
        out_.write("MTrk\0\0\0\0", 8);
        const std::uint64_t start = out_.offset();
        lastTick_ = 0;
        lastStatus_ = 0;
        afterNonChannel_ = false;
        for (;;) {
            requireLine("inside a track (no TrkEnd line)");
            if (sameWord(line_, TrackEndWord))
                break;
            event();
        }
        const std::uint64_t length = out_.offset() - start;
        if (length > 0xFFFFFFFF)
            throw TextError{"track longer than 4 GiB"};
        out_.patch32(start - 4, static_cast<std::uint32_t>(length));
        ++tracksWritten_;
    }

    void event() {
        FieldCursor fields(line_);
        std::uint64_t tick = 0;
        if (!fields.plainNumber({}, UINT64_MAX, tick)) {
            const std::string_view tickText = fields.next();
            if (!std::isdigit(static_cast<unsigned char>(tickText[0])))
                throw TextError{"expected a tick or TrkEnd, found " + shown(tickText)};
            tick = parseNumber(tickText, UINT64_MAX);
        }
        if (tick < lastTick_) {
            throw TextError{"tick " + std::to_string(tick) + " is before the previous tick " +
                            std::to_string(lastTick_)};
        }
        if (tick - lastTick_ > MaxVariableLength)
            throw TextError{"more than 0x0FFFFFFF ticks after the previous event"};
        const auto delta = static_cast<std::uint32_t>(tick - lastTick_);
        lastTick_ = tick;
        const EventName* name = fields.eventName();
        if (!name)
            throw TextError{"unknown event name " + shown(fields.next())};
        switch (name->kind) {
        case EventKind::Channel:
            return channel(*name, fields, delta);
        case EventKind::Meta:
        case EventKind::GenericMeta:
            return meta(*name, fields, delta);
        case EventKind::SysEx:
            return sysEx(*name, fields, delta);
        case EventKind::System:
            return system(*name, fields, delta);
        }
    }

    void channel(const EventName& name, FieldCursor& fields, std::uint32_t delta) {
        std::uint64_t channel = 0;
        if (!fields.plainNumber(ChannelField, 16, channel, 1))
            channel = parseNumber(fields.next(ChannelField), 16, 1);
        const auto status = static_cast<std::uint8_t>(name.code | (channel - 1));
        std::array<std::uint8_t, 2> data{};
        const std::size_t size =
            static_cast<std::size_t>(parseFixedFields(name, fields, data.data()) - data.data());
        const Marks marks =
            fields.atEnd() ? Marks{} : parseMarks(fields, Marks::RunningStatusAllowed, true);

        const bool same = status == lastStatus_;
        bool omit = same && defaultOmitsStatus(mode_, afterNonChannel_);
        if (same && marks.runningStatus >= 0)
            omit = marks.runningStatus == static_cast<int>(RunningStatus::On);
        char* const start = out_.reserve(MaxVariableLengthBytes + 1 + data.size());
        char* out = putVariableLength(start, delta, marks.deltaBytes);
        if (!omit)
            *out++ = static_cast<char>(status);
        std::memcpy(out, data.data(), data.size());
        out_.advance(static_cast<std::size_t>(out + size - start));
        lastStatus_ = status;
        afterNonChannel_ = false;
    }

    void meta(const EventName& name, FieldCursor& fields, std::uint32_t delta) {
        std::array<std::uint8_t, 8> fixed{};
        parseFixedFields(name, fields, fixed.data());
        const bool generic = name.kind == EventKind::GenericMeta;
        // The generic form's fixed field is the type; a named form's fixed fields are data.
        const std::size_t fixedData = generic ? 0 : fixedSize(name);
        const FieldForm form =
            hasVariableField(name) ? name.fields[name.fieldCount - 1].form : FieldForm::Hex;
        const std::size_t count = hasVariableField(name) ? variablePayload(form, fields) : 0;
        const Marks marks =
            parseMarks(fields, Marks::LengthBytesAllowed | Marks::TotalAllowed, true);
        const std::uint64_t total = checkedTotal(marks, count);

        writeVariableLength(delta, marks.deltaBytes);
        out_.put('\xFF');
        out_.put(static_cast<char>(generic ? fixed[0] : name.code));
        writeLength(fixedData + total, marks.lengthBytes);
        out_.write(fixed.data(), fixedData);
        writePayload(form, total, count);
        afterNonChannel_ = true;
    }

    void sysEx(const EventName& name, FieldCursor& fields, std::uint32_t delta) {
        const std::size_t count = hexPayload(fields);
        const Marks marks =
            parseMarks(fields, Marks::LengthBytesAllowed | Marks::TotalAllowed, true);
        const std::uint64_t total = checkedTotal(marks, count);
        writeVariableLength(delta, marks.deltaBytes);
        out_.put(static_cast<char>(name.code));
        writeLength(total, marks.lengthBytes);
        writePayload(FieldForm::Hex, total, count);
        afterNonChannel_ = true;
    }

    void system(const EventName& name, FieldCursor& fields, std::uint32_t delta) {
        std::uint8_t status = 0;
        parseFixedFields(name, fields, &status);
        if (status < 0xF1 || status == 0xF7 || status == 0xFF)
            throw TextError{"a system message has a status F1..F6 or F8..FE"};
        const std::size_t count = hexPayload(fields);
        if (count != systemDataBytes(status))
            throw TextError{"wrong number of data bytes for this system message"};
        for (std::size_t i = 0; i < count; ++i) {
            if (payload_[i] > MaxDataValue)
                throw TextError{"data byte above 7F in a system message"};
        }
        const Marks marks = parseMarks(fields, 0, true);
        writeVariableLength(delta, marks.deltaBytes);
        out_.put(static_cast<char>(status));
        out_.write(payload_.data(), count);
        afterNonChannel_ = true;
    }

    // Returns the end of the bytes written.
    std::uint8_t* parseFixedFields(const EventName& name, FieldCursor& fields,
                                   std::uint8_t* bytes) {
        for (int i = 0; i < name.fieldCount; ++i) {
            const Field& field = name.fields[i];
            if (fieldSize(field.form) == 0)
                break;
            bytes = field.form == FieldForm::Data7
                        ? parseData7(fields, field.prefix, isNoteEvent(name), bytes)
                        : parseField(field.form, fields.next(field.prefix), bytes);
        }
        return bytes;
    }

    std::uint8_t* parseData7(FieldCursor& fields, std::string_view prefix, bool capsHigh,
                             std::uint8_t* out) {
        const std::uint64_t max = capsHigh ? UINT32_MAX : MaxDataValue;
        std::uint64_t value = 0;
        if (!fields.plainNumber(prefix, max, value))
            value = parseNumber(fields.next(prefix), max);
        if (value > MaxDataValue)
            ++capped_;
        *out++ = static_cast<std::uint8_t>(std::min<std::uint64_t>(value, MaxDataValue));
        return out;
    }

    static std::uint8_t* parseField(FieldForm form, std::string_view text, std::uint8_t* out) {
        switch (form) {
        case FieldForm::Byte:
            *out++ = static_cast<std::uint8_t>(parseNumber(text, 255));
            return out;
        case FieldForm::SignedByte: {
            const bool negative = text.starts_with('-');
            const auto value = parseNumber(negative ? text.substr(1) : text, negative ? 128 : 127);
            *out++ = static_cast<std::uint8_t>(negative ? 256 - value : value);
            return out;
        }
        case FieldForm::HexByte:
            *out++ = parseHexByte(text);
            return out;
        case FieldForm::Uint16: {
            const auto value = parseNumber(text, 0xFFFF);
            *out++ = static_cast<std::uint8_t>(value >> 8);
            *out++ = static_cast<std::uint8_t>(value);
            return out;
        }
        case FieldForm::Uint24: {
            const auto value = parseNumber(text, 0xFFFFFF);
            *out++ = static_cast<std::uint8_t>(value >> 16);
            *out++ = static_cast<std::uint8_t>(value >> 8);
            *out++ = static_cast<std::uint8_t>(value);
            return out;
        }
        case FieldForm::Bend14: {
            const auto value = parseNumber(text, 0x3FFF);
            *out++ = static_cast<std::uint8_t>(value & 0x7F);
            *out++ = static_cast<std::uint8_t>(value >> 7);
            return out;
        }
        case FieldForm::Data7: // read by parseData7
        case FieldForm::Text:
        case FieldForm::Hex:
            break;
        }
        return out;
    }

    // Reads the payload on the current line into payload_ and returns its size.
    std::size_t variablePayload(FieldForm form, FieldCursor& fields) {
        if (form == FieldForm::Text)
            return unquote(fields.next(), payload_.data());
        return hexPayload(fields);
    }

    std::size_t hexPayload(FieldCursor& fields) {
        std::size_t count = 0;
        while (!fields.atEnd() && !fields.nextIsMark())
            payload_[count++] = parseHexByte(fields.next());
        return count;
    }

    // The payload's whole size: the line's own bytes, or len= when it goes on.
    std::uint64_t payloadTotal(FieldCursor& fields, std::size_t count) {
        return checkedTotal(parseMarks(fields, Marks::TotalAllowed, false), count);
    }

    static std::uint64_t checkedTotal(const Marks& marks, std::size_t count) {
        if (marks.total < 0)
            return count;
        if (static_cast<std::uint64_t>(marks.total) < count)
            throw TextError{"len= is smaller than the bytes on the line"};
        return static_cast<std::uint64_t>(marks.total);
    }

    // Writes the payload read into payload_, then its continuation lines.
    // head, when given, receives the payload's first bytes.
    void writePayload(FieldForm form, std::uint64_t total, std::size_t count,
                      ChunkHead* head = nullptr) {
        std::size_t headFilled = 0;
        const auto write = [&](std::size_t bytes) {
            for (std::size_t i = 0; head && headFilled < head->size() && i < bytes; ++i)
                (*head)[headFilled++] = payload_[i];
            out_.write(payload_.data(), bytes);
        };
        write(count);
        for (std::uint64_t done = count; done < total; done += count) {
            requireLine("before the payload's len= bytes are complete");
            FieldCursor fields(line_);
            if (fields.next() != ContinuationWord)
                throw TextError{"expected a + line: the payload has fewer bytes than its len="};
            count = variablePayload(form, fields);
            if (!fields.atEnd())
                throw TextError{"unexpected field " + shown(fields.next())};
            if (count > total - done)
                throw TextError{"the payload has more bytes than its len="};
            write(count);
        }
    }

    // Writes value in the given number of bytes, or in as few as it needs when that is more.
    static char* putVariableLength(char* out, std::uint32_t value, int bytes) {
        bytes = std::max(bytes, minimalVariableLengthBytes(value));
        for (int i = bytes - 1; i >= 0; --i)
            *out++ = static_cast<char>(((value >> (7 * i)) & 0x7F) | (i > 0 ? 0x80 : 0));
        return out;
    }

    void writeVariableLength(std::uint32_t value, int bytes) {
        char* const start = out_.reserve(MaxVariableLengthBytes);
        out_.advance(static_cast<std::size_t>(putVariableLength(start, value, bytes) - start));
    }

    void writeLength(std::uint64_t length, int bytes) {
        if (length > MaxVariableLength)
            throw TextError{"payload longer than 0x0FFFFFFF bytes"};
        writeVariableLength(static_cast<std::uint32_t>(length), bytes);
    }

    void write16(std::uint16_t value) {
        out_.put(static_cast<char>(value >> 8));
        out_.put(static_cast<char>(value));
    }

    void write32(std::uint32_t value) {
        write16(static_cast<std::uint16_t>(value >> 16));
        write16(static_cast<std::uint16_t>(value));
    }

    std::string name_;
    LineReader in_;
    OutputFile out_;
    std::string_view line_;
    std::array<std::uint8_t, MaxLineLength> payload_{};
    std::uint64_t capped_ = 0;
    std::uint64_t declaredTracks_ = 0;
    std::uint64_t tracksWritten_ = 0;
    RunningStatus mode_ = RunningStatus::On;
    std::uint64_t lastTick_ = 0;
    std::uint8_t lastStatus_ = 0;
    bool afterNonChannel_ = false;
};

} // namespace

std::uint64_t textToMidi(const std::string& textPath, const std::string& midiPath) {
    return TextToMidi(textPath, midiPath).run();
}

std::uint64_t textToMidiInMemory(const MemoryInput& text, const MemoryOutput& midi) {
    return TextToMidi(text, midi).run();
}

std::uint64_t textToMidiPiped(TextPipe& text, const std::string& midiPath) {
    return TextToMidi(text, midiPath).run();
}

namespace {
const std::string cappedWords = ": capped ";
const std::string cappedValuesEnd =
    " note values above " + std::to_string(MaxDataValue) + " to " + std::to_string(MaxDataValue);
} // namespace

std::string cappedValuesLine(const std::string& textName, std::uint64_t count) {
    return textName + cappedWords + std::to_string(count) + cappedValuesEnd;
}

// The file name may hold anything, so the line is read from its end.
std::uint64_t cappedValuesIn(const std::string& line) {
    if (!line.ends_with(cappedValuesEnd))
        return 0;
    const std::size_t numberEnd = line.size() - cappedValuesEnd.size();
    const std::size_t words = line.rfind(cappedWords, numberEnd);
    if (words == std::string::npos)
        return 0;
    const std::string number =
        line.substr(words + cappedWords.size(), numberEnd - words - cappedWords.size());
    if (number.empty() || number.find_first_not_of("0123456789") != std::string::npos)
        return 0;
    return std::stoull(number);
}

} // namespace zelmod::convert
