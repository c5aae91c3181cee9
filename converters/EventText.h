// The vocabulary of event text, shared by both converters: one table names
// every event and says how its bytes appear as fields (docs/event-text.md).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace zelmod::convert {

// How bytes of an event appear as one field of its line.
enum class FieldForm : std::uint8_t {
    Data7,      // one data byte, decimal 0..127
    Byte,       // one byte, decimal 0..255
    SignedByte, // one byte, decimal -128..127
    HexByte,    // one byte, two hexadecimal digits
    Uint16,     // two bytes, big-endian, decimal
    Uint24,     // three bytes, big-endian, decimal
    Bend14,     // two data bytes, low seven bits first, decimal 0..16383
    Text,       // the rest of the bytes as one quoted string with escapes
    Hex,        // the rest of the bytes, each as a field of two hexadecimal digits
};

struct Field {
    std::string_view prefix;
    FieldForm form;
};

enum class EventKind : std::uint8_t {
    Channel,     // channel message; the "ch=" field comes first
    Meta,        // meta event of one type in its usual length
    GenericMeta, // any meta event: the type, then the data in hexadecimal
    SysEx,       // F0 or F7 packet: the data after the length
    System,      // system message 0xF1..0xFE: the status, then its data bytes
};

struct EventName {
    std::string_view name;
    EventKind kind;
    std::uint8_t code; // channel: status of channel 1; meta: type; SysEx: F0 or F7
    std::uint8_t fieldCount;
    std::array<Field, 5> fields;
};

// Bytes of a fixed-size field; 0 for Text and Hex, which take the rest.
// Fixed-size fields come first; a Text or Hex field, if any, is the last.
constexpr std::size_t fieldSize(FieldForm form) {
    switch (form) {
    case FieldForm::Uint16:
    case FieldForm::Bend14:
        return 2;
    case FieldForm::Uint24:
        return 3;
    case FieldForm::Text:
    case FieldForm::Hex:
        return 0;
    default:
        return 1;
    }
}
// A field as a message quotes it: bytes that are not printable ASCII (a NUL
// would end the message) are written \xHH, and a long field is cut short.
std::string shown(std::string_view field);

// Bytes of the fixed-size fields of an event.
std::size_t fixedSize(const EventName& event);
bool hasVariableField(const EventName& event);

// The event whose name begins text and ends where text does or at a space.
const EventName* findEventAt(std::string_view text);
const EventName& channelEvent(std::uint8_t status);
// The named form of a meta type, or nullptr when it has none.
const EventName* metaEvent(std::uint8_t type);
const EventName& genericMetaEvent();
const EventName& sysExEvent(std::uint8_t status);
const EventName& systemEvent();

// Compares short words in place; the library call costs more than the work.
constexpr bool startsWith(std::string_view text, std::string_view prefix) {
    if (text.size() < prefix.size())
        return false;
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        if (text[i] != prefix[i])
            return false;
    }
    return true;
}

constexpr bool sameWord(std::string_view a, std::string_view b) {
    return a.size() == b.size() && startsWith(a, b);
}

// Note lines are the only lines whose values the line rewriter changes:
// their names, the fields it rewrites, and the channel it leaves alone
// (channel 10, the percussion channel, whose notes are instruments).
inline constexpr std::string_view NoteOnName = "On";
inline constexpr std::string_view NoteOffName = "Off";
inline constexpr std::string_view NoteField = "n=";
inline constexpr std::string_view VelocityField = "v=";
inline constexpr std::string_view PercussionChannel = "10";

// The most a data byte holds. t2mf writes a larger note or velocity as
// this and counts it.
inline constexpr int MaxDataValue = 127;

inline bool isNoteEvent(const EventName& event) {
    return event.kind == EventKind::Channel && (event.code == 0x80 || event.code == 0x90);
}

// Words of the lines that give the file's structure.
inline constexpr std::string_view HeaderWord = "MThd";
inline constexpr std::string_view TrackStartWord = "MTrk";
inline constexpr std::string_view TrackEndWord = "TrkEnd";
inline constexpr std::string_view ChunkWord = "Chunk";
inline constexpr std::string_view TrailingWord = "Trailing";
inline constexpr std::string_view ContinuationWord = "+";

inline constexpr std::string_view FormatField = "format=";
inline constexpr std::string_view TracksField = "tracks=";
inline constexpr std::string_view DivisionField = "division=";
inline constexpr std::string_view ChannelField = "ch=";

// Marks: how the bytes were written where the usual encoding would differ.
inline constexpr std::string_view RunningStatusMark = "rs=";
inline constexpr std::string_view DeltaBytesMark = "dl=";
inline constexpr std::string_view LengthBytesMark = "ll=";
inline constexpr std::string_view TotalLengthMark = "len=";

// Running status per track: the MTrk line's default, and a line's override.
enum class RunningStatus : std::uint8_t { On, Off, Carry };
inline constexpr std::array<std::string_view, 3> RunningStatusWords = {"on", "off", "carry"};

// Whether a track's default leaves out the status byte of a channel event
// with the same status as the channel event before it; afterNonChannel: a
// meta, SysEx or system event came in between.
constexpr bool defaultOmitsStatus(RunningStatus mode, bool afterNonChannel) {
    return mode == RunningStatus::Carry || (mode == RunningStatus::On && !afterNonChannel);
}

// Longer payloads go on continuation lines, so no line grows without bound.
inline constexpr std::size_t PayloadBytesPerLine = 256;
// Longest line a reader takes; a payload line of escaped text stays well below it.
inline constexpr std::size_t MaxLineLength = 4096;

inline constexpr std::uint32_t MaxVariableLength = 0x0FFFFFFF;
inline constexpr int MaxVariableLengthBytes = 4;

inline int minimalVariableLengthBytes(std::uint32_t value) {
    return value < 0x80 ? 1 : value < 0x4000 ? 2 : value < 0x200000 ? 3 : 4;
}

// Data bytes that follow a system status 0xF1..0xFE.
inline std::size_t systemDataBytes(std::uint8_t status) {
    return status == 0xF2 ? 2 : (status == 0xF1 || status == 0xF3) ? 1 : 0;
}

// Text bytes shown as they are; every other byte is escaped.
inline bool isPlainTextByte(std::uint8_t byte) {
    return byte >= 0x20 && byte <= 0x7E && byte != '"' && byte != '\\';
}

} // namespace zelmod::convert
