#include "transform/TransformEventLine.h"

#include <algorithm>
#include <array>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <span>

namespace zelmod {
namespace {

using convert::NoteField;
using convert::VelocityField;

constexpr int FieldCount = 7;
using Fields = std::array<std::string_view, FieldCount>;

// What a job does: which field it rewrites, with which prefix, and how.
struct JobRule {
    int field; // zero-based index into Fields, or -1 when the job rewrites nothing
    const char* prefix;
    bool velocity;
    bool mirror;
};

// Both prefixes are as long, so that they are compared and copied as a
// fixed number of bytes.
constexpr std::size_t PrefixSize = NoteField.size();
static_assert(VelocityField.size() == PrefixSize);

constexpr std::array<JobRule, JobCount> jobRules{{
    {3, NoteField.data(), false, true},     // pitch mirror
    {3, NoteField.data(), false, false},    // transpose
    {4, VelocityField.data(), true, true},  // velocity mirror
    {4, VelocityField.data(), true, false}, // velocity shift
    {-1, nullptr, false, false},            // reverse playback: no rewriting
}};

int selectedJob(const JobOptionQuery& isSelected) {
    for (int index = 0; index < JobCount; ++index) {
        if (isSelected(index))
            return index;
    }
    return static_cast<int>(Job::Reverse);
}

// The line cut at every space, keeping empty pieces; pieces after the
// seventh are dropped. A plain line (seven fields at most, none empty) is
// its own rebuilt form.
struct SplitLine {
    Fields fields{};
    bool plain = true;
};

// Eight bytes of text from at, the first in the lowest bits; bytes past
// the end read as zero.
std::uint64_t loadWord(const char* at, std::size_t left) {
    std::uint64_t word = 0;
    if (left >= 8 && std::endian::native == std::endian::little) {
        std::memcpy(&word, at, 8);
        return word;
    }
    for (std::size_t i = 0; i < std::min<std::size_t>(left, 8); ++i)
        word |= std::uint64_t(static_cast<unsigned char>(at[i])) << (8 * i);
    return word;
}

// The high bit of every byte of word that is a space, and no other bit;
// eight bytes are tested at once, since cutting is most of the work.
constexpr std::uint64_t spaceBits(std::uint64_t word) {
    constexpr std::uint64_t low7 = 0x7F7F7F7F7F7F7F7F;
    const std::uint64_t x = word ^ 0x2020202020202020;
    return ~(((x & low7) + low7) | x | low7);
}

// The high bit of each byte of spaces, gathered into one byte.
std::uint32_t byteBits(std::uint64_t spaces) {
    return static_cast<std::uint32_t>(((spaces >> 7) * 0x0102040810204080) >> 56);
}

// Where the second field starts, or 0 when the line has no space.
std::size_t secondFieldAt(std::string_view line) {
    if (line.size() >= 8) {
        if (const std::uint64_t spaces = spaceBits(loadWord(line.data(), 8)))
            return static_cast<std::size_t>(std::countr_zero(spaces) / 8) + 1;
    }
    return line.find(' ') + 1; // npos + 1 is 0
}

// The first five fields of a note line as the converter writes it.
using NoteFields = std::array<std::string_view, 5>;

// Splits a note line as the converter writes it: a tick, the event name
// (nameSize bytes from nameAt) and three fields in the 8 to 24 bytes after
// it, all single-spaced. Their spaces are found in three words, without a
// branch per byte. Any other line is left to splitFields.
bool splitNoteLine(std::string_view line, std::size_t nameAt, std::size_t nameSize,
                   NoteFields& fields) {
    const std::size_t restAt = nameAt + nameSize + 1;
    if (nameAt < 2 || restAt + 8 > line.size() || restAt + 24 < line.size())
        return false;
    const std::size_t rest = line.size() - restAt;
    const char* const at = line.data() + restAt;
    // The word that ends with the line, moved down to the place of the last word.
    const std::uint64_t last = loadWord(line.data() + line.size() - 8, 8);
    const std::uint64_t second = rest > 16  ? loadWord(at + 8, 8)
                                 : rest > 8 ? last >> (8 * (16 - rest))
                                            : 0;
    const std::uint64_t third = rest > 16 ? last >> (8 * (24 - rest)) : 0;
    const std::uint32_t spaces = byteBits(spaceBits(loadWord(at, 8))) |
                                 byteBits(spaceBits(second)) << 8 |
                                 byteBits(spaceBits(third)) << 16;
    const std::uint32_t after = spaces & (spaces - 1);
    if (after == 0 || (after & (after - 1)) != 0) // not exactly two spaces
        return false;
    const auto first = static_cast<std::size_t>(std::countr_zero(spaces));
    const auto next = static_cast<std::size_t>(std::countr_zero(after));
    if (first == 0 || next == first + 1 || next + 1 == rest)
        return false;
    fields[0] = line.substr(0, nameAt - 1);
    fields[1] = line.substr(nameAt, nameSize);
    fields[2] = std::string_view(at, first);
    fields[3] = std::string_view(at + first + 1, next - first - 1);
    fields[4] = std::string_view(at + next + 1, rest - next - 1);
    return true;
}

SplitLine splitFields(std::string_view line) {
    SplitLine split;
    std::size_t start = 0;
    int count = 0;
    for (std::size_t base = 0; base < line.size(); base += 8) {
        for (std::uint64_t spaces = spaceBits(loadWord(line.data() + base, line.size() - base));
             spaces != 0; spaces &= spaces - 1) {
            const std::size_t at = base + static_cast<std::size_t>(std::countr_zero(spaces) / 8);
            split.plain = split.plain && at != start;
            split.fields[count] = line.substr(start, at - start);
            start = at + 1;
            if (++count == FieldCount) {
                split.plain = false;
                return split;
            }
        }
    }
    split.plain = split.plain && start != line.size();
    split.fields[count] = line.substr(start);
    return split;
}

// Whether the second field, seen in its first four bytes, is the event name.
constexpr bool isEventName(std::string_view name, std::string_view word) {
    return convert::startsWith(name, word) &&
           (name.size() == word.size() || name[word.size()] == ' ');
}

char* copied(char* out, std::string_view text) {
    std::memcpy(out, text.data(), text.size());
    return out + text.size();
}

// The value text of a target field: the one to three characters after the
// prefix, else the whole field (which fails).
std::int32_t parseValue(std::string_view field) {
    const bool shortValue = field.size() > PrefixSize && field.size() <= PrefixSize + 3;
    const std::string_view text = shortValue ? field.substr(PrefixSize) : field;
    // One to three plain digits, as the converter writes them, are read
    // without from_chars.
    if (text.size() < field.size() &&
        std::ranges::all_of(text, [](char c) { return c >= '0' && c <= '9'; })) {
        std::int32_t value = 0;
        for (const char c : text)
            value = value * 10 + (c - '0');
        return value;
    }
    std::int32_t value = 0;
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (text.empty() || ec != std::errc() || ptr != end)
        throw ValueConversionError(std::string(field));
    return value;
}

template <typename Number> std::int32_t clamped(Number sum, bool& limitFlag) {
    if (sum < MinShiftedValue) {
        limitFlag = true;
        return MinShiftedValue;
    }
    if (sum > MaxShiftedValue) {
        limitFlag = true;
        return MaxShiftedValue;
    }
    return static_cast<std::int32_t>(sum);
}

std::int32_t shifted(std::int32_t value, double shiftAmount, bool& limitFlag) {
    // A whole amount, the usual one, is added as a whole number.
    constexpr double wholeLimit = 0x1p31;
    if (shiftAmount > -wholeLimit && shiftAmount < wholeLimit) {
        const auto whole = static_cast<std::int32_t>(shiftAmount);
        if (whole == shiftAmount)
            return clamped(std::int64_t{value} + whole, limitFlag);
    }
    // Otherwise rounded in the default mode: to nearest, halves to even.
    // Adding and taking away 1.5 * 2^52 rounds so, inline, for sums of less
    // than 2^51.
    constexpr double rounder = 0x1.8p52;
    const double exact = static_cast<double>(value) + shiftAmount;
    return clamped(std::fabs(exact) < 0x1p51 ? (exact + rounder) - rounder : std::nearbyint(exact),
                   limitFlag);
}

char* rebuilt(char* out, const Fields& fields) {
    if (fields[0].empty())
        return out;
    out = copied(out, fields[0]);
    for (int i = 1; i < FieldCount && !fields[i].empty(); ++i) {
        *out++ = ' ';
        out = copied(out, fields[i]);
    }
    return out;
}

bool isPercussion(std::string_view channel) {
    return convert::startsWith(channel, convert::ChannelField) &&
           convert::sameWord(channel.substr(convert::ChannelField.size()),
                             convert::PercussionChannel);
}

// Whether the job rewrites a value of this note line.
bool rewrites(const JobRule& rule, std::span<const std::string_view> fields) {
    if (rule.field < 0 || isPercussion(fields[2]))
        return false;
    const std::string_view target = fields[static_cast<std::size_t>(rule.field)];
    return target.size() >= PrefixSize && std::memcmp(target.data(), rule.prefix, PrefixSize) == 0;
}

// The target field with its value rewritten, held in room.
std::string_view newValueText(std::string_view target, bool noteOn, const JobRule& rule,
                              double shiftAmount, bool& limitFlag, std::array<char, 16>& room) {
    const std::int32_t value = parseValue(target);
    std::int32_t newValue = value;
    // A note-on of velocity 0 ends a note; giving it a velocity would leave the note stuck.
    if (!(rule.velocity && noteOn && value == 0))
        newValue = rule.mirror ? MirrorSum - value : shifted(value, shiftAmount, limitFlag);
    std::memcpy(room.data(), rule.prefix, PrefixSize);
    const auto written =
        std::to_chars(room.data() + PrefixSize, room.data() + room.size(), newValue);
    return {room.data(), static_cast<std::size_t>(written.ptr - room.data())};
}

// A plain line is rebuilt as itself with the new target in place, which
// mostly has as many digits as the old one.
char* patched(char* out, std::string_view line, std::string_view target,
              std::string_view newTarget) {
    const auto targetAt = static_cast<std::size_t>(target.data() - line.data());
    copied(out, line);
    copied(out + targetAt, newTarget);
    if (newTarget.size() == target.size())
        return out + line.size();
    return copied(out + targetAt + newTarget.size(), line.substr(targetAt + target.size()));
}

} // namespace

JobOptionQuery fixedJob(Job job) {
    return [job](int index) { return index == static_cast<int>(job); };
}

ValueConversionError::ValueConversionError(std::string field)
    : std::runtime_error("\"" + field + "\" does not hold a decimal value"),
      field_(std::move(field)) {}

std::string TransformEventLine(std::string_view line, double shiftAmount, bool& limitFlag,
                               const JobOptionQuery& isSelected) {
    std::string out(line.size() + MaxLineGrowth, '\0');
    char* const end = writeTransformedLine(out.data(), line, shiftAmount, limitFlag, isSelected);
    out.resize(static_cast<std::size_t>(end - out.data()));
    return out;
}

char* writeTransformedLine(char* out, std::string_view line, double shiftAmount, bool& limitFlag,
                           const JobOptionQuery& isSelected) {
    limitFlag = false;
    const JobRule& rule = jobRules[selectedJob(isSelected)];

    // Most lines are told apart by their second field alone.
    const std::size_t nameAt = secondFieldAt(line);
    const std::string_view name = nameAt == 0 ? std::string_view() : line.substr(nameAt, 4);
    const bool noteOn = isEventName(name, convert::NoteOnName);
    if (!noteOn && !isEventName(name, convert::NoteOffName))
        return copied(out, line);

    NoteFields note;
    if (splitNoteLine(line, nameAt, (noteOn ? convert::NoteOnName : convert::NoteOffName).size(),
                      note)) {
        if (!rewrites(rule, note))
            return copied(out, line);
        std::array<char, 16> room;
        const std::string_view target = note[rule.field];
        return patched(out, line, target,
                       newValueText(target, noteOn, rule, shiftAmount, limitFlag, room));
    }
    const SplitLine split = splitFields(line);
    if (!rewrites(rule, split.fields))
        return split.plain ? copied(out, line) : rebuilt(out, split.fields);
    std::array<char, 16> room;
    const std::string_view target = split.fields[rule.field];
    const std::string_view newTarget =
        newValueText(target, noteOn, rule, shiftAmount, limitFlag, room);
    if (split.plain)
        return patched(out, line, target, newTarget);
    Fields changed = split.fields;
    changed[rule.field] = newTarget;
    return rebuilt(out, changed);
}

} // namespace zelmod
