// t2mf IN.txt OUT.mid (either may be "-" for standard input or output): writes the Standard MIDI
// File that event text describes. Exit status: 0 done, 3 done but note values above 127 were
// written as 127, 1 error (OUT not written), 2 usage error.
#include <cstdio>
#include <cstring>

#include "converters/Converters.h"
#include "converters/EventText.h"
#include "files/Files.h"

int main(int argc, char** argv) {
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
        std::puts("t2mf " ZELMOD_VERSION);
        return 0;
    }
    if (argc != 3) {
        std::fputs("usage: t2mf IN.txt OUT.mid\n", stderr);
        return 2;
    }
    zelmod::convert::reportWritesBeyondSizeLimit();
    zelmod::convert::removeTemporaryFileWhenInterrupted();
    try {
        const std::uint64_t capped = zelmod::convert::textToMidi(argv[1], argv[2]);
        if (capped > 0) {
            std::fprintf(
                stderr, "t2mf: %s\n",
                zelmod::convert::cappedValuesLine(zelmod::convert::escapedControls(argv[1]), capped)
                    .c_str());
            return zelmod::convert::CappedExitCode;
        }
    } catch (const std::exception& error) {
        std::fprintf(stderr, "t2mf: %s\n", zelmod::convert::escapedControls(error.what()).c_str());
        return 1;
    }
    return 0;
}
