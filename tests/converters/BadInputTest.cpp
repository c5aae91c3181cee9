// Bad input gets one line on stderr saying where, a non-zero exit and no
// output file; the exit status tells the caller about capped note values.
#include <gtest/gtest.h>

#include <algorithm>
#include <thread>

#include "converters/Converters.h"
#include "files/TextPipe.h"
#include "tests/support/test_files.h"
#ifndef _WIN32
#include "tests/support/test_processes.h"
#endif

namespace zelmod::testing {
namespace {

using zelmod::testing::PrintTo;
using Files = std::vector<std::string>;

struct BadMidiCase {
    const char* name;
    Bytes midi;
    const char* message; // after "mf2t: FILE: "
};

// The header and the MTrk chunk header of midiFile() take bytes 0 to 21.
const BadMidiCase badMidiCases[] = {
    {"Empty", {}, "byte 0: not a MIDI file (no MThd chunk at the start)"},
    {"NotMidi", text("RIFF1234RMIDdata"), "byte 0: not a MIDI file (no MThd chunk at the start)"},
    {"ShortHeaderChunk", chunk("MThd", {0, 1, 0, 1}),
     "byte 4: MThd chunk of 4 bytes is shorter than 6"},
    {"TruncatedHeader", {'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 1}, "byte 0: truncated MThd chunk"},
    {"TruncatedChunkHeader", join({header(1, 1, 96), text("MTr")}),
     "byte 14: truncated chunk header"},
    {"TruncatedTrack", join({header(1, 1, 96), text("MTrk"), {0, 0, 0, 10, 0, 0xFF, 0x2F, 0}}),
     "track 1, byte 14: truncated MTrk chunk"},
    {"GiantTrackLength",
     join({header(1, 1, 96), text("MTrk"), {0xFF, 0xFF, 0xFF, 0xFF, 0, 0xFF, 0x2F, 0}}),
     "track 1, byte 14: truncated MTrk chunk"},
    // Unknown chunks do not count as tracks.
    {"TrackAfterUnknownChunkTruncated",
     join({header(1, 1, 96), chunk("XFIH", {}), text("MTrk"), {0, 0, 0, 16, 0, 0}}),
     "track 1, byte 22: truncated MTrk chunk"},
    {"SecondTrackTruncated",
     join({header(1, 2, 96), chunk("MTrk", {0, 0xFF, 0x2F, 0}), text("MTrk"), {0, 0, 0, 16, 0, 0}}),
     "track 2, byte 26: truncated MTrk chunk"},
    {"GiantMetaLength", midiFile({{0x00, 0xFF, 0x01, 0xFF, 0xFF, 0xFF, 0x7F}}),
     "track 1, byte 22: event runs past the end of its MTrk chunk"},
    {"GiantSysExLength", midiFile({{0x00, 0xF0, 0xFF, 0xFF, 0xFF, 0x7F, 0xF7}}),
     "track 1, byte 22: event runs past the end of its MTrk chunk"},
    {"RunningStatusWithoutStatus", midiFile({{0x00, 0x3C, 0x40}}),
     "track 1, byte 23: running status with no status before it"},
    {"EventPastChunkEnd", midiFile({{0x00, 0x90, 0x3C}}),
     "track 1, byte 25: event runs past the end of its MTrk chunk"},
    {"OverlongVariableLength", midiFile({{0x80, 0x80, 0x80, 0x80, 0x00, 0x90, 0x3C, 0x40}}),
     "track 1, byte 22: variable-length number longer than 4 bytes"},
    {"StatusInsideChannelMessage", midiFile({{0x00, 0x90, 0x3C, 0x90}}),
     "track 1, byte 25: status byte inside a channel message"},
    {"StatusInsideSystemMessage", midiFile({{0x00, 0xF3, 0xFF}}),
     "track 1, byte 24: status byte inside a system message"},
    {"FewerTracksThanDeclared", join({header(1, 2, 96), chunk("MTrk", {0, 0xFF, 0x2F, 0})}),
     "byte 26: the file ends after 1 of the 2 tracks of its MThd chunk"},
};

class BadMidi : public ::testing::TestWithParam<BadMidiCase> {};

// Runs the tool on the input and expects exit status 1, the message as the
// one line on stderr, and no file beside the input.
void expectRefused(const std::string& tool, const Bytes& input, const std::string& message) {
    ScratchDir scratch;
    const std::string in = scratch.path("in");
    writeFile(in, input);
    const ToolRun run = runTool(tool, {in, scratch.path("out")}, scratch);
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.errorOutput, tool + ": " + in + ": " + message + "\n");
    EXPECT_EQ(scratch.files(), Files{"in"});
}

// The same conversion in memory fails with the same words and keeps no output.
template <typename Conversion>
void expectRefusedInMemory(Conversion conversion, const Bytes& input, const std::string& message) {
    const std::string name = "in";
    std::string output = "stale";
    try {
        conversion(
            convert::MemoryInput{
                std::string_view(reinterpret_cast<const char*>(input.data()), input.size()), name},
            convert::MemoryOutput{output});
        ADD_FAILURE() << "converted";
    } catch (const convert::ConversionError& error) {
        EXPECT_EQ(error.what(), name + ": " + message);
    }
    EXPECT_EQ(output, "");
}

TEST_P(BadMidi, FailsWithOneLineAndNoOutput) {
    expectRefused("mf2t", GetParam().midi, GetParam().message);
    expectRefusedInMemory(convert::midiToTextInMemory, GetParam().midi, GetParam().message);
}

INSTANTIATE_TEST_SUITE_P(Cases, BadMidi, ::testing::ValuesIn(badMidiCases), caseName);

TEST(BadMidiCorpus, DamagedFilesFailWithOneLineAndNoOutput) {
    const auto files = corpusFiles({"damaged"});
    if (files.empty())
        GTEST_SKIP() << "no corpus at $ZELMOD_CORPUS_DIR (../shared/corpus)";
    ScratchDir scratch;
    for (const std::string& file : files) {
        SCOPED_TRACE(file);
        const ToolRun run = runTool("mf2t", {file, scratch.path("out.txt")}, scratch);
        EXPECT_EQ(run.exitCode, 1);
        EXPECT_EQ(run.errorOutput.rfind("mf2t: " + file + ": ", 0), 0u) << run.errorOutput;
        EXPECT_NE(run.errorOutput.find("byte "), std::string::npos) << run.errorOutput;
        EXPECT_EQ(std::count(run.errorOutput.begin(), run.errorOutput.end(), '\n'), 1);
        EXPECT_TRUE(scratch.files().empty());
    }
}

const std::string trackStart = "MThd format=0 tracks=1 division=96\r\nMTrk rs=on\r\n";

std::string inTrack(const std::string& lines) {
    return trackStart + lines + "\r\nTrkEnd\r\n";
}

struct BadTextCase {
    const char* name;
    std::string text;
    const char* message; // after "t2mf: FILE: "
};

const BadTextCase badTextCases[] = {
    {"Empty", "", "line 1: empty event text"},
    {"NoHeader", "MTrk rs=on\r\nTrkEnd\r\n", "line 1: the text does not start with an MThd line"},
    {"UnknownName", inTrack("0 Foo ch=1"), "line 3: unknown event name \"Foo\""},
    {"ControllerValue200", inTrack("0 Control ch=1 c=7 v=200"),
     "line 3: \"200\" is out of range 0..127"},
    {"Channel17", inTrack("0 On ch=17 n=60 v=1"), "line 3: \"17\" is out of range 1..16"},
    {"Channel0", inTrack("0 On ch=0 n=60 v=1"), "line 3: \"0\" is out of range 1..16"},
    {"NulInName", inTrack(std::string("0 Fo\0o", 6)), "line 3: unknown event name \"Fo\\x00o\""},
    {"NegativeNote", inTrack("0 On ch=1 n=-1 v=1"), "line 3: \"-1\" is not a decimal number"},
    {"VelocityNotANumber", inTrack("0 On ch=1 n=60 v=1x"),
     "line 3: \"1x\" is not a decimal number"},
    {"DoubleSpace", inTrack("0 On ch=1 n=60  v=100"),
     "line 3: empty field (two spaces in a row, or a space at an end)"},
    {"TrailingSpace", inTrack("0 On ch=1 n=60 v=100 "),
     "line 3: empty field (two spaces in a row, or a space at an end)"},
    {"WrongPrefix", inTrack("0 On ch=1 x=60 v=100"), "line 3: expected n=..., found \"x=60\""},
    {"MissingVelocity", inTrack("0 On ch=1 n=60"),
     "line 3: the line ends where a field is expected"},
    {"BadTick", inTrack("x On ch=1 n=60 v=1"), "line 3: expected a tick or TrkEnd, found \"x\""},
    {"StructureLineInTrack", inTrack("MTrk rs=on"),
     "line 3: expected a tick or TrkEnd, found \"MTrk\""},
    {"TickBackwards", inTrack("10 On ch=1 n=60 v=1\r\n5 Off ch=1 n=60 v=0"),
     "line 4: tick 5 is before the previous tick 10"},
    {"DeltaTooLarge", inTrack("268435456 On ch=1 n=60 v=1"),
     "line 3: more than 0x0FFFFFFF ticks after the previous event"},
    {"UnterminatedText", inTrack("0 Text \"abc"), "line 3: quoted text without its closing quote"},
    {"UnknownEscape", inTrack("0 Text \"a\\qb\""), "line 3: unknown escape in quoted text"},
    {"BadHex", inTrack("0 SysEx 4G"), "line 3: \"4G\" is not a byte in two hexadecimal digits"},
    {"TempoTooLarge", inTrack("0 Tempo 16777216"),
     "line 3: \"16777216\" is out of range 0..16777215"},
    {"UnknownMark", inTrack("0 On ch=1 n=60 v=100 zz=1"), "line 3: unexpected field \"zz=1\""},
    {"BadRunningStatusMark", inTrack("0 On ch=1 n=60 v=100 rs=maybe"),
     "line 3: rs= takes on or off, found \"rs=maybe\""},
    {"TooManyDeltaBytes", inTrack("0 On ch=1 n=60 v=100 dl=5"),
     "line 3: \"5\" is out of range 0..4"},
    {"BadTrackDefault", trackStart + "TrkEnd\r\nMTrk rs=sometimes\r\nTrkEnd\r\n",
     "line 4: rs= takes on, off or carry, found \"sometimes\""},
    {"NoTrackEnd", trackStart + "0 On ch=1 n=60 v=1\r\n",
     "line 3: the text ends inside a track (no TrkEnd line)"},
    {"PayloadShorterThanLen", inTrack("0 SysEx 01 02 len=300"),
     "line 4: expected a + line: the payload has fewer bytes than its len="},
    {"PayloadLongerThanLen", inTrack("0 SysEx 01 len=2\r\n+ 02 03"),
     "line 4: the payload has more bytes than its len="},
    {"ContinuationWithoutPayload", inTrack("+ 00"),
     "line 3: expected a tick or TrkEnd, found \"+\""},
    {"LineTooLong", inTrack("0 SysEx" + std::string(1500 * 3, '0')),
     "line 3: line longer than 4096 characters"},
    {"LineTooLongWithLf", trackStart + std::string(4097, '0') + "\n",
     "line 3: line longer than 4096 characters"},
    {"SystemWithSysExStatus", inTrack("0 System F0"),
     "line 3: a system message has a status F1..F6 or F8..FE"},
    {"SystemDataCount", inTrack("0 System F2 01"),
     "line 3: wrong number of data bytes for this system message"},
    {"SystemDataAbove7F", inTrack("0 System F3 FF"),
     "line 3: data byte above 7F in a system message"},
    {"FewerTracksThanDeclared", "MThd format=1 tracks=2 division=96\r\nMTrk rs=on\r\nTrkEnd\r\n",
     "line 3: the text ends after 1 of the 2 tracks of the MThd line"},
    {"ChunkTypeLength", "MThd format=0 tracks=0 division=96\r\nChunk \"ABC\"\r\n",
     "line 2: a chunk type has four bytes"},
    {"LineAfterTrailing", "MThd format=0 tracks=0 division=96\r\nTrailing 00\r\nTrailing 01\r\n",
     "line 3: line after the Trailing line"},
    {"TrailingBeforeDeclaredTracks",
     "MThd format=1 tracks=2 division=96\r\nMTrk rs=on\r\nTrkEnd\r\nTrailing 00\r\n",
     "line 4: Trailing line after 1 of the 2 tracks of the MThd line"},
    {"ChunkOfTypeMTrk", "MThd format=0 tracks=0 division=96\r\nChunk \"MTrk\" 01 02 03\r\n",
     "line 2: an MTrk chunk is written as a track (MTrk line, events, TrkEnd)"},
    {"TrailingBytesFormingAChunk",
     "MThd format=0 tracks=0 division=96\r\nTrailing 41 42 43 44 00 00 00 01 len=9\r\n+ 00\r\n",
     "line 3: the Trailing bytes begin with a whole chunk"},
};

class BadText : public ::testing::TestWithParam<BadTextCase> {};

TEST_P(BadText, FailsWithOneLineAndNoOutput) {
    expectRefused("t2mf", text(GetParam().text), GetParam().message);
    expectRefusedInMemory(convert::textToMidiInMemory, text(GetParam().text), GetParam().message);
}

INSTANTIATE_TEST_SUITE_P(Cases, BadText, ::testing::ValuesIn(badTextCases), caseName);

struct FailingToolCase {
    const char* name; // the tool
    const char* input;
};

// A failed conversion leaves an existing output file as it was.
class FailingTool : public ::testing::TestWithParam<FailingToolCase> {};

TEST_P(FailingTool, LeavesExistingOutputAlone) {
    ScratchDir scratch;
    writeFile(scratch.path("in"), GetParam().input);
    writeFile(scratch.path("out"), "precious");
    const ToolRun run =
        runTool(GetParam().name, {scratch.path("in"), scratch.path("out")}, scratch);
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(readText(scratch.path("out")), "precious");
    EXPECT_EQ(scratch.files(), (Files{"in", "out"}));
}

INSTANTIATE_TEST_SUITE_P(Tools, FailingTool,
                         ::testing::Values(FailingToolCase{"mf2t", "MThd"},
                                           FailingToolCase{"t2mf", "MThd format=0 tracks=1\r\n"}),
                         caseName);

#ifndef _WIN32 // file modes, links, pipes and signals, through the POSIX shell
struct FileEdgeCase {
    const char* name;
    const char* script; // sh, in a folder holding in.mid, with the converters on PATH
    const char* output;
    bool asRoot = false; // to plant another user's link
};

// Each script ends by listing the folder: nothing may be left behind.
const FileEdgeCase fileEdgeCases[] = {
    {"StandardStreams", "cat in.mid | mf2t - - | t2mf - - | cmp - in.mid && ls", "in.mid\n"},
    {"PipeInput", "cat in.mid | mf2t /dev/stdin a && mf2t in.mid b && cmp a b && ls",
     "a\nb\nin.mid\n"},
    {"ModeKept", "echo old >out && chmod 600 out && mf2t in.mid out && stat -c %a out && ls",
     "600\nin.mid\nout\n"},
    {"NewFileTakesTheUmask", "umask 027 && mf2t in.mid out && stat -c %a out && ls",
     "640\nin.mid\nout\n"},
    {"SymlinkKept",
     "echo old >real && ln -s real out && mf2t in.mid out && test -L out && "
     "head -c 4 real && ls",
     "MThdin.mid\nout\nreal\n"},
    {"OthersLinkInAStickyFolderNotFollowed",
     "mkdir -m 1777 d && echo mine >real && ln -s ../real d/out && chown -h 65534 d/out && "
     "mf2t in.mid d/out 2>&1; cat real && ls d",
     "mf2t: d/out: a link of another user in a shared folder, not followed\nmine\nout\n", true},
    {"NameOfTheLongestLength", "mf2t in.mid $(printf %0255d 0) && ls | cut -c 1-3", "000\nin.\n"},
    // Only a partial file of the output's own form that nobody holds is stale.
    {"StalePartialRemovedOtherFilesKept",
     "echo stale >.out.AbC123.tmp && echo mine >out.tmp && echo mine >.out.AbC12.tmp && "
     "ln -s in.mid .out.XyZ789.tmp && mf2t in.mid out && ls -A",
     ".out.AbC12.tmp\n.out.XyZ789.tmp\nin.mid\nout\nout.tmp\n"},
    {"InputNamedLikeAPartialFile",
     "cp in.mid a.mid.tmp && mf2t a.mid.tmp a.mid && cp in.mid .a.mid.AbC123.tmp && "
     "mf2t .a.mid.AbC123.tmp a.mid && ls -A",
     ".a.mid.AbC123.tmp\na.mid\na.mid.tmp\nin.mid\n"},
    {"DescriptorOutputsAppend",
     "echo a >log && mf2t in.mid /dev/stdout >>log && mf2t in.mid /dev/fd/1 >>log && "
     "mf2t in.mid /proc/self/fd/1 >>log && grep -c MThd log && head -n 1 log && ls",
     "3\na\nin.mid\nlog\n"},
    {"ClosedDescriptors", "mf2t - out <&- 2>&1; mf2t in.mid /dev/fd/7 2>&1; ls",
     "mf2t: -: cannot read: Bad file descriptor\n"
     "mf2t: /dev/fd/7: cannot write: Bad file descriptor\nin.mid\n"},
    // Refused from its first bytes: the rest is left in the pipe.
    {"StreamThatIsNotMidi",
     "head -c 1000000 /dev/zero | { mf2t - out 2>&1; wc -c | awk '{ print ($1 > 900000) }'; }; ls",
     "mf2t: -: byte 0: not a MIDI file (no MThd chunk at the start)\n1\nin.mid\n"},
    {"ControlCharactersInNamesEscaped", "mf2t \"$(printf 'a\\033]0;x\\a\\nb')\" out 2>&1; ls",
     "mf2t: a\\e]0;x\\a\\nb: cannot open: No such file or directory\nin.mid\n"},
    // While t2mf waits for its input, holding its partial file (0600), mf2t
    // writes out too.
    {"InterruptedBesideAnotherWriter",
     "mkfifo f && (t2mf f out & exec 3>f && for i in $(seq 1000); do "
     "ls -A | grep -q '^[.]out[.]' && break; sleep 0.01; done; mf2t in.mid out && "
     "stat -c %a .out.*.tmp && ls && kill $! && wait $!; echo $?) && rm f && ls -A",
     "600\nf\nin.mid\nout\n143\nin.mid\nout\n"},
};

class FileEdge : public ::testing::TestWithParam<FileEdgeCase> {};

TEST_P(FileEdge, KeepsTheUsersFilesAndLeavesNothingBehind) {
    if (GetParam().asRoot && ::geteuid() != 0)
        GTEST_SKIP() << "only root can plant another user's link";
    ScratchDir scratch;
    writeFile(scratch.path("in.mid"), midiFile({{0x00, 0x90, 0x3C, 0x40, 0x00, 0xFF, 0x2F, 0x00}}));
    const RunResult shell =
        run("/bin/sh",
            {"-c",
             std::string("export LC_ALL=C PATH=\"$ZELMOD_TOOL_DIR:$PATH\"; ") + GetParam().script},
            {.workingDirectory = scratch.path("")});
    EXPECT_EQ(shell.output, GetParam().output);
}

INSTANTIATE_TEST_SUITE_P(Cases, FileEdge, ::testing::ValuesIn(fileEdgeCases), caseName);
#endif

struct ExitStatusCase {
    const char* name;
    std::string text;
    int exitCode;
    std::string message;  // after "t2mf: FILE: ", empty for none
    const char* noteLine; // the note line mf2t reads back from the output
};

const ExitStatusCase exitStatusCases[] = {
    {"InRange", inTrack("0 On ch=1 n=127 v=1"), 0, "", "0 On ch=1 n=127 v=1"},
    {"CappedNoteAndVelocity", inTrack("0 On ch=1 n=128 v=129\r\n1 Off ch=2 n=60 v=128"), 3,
     "capped 3 note values above 127 to 127", "0 On ch=1 n=127 v=127"},
    {"LeadingZeros", inTrack("0 On ch=1 n=00000000000000000060 v=1"), 0, "", "0 On ch=1 n=60 v=1"},
};

class ExitStatus : public ::testing::TestWithParam<ExitStatusCase> {};

TEST_P(ExitStatus, TellsWhetherValuesWereCapped) {
    ScratchDir scratch;
    const std::string in = scratch.path("in.txt");
    writeFile(in, GetParam().text);
    const ToolRun t2mf = runTool("t2mf", {in, scratch.path("out.mid")}, scratch);
    EXPECT_EQ(t2mf.exitCode, GetParam().exitCode);
    EXPECT_EQ(t2mf.errorOutput,
              GetParam().message.empty() ? "" : "t2mf: " + in + ": " + GetParam().message + "\n");
    const ToolRun mf2t =
        runTool("mf2t", {scratch.path("out.mid"), scratch.path("back.txt")}, scratch);
    ASSERT_EQ(mf2t.exitCode, 0) << mf2t.errorOutput;
    EXPECT_EQ(lines(readText(scratch.path("back.txt"))).at(2), GetParam().noteLine);
}

INSTANTIATE_TEST_SUITE_P(Cases, ExitStatus, ::testing::ValuesIn(exitStatusCases), caseName);

struct UsageCase {
    const char* tool;
    std::vector<std::string> arguments;
};

void PrintTo(const UsageCase& test, std::ostream* out) {
    *out << test.tool << " with " << test.arguments.size() << " arguments";
}

class Usage : public ::testing::TestWithParam<UsageCase> {};

TEST_P(Usage, WrongArgumentCountExitsWithTwo) {
    ScratchDir scratch;
    const ToolRun run = runTool(GetParam().tool, GetParam().arguments, scratch);
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_EQ(run.errorOutput.rfind(std::string("usage: ") + GetParam().tool, 0), 0u);
}

INSTANTIATE_TEST_SUITE_P(Tools, Usage,
                         ::testing::Values(UsageCase{"mf2t", {}}, UsageCase{"mf2t", {"a"}},
                                           UsageCase{"t2mf", {"a", "b", "c"}}));

// A text pipe whose one side stops early never leaves the other waiting:
// each side ends as the case says, whatever the other one did.
struct PipeEndCase {
    const char* name;
    void (*writer)(convert::TextPipe&);
    std::string (*reader)(convert::TextPipe&);
    const char* ends; // "reader / writer"
};

// Three megabytes, several times what the pipe holds.
void writeWhole(convert::TextPipe& pipe) {
    const std::string line(999, 'x');
    for (int i = 0; i < 3000; ++i)
        pipe.write((line + "\n").data(), 1000);
    pipe.closeWriting();
}
std::string readAll(convert::TextPipe& pipe) {
    char piece[4096];
    std::size_t total = 0;
    for (std::size_t count; (count = pipe.read(piece, sizeof piece)) > 0;)
        total += count;
    return std::to_string(total) + " bytes";
}

const PipeEndCase pipeEndCases[] = {
    {"ReaderStopsEarly", writeWhole,
     [](convert::TextPipe& pipe) {
         char piece[10];
         pipe.read(piece, sizeof piece);
         pipe.stopReading();
         return std::string("stopped");
     },
     "stopped / whole"},
    {"WriterFails",
     [](convert::TextPipe& pipe) {
         pipe.write("part", 4);
         pipe.abandonWriting();
     },
     readAll, "pipe: its writer failed / whole"},
    {"Cancelled", writeWhole,
     [](convert::TextPipe& pipe) {
         pipe.cancel();
         return std::string("cancelled");
     },
     "cancelled / pipe: cancelled"},
    {"Whole", writeWhole, readAll, "3000000 bytes / whole"},
};

class PipeEnd : public ::testing::TestWithParam<PipeEndCase> {};

TEST_P(PipeEnd, LeavesNoSideWaiting) {
    convert::TextPipe pipe("pipe");
    std::string writer = "whole";
    std::thread writing([&] {
        try {
            GetParam().writer(pipe);
        } catch (const convert::PipeBroken& error) {
            writer = error.what();
        }
    });
    std::string reader;
    try {
        reader = GetParam().reader(pipe);
    } catch (const convert::PipeBroken& error) {
        reader = error.what();
    }
    writing.join();
    EXPECT_EQ(reader + " / " + writer, GetParam().ends);
}

INSTANTIATE_TEST_SUITE_P(Cases, PipeEnd, ::testing::ValuesIn(pipeEndCases), caseName);

} // namespace
} // namespace zelmod::testing
