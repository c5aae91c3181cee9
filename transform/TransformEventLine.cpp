#include "TransformEventLine.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdint>

namespace zelmod {
namespace {

constexpr int FieldCount = 7;
using Fields = std::array<std::string_view, FieldCount>;

// What a job does: which field it rewrites, with which prefix, and how.
struct JobRule {
    int field; // zero-based index into Fields, or -1 when the job rewrites nothing
    std::string_view prefix;
    bool mirror;
};

constexpr std::array<JobRule, JobCount> jobRules{{
    {3, "n=", true},  // pitch mirror
    {3, "n=", false}, // transpose
    {4, "v=", true},  // velocity mirror
    {4, "v=", false}, // velocity shift
    {-1, "", false},  // reverse playback: no rewriting
}};

constexpr int noteMin = 1;
constexpr int noteMax = 128;
constexpr int mirrorSum = 129;

int selectedJob(const JobOptionQuery& isSelected) {
    for (int index = 0; index < JobCount; ++index) {
        if (isSelected(index))
            return index;
    }
    return static_cast<int>(Job::Reverse);
}

// Cuts at every space, keeping empty pieces; pieces after the seventh are dropped.
Fields splitFields(std::string_view line) {
    Fields fields{};
    std::size_t start = 0;
    for (int i = 0; i < FieldCount; ++i) {
        const std::size_t space = line.find(' ', start);
        if (space == std::string_view::npos) {
            fields[i] = line.substr(start);
            break;
        }
        fields[i] = line.substr(start, space - start);
        start = space + 1;
    }
    return fields;
}

// The value text of a target field: the digits after the prefix when the
// field is 3 to 5 characters long, else the whole field (which fails).
std::int32_t parseValue(std::string_view field) {
    const std::string_view text = field.size() >= 3 && field.size() <= 5 ? field.substr(2) : field;
    std::int32_t value = 0;
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (text.empty() || ec != std::errc() || ptr != end)
        throw ValueConversionError(std::string(field));
    return value;
}

std::int32_t shifted(std::int32_t value, double shiftAmount, bool& limitFlag) {
    // nearbyint rounds in the default mode: to nearest, halves to even.
    const double sum = std::nearbyint(static_cast<double>(value) + shiftAmount);
    if (sum < noteMin) {
        limitFlag = true;
        return noteMin;
    }
    if (sum > noteMax) {
        limitFlag = true;
        return noteMax;
    }
    return static_cast<std::int32_t>(sum);
}

void rebuild(const Fields& fields, std::string& out) {
    if (fields[0].empty())
        return;
    out.append(fields[0]);
    for (int i = 1; i < FieldCount && !fields[i].empty(); ++i) {
        out.push_back(' ');
        out.append(fields[i]);
    }
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
    std::string out;
    appendTransformedLine(out, line, shiftAmount, limitFlag, isSelected);
    return out;
}

void appendTransformedLine(std::string& out, std::string_view line, double shiftAmount,
                           bool& limitFlag, const JobOptionQuery& isSelected) {
    limitFlag = false;
    const JobRule& rule = jobRules[selectedJob(isSelected)];

    Fields fields = splitFields(line);
    const bool noteOn = fields[1] == "On";
    if (!noteOn && fields[1] != "Off") {
        out.append(line);
        return;
    }

    // Channel 10 is the percussion channel: its notes are instruments, not pitches.
    if (rule.field < 0 || fields[2] == "ch=10" || !fields[rule.field].starts_with(rule.prefix)) {
        rebuild(fields, out);
        return;
    }

    const std::int32_t value = parseValue(fields[rule.field]);
    std::int32_t newValue = value;
    const bool velocityJob = rule.prefix == "v=";
    // A note-on of velocity 0 ends a note; giving it a velocity would leave the note stuck.
    if (!(velocityJob && noteOn && value == 0))
        newValue = rule.mirror ? mirrorSum - value : shifted(value, shiftAmount, limitFlag);

    std::array<char, 16> rewritten{};
    std::copy(rule.prefix.begin(), rule.prefix.end(), rewritten.begin());
    const auto written = std::to_chars(rewritten.data() + rule.prefix.size(),
                                       rewritten.data() + rewritten.size(), newValue);
    fields[rule.field] = std::string_view(rewritten.data(), written.ptr);
    rebuild(fields, out);
}

} // namespace zelmod
