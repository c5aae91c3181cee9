// mf2t IN.mid OUT.txt (either may be "-" for standard input or output): writes the event text of a
// Standard MIDI File. Exit status: 0 done, 1 error (OUT not written), 2 usage error.
#include <cstdio>
#include <cstring>

#include "converters/Converters.h"
#include "files/Files.h"

int main(int argc, char** argv) {
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
        std::puts("mf2t " ZELMOD_VERSION);
        return 0;
    }
    if (argc != 3) {
        std::fputs("usage: mf2t IN.mid OUT.txt\n", stderr);
        return 2;
    }
    zelmod::convert::reportWritesBeyondSizeLimit();
    zelmod::convert::removeTemporaryFileWhenInterrupted();
    try {
        zelmod::convert::midiToText(argv[1], argv[2]);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "mf2t: %s\n", zelmod::convert::escapedControls(error.what()).c_str());
        return 1;
    }
    return 0;
}
