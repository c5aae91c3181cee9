// MIDI -> event text -> MIDI must give every readable file back byte for
// byte, also after the line rewriter has rebuilt every note line.
#include <gtest/gtest.h>

#include <algorithm>

#include <optional>
#include <regex>

#include "converters/Converters.h"
#include "tests/support/test_files.h"
#include "transform/TransformEventLine.h"

namespace zelmod::testing {
namespace {

using zelmod::testing::PrintTo;

const Bytes endOfTrack = {0x00, 0xFF, 0x2F, 0x00};

Bytes track(const Bytes& events) {
    return join({events, endOfTrack});
}

Bytes everyMetaKind() {
    Bytes events = {0x00, 0xFF, 0x00, 0x02, 0x00, 0x07};
    for (std::uint8_t type = 0x01; type <= 0x0F; ++type)
        events = join({events, {0x00, 0xFF, type, 0x02, 'h', 'i'}});
    return track(join({events,
                       {0x00, 0xFF, 0x01, 0x00},                   // empty text
                       {0x00, 0xFF, 0x20, 0x01, 0x05},             // channel prefix
                       {0x00, 0xFF, 0x21, 0x01, 0x02},             // port
                       {0x00, 0xFF, 0x51, 0x03, 0x07, 0xA1, 0x20}, // tempo
                       {0x00, 0xFF, 0x54, 0x05, 0x60, 0x01, 0x02, 0x03, 0x04},
                       {0x00, 0xFF, 0x58, 0x04, 0x06, 0x03, 0x18, 0x08},
                       {0x00, 0xFF, 0x59, 0x02, 0xF9, 0x01}, // 7 flats, minor
                       {0x00, 0xFF, 0x59, 0x02, 0x07, 0x00},
                       {0x00, 0xFF, 0x7F, 0x03, 0x00, 0x00, 0x41},
                       {0x00, 0xFF, 0x4B, 0x02, 0x01, 0x02}}));
}

Bytes everyChannelMessage() {
    Bytes events;
    for (std::uint8_t channel = 0; channel < 16; ++channel) {
        events = join({events,
                       {0x00, static_cast<std::uint8_t>(0x90 | channel), 0x00, 0x7F},
                       {0x01, static_cast<std::uint8_t>(0x90 | channel), 0x00, 0x00},
                       {0x00, static_cast<std::uint8_t>(0x80 | channel), 0x7F, 0x40},
                       {0x00, static_cast<std::uint8_t>(0xA0 | channel), 0x3C, 0x10},
                       {0x00, static_cast<std::uint8_t>(0xB0 | channel), 0x07, 0x64},
                       {0x00, static_cast<std::uint8_t>(0xC0 | channel), 0x7F},
                       {0x00, static_cast<std::uint8_t>(0xD0 | channel), 0x00},
                       {0x00, static_cast<std::uint8_t>(0xE0 | channel), 0x00, 0x00},
                       {0x00, 0x7F, 0x7F}});
    }
    return track(events);
}

// Bytes 0..255 in turn, count of them.
Bytes cycle(std::size_t count) {
    Bytes bytes(count);
    for (std::size_t i = 0; i < count; ++i)
        bytes[i] = static_cast<std::uint8_t>(i);
    return bytes;
}

Bytes longPayloads() {
    return join({header(1, 1, 96),
                 chunk("MTrk", track(join({{0x00, 0xF0, 0x87, 0x68},
                                           cycle(1000), // 1000 bytes
                                           {0x00, 0xFF, 0x05, 0x85, 0x3C},
                                           cycle(700),
                                           {0x00, 0xFF, 0x7F, 0x82, 0x01},
                                           cycle(257)}))),
                 chunk("Junk", cycle(600))});
}

Bytes largeDeltas() {
    Bytes events;
    for (int i = 0; i < 20; ++i)
        events = join({events, {0xFF, 0xFF, 0xFF, 0x7F, 0x90, 0x3C, static_cast<std::uint8_t>(i)}});
    return track(events);
}

struct RoundTripCase {
    const char* name;
    Bytes midi;
};

const RoundTripCase roundTripCases[] = {
    {"RunningStatusUsed", midiFile({track({0x00, 0x90, 0x3C, 0x40, 0x60, 0x3C, 0x00, 0x00, 0x3E,
                                           0x40, 0x60, 0x80, 0x3E, 0x40, 0x00, 0x3C, 0x40})})},
    {"RunningStatusAvoided", midiFile({track({0x00, 0x90, 0x3C, 0x40, 0x60, 0x90, 0x3C, 0x00, 0x00,
                                              0xB0, 0x07, 0x64, 0x00, 0xB0, 0x0A, 0x40})})},
    {"RunningStatusAcrossMeta",
     midiFile({track({0x00, 0x90, 0x3C, 0x40, 0x00, 0xFF, 0x01, 0x01, 'a', 0x60, 0x3C, 0x00})})},
    {"RunningStatusAcrossSysEx",
     midiFile({track({0x00, 0xB0, 0x07, 0x64, 0x00, 0xF0, 0x03, 0x7E, 0x7F, 0xF7,
                      0x00, 0x0A, 0x5A, 0x00, 0xF7, 0x01, 0xF8, 0x00, 0x0B, 0x40})})},
    // No track default fits every event here: lines carry their own marks.
    {"RunningStatusMixedInOneTrack",
     midiFile({track({0x00, 0x90, 0x3C, 0x40, 0x00, 0x3E, 0x40, 0x00, 0x90, 0x40, 0x40,
                      0x00, 0xFF, 0x01, 0x01, 'x',  0x00, 0x41, 0x40, 0x00, 0xFF, 0x01,
                      0x01, 'y',  0x00, 0x90, 0x43, 0x40, 0x00, 0x90, 0x45, 0x40})})},
    {"SysExPacketsAndEscapes",
     midiFile({track({0x00, 0xF0, 0x03, 0x43, 0x12, 0x00, 0x10, 0xF7, 0x03, 0x34,
                      0x00, 0xF7, 0x00, 0xF7, 0x02, 0xF8, 0xFA, 0x00, 0xF0, 0x00})})},
    {"EveryMetaKind", midiFile({everyMetaKind()})},
    {"MetaEventsOfUnusualLength",
     midiFile({join({{0x00, 0xFF, 0x51, 0x00},
                     {0x00, 0xFF, 0x51, 0x04, 0x00, 0x07, 0xA1, 0x20},
                     {0x00, 0xFF, 0x59, 0x03, 0x01, 0x00, 0x00},
                     {0x00, 0xFF, 0x00, 0x00},
                     {0x00, 0xFF, 0x58, 0x05, 0x04, 0x02, 0x18, 0x08, 0x00},
                     {0x00, 0xFF, 0x2F, 0x01, 0x00}})})},
    {"SmpteDivision",
     join({header(0, 1, 0xE728), chunk("MTrk", track({0x00, 0x90, 0x3C, 0x40, 0x28, 0x3C, 0}))})},
    {"SmpteDivisionExtremes", join({header(0, 1, 0x80FF), chunk("MTrk", endOfTrack)})},
    {"UnknownChunks", join({header(1, 2, 96), chunk("MTrk", endOfTrack), chunk("XFIH", {1, 2, 3}),
                            chunk(std::string_view("\0\xFF\"\\", 4), {}), chunk("MTrk", endOfTrack),
                            chunk("XFKM", {0xF0})})},
    {"TrailingByte", join({midiFile({endOfTrack}), {0x00}})},
    {"TrailingBytesLikeAChunkHeader",
     join({midiFile({endOfTrack}), text("MTrk"), {0x00, 0x00, 0x01, 0x00, 0x01, 0x02}})},
    {"NonMinimalDeltasAndLengths",
     midiFile({track({0x80, 0x00, 0x90, 0x3C, 0x40, 0x80, 0x80, 0x80, 0x00, 0x80, 0x3C, 0x00,
                      0x80, 0x81, 0x00, 0x3E, 0x01, 0x00, 0xFF, 0x01, 0x80, 0x01, 'a',  0x00,
                      0xF0, 0x80, 0x80, 0x02, 0x01, 0xF7, 0x83, 0x00, 0xF7, 0x80, 0x00})})},
    {"HeaderPadding",
     join({chunk("MThd", {0, 1, 0, 1, 0, 96, 0xAA, 0xBB}), chunk("MTrk", endOfTrack)})},
    {"LongHeaderPadding",
     join({chunk("MThd", join({{0, 1, 0, 1, 0, 96}, cycle(300)})), chunk("MTrk", endOfTrack)})},
    {"SystemMessagesInATrack",
     midiFile(
         {track({0x00, 0x90, 0x3C, 0x40, 0x00, 0xF1, 0x10, 0x00, 0x3E, 0x40, 0x00, 0xF2, 0x01, 0x02,
                 0x00, 0xF3, 0x05, 0x00, 0xF4, 0x00, 0xF5, 0x00, 0xF6, 0x00, 0xF8, 0x00, 0xF9, 0x00,
                 0xFA, 0x00, 0xFB, 0x00, 0xFC, 0x00, 0xFD, 0x00, 0xFE, 0x00, 0x3C, 0x00})})},
    // Shift_JIS with 0x5C trail bytes, UTF-8, quotes, backslashes, control
    // bytes, and marks inside the quoted text that must stay text.
    {"ShiftJisAndUtf8Text",
     midiFile({track(join({{0x00, 0xFF, 0x03, 0x0A},
                           {0x95, 0x5C, 0x8E, 0xA6, 0x83, 0x5C, 0x83, 0x74, 0x83, 0x67},
                           {0x00, 0xFF, 0x05, 0x06, 0xE6, 0x97, 0xA5, 0xE6, 0x9C, 0xAC},
                           {0x00, 0xFF, 0x01, 0x1C},
                           text("\" rs=off dl=2 \\\" len=9\\"),
                           {0x0A, 0x00, 0x7F, 0x0D, 0x5C},
                           {0x00, 0xFF, 0x01, 0x03, 0x5C, 0x5C, 0x22}}))})},
    {"LongPayloads", longPayloads()},
    {"EveryChannelMessage", midiFile({everyChannelMessage()})},
    {"LargeDeltas", midiFile({largeDeltas()})},
    {"FormatZeroWithTwoTracks",
     join({header(0, 2, 96), chunk("MTrk", endOfTrack), chunk("MTrk", {})})},
    {"NoTracks", header(1, 0, 480)},
    {"MoreTracksThanDeclared",
     join({header(1, 1, 96), chunk("MTrk", endOfTrack), chunk("MTrk", endOfTrack)})},
};

// The event text mf2t writes for the MIDI bytes, kept in in.txt.
std::string eventText(const ScratchDir& scratch, const Bytes& midi) {
    writeFile(scratch.path("in.mid"), midi);
    convert::midiToText(scratch.path("in.mid"), scratch.path("in.txt"));
    return readText(scratch.path("in.txt"));
}

// mf2t, then (with a job) every line through the line rewriter, then t2mf.
// Returns the new MIDI bytes; capped receives t2mf's count of capped values.
Bytes convertBack(const ScratchDir& scratch, const Bytes& midi, std::optional<Job> job,
                  double shift = 0, std::uint64_t* capped = nullptr) {
    std::string text = eventText(scratch, midi);
    if (job) {
        std::string rewritten;
        for (const std::string& line : lines(text)) {
            bool limitFlag = false;
            rewritten += TransformEventLine(line, shift, limitFlag, fixedJob(*job)) + "\r\n";
        }
        text = rewritten;
    }
    writeFile(scratch.path("out.txt"), text);
    const std::uint64_t count =
        convert::textToMidi(scratch.path("out.txt"), scratch.path("out.mid"));
    if (capped)
        *capped = count;
    return readFile(scratch.path("out.mid"));
}

class RoundTrip : public ::testing::TestWithParam<RoundTripCase> {};

TEST_P(RoundTrip, GivesTheFileBackByteForByte) {
    ScratchDir scratch;
    EXPECT_EQ(convertBack(scratch, GetParam().midi, std::nullopt), GetParam().midi);
}

TEST_P(RoundTrip, MarksSurviveTheLineRewriter) {
    ScratchDir scratch;
    EXPECT_EQ(convertBack(scratch, GetParam().midi, Job::Reverse), GetParam().midi);
}

TEST_P(RoundTrip, TextIsAsciiAndNoteLinesKeepTheirFields) {
    ScratchDir scratch;
    const std::regex noteLine(R"(\d+ (On|Off) ch=\d+ n=\d+ v=\d+( (rs|dl)=\w+){0,2})");
    for (const std::string& line : lines(eventText(scratch, GetParam().midi))) {
        EXPECT_TRUE(std::all_of(line.begin(), line.end(), [](char c) {
            return c >= 0x20 && c <= 0x7E;
        })) << line;
        const bool isNote =
            line.find(" On ") != std::string::npos || line.find(" Off ") != std::string::npos;
        if (isNote && line.find('"') == std::string::npos) {
            EXPECT_TRUE(std::regex_match(line, noteLine)) << line;
        }
    }
}

TEST_P(RoundTrip, ReadsLfAndCrLfAlike) {
    ScratchDir scratch;
    std::string lf;
    std::string mixed;
    bool crlf = false;
    for (const std::string& line : lines(eventText(scratch, GetParam().midi))) {
        lf += line + "\n";
        mixed += line + ((crlf = !crlf) ? "\r\n" : "\n");
    }
    for (const std::string& text : {lf, mixed}) {
        writeFile(scratch.path("lf.txt"), text);
        convert::textToMidi(scratch.path("lf.txt"), scratch.path("lf.mid"));
        EXPECT_EQ(readFile(scratch.path("lf.mid")), GetParam().midi);
    }
}

INSTANTIATE_TEST_SUITE_P(GeneratedFiles, RoundTrip, ::testing::ValuesIn(roundTripCases), caseName);

// mf2t first reads a track to pick the running-status default that needs
// the fewest marks; here that reading must cross a SysEx longer than its
// 64 KiB input piece to see that "carry" needs none.
TEST(RoundTripMarks, TrackDefaultLooksPastALongSysEx) {
    ScratchDir scratch;
    const std::string text = eventText(
        scratch, midiFile({track(join({{0x00, 0x90, 0x3C, 0x40, 0x00, 0xF0, 0x84, 0xA2, 0x70},
                                       cycle(69999), // 70,000 bytes with the F7
                                       {0xF7, 0x00, 0x3E, 0x40, 0x00, 0x40, 0x40}}))}));
    const std::size_t trackLine = text.find("MTrk rs=carry\r\n");
    ASSERT_NE(trackLine, std::string::npos) << text.substr(0, 200);
    EXPECT_EQ(text.find(" rs=", trackLine + 5), std::string::npos); // no line needs its own
}

TEST(RoundTripCorpus, ReadableFilesComeBackByteForByte) {
    const auto files = corpusFiles({"wellformed", "irregular"});
    if (files.empty())
        GTEST_SKIP() << "no corpus at $ZELMOD_CORPUS_DIR (../shared/corpus)";
    ScratchDir scratch;
    for (const std::string& file : files) {
        SCOPED_TRACE(file);
        const Bytes midi = readFile(file);
        EXPECT_EQ(convertBack(scratch, midi, std::nullopt), midi);
        EXPECT_EQ(convertBack(scratch, midi, Job::Reverse), midi);
    }
}

// A transpose changes the note numbers of note lines outside channel 10 and
// nothing else; a note pushed above 127 is written as 127 and counted.
TEST(RoundTripTranspose, ChangesNotesOnly) {
    ScratchDir scratch;
    const Bytes midi = midiFile(
        {track({0x00, 0xFF, 0x03, 0x01, 'n',  0x00, 0x90, 0x3C, 0x40, 0x10, 0x3C, 0x00, 0x00, 0xFF,
                0x01, 0x01, 't',  0x00, 0x3E, 0x40, 0x00, 0x99, 0x24, 0x64, 0x00, 0x89, 0x24, 0x00,
                0x00, 0x90, 0x78, 0x10, 0x00, 0xB0, 0x40, 0x7F, 0x81, 0x00, 0x80, 0x78, 0x00})});
    std::uint64_t capped = 0;
    const Bytes result = convertBack(scratch, midi, Job::Transpose, 12, &capped);
    EXPECT_EQ(capped, 2u);
    ASSERT_EQ(result.size(), midi.size());

    const auto before = lines(readText(scratch.path("in.txt")));
    const auto after = lines(eventText(scratch, result));
    ASSERT_EQ(after.size(), before.size());
    const std::regex noteLine(R"((\d+ (?:On|Off) ch=(\d+) n=)(\d+)( .*))");
    for (std::size_t i = 0; i < before.size(); ++i) {
        std::smatch was, now;
        if (!std::regex_match(before[i], was, noteLine) || was[2] == "10") {
            EXPECT_EQ(after[i], before[i]);
            continue;
        }
        ASSERT_TRUE(std::regex_match(after[i], now, noteLine)) << after[i];
        EXPECT_EQ(now[1], was[1]);
        EXPECT_EQ(now[4], was[4]);
        EXPECT_EQ(std::stoi(now[3]), std::min(std::stoi(was[3]) + 12, 127)) << before[i];
    }
}

} // namespace
} // namespace zelmod::testing
