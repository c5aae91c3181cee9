// make_bench_midi OUT.mid [NOTES_PER_TRACK]: writes the same MIDI file every
// time, for timing the converters: 16 tracks, a million notes in all unless
// told otherwise, running status, note-offs both as 0x80 and as note-on with
// velocity 0, controllers and pitch bends.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

constexpr int TrackCount = 16;
constexpr int DefaultNotesPerTrack = 62500;

class Track {
  public:
    void event(std::uint32_t delta, std::uint8_t status, std::uint8_t data1, int data2 = -1) {
        variableLength(delta);
        if (status != lastStatus_)
            bytes_.push_back(status);
        lastStatus_ = status;
        bytes_.push_back(data1);
        if (data2 >= 0)
            bytes_.push_back(static_cast<std::uint8_t>(data2));
    }
    void meta(std::uint8_t type, const std::vector<std::uint8_t>& data) {
        bytes_.insert(bytes_.end(), {0x00, 0xFF, type, static_cast<std::uint8_t>(data.size())});
        bytes_.insert(bytes_.end(), data.begin(), data.end());
    }
    const std::vector<std::uint8_t>& bytes() const { return bytes_; }

  private:
    void variableLength(std::uint32_t value) {
        if (value >= 0x80)
            bytes_.push_back(static_cast<std::uint8_t>(0x80 | (value >> 7)));
        bytes_.push_back(static_cast<std::uint8_t>(value & 0x7F));
    }
    std::vector<std::uint8_t> bytes_;
    std::uint8_t lastStatus_ = 0;
};

class Random {
  public:
    std::uint32_t below(std::uint32_t limit) {
        state_ = state_ * 1664525u + 1013904223u;
        return (state_ >> 8) % limit;
    }

  private:
    std::uint32_t state_ = 20240601;
};

Track makeTrack(int index, int notes, Random& random) {
    Track track;
    const auto channel = static_cast<std::uint8_t>(index);
    if (index == 0)
        track.meta(0x51, {0x07, 0xA1, 0x20});
    track.meta(0x03, {'T', 'r', 'a', 'c', 'k'});
    for (int i = 0; i < notes; ++i) {
        const auto note = static_cast<std::uint8_t>(36 + random.below(60));
        track.event(random.below(4) == 0 ? 0 : random.below(120), 0x90 | channel, note,
                    1 + static_cast<int>(random.below(127)));
        if (i % 16 == 0) {
            const std::uint32_t bend = random.below(16384);
            track.event(0, 0xE0 | channel, bend & 0x7F, static_cast<int>(bend >> 7));
        }
        if (i % 32 == 0)
            track.event(0, 0xB0 | channel, 1, static_cast<int>(random.below(128)));
        if (random.below(2) == 0)
            track.event(random.below(120), 0x80 | channel, note, 64);
        else
            track.event(random.below(120), 0x90 | channel, note, 0);
    }
    track.meta(0x2F, {});
    return track;
}

void put32(std::FILE* file, std::uint32_t value) {
    const unsigned char bytes[4] = {
        static_cast<unsigned char>(value >> 24), static_cast<unsigned char>(value >> 16),
        static_cast<unsigned char>(value >> 8), static_cast<unsigned char>(value)};
    std::fwrite(bytes, 1, 4, file);
}

} // namespace

int main(int argc, char** argv) {
    const int notes = argc == 3 ? std::atoi(argv[2]) : DefaultNotesPerTrack;
    if (argc < 2 || argc > 3 || notes <= 0) {
        std::fputs("usage: make_bench_midi OUT.mid [NOTES_PER_TRACK]\n", stderr);
        return 2;
    }
    std::FILE* file = std::fopen(argv[1], "wb");
    if (!file) {
        std::perror(argv[1]);
        return 1;
    }
    const unsigned char header[] = {'M', 'T', 'h', 'd', 0,          0,    0,
                                    6,   0,   1,   0,   TrackCount, 0x01, 0xE0};
    std::fwrite(header, 1, sizeof header, file);
    Random random;
    for (int index = 0; index < TrackCount; ++index) {
        const Track track = makeTrack(index, notes, random);
        std::fwrite("MTrk", 1, 4, file);
        put32(file, static_cast<std::uint32_t>(track.bytes().size()));
        std::fwrite(track.bytes().data(), 1, track.bytes().size(), file);
    }
    if (std::fclose(file) != 0) {
        std::perror(argv[1]);
        return 1;
    }
    return 0;
}
