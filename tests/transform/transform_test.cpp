#include "transform/TransformEventLine.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

using zelmod::Job;
using zelmod::TransformEventLine;

namespace {

struct LineCase {
    Job job;
    double amount;
    std::string line;
    std::string expected;
    bool limit;
};

void PrintTo(const LineCase& c, std::ostream* os) {
    *os << "job " << static_cast<int>(c.job) << ", amount " << c.amount << ", \"" << c.line << "\"";
}

class TransformLine : public testing::TestWithParam<LineCase> {};

TEST_P(TransformLine, RewritesAsExpected) {
    const LineCase& c = GetParam();
    bool limit = !c.limit; // the call must set the flag either way
    EXPECT_EQ(TransformEventLine(c.line, c.amount, limit, zelmod::fixedJob(c.job)), c.expected);
    EXPECT_EQ(limit, c.limit);
}

const std::string twoSpaces = "0 On ch=1 n=60  v=100";

INSTANTIATE_TEST_SUITE_P(
    WorkedExamples, TransformLine,
    testing::Values(
        LineCase{Job::PitchMirror, 0, "0 On ch=1 n=60 v=100", "0 On ch=1 n=69 v=100", false},
        LineCase{Job::Transpose, 12, "0 On ch=1 n=60 v=100", "0 On ch=1 n=72 v=100", false},
        LineCase{Job::Transpose, 12, "480 Off ch=2 n=120 v=64", "480 Off ch=2 n=128 v=64", true},
        LineCase{Job::VelocityMirror, 0, "0 On ch=1 n=60 v=100", "0 On ch=1 n=60 v=29", false},
        LineCase{Job::VelocityShift, -30, "0 On ch=1 n=60 v=20", "0 On ch=1 n=60 v=1", true}));

INSTANTIATE_TEST_SUITE_P(
    PercussionChannelKeepsItsValues, TransformLine,
    testing::Values(
        LineCase{Job::PitchMirror, 0, "0 On ch=10 n=36 v=100", "0 On ch=10 n=36 v=100", false},
        LineCase{Job::Transpose, 12, "0 On ch=10 n=36 v=100", "0 On ch=10 n=36 v=100", false},
        LineCase{Job::VelocityMirror, 0, "0 Off ch=10 n=36 v=100", "0 Off ch=10 n=36 v=100", false},
        LineCase{Job::VelocityShift, -127, "0 On ch=10 n=36 v=1", "0 On ch=10 n=36 v=1", false},
        // Only the exact text counts: a leading zero is another channel field.
        LineCase{Job::Transpose, 1, "0 On ch=010 n=36 v=1", "0 On ch=010 n=37 v=1", false}));

INSTANTIATE_TEST_SUITE_P(
    UnrecognisedLinesPassThroughWhole, TransformLine,
    testing::Values(
        LineCase{Job::Transpose, 12, "", "", false},
        LineCase{Job::Transpose, 12, "MFile 1 2 480", "MFile 1 2 480", false},
        LineCase{Job::PitchMirror, 0, "0 on ch=1 n=60 v=100", "0 on ch=1 n=60 v=100", false},
        LineCase{Job::PitchMirror, 0, "0 ON ch=1 n=60 v=100", "0 ON ch=1 n=60 v=100", false},
        LineCase{Job::Transpose, 5, "0  On ch=1 n=60 v=100", "0  On ch=1 n=60 v=100", false},
        LineCase{Job::Transpose, 5, "0 PrCh  ch=1 p=5 a b c d e f ",
                 "0 PrCh  ch=1 p=5 a b c d e f ", false},
        LineCase{Job::Transpose, 5, "0\tOn ch=1 n=60 v=100", "0\tOn ch=1 n=60 v=100", false},
        LineCase{Job::Transpose, 12, "0 Meta TrkEnd", "0 Meta TrkEnd", false}));

INSTANTIATE_TEST_SUITE_P(
    RecognisedLinesAreRebuilt, TransformLine,
    testing::Values(
        LineCase{Job::Transpose, 12, "0 On ch=1 n=60 v=100 ", "0 On ch=1 n=72 v=100", false},
        LineCase{Job::Transpose, 12, twoSpaces, "0 On ch=1 n=72", false},
        LineCase{Job::Transpose, 12, "0 On ch=1 n=60 v=100 a b c d", "0 On ch=1 n=72 v=100 a b",
                 false},
        LineCase{Job::Transpose, 12, "0 On ch=1", "0 On ch=1", false},
        LineCase{Job::Transpose, 12, "0 On ch=1 x=60 v=100", "0 On ch=1 x=60 v=100", false},
        LineCase{Job::Transpose, 12, "0 On ch=1 N=60 v=100", "0 On ch=1 N=60 v=100", false},
        LineCase{Job::VelocityShift, 12, "0 On ch=1 n=60", "0 On ch=1 n=60", false},
        LineCase{Job::Reverse, 12, "0 On ch=1 n=60  v=100", "0 On ch=1 n=60", false},
        // An empty first field leaves nothing to rebuild from.
        LineCase{Job::Transpose, 12, " On ch=1 n=60 v=100", "", false},
        LineCase{Job::PitchMirror, 0, "0 On ch=1 n=060 v=100", "0 On ch=1 n=69 v=100", false},
        LineCase{Job::PitchMirror, 0, "0 On ch=1 n=-5 v=100", "0 On ch=1 n=134 v=100", false},
        // Note lines from 7 to 25 characters after the event name.
        LineCase{Job::Transpose, 12, "7 On c n=6 v", "7 On c n=18 v", false},
        LineCase{Job::Transpose, 12, "7 On c n=60 v", "7 On c n=72 v", false},
        LineCase{Job::Transpose, 12, "7 On ch=1 n=60 v=1234", "7 On ch=1 n=72 v=1234", false},
        LineCase{Job::Transpose, 12, "7 Off ch=1 n=60 v=12345", "7 Off ch=1 n=72 v=12345", false},
        LineCase{Job::Transpose, 12, "7 On ch=16 n=60 v=12345678901",
                 "7 On ch=16 n=72 v=12345678901", false},
        LineCase{Job::Transpose, 12, "7 On ch=123456789 n=60 v=12", "7 On ch=123456789 n=72 v=12",
                 false},
        LineCase{Job::Transpose, 12, "7 On ch=16 n=60 v=123456789012",
                 "7 On ch=16 n=72 v=123456789012", false}));

INSTANTIATE_TEST_SUITE_P(
    MirrorNeverClamps, TransformLine,
    testing::Values(
        LineCase{Job::PitchMirror, 0, "0 On ch=1 n=0 v=1", "0 On ch=1 n=129 v=1", false},
        LineCase{Job::PitchMirror, 0, "0 On ch=1 n=64 v=1", "0 On ch=1 n=65 v=1", false},
        LineCase{Job::PitchMirror, 0, "0 Off ch=1 n=127 v=1", "0 Off ch=1 n=2 v=1", false},
        LineCase{Job::VelocityMirror, 0, "0 Off ch=1 n=60 v=0", "0 Off ch=1 n=60 v=129", false},
        LineCase{Job::VelocityMirror, 0, "0 On ch=1 n=60 v=127", "0 On ch=1 n=60 v=2", false}));

INSTANTIATE_TEST_SUITE_P(
    ShiftRoundsAndClamps, TransformLine,
    testing::Values(
        LineCase{Job::Transpose, -12, "0 On ch=1 n=5 v=1", "0 On ch=1 n=1 v=1", true},
        LineCase{Job::Transpose, 12, "0 On ch=1 n=117 v=1", "0 On ch=1 n=128 v=1", true},
        LineCase{Job::Transpose, 8, "0 On ch=1 n=120 v=1", "0 On ch=1 n=128 v=1", false},
        LineCase{Job::Transpose, -59, "0 On ch=1 n=60 v=1", "0 On ch=1 n=1 v=1", false},
        LineCase{Job::Transpose, 2.5, "0 On ch=1 n=60 v=1", "0 On ch=1 n=62 v=1", false},
        LineCase{Job::Transpose, 2.5, "0 On ch=1 n=61 v=1", "0 On ch=1 n=64 v=1", false},
        LineCase{Job::Transpose, -2.5, "0 On ch=1 n=61 v=1", "0 On ch=1 n=58 v=1", false},
        LineCase{Job::Transpose, 127, "0 On ch=1 n=127 v=1", "0 On ch=1 n=128 v=1", true},
        LineCase{Job::VelocityShift, 0, "0 Off ch=1 n=60 v=0", "0 Off ch=1 n=60 v=1", true},
        LineCase{Job::VelocityShift, 1, "0 Off ch=1 n=60 v=0", "0 Off ch=1 n=60 v=1", false},
        LineCase{Job::VelocityShift, -0.5, "0 On ch=1 n=60 v=1", "0 On ch=1 n=60 v=1", true}));

// A note-on of velocity 0 ends a note; the velocity jobs must not turn it into
// a new one, while note-offs and the pitch jobs are treated as usual.
INSTANTIATE_TEST_SUITE_P(
    NoteEndsStayEnds, TransformLine,
    testing::Values(
        LineCase{Job::VelocityMirror, 0, "96 On ch=1 n=60 v=0", "96 On ch=1 n=60 v=0", false},
        LineCase{Job::VelocityShift, 20, "96 On ch=1 n=60 v=0", "96 On ch=1 n=60 v=0", false},
        LineCase{Job::VelocityShift, 0, "96 On ch=1 n=60 v=0 rs=off", "96 On ch=1 n=60 v=0 rs=off",
                 false},
        LineCase{Job::VelocityShift, 0, "96 On ch=1 n=60 v=0  x", "96 On ch=1 n=60 v=0", false},
        LineCase{Job::VelocityShift, 20, "96 Off ch=1 n=60 v=0", "96 Off ch=1 n=60 v=20", false},
        LineCase{Job::PitchMirror, 0, "96 On ch=1 n=60 v=0", "96 On ch=1 n=69 v=0", false},
        LineCase{Job::Transpose, 1, "96 On ch=1 n=60 v=0", "96 On ch=1 n=61 v=0", false}));

struct FailureCase {
    Job job;
    std::string line;
    std::string field;
};

void PrintTo(const FailureCase& c, std::ostream* os) {
    *os << "job " << static_cast<int>(c.job) << ", \"" << c.line << "\"";
}

class TransformFailure : public testing::TestWithParam<FailureCase> {};

TEST_P(TransformFailure, ReportsTheFieldThatIsNotANumber) {
    const FailureCase& c = GetParam();
    bool limit = true;
    try {
        TransformEventLine(c.line, 12, limit, zelmod::fixedJob(c.job));
        FAIL() << "no error for \"" << c.line << "\"";
    } catch (const zelmod::ValueConversionError& error) {
        EXPECT_EQ(error.field(), c.field);
        EXPECT_NE(std::string(error.what()).find(c.field), std::string::npos);
    }
}

INSTANTIATE_TEST_SUITE_P(
    ValuesThatAreNotDecimal, TransformFailure,
    testing::Values(FailureCase{Job::Transpose, "0 On ch=1 n=1000 v=1", "n=1000"},
                    FailureCase{Job::PitchMirror, "0 On ch=1 n= v=1", "n="},
                    FailureCase{Job::PitchMirror, "0 On ch=1 n=6x v=1", "n=6x"},
                    FailureCase{Job::PitchMirror, "0 On ch=1 n=+6 v=1", "n=+6"},
                    FailureCase{Job::PitchMirror, "0 On ch=1 n=- v=1", "n=-"},
                    FailureCase{Job::VelocityMirror, "0 Off ch=1 n=60 v=1.5", "v=1.5"},
                    FailureCase{Job::VelocityShift, "0 Off ch=1 n=60 v=12\r", "v=12\r"},
                    FailureCase{Job::VelocityMirror, "7 On ch=16 n=60 v=12345678901",
                                "v=12345678901"}));

TEST(TransformEventLine, AsksForTheJobInIndexOrderAndTakesTheFirstSelected) {
    struct Case {
        std::vector<bool> selected;
        std::vector<int> asked;
        std::string expected;
    };
    const Case cases[] = {
        {{false, true, false, true, false}, {0, 1}, "0 On ch=1 n=61 v=100"},
        {{false, false, false, true, true}, {0, 1, 2, 3}, "0 On ch=1 n=60 v=101"},
        // Nothing selected: the line is only rebuilt, as for reverse playback.
        {{false, false, false, false, false}, {0, 1, 2, 3, 4}, "0 On ch=1 n=60 v=100"},
    };
    for (const Case& c : cases) {
        std::vector<int> asked;
        const zelmod::JobOptionQuery query = [&](int index) {
            asked.push_back(index);
            return bool(c.selected[index]);
        };
        bool limit = false;
        EXPECT_EQ(TransformEventLine("0 On ch=1 n=60 v=100 ", 1, limit, query), c.expected);
        EXPECT_EQ(asked, c.asked);
    }
}

} // namespace
