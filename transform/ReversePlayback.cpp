#include "transform/ReversePlayback.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstdint>
#include <functional>
#include <memory>
#include <tuple>
#include <vector>

#include "converters/EventText.h"
#include "converters/LineReader.h"
#include "files/Files.h"

namespace zelmod {
namespace {

using convert::ConversionError;
using convert::shown;
using convert::startsWith;

// A mistake in the current line; the walk adds the text's name and the line number.
struct LineError {
    std::string what;
};

class LineSource {
  public:
    virtual ~LineSource() = default;
    virtual bool next(std::string_view& line) = 0;
};

class FileLines : public LineSource {
  public:
    explicit FileLines(const std::string& path) : reader_(path) {}
    bool next(std::string_view& line) override { return reader_.next(line); }

  private:
    convert::LineReader reader_;
};

class StringLines : public LineSource {
  public:
    explicit StringLines(std::string_view text) : rest_(text) {}
    bool next(std::string_view& line) override {
        if (rest_.empty())
            return false;
        const std::size_t end = std::min(rest_.find('\n'), rest_.size());
        line = rest_.substr(0, end);
        rest_.remove_prefix(std::min(end + 1, rest_.size()));
        if (line.ends_with('\r'))
            line.remove_suffix(1);
        return true;
    }

  private:
    std::string_view rest_;
};

using TextSink = std::function<void(std::string_view)>;

// What an event does in time.
enum class Role : std::uint8_t {
    NoteStart,
    NoteEnd, // a note-off, or a note-on of velocity 0
    State,   // holds its value until the next event of its key
    Point,   // happens at its tick
    End,     // End of Track
};

// State keys: a controller of a channel, the program, channel pressure and
// pitch bend of a channel, and the tempo, time and key signatures.
constexpr std::uint32_t ChannelCount = 16;
constexpr std::uint32_t ProgramKey = ChannelCount * 128;
constexpr std::uint32_t PressureKey = ProgramKey + ChannelCount;
constexpr std::uint32_t BendKey = PressureKey + ChannelCount;
constexpr std::uint32_t TempoKey = BendKey + ChannelCount;
constexpr std::uint32_t TimeSigKey = TempoKey + 1;
constexpr std::uint32_t KeySigKey = TempoKey + 2;
constexpr std::uint32_t KeyCount = TempoKey + 3;
constexpr std::uint32_t NoteKeyCount = ChannelCount * 128;

constexpr std::uint32_t None = UINT32_MAX;

// Controllers that do not hold a value but act in sequence at their moment:
// data entry and increment, parameter numbers, and the channel mode messages.
bool isPointController(std::uint64_t controller) {
    return controller == 6 || controller == 38 || (controller >= 96 && controller <= 101) ||
           controller >= 120;
}

struct Event {
    std::uint64_t tick = 0;
    std::string_view payload; // the line after the tick
    Role role = Role::Point;
    std::uint32_t key = None; // the state key, or channel and note of a note
};

// Where the first space of text is, or its size. Fields are a few
// characters long: a plain loop beats the library's search.
std::size_t spaceAt(std::string_view text) {
    std::size_t at = 0;
    while (at < text.size() && text[at] != ' ')
        ++at;
    return at;
}

// Twenty digits can overflow 64 bits; nineteen cannot.
constexpr std::size_t MaxDigits = 19;

std::uint64_t decimal(std::string_view text) {
    std::uint64_t value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9' || text.size() > MaxDigits)
            throw LineError{shown(text) + " is not a decimal number of at most 19 digits"};
        value = value * 10 + static_cast<unsigned>(c - '0');
    }
    if (text.empty())
        throw LineError{"empty number"};
    return value;
}

// The value of a field "prefix=N" that must be at most max.
std::uint64_t fieldValue(std::string_view field, std::string_view prefix, std::uint64_t max) {
    if (!startsWith(field, prefix))
        throw LineError{"expected " + std::string(prefix) + "..., found " + shown(field)};
    const std::uint64_t value = decimal(field.substr(prefix.size()));
    if (value > max)
        throw LineError{shown(field) + " is out of range"};
    return value;
}

// The first fields of text, cut at single spaces; missing ones are empty.
std::array<std::string_view, 3> leadingFields(std::string_view text) {
    std::array<std::string_view, 3> fields;
    for (std::string_view& field : fields) {
        const std::size_t space = spaceAt(text);
        field = text.substr(0, space);
        text.remove_prefix(std::min(space + 1, text.size()));
    }
    return fields;
}

void classifyChannelEvent(const convert::EventName& name, Event& event) {
    const std::string_view payload = event.payload;
    const auto fields =
        leadingFields(payload.substr(std::min(name.name.size() + 1, payload.size())));
    const std::uint64_t channel = fieldValue(fields[0], convert::ChannelField, 16) - 1;
    if (channel >= ChannelCount)
        throw LineError{"ch= takes 1..16"};
    const std::uint64_t data = fieldValue(fields[1], name.fields[0].prefix, UINT32_MAX);
    switch (name.code) {
    case 0x90:
    case 0x80: {
        // t2mf writes a note number above 127 as 127.
        event.key = static_cast<std::uint32_t>(channel * 128 + std::min<std::uint64_t>(data, 127));
        const bool silent = fieldValue(fields[2], "v=", UINT32_MAX) == 0;
        event.role = name.code == 0x90 && !silent ? Role::NoteStart : Role::NoteEnd;
        return;
    }
    case 0xB0:
        if (data > 127)
            throw LineError{shown(fields[1]) + " is out of range"};
        if (!isPointController(data)) {
            event.role = Role::State;
            event.key = static_cast<std::uint32_t>(channel * 128 + data);
        }
        return;
    case 0xC0:
        event.role = Role::State;
        event.key = ProgramKey + static_cast<std::uint32_t>(channel);
        return;
    case 0xD0:
        event.role = Role::State;
        event.key = PressureKey + static_cast<std::uint32_t>(channel);
        return;
    case 0xE0:
        event.role = Role::State;
        event.key = BendKey + static_cast<std::uint32_t>(channel);
        return;
    default: // key pressure
        return;
    }
}

void classifyMeta(const convert::EventName& name, Event& event) {
    switch (name.code) {
    case 0x2F:
        event.role = Role::End;
        return;
    case 0x51:
        event.key = TempoKey;
        break;
    case 0x58:
        event.key = TimeSigKey;
        break;
    case 0x59:
        event.key = KeySigKey;
        break;
    default:
        return;
    }
    event.role = Role::State;
}

Event parseEvent(std::string_view line) {
    const std::size_t space = spaceAt(line);
    if (space == line.size() || space == 0 || line[0] < '0' || line[0] > '9')
        throw LineError{"expected an event line or TrkEnd, found " + shown(line)};
    Event event;
    event.tick = decimal(line.substr(0, space));
    event.payload = line.substr(space + 1);
    const convert::EventName* name = convert::findEventAt(event.payload);
    if (!name) {
        throw LineError{"unknown event name " +
                        shown(event.payload.substr(0, spaceAt(event.payload)))};
    }
    if (name->kind == convert::EventKind::Channel)
        classifyChannelEvent(*name, event);
    else if (name->kind == convert::EventKind::Meta)
        classifyMeta(*name, event);
    return event;
}

// The first field of a line.
std::string_view firstWord(std::string_view line) {
    return line.substr(0, spaceAt(line));
}

// Takes the structure of event text apart: a header line, then tracks
// (MTrk, events, TrkEnd) and other chunks, each event followed perhaps by
// continuation lines of its payload.
class TextVisitor {
  public:
    virtual ~TextVisitor() = default;
    virtual void header(std::string_view line, std::uint64_t format) = 0;
    virtual void trackStart(std::string_view line) = 0;
    virtual void event(const Event& event, std::string_view line) = 0;
    virtual void continuation(std::string_view line) = 0;
    virtual void trackEnd(std::string_view line) = 0;
    virtual void other(std::string_view line) = 0;
};

using KeepGoing = std::function<bool()>;

void walk(LineSource& source, const std::string& name, TextVisitor& visitor,
          const KeepGoing& keepGoing) {
    std::uint64_t lineNumber = 0;
    std::string_view line;
    const auto nextLine = [&] {
        const bool more = source.next(line);
        lineNumber += more ? 1 : 0;
        if (lineNumber % 4096 == 0 && keepGoing && !keepGoing())
            throw ReverseCancelled{};
        return more;
    };
    try {
        if (!nextLine() || firstWord(line) != convert::HeaderWord)
            throw LineError{"the text does not start with an MThd line"};
        const std::string_view formatField = leadingFields(line)[1];
        visitor.header(line, fieldValue(formatField, convert::FormatField, 0xFFFF));
        bool inTrack = false;
        bool afterEvent = false;
        std::uint64_t lastTick = 0;
        while (nextLine()) {
            const std::string_view word = firstWord(line);
            if (word == convert::ContinuationWord) {
                if (inTrack && !afterEvent)
                    throw LineError{"a + line without an event before it"};
                inTrack ? visitor.continuation(line) : visitor.other(line);
            } else if (!inTrack && word == convert::TrackStartWord) {
                inTrack = true;
                afterEvent = false;
                lastTick = 0;
                visitor.trackStart(line);
            } else if (!inTrack) {
                if (word != convert::ChunkWord && word != convert::TrailingWord)
                    throw LineError{"expected MTrk, Chunk or Trailing, found " + shown(word)};
                visitor.other(line);
            } else if (line == convert::TrackEndWord) {
                inTrack = false;
                visitor.trackEnd(line);
            } else {
                const Event event = parseEvent(line);
                if (event.tick < lastTick) {
                    throw LineError{"tick " + std::to_string(event.tick) +
                                    " is before the previous tick " + std::to_string(lastTick)};
                }
                lastTick = event.tick;
                afterEvent = true;
                visitor.event(event, line);
            }
        }
        if (inTrack)
            throw LineError{"the text ends inside a track (no TrkEnd line)"};
    } catch (const LineError& error) {
        throw ConversionError(name + ": line " +
                              std::to_string(std::max<std::uint64_t>(lineNumber, 1)) + ": " +
                              error.what);
    }
}

struct TrackSize {
    std::uint64_t events = 0;
    std::uint64_t bytes = 0;
    std::uint64_t lastTick = 0;
};

// The first reading: the size and end of every track, and which state keys
// more than one track of a format 0 or 1 file sets (they share one timeline).
class Survey : public TextVisitor {
  public:
    void header(std::string_view, std::uint64_t format) override { format_ = format; }
    void trackStart(std::string_view) override { tracks.emplace_back(); }
    void event(const Event& event, std::string_view line) override {
        TrackSize& track = tracks.back();
        ++track.events;
        track.bytes += line.size() + 1;
        track.lastTick = event.tick;
        endTick = std::max(endTick, event.tick);
        if (event.role != Role::State || format_ == 2)
            return;
        const auto trackIndex = static_cast<std::uint32_t>(tracks.size() - 1);
        if (keyTrack_[event.key] == None)
            keyTrack_[event.key] = trackIndex;
        else if (keyTrack_[event.key] != trackIndex)
            shared[event.key] = anyShared = true;
    }
    void continuation(std::string_view line) override { tracks.back().bytes += line.size() + 1; }
    void trackEnd(std::string_view) override {}
    void other(std::string_view) override {}

    // The end of the piece, L, for the track of the given index.
    std::uint64_t end(std::size_t track) const {
        return format_ == 2 ? tracks[track].lastTick : endTick;
    }

    std::vector<TrackSize> tracks;
    std::uint64_t endTick = 0;
    std::array<bool, KeyCount> shared{};
    bool anyShared = false;

  private:
    std::uint64_t format_ = 0;
    std::array<std::uint32_t, KeyCount> keyTrack_ = [] {
        std::array<std::uint32_t, KeyCount> keys;
        keys.fill(None);
        return keys;
    }();
};

// A change of a state that several tracks set, as the whole file orders it.
struct SharedChange {
    std::uint32_t key;
    std::uint64_t tick;
    std::uint32_t track;
    std::uint32_t sequence; // among the changes of its key in its track
    std::string payload;
};

bool changeBefore(const SharedChange& a, const SharedChange& b) {
    return std::tie(a.key, a.tick, a.track, a.sequence) <
           std::tie(b.key, b.tick, b.track, b.sequence);
}

// Counts the changes of each key in one track.
class KeySequence {
  public:
    void restart() { counts_.fill(0); }
    std::uint32_t next(std::uint32_t key) { return counts_[key]++; }

  private:
    std::array<std::uint32_t, KeyCount> counts_{};
};

// Marks trail the fields of a line; a quoted text never holds one.
bool isMark(std::string_view field) {
    return field.find('"') == std::string_view::npos &&
           (startsWith(field, convert::DeltaBytesMark) ||
            startsWith(field, convert::RunningStatusMark) ||
            startsWith(field, convert::LengthBytesMark) ||
            startsWith(field, convert::TotalLengthMark));
}

// The marks of the delta's size and of running status say how an event sat
// among its old neighbours; a moved event is better without them.
bool isPlacementMark(std::string_view field) {
    return startsWith(field, convert::DeltaBytesMark) ||
           startsWith(field, convert::RunningStatusMark);
}

// The payload cut before its marks; the marks to keep, last first, in kept.
std::string_view fieldsBeforeMarks(std::string_view payload,
                                   std::vector<std::string_view>* kept = nullptr) {
    for (std::size_t space = payload.rfind(' '); space != std::string_view::npos;
         space = payload.rfind(' ')) {
        const std::string_view field = payload.substr(space + 1);
        if (!isMark(field))
            break;
        if (kept && !isPlacementMark(field))
            kept->push_back(field);
        payload = payload.substr(0, space);
    }
    return payload;
}

// The second reading when some states are shared: every change of them.
class SharedChanges : public TextVisitor {
  public:
    explicit SharedChanges(const Survey& survey) : survey_(survey) {}
    void header(std::string_view, std::uint64_t) override {}
    void trackStart(std::string_view) override {
        ++track_;
        sequence_.restart();
    }
    void event(const Event& event, std::string_view) override {
        if (event.role == Role::State && survey_.shared[event.key]) {
            changes.push_back({event.key, event.tick, track_, sequence_.next(event.key),
                               std::string(fieldsBeforeMarks(event.payload))});
        }
    }
    void continuation(std::string_view) override {}
    void trackEnd(std::string_view) override {}
    void other(std::string_view) override {}

    std::vector<SharedChange> changes;

  private:
    const Survey& survey_;
    std::uint32_t track_ = None;
    KeySequence sequence_;
};

[[noreturn]] void textChanged() {
    throw LineError{"the text changed while it was read"};
}

// The last reading: holds one track at a time and writes it reversed.
class Reverser : public TextVisitor {
  public:
    Reverser(const Survey& survey, const std::vector<SharedChange>& shared, TextSink sink)
        : survey_(survey), shared_(shared), sink_(std::move(sink)) {}

    void header(std::string_view line, std::uint64_t) override { writeLine(line); }
    void other(std::string_view line) override { writeLine(line); }

    void trackStart(std::string_view line) override {
        writeLine(line);
        if (++track_ >= survey_.tracks.size())
            textChanged();
        const TrackSize& size = survey_.tracks[track_];
        end_ = survey_.end(track_);
        // Reserved whole from the first reading's counts: a growing vector
        // would briefly hold twice its size.
        text_.clear();
        text_.reserve(size.bytes);
        stored_.clear();
        stored_.reserve(size.events);
        roles_.clear();
        roles_.reserve(size.events);
        noteHead_.fill(None);
        noteTail_.fill(None);
        lastOfKey_.fill(None);
        setupOfKey_.fill(None);
        sequence_.restart();
        ends_.clear();
    }

    void event(const Event& event, std::string_view line) override {
        if (event.tick > end_)
            textChanged();
        if (text_.size() + line.size() >= UINT32_MAX)
            throw LineError{"a track of more than 4 GiB of event text"};
        const auto index = static_cast<std::uint32_t>(stored_.size());
        stored_.push_back({event.tick, static_cast<std::uint32_t>(text_.size()), None});
        roles_.push_back(event.role);
        append(line);
        switch (event.role) {
        case Role::NoteStart:
            startNote(index, event.key);
            break;
        case Role::NoteEnd:
            endNote(index, event.key);
            break;
        case Role::State:
            stored_[index].partner =
                survey_.shared[event.key] ? sharedIndex(event) : previousOfKey(index, event);
            break;
        case Role::End:
            ends_.push_back(index);
            break;
        case Role::Point:
            break;
        }
    }

    void continuation(std::string_view line) override { append(line); }

    void trackEnd(std::string_view line) override {
        collectUnendedNotes();
        writeSetup();
        std::size_t last = stored_.size();
        if (last == 0 || stored_.back().tick != end_)
            writeGroup(end_, last, last);
        while (last > 0) {
            std::size_t first = last - 1;
            while (first > 0 && stored_[first - 1].tick == stored_[last - 1].tick)
                --first;
            writeGroup(stored_[first].tick, first, last);
            last = first;
        }
        writeClosingPoints();
        for (const std::uint32_t index : ends_)
            writeEvent(end_, index);
        writeLine(line);
    }

  private:
    // An event of the held track: its line and continuation lines lie in
    // text_ from offset to the next event's offset. partner is the other
    // end of a note, the previous change of a state's key in this track or,
    // with SharedBit, the change's place in the shared changes.
    struct Stored {
        std::uint64_t tick;
        std::uint32_t offset;
        std::uint32_t partner;
    };
    static constexpr std::uint32_t SharedBit = 0x80000000;

    // Notes of one key and channel pair first on, first off: a queue of the
    // started notes, linked through their partner fields until they end.
    void startNote(std::uint32_t index, std::uint32_t key) {
        if (noteTail_[key] == None)
            noteHead_[key] = index;
        else
            stored_[noteTail_[key]].partner = index;
        noteTail_[key] = index;
    }

    void endNote(std::uint32_t index, std::uint32_t key) {
        const std::uint32_t start = noteHead_[key];
        if (start == None) // ends no note: left out, it would end a reversed one
            return;
        noteHead_[key] = stored_[start].partner;
        if (noteHead_[key] == None)
            noteTail_[key] = None;
        stored_[start].partner = index;
        stored_[index].partner = start;
    }

    void collectUnendedNotes() {
        unended_.clear();
        for (std::uint32_t key = 0; key < NoteKeyCount; ++key) {
            for (std::uint32_t start = noteHead_[key]; start != None;) {
                const std::uint32_t next = stored_[start].partner;
                stored_[start].partner = None;
                unended_.push_back(start);
                start = next;
            }
        }
    }

    std::uint32_t previousOfKey(std::uint32_t index, const Event& event) {
        const std::uint32_t previous = lastOfKey_[event.key];
        lastOfKey_[event.key] = index;
        if (event.tick == 0)
            setupOfKey_[event.key] = index;
        return previous;
    }

    std::uint32_t sharedIndex(const Event& event) {
        const SharedChange wanted{event.key,
                                  event.tick,
                                  static_cast<std::uint32_t>(track_),
                                  sequence_.next(event.key),
                                  {}};
        const auto found = std::lower_bound(shared_.begin(), shared_.end(), wanted, changeBefore);
        if (found == shared_.end() || changeBefore(wanted, *found))
            textChanged();
        return static_cast<std::uint32_t>(found - shared_.begin()) | SharedBit;
    }

    std::string_view textOf(std::uint32_t index) const {
        const std::size_t end =
            index + 1 < stored_.size() ? stored_[index + 1].offset : text_.size();
        return std::string_view(text_).substr(stored_[index].offset, end - stored_[index].offset);
    }

    std::uint64_t tickOf(std::uint32_t index) const { return stored_[index].tick; }

    void append(std::string_view line) {
        text_.append(line);
        text_.push_back('\n');
    }

    // Set-up stays in front: what the track does at tick 0 other than notes.
    void writeSetup() {
        for (std::uint32_t i = 0; i < stored_.size() && tickOf(i) == 0; ++i) {
            const Role role = roles_[i];
            if (role == Role::State || role == Role::Point) {
                for (std::string_view text = textOf(i); !text.empty();) {
                    const std::size_t end = text.find('\n');
                    writeLine(text.substr(0, end));
                    text.remove_prefix(end + 1);
                }
            }
        }
    }

    // What happens at the very end stays there, as the set-up stays in
    // front: reversing twice then gives every point event back where it was.
    void writeClosingPoints() {
        std::size_t first = stored_.size();
        while (first > 0 && tickOf(static_cast<std::uint32_t>(first - 1)) == end_ && end_ != 0)
            --first;
        for (auto i = static_cast<std::uint32_t>(first); i < stored_.size(); ++i) {
            if (roles_[i] == Role::Point)
                writeEvent(end_, i);
        }
    }

    // Writes what happens at L - tick in the reversed track, from the events
    // of the original at tick (indices first to last): first the ends of
    // notes, then states and point events, then the starts of notes, so that
    // a note ending and one starting at the same moment do not cut each other.
    void writeGroup(std::uint64_t tick, std::size_t first, std::size_t last) {
        const std::uint64_t at = end_ - tick;
        const bool atEnd = tick == end_;
        for (std::size_t i = last; i-- > first;) {
            const auto index = static_cast<std::uint32_t>(i);
            if (roles_[i] != Role::NoteStart)
                continue;
            const std::uint32_t noteEnd = stored_[index].partner;
            if (noteEnd == None && !atEnd)
                writeNoteOff(at, index);
            else if (noteEnd != None && tickOf(noteEnd) != tick)
                writeEvent(at, noteEnd);
        }
        for (std::size_t i = first; i < last; ++i) {
            const auto index = static_cast<std::uint32_t>(i);
            if (roles_[i] == Role::Point && tick != 0 && !atEnd)
                writeEvent(at, index);
            else if (roles_[i] == Role::State)
                writePreviousValue(at, index);
        }
        if (atEnd)
            writeFinalValues();
        starts_.clear();
        for (std::size_t i = last; i-- > first;) {
            const std::uint32_t noteStart = stored_[i].partner;
            if (roles_[i] == Role::NoteEnd && noteStart != None)
                starts_.push_back(noteStart);
        }
        if (atEnd) {
            starts_.insert(starts_.end(), unended_.begin(), unended_.end());
            std::sort(starts_.begin(), starts_.end(), std::greater<>());
        }
        for (const std::uint32_t start : starts_)
            writeNoteStart(at, start);
    }

    // A note that starts and ends at the same moment keeps its end after its start.
    void writeNoteStart(std::uint64_t at, std::uint32_t start) {
        writeEvent(at, start);
        const std::uint32_t noteEnd = stored_[start].partner;
        if (noteEnd != None && tickOf(noteEnd) == tickOf(start))
            writeEvent(at, noteEnd);
        else if (noteEnd == None && tickOf(start) == end_)
            writeNoteOff(at, start);
    }

    // The value that held until this change now holds from its mirrored moment.
    void writePreviousValue(std::uint64_t at, std::uint32_t index) {
        const std::uint32_t partner = stored_[index].partner;
        if (partner == None)
            return;
        if ((partner & SharedBit) == 0) {
            if (tickOf(partner) < tickOf(index))
                writeEvent(at, partner);
            return;
        }
        const std::size_t change = partner & ~SharedBit;
        if (change > 0 && shared_[change - 1].key == shared_[change].key &&
            shared_[change - 1].tick < shared_[change].tick)
            writeLine(at, shared_[change - 1].payload);
    }

    // The values in force at the end become the values set at tick 0, unless
    // the set-up in front already sets them.
    void writeFinalValues() {
        finals_.clear();
        for (std::uint32_t key = 0; key < KeyCount; ++key) {
            const std::uint32_t last = lastOfKey_[key];
            if (last == None || tickOf(last) == 0 || tickOf(last) == end_)
                continue;
            const std::uint32_t setup = setupOfKey_[key];
            if (setup == None ||
                fieldsBeforeMarks(payloadOf(setup)) != fieldsBeforeMarks(payloadOf(last)))
                finals_.push_back(last);
        }
        std::sort(finals_.begin(), finals_.end());
        for (const std::uint32_t last : finals_)
            writeEvent(0, last);
        writeSharedFinalValues();
    }

    void writeSharedFinalValues() {
        const SharedChange* setup = nullptr;
        for (std::size_t i = 0; i < shared_.size(); ++i) {
            const SharedChange& change = shared_[i];
            if (i == 0 || shared_[i - 1].key != change.key)
                setup = nullptr;
            if (change.tick == 0)
                setup = &change;
            const bool last = i + 1 == shared_.size() || shared_[i + 1].key != change.key;
            if (last && change.track == track_ && change.tick != 0 && change.tick != end_ &&
                !(setup && setup->payload == change.payload))
                writeLine(0, change.payload);
        }
    }

    // The line after the tick, without the continuation lines.
    std::string_view payloadOf(std::uint32_t index) const {
        const std::string_view text = textOf(index);
        const std::size_t tickEnd = spaceAt(text) + 1;
        return text.substr(tickEnd, text.find('\n') - tickEnd);
    }

    void writeNoteOff(std::uint64_t at, std::uint32_t start) {
        const auto fields = leadingFields(payloadOf(start).substr(3));
        std::string line = "Off ";
        line.append(fields[0]).append(" ").append(fields[1]).append(" v=64");
        writeLine(at, line);
    }

    // Writes the event at a new tick with its continuation lines. The marks
    // of its delta's size and running status described its old place.
    void writeEvent(std::uint64_t at, std::uint32_t index) {
        writeLine(at, payloadOf(index));
        std::string_view text = textOf(index);
        text.remove_prefix(text.find('\n') + 1);
        while (!text.empty()) {
            const std::size_t end = text.find('\n');
            writeLine(text.substr(0, end));
            text.remove_prefix(end + 1);
        }
    }

    void writeLine(std::uint64_t at, std::string_view payload) {
        std::array<char, 24> tick;
        const auto written = std::to_chars(tick.data(), tick.data() + tick.size(), at);
        *written.ptr = ' ';
        sink_(
            std::string_view(tick.data(), static_cast<std::size_t>(written.ptr + 1 - tick.data())));
        kept_.clear();
        sink_(fieldsBeforeMarks(payload, &kept_));
        for (auto mark = kept_.rbegin(); mark != kept_.rend(); ++mark) {
            sink_(" ");
            sink_(*mark);
        }
        sink_("\r\n");
    }

    void writeLine(std::string_view line) {
        sink_(line);
        sink_("\r\n");
    }

    const Survey& survey_;
    const std::vector<SharedChange>& shared_;
    TextSink sink_;
    std::size_t track_ = SIZE_MAX;
    std::uint64_t end_ = 0;
    std::string text_;
    std::vector<Stored> stored_;
    std::array<std::uint32_t, NoteKeyCount> noteHead_{};
    std::array<std::uint32_t, NoteKeyCount> noteTail_{};
    std::array<std::uint32_t, KeyCount> lastOfKey_{};
    std::array<std::uint32_t, KeyCount> setupOfKey_{};
    KeySequence sequence_;
    std::vector<std::uint32_t> unended_;
    std::vector<Role> roles_; // of each held event
    std::vector<std::uint32_t> starts_;
    std::vector<std::uint32_t> finals_;
    std::vector<std::uint32_t> ends_;
    std::vector<std::string_view> kept_;
};

using SourceOpener = std::function<std::unique_ptr<LineSource>()>;

void reverseText(const SourceOpener& open, const std::string& name, const TextSink& sink,
                 const KeepGoing& keepGoing = {}) {
    Survey survey;
    walk(*open(), name, survey, keepGoing);
    SharedChanges shared(survey);
    if (survey.anyShared) {
        walk(*open(), name, shared, keepGoing);
        std::stable_sort(shared.changes.begin(), shared.changes.end(), changeBefore);
    }
    Reverser reverser(survey, shared.changes, sink);
    walk(*open(), name, reverser, keepGoing);
}

} // namespace

void reversePlayback(const std::string& sourcePath, const std::string& targetPath,
                     const std::function<bool()>& keepGoing) {
    convert::OutputFile out(targetPath);
    reverseText([&] { return std::make_unique<FileLines>(sourcePath); }, sourcePath,
                [&](std::string_view text) { out.write(text); }, keepGoing);
    out.commit();
}

std::string reversePlaybackText(std::string_view text, const std::string& name) {
    std::string reversed;
    reverseText([&] { return std::make_unique<StringLines>(text); }, name,
                [&](std::string_view piece) { reversed.append(piece); });
    return reversed;
}

} // namespace zelmod
