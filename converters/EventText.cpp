#include "converters/EventText.h"

namespace zelmod::convert {
namespace {

using enum FieldForm;
using enum EventKind;

// Every event line's name and fields. Both converters read this table: the
// text writer looks entries up by status or meta type, the reader by name.
constexpr EventName events[] = {
    {NoteOnName, Channel, 0x90, 2, {{{NoteField, Data7}, {VelocityField, Data7}}}},
    {NoteOffName, Channel, 0x80, 2, {{{NoteField, Data7}, {VelocityField, Data7}}}},
    {"PolyPressure", Channel, 0xA0, 2, {{{"n=", Data7}, {"v=", Data7}}}},
    {"Control", Channel, 0xB0, 2, {{{"c=", Data7}, {"v=", Data7}}}},
    {"Program", Channel, 0xC0, 1, {{{"p=", Data7}}}},
    {"ChanPressure", Channel, 0xD0, 1, {{{"v=", Data7}}}},
    {"PitchBend", Channel, 0xE0, 1, {{{"v=", Bend14}}}},
    {"SeqNumber", Meta, 0x00, 1, {{{"", Uint16}}}},
    {"Text", Meta, 0x01, 1, {{{"", Text}}}},
    {"Copyright", Meta, 0x02, 1, {{{"", Text}}}},
    {"TrackName", Meta, 0x03, 1, {{{"", Text}}}},
    {"Instrument", Meta, 0x04, 1, {{{"", Text}}}},
    {"Lyric", Meta, 0x05, 1, {{{"", Text}}}},
    {"Marker", Meta, 0x06, 1, {{{"", Text}}}},
    {"CuePoint", Meta, 0x07, 1, {{{"", Text}}}},
    {"ProgramName", Meta, 0x08, 1, {{{"", Text}}}},
    {"DeviceName", Meta, 0x09, 1, {{{"", Text}}}},
    {"ChanPrefix", Meta, 0x20, 1, {{{"", Byte}}}},
    {"Port", Meta, 0x21, 1, {{{"", Byte}}}},
    {"EndOfTrack", Meta, 0x2F, 0, {}},
    {"Tempo", Meta, 0x51, 1, {{{"", Uint24}}}},
    {"SMPTEOffset", Meta, 0x54, 5, {{{"", Byte}, {"", Byte}, {"", Byte}, {"", Byte}, {"", Byte}}}},
    {"TimeSig", Meta, 0x58, 4, {{{"", Byte}, {"", Byte}, {"", Byte}, {"", Byte}}}},
    {"KeySig", Meta, 0x59, 2, {{{"", SignedByte}, {"", Byte}}}},
    {"SeqSpecific", Meta, 0x7F, 1, {{{"", Hex}}}},
    {"Meta", GenericMeta, 0xFF, 2, {{{"", HexByte}, {"", Hex}}}},
    {"SysEx", SysEx, 0xF0, 1, {{{"", Hex}}}},
    {"SysExF7", SysEx, 0xF7, 1, {{{"", Hex}}}},
    {"System", System, 0xF1, 2, {{{"", HexByte}, {"", Hex}}}},
};

constexpr const EventName* find(EventKind kind, std::uint8_t code) {
    for (const EventName& event : events) {
        if (event.kind == kind && event.code == code)
            return &event;
    }
    return nullptr;
}

// Lookups by status, meta type and first letter of the name, built from the table once.
struct Index {
    std::array<const EventName*, 8> channel{};
    std::array<const EventName*, 256> meta{};
    // The names with each first letter, in table order; the most that share one is six.
    std::array<std::array<const EventName*, 6>, 128> byFirstLetter{};
    constexpr Index() {
        for (int status = 0x80; status < 0xF0; status += 0x10)
            channel[(status >> 4) & 7] = find(Channel, static_cast<std::uint8_t>(status));
        for (int type = 0; type < 256; ++type)
            meta[type] = find(Meta, static_cast<std::uint8_t>(type));
        for (const EventName& event : events) {
            auto& sameLetter = byFirstLetter[static_cast<std::size_t>(event.name[0])];
            std::size_t free = 0;
            while (sameLetter[free])
                ++free;
            sameLetter[free] = &event;
        }
    }
};
constexpr Index lookup;

} // namespace

std::string shown(std::string_view field) {
    constexpr std::size_t longest = 40;
    constexpr char hex[] = "0123456789ABCDEF";
    std::string text = "\"";
    for (const char c : field.substr(0, longest)) {
        const auto byte = static_cast<std::uint8_t>(c);
        if (byte >= 0x20 && byte < 0x7F)
            text += c;
        else
            text += {'\\', 'x', hex[byte >> 4], hex[byte & 15]};
    }
    return text + (field.size() > longest ? "...\"" : "\"");
}

std::size_t fixedSize(const EventName& event) {
    std::size_t size = 0;
    for (int i = 0; i < event.fieldCount; ++i)
        size += fieldSize(event.fields[i].form);
    return size;
}

bool hasVariableField(const EventName& event) {
    return event.fieldCount > 0 && fieldSize(event.fields[event.fieldCount - 1].form) == 0;
}

const EventName* findEventAt(std::string_view text) {
    const auto first = static_cast<unsigned char>(text.empty() ? 0 : text[0]);
    if (first >= lookup.byFirstLetter.size())
        return nullptr;
    for (const EventName* event : lookup.byFirstLetter[first]) {
        if (!event)
            break;
        const std::size_t size = event->name.size();
        if (startsWith(text, event->name) && (text.size() == size || text[size] == ' '))
            return event;
    }
    return nullptr;
}

const EventName& channelEvent(std::uint8_t status) {
    return *lookup.channel[(status >> 4) & 7];
}
const EventName* metaEvent(std::uint8_t type) {
    return lookup.meta[type];
}
const EventName& genericMetaEvent() {
    return *find(GenericMeta, 0xFF);
}
const EventName& sysExEvent(std::uint8_t status) {
    return *find(SysEx, status);
}
const EventName& systemEvent() {
    return *find(System, 0xF1);
}

} // namespace zelmod::convert
