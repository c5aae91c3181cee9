// Answers for one path whether the Save chooser would let it be replaced,
// so that tests can ask as an unprivileged user: exit 0 yes, 1 no.
#include "job/choosers/basFileManager.h"

#include <QString>

#include <cstdio>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s path\n", argv[0]);
        return 2;
    }
    const bool replaceable =
        zelmod::basFileManager::canReplaceFile(QString::fromLocal8Bit(argv[1]));
    std::puts(replaceable ? "replaceable" : "in use");
    return replaceable ? 0 : 1;
}
