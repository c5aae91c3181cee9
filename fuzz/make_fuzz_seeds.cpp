// make_fuzz_seeds OUT [CORPUS]: writes a starting corpus for every fuzz
// target into OUT/<target>/ and a dictionary OUT/<target>.dict for the
// readers. The MIDI seeds are made by t2mf from hand-written event text, so
// they cover every kind of line; files of the corpus folder, when given, are
// added as they are and as the text mf2t makes of them.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "converters/Converters.h"
#include "converters/EventText.h"
#include "transform/TransformEventLine.h"

namespace fs = std::filesystem;
namespace convert = zelmod::convert;

namespace {

// The hexadecimal form "00 01 ..." of count bytes.
std::string hexBytes(std::size_t count) {
    static constexpr char digits[] = "0123456789ABCDEF";
    std::string text;
    for (std::size_t i = 0; i < count; ++i) {
        if (i > 0)
            text += ' ';
        text += {digits[(i >> 4) & 15], digits[i & 15]};
    }
    return text;
}

// Every kind of line, every mark and both line ends.
std::vector<std::string> handTexts() {
    return {
        "MThd format=1 tracks=0 division=480\n",
        R"(MThd format=1 tracks=2 division=96
MTrk rs=on
0 TrackName "Zelmod \"seed\" \\ \x82\xA0"
0 Copyright ""
0 Tempo 500000
0 TimeSig 4 2 24 8
0 KeySig -3 1
0 SMPTEOffset 96 0 0 0 0
0 SeqNumber 1
0 ChanPrefix 0
0 Port 0
0 SeqSpecific 00 00 41
0 Meta 51 07 A1 20 00
0 Meta 4B 01 02 ll=3
0 EndOfTrack
TrkEnd
MTrk rs=off
0 Program ch=1 p=0
0 Control ch=1 c=7 v=100
0 On ch=1 n=60 v=100
0 On ch=1 n=64 v=100 rs=on
96 Off ch=1 n=60 v=0 dl=2
96 On ch=10 n=36 v=127
100 PolyPressure ch=2 n=60 v=10
100 ChanPressure ch=2 v=64 rs=off
100 PitchBend ch=16 v=16383
200 SysEx 43 10 4C 00 F7 ll=2
200 SysExF7 F8
200 System F2 01 02
200 System F8 dl=4
268435655 EndOfTrack
TrkEnd
Chunk "XFIH" 01 02 03
Trailing 00 0A
)",
        "MThd format=0 tracks=1 division=-25/40 AA BB\r\n"
        "MTrk rs=carry\r\n"
        "0 On ch=3 n=0 v=1\r\n"
        "0 On ch=3 n=127 v=127\r\n"
        "0 Off ch=3 n=128 v=200\r\n"
        "1 Text \"" +
            std::string(256, 'a') +
            "\" len=300\r\n"
            "+ \"" +
            std::string(44, 'b') +
            "\"\r\n"
            "2 SysEx " +
            hexBytes(256) +
            " len=600\r\n"
            "+ " +
            hexBytes(256) +
            "\r\n"
            "+ " +
            hexBytes(88) +
            "\r\n"
            "TrkEnd\r\n",
    };
}

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void writeFile(const fs::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary)
        .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

class SeedWriter {
  public:
    explicit SeedWriter(fs::path out) : out_(std::move(out)) {
        for (const char* target :
             {"fuzz_mf2t", "fuzz_t2mf", "fuzz_amount", "fuzz_transform", "fuzz_reverse"})
            fs::create_directories(out_ / target);
    }

    void add(const char* target, const std::string& name, const std::string& bytes) {
        writeFile(out_ / target / name, bytes);
    }

    // A MIDI file, cut short and with a giant length as damaged variants.
    void addMidi(const std::string& name, const std::string& midi) {
        add("fuzz_mf2t", name + ".mid", midi);
        add("fuzz_mf2t", name + "-cut.mid", midi.substr(0, midi.size() / 2));
        if (midi.size() > 22)
            add("fuzz_mf2t", name + "-giant.mid",
                midi.substr(0, 18) + "\xFF\xFF\xFF\xFF" + midi.substr(22));
    }

    // Event text, with its note lines as seeds of the line rewriter.
    void addText(const std::string& name, const std::string& text) {
        add("fuzz_t2mf", name + ".txt", text);
        add("fuzz_reverse", name + ".txt", text);
        std::size_t start = 0;
        int noteLines = 0;
        for (std::size_t end;
             noteLines < NoteLinesPerText && (end = text.find('\n', start)) != std::string::npos;
             start = end + 1) {
            const std::string line = text.substr(start, end - start);
            if (line.find(" On ") == std::string::npos && line.find(" Off ") == std::string::npos)
                continue;
            ++noteLines;
            // First byte the job, then the amount and its quarter steps.
            const char job = static_cast<char>(lineSeeds_ % (zelmod::JobCount + 1));
            add("fuzz_transform", "line" + std::to_string(lineSeeds_++),
                std::string{job, '\x05', '\x02'} + line);
        }
    }

    // Converts one way through scratch files; nothing when refused.
    template <typename Conversion>
    std::optional<std::string> through(const std::string& input, Conversion conversion) {
        const fs::path in = out_ / "scratch.in";
        const fs::path result = out_ / "scratch.out";
        writeFile(in, input);
        std::optional<std::string> output;
        try {
            conversion(in.string(), result.string());
            output = readFile(result);
        } catch (const convert::ConversionError&) {
        }
        fs::remove(in);
        fs::remove(result);
        return output;
    }

  private:
    static constexpr int NoteLinesPerText = 8;

    fs::path out_;
    int lineSeeds_ = 0;
};

// One dictionary entry: printable bytes as they are, the rest escaped.
std::string dictionaryEntry(std::string_view word) {
    std::string entry = "\"";
    for (const char c : word) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            entry += {'\\', c};
        } else if (byte >= 0x20 && byte < 0x7F) {
            entry += c;
        } else {
            char escaped[5];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", byte);
            entry += escaped;
        }
    }
    return entry + "\"\n";
}

// Every word of event text, from the converters' own table.
std::string textDictionary() {
    std::set<std::string_view> words = {
        convert::HeaderWord,      convert::TrackStartWord,    convert::TrackEndWord,
        convert::ChunkWord,       convert::TrailingWord,      convert::ContinuationWord,
        convert::FormatField,     convert::TracksField,       convert::DivisionField,
        convert::ChannelField,    convert::RunningStatusMark, convert::DeltaBytesMark,
        convert::LengthBytesMark, convert::TotalLengthMark,   "\\x",
    };
    for (std::string_view word : convert::RunningStatusWords)
        words.insert(word);
    std::vector<const convert::EventName*> events = {
        &convert::genericMetaEvent(), &convert::sysExEvent(0xF0), &convert::sysExEvent(0xF7),
        &convert::systemEvent()};
    for (int status = 0x80; status < 0xF0; status += 0x10)
        events.push_back(&convert::channelEvent(static_cast<std::uint8_t>(status)));
    for (int type = 0; type < 256; ++type) {
        if (const auto* named = convert::metaEvent(static_cast<std::uint8_t>(type)))
            events.push_back(named);
    }
    for (const convert::EventName* event : events) {
        words.insert(event->name);
        for (int i = 0; i < event->fieldCount; ++i) {
            if (!event->fields[i].prefix.empty())
                words.insert(event->fields[i].prefix);
        }
    }
    std::string dictionary;
    for (std::string_view word : words)
        dictionary += dictionaryEntry(word);
    return dictionary;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2 && argc != 3) {
        std::fputs("usage: make_fuzz_seeds OUT [CORPUS]\n", stderr);
        return 2;
    }
    const fs::path out = argv[1];
    SeedWriter seeds(out);
    const std::vector<std::string> texts = handTexts();
    for (std::size_t i = 0; i < texts.size(); ++i) {
        const std::string name = "hand" + std::to_string(i);
        const auto midi = seeds.through(texts[i], convert::textToMidi);
        if (!midi) {
            std::fprintf(stderr, "make_fuzz_seeds: t2mf refuses the seed text %s\n", name.c_str());
            return 1;
        }
        seeds.addText(name, texts[i]);
        seeds.addMidi(name, *midi);
    }
    if (argc == 3 && fs::is_directory(argv[2])) {
        for (const auto& entry : fs::recursive_directory_iterator(argv[2])) {
            if (entry.path().extension() != ".mid")
                continue;
            const std::string name = "corpus-" + entry.path().stem().string();
            const std::string midi = readFile(entry.path());
            seeds.add("fuzz_mf2t", name + ".mid", midi);
            if (const auto text = seeds.through(midi, convert::midiToText))
                seeds.addText(name, *text);
        }
    }
    const char* amounts[] = {"0",
                             "12abc",
                             "1 2",
                             "-300",
                             "126.5",
                             "&H7F",
                             "&o17",
                             "1E2",
                             "1d-3",
                             "-.5",
                             "+4",
                             "1e400",
                             "1e-400",
                             "99999999999999999999999",
                             "&HFFFFFFFFFFFFFFFFFFFFFF",
                             "\t-\n1",
                             "－１２６．５ｅ０",
                             "&Ｈ７Ｆ　１"};
    for (std::size_t i = 0; i < std::size(amounts); ++i)
        seeds.add("fuzz_amount", "amount" + std::to_string(i), amounts[i]);
    writeFile(out / "fuzz_t2mf.dict", textDictionary());
    writeFile(out / "fuzz_reverse.dict", textDictionary());
    using namespace std::string_view_literals;
    std::string midiWords;
    for (const std::string_view word : {"MThd"sv, "MTrk"sv, "\xFF\x2F\x00"sv, "\0\0\0\x06"sv})
        midiWords += dictionaryEntry(word);
    writeFile(out / "fuzz_mf2t.dict", midiWords);
    return 0;
}
