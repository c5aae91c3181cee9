#include "transform/ReversePlayback.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <deque>
#include <map>
#include <sstream>

#include "converters/Converters.h"
#include "files/Files.h"
#include "tests/support/test_files.h"

namespace zelmod::testing {
namespace {

using zelmod::testing::PrintTo;

#ifdef _WIN32
const std::string NullDevice = "NUL";
#else
const std::string NullDevice = "/dev/null";
#endif

// Lines joined with CR LF, as the converters write them.
std::string text(std::initializer_list<std::string_view> lines) {
    std::string joined;
    for (const std::string_view line : lines)
        joined.append(line).append("\r\n");
    return joined;
}

struct ReverseCase {
    const char* name;
    std::string input;
    std::string expected;
};

class ReverseTable : public ::testing::TestWithParam<ReverseCase> {};

// The reversed text, or the one-line error for text that cannot be taken.
TEST_P(ReverseTable, WritesTheMirroredEventsOrNamesTheLineAtFault) {
    std::string result;
    try {
        result = reversePlaybackText(GetParam().input, "in.txt");
    } catch (const convert::ConversionError& error) {
        result = error.what();
    }
    EXPECT_EQ(result, GetParam().expected);
}

const std::string_view format0 = "MThd format=0 tracks=1 division=96";

INSTANTIATE_TEST_SUITE_P(
    HandMade, ReverseTable,
    ::testing::Values(
        // Legato: at each shared moment the ending note is let go before the next starts.
        ReverseCase{
            "Scale",
            text({format0, "MTrk", "0 TrackName \"s\"", "0 On ch=1 n=60 v=100",
                  "96 Off ch=1 n=60 v=64", "96 On ch=1 n=62 v=90", "192 On ch=1 n=62 v=0",
                  "192 On ch=1 n=64 v=80", "288 Off ch=1 n=64 v=10", "288 EndOfTrack", "TrkEnd"}),
            text({format0, "MTrk", "0 TrackName \"s\"", "0 On ch=1 n=64 v=80",
                  "96 Off ch=1 n=64 v=10", "96 On ch=1 n=62 v=90", "192 On ch=1 n=62 v=0",
                  "192 On ch=1 n=60 v=100", "288 Off ch=1 n=60 v=64", "288 EndOfTrack", "TrkEnd"})},
        // First on, first off: B (10..30) and A (0..20) stay paired as 10..30 and 20..40.
        ReverseCase{
            "OverlappingNotes",
            text({format0, "MTrk", "0 On ch=1 n=60 v=100", "10 On ch=1 n=60 v=90",
                  "20 Off ch=1 n=60 v=1", "30 Off ch=1 n=60 v=2", "40 EndOfTrack", "TrkEnd"}),
            text({format0, "MTrk", "10 On ch=1 n=60 v=90", "20 On ch=1 n=60 v=100",
                  "30 Off ch=1 n=60 v=2", "40 Off ch=1 n=60 v=1", "40 EndOfTrack", "TrkEnd"})},
        ReverseCase{"HeldPedal",
                    text({format0, "MTrk", "0 Program ch=1 p=5", "0 Control ch=1 c=64 v=0",
                          "10 Control ch=1 c=64 v=127", "20 Control ch=1 c=64 v=0", "40 EndOfTrack",
                          "TrkEnd"}),
                    text({format0, "MTrk", "0 Program ch=1 p=5", "0 Control ch=1 c=64 v=0",
                          "20 Control ch=1 c=64 v=127", "30 Control ch=1 c=64 v=0", "40 EndOfTrack",
                          "TrkEnd"})},
        // The value in force at the end is set at tick 0, before the note it colours.
        ReverseCase{"PitchBendRamp",
                    text({format0, "MTrk", "0 On ch=2 n=50 v=100", "10 PitchBend ch=2 v=8192",
                          "11 PitchBend ch=2 v=9000", "12 PitchBend ch=2 v=10000",
                          "20 Off ch=2 n=50 v=0", "20 EndOfTrack", "TrkEnd"}),
                    text({format0, "MTrk", "0 PitchBend ch=2 v=10000", "0 On ch=2 n=50 v=100",
                          "8 PitchBend ch=2 v=9000", "9 PitchBend ch=2 v=8192",
                          "20 Off ch=2 n=50 v=0", "20 EndOfTrack", "TrkEnd"})},
        // The note sounds in the last quarter of a second; the slow tempo moves
        // to the end and every track ends at the latest End of Track.
        ReverseCase{
            "TempoChange",
            text({"MThd format=1 tracks=2 division=96", "MTrk", "0 Tempo 500000", "96 Tempo 250000",
                  "192 EndOfTrack", "TrkEnd", "MTrk", "0 On ch=1 n=60 v=100", "48 On ch=1 n=60 v=0",
                  "288 EndOfTrack", "TrkEnd"}),
            text({"MThd format=1 tracks=2 division=96", "MTrk", "0 Tempo 500000", "0 Tempo 250000",
                  "192 Tempo 500000", "288 EndOfTrack", "TrkEnd", "MTrk", "240 On ch=1 n=60 v=100",
                  "288 On ch=1 n=60 v=0", "288 EndOfTrack", "TrkEnd"})},
        // One channel's program set from two tracks is one timeline; each
        // value goes where the change that ended it was.
        ReverseCase{
            "StateSharedByTracks",
            text({"MThd format=1 tracks=2 division=96", "MTrk", "0 Program ch=1 p=1",
                  "30 EndOfTrack", "TrkEnd", "MTrk", "10 Program ch=1 p=2", "20 Program ch=1 p=3",
                  "40 EndOfTrack", "TrkEnd"}),
            text({"MThd format=1 tracks=2 division=96", "MTrk", "0 Program ch=1 p=1",
                  "40 EndOfTrack", "TrkEnd", "MTrk", "0 Program ch=1 p=3", "20 Program ch=1 p=2",
                  "30 Program ch=1 p=1", "40 EndOfTrack", "TrkEnd"})},
        ReverseCase{
            "NeverEndedNote",
            text({format0, "MTrk", "0 On ch=1 n=60 v=100", "30 On ch=1 n=64 v=90",
                  "50 Off ch=1 n=60 v=64", "100 EndOfTrack", "TrkEnd"}),
            text({format0, "MTrk", "0 On ch=1 n=64 v=90", "50 On ch=1 n=60 v=100",
                  "70 Off ch=1 n=64 v=64", "100 Off ch=1 n=60 v=64", "100 EndOfTrack", "TrkEnd"})},
        // Each track ends where it ends; chunks and the placement marks of moved events go.
        ReverseCase{
            "Format2",
            text({"MThd format=2 tracks=2 division=-25/40", "MTrk rs=on", "0 On ch=1 n=60 v=100",
                  "10 Off ch=1 n=60 v=0 rs=on dl=2", "40 EndOfTrack", "TrkEnd",
                  "Chunk \"XFIH\" 01 02", "MTrk", "0 Tempo 500000", "0 On ch=1 n=62 v=80",
                  "5 Off ch=1 n=62 v=0", "10 Marker \"m dl=1\"", "20 EndOfTrack", "TrkEnd"}),
            text({"MThd format=2 tracks=2 division=-25/40", "MTrk rs=on", "30 On ch=1 n=60 v=100",
                  "40 Off ch=1 n=60 v=0", "40 EndOfTrack", "TrkEnd", "Chunk \"XFIH\" 01 02", "MTrk",
                  "0 Tempo 500000", "10 Marker \"m dl=1\"", "15 On ch=1 n=62 v=80",
                  "20 Off ch=1 n=62 v=0", "20 EndOfTrack", "TrkEnd"})},
        // A parameter and its data entry keep their order; a note of no length
        // keeps its end after its start; a note-off that ends nothing goes.
        ReverseCase{
            "PointsAndOddNotes",
            text({format0, "MTrk", "0 On ch=10 n=36 v=100", "0 Off ch=10 n=36 v=0",
                  "5 Off ch=1 n=61 v=0", "10 Control ch=1 c=101 v=0", "10 Control ch=1 c=6 v=12",
                  "10 SysEx 7E 7F 09 01 F7 len=7", "+ 01 02", "20 EndOfTrack", "TrkEnd"}),
            text({format0, "MTrk", "10 Control ch=1 c=101 v=0", "10 Control ch=1 c=6 v=12",
                  "10 SysEx 7E 7F 09 01 F7 len=7", "+ 01 02", "20 On ch=10 n=36 v=100",
                  "20 Off ch=10 n=36 v=0", "20 EndOfTrack", "TrkEnd"})}),
    caseName);

INSTANTIATE_TEST_SUITE_P(
    BadLines, ReverseTable,
    ::testing::Values(ReverseCase{"NoHeader", text({"MTrk"}),
                                  "in.txt: line 1: the text does not start with an MThd line"},
                      ReverseCase{"UnknownEvent", text({format0, "MTrk", "0 Foo 1", "TrkEnd"}),
                                  "in.txt: line 3: unknown event name \"Foo\""},
                      ReverseCase{"TickBackwards",
                                  text({format0, "MTrk", "5 Port 0", "4 Port 0", "TrkEnd"}),
                                  "in.txt: line 4: tick 4 is before the previous tick 5"},
                      ReverseCase{"BadChannel",
                                  text({format0, "MTrk", "0 On ch=17 n=60 v=1", "TrkEnd"}),
                                  "in.txt: line 3: \"ch=17\" is out of range"},
                      ReverseCase{"NoteWithoutFields", text({format0, "MTrk", "0 On", "TrkEnd"}),
                                  "in.txt: line 3: expected ch=..., found \"\""},
                      ReverseCase{"NoTrackEnd", text({format0, "MTrk", "0 EndOfTrack"}),
                                  "in.txt: line 3: the text ends inside a track (no TrkEnd line)"}),
    caseName);

// ---- Reversing twice gives back what sounds, over the corpus.

// What sounds in a piece: its notes in seconds, and the states (tempo,
// controllers, program, pressure, bend) in force at each note-on.
struct Playback {
    std::vector<std::array<double, 5>> notes; // track, channel * 128 + key, velocity, on, off
    std::vector<std::map<std::string, std::string>> states; // at each note-on, in note order
    double tick = 0;                                        // the longest tick, in seconds
};

struct Line {
    std::uint64_t tick;
    std::size_t track;
    std::vector<std::string> fields;
};

// Where the value of a state event lies; 0 for events that are no state.
std::size_t stateValueField(const std::string& name) {
    if (name == "Tempo")
        return 1;
    if (name == "Program" || name == "PitchBend" || name == "ChanPressure")
        return 2;
    return name == "Control" ? 3 : 0;
}

Playback playback(const std::string& eventText) {
    std::istringstream in(eventText);
    std::vector<Line> lines;
    std::size_t tracks = 0;
    int format = 0, division = 0;
    for (std::string raw; std::getline(in, raw);) {
        std::istringstream words(raw.substr(0, raw.find('\r')));
        std::vector<std::string> fields;
        for (std::string word; words >> word;)
            fields.push_back(word);
        if (fields[0] == "MThd")
            format = std::stoi(fields[1].substr(7)), division = std::stoi(fields[3].substr(9));
        tracks += fields[0] == "MTrk";
        if (std::isdigit(static_cast<unsigned char>(fields[0][0])))
            lines.push_back({std::stoull(fields[0]), tracks, {fields.begin() + 1, fields.end()}});
    }
    // Formats 0 and 1 play all tracks on one timeline.
    const auto timeline = [&](std::size_t track) { return format == 2 ? track : 0; };
    std::stable_sort(lines.begin(), lines.end(), [&](const Line& a, const Line& b) {
        return std::pair(timeline(a.track), a.tick) < std::pair(timeline(b.track), b.tick);
    });
    struct Clock {
        std::uint64_t tick = 0;
        double seconds = 0;
    };
    std::map<std::size_t, Clock> clocks; // of each timeline
    std::map<std::size_t, std::map<std::string, std::string>> states;
    std::map<std::string, std::deque<std::size_t>> open;
    Playback played;
    for (std::size_t first = 0, last = 0; first < lines.size(); first = last) {
        const std::size_t track = timeline(lines[first].track);
        auto& state = states[track];
        Clock& clock = clocks[track];
        const std::string tempo = state.contains("Tempo ") ? state["Tempo "] : "500000";
        const double perTick =
            division < 0 // SMPTE: frames per second times ticks per frame
                ? 1.0 / ((256 - (-division >> 8 & 255)) % 256 * (-division & 255))
                : std::stod(tempo) / 1e6 / division;
        played.tick = std::max(played.tick, perTick);
        clock.seconds += double(lines[first].tick - clock.tick) * perTick;
        clock.tick = lines[first].tick;
        // The states set at a tick are in force for the notes that start at it.
        for (last = first; last < lines.size() && lines[last].tick == clock.tick &&
                           timeline(lines[last].track) == track;
             ++last) {
            const std::vector<std::string>& fields = lines[last].fields;
            if (const std::size_t value = stateValueField(fields[0])) {
                std::string key;
                for (std::size_t i = 0; i < value; ++i)
                    key += fields[i] + " ";
                state[key] = fields[value];
            }
        }
        for (std::size_t i = first; i < last; ++i) {
            const std::vector<std::string>& fields = lines[i].fields;
            if (fields[0] != "On" && fields[0] != "Off")
                continue;
            const std::string key = std::to_string(lines[i].track) + fields[1] + fields[2];
            if (fields[0] == "On" && fields[3] != "v=0") {
                open[key].push_back(played.notes.size());
                played.notes.push_back(
                    {double(lines[i].track),
                     std::stod(fields[1].substr(3)) * 128 + std::stod(fields[2].substr(2)),
                     std::stod(fields[3].substr(2)), clock.seconds, -1});
                // Only the note's own channel and the tempo colour it.
                auto& noteStates = played.states.emplace_back();
                for (const auto& [name, value] : state) {
                    if (name.find(fields[1] + " ") != std::string::npos || name == "Tempo ")
                        noteStates[name] = value;
                }
            } else if (!open[key].empty()) {
                played.notes[open[key].front()][4] = clock.seconds;
                open[key].pop_front();
            }
        }
    }
    // A note never ended ends with its timeline.
    for (auto& note : played.notes) {
        if (note[4] < 0)
            note[4] = clocks[timeline(std::size_t(note[0]))].seconds;
    }
    return played;
}
TEST(ReversePlayback, TwiceGivesBackNotesTemposAndStatesOfTheCorpus) {
    const std::vector<std::string> files = corpusFiles({"wellformed", "irregular"});
    if (files.empty())
        GTEST_SKIP() << "no corpus: set ZELMOD_CORPUS_DIR to the shared corpus folder";
    for (const std::string& file : files) {
        SCOPED_TRACE(file);
        ScratchDir scratch;
        try {
            convert::midiToText(file, scratch.path("in.txt"));
        } catch (const convert::ConversionError&) {
            continue; // not readable
        }
        const std::string original = readText(scratch.path("in.txt"));
        const Playback before = playback(original);
        const Playback after = playback(reversePlaybackText(reversePlaybackText(original)));
        auto notesBefore = before.notes, notesAfter = after.notes;
        ASSERT_EQ(notesBefore.size(), notesAfter.size());
        std::sort(notesBefore.begin(), notesBefore.end());
        std::sort(notesAfter.begin(), notesAfter.end());
        for (std::size_t i = 0; i < notesBefore.size(); ++i) {
            for (std::size_t field = 0; field < 5; ++field)
                ASSERT_NEAR(notesBefore[i][field], notesAfter[i][field], before.tick) << i;
        }
        // Notes in the order they start keep their states where the original set them.
        for (std::size_t i = 0; i < before.states.size(); ++i) {
            for (const auto& [key, value] : before.states[i])
                ASSERT_EQ(after.states[i].at(key), value) << key << " at note " << i;
        }
    }
}

// A cancel stops the work midway, where the original stays and nothing is left.
TEST(ReversePlayback, StopsMidwayWhenNoLongerWanted) {
    ScratchDir scratch;
    std::string lines = text({format0, "MTrk rs=on"});
    for (int tick = 0; tick < 20'000; ++tick)
        lines += std::to_string(tick) + " On ch=1 n=60 v=100\r\n";
    writeFile(scratch.path("in.txt"), lines + text({"20000 EndOfTrack", "TrkEnd"}));
    writeFile(scratch.path("out.txt"), "old");
    int asked = 0;
    EXPECT_THROW(reversePlayback(scratch.path("in.txt"), scratch.path("out.txt"),
                                 [&] { return ++asked < 2; }),
                 ReverseCancelled);
    EXPECT_EQ(asked, 2);
    EXPECT_EQ(readText(scratch.path("out.txt")), "old");
    EXPECT_EQ(scratch.files(), (std::vector<std::string>{"in.txt", "out.txt"}));
}

// An independent reader, Debian's python3-mido, hears every note of a piece
// with 358 tempo changes at the mirrored moment in seconds.
TEST(ReversePlayback, AnotherReaderHearsTheNotesMirroredInSeconds) {
    const std::string python = fs::exists("/usr/bin/python3") ? "/usr/bin/python3" : "python3";
    if (std::system((python + " -c \"import mido\" 2>" + NullDevice).c_str()) != 0)
        GTEST_SKIP() << "python3 with python3-mido is not installed";
    const std::string original =
        std::string(std::getenv("ZELMOD_CORPUS_DIR")) + "/music/bach_846.mid";
    if (!fs::exists(original))
        GTEST_SKIP() << "no corpus: set ZELMOD_CORPUS_DIR to the shared corpus folder";
    ScratchDir scratch;
    convert::midiToText(original, scratch.path("original.txt"));
    reversePlayback(scratch.path("original.txt"), scratch.path("reversed.txt"));
    convert::textToMidi(scratch.path("reversed.txt"), scratch.path("reversed.mid"));
    const std::string script =
        std::string(std::getenv("ZELMOD_SOURCE_DIR")) + "/tests/transform/mirrored_seconds.py";
    EXPECT_EQ(std::system((python + " \"" + script + "\" \"" + original + "\" \"" +
                           scratch.path("reversed.mid") + "\"")
                              .c_str()),
              0);
}

} // namespace
} // namespace zelmod::testing
