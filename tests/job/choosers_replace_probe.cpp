// Answers for one path whether the Save chooser would let it be replaced,
// so that tests can ask as an unprivileged user: exit 0 yes, 1 no, with the
// first line of the chooser's message.
#include "job/choosers/basFileManager.h"

#include <QString>

#include <cstdio>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s path\n", argv[0]);
        return 2;
    }
    const auto refusal = zelmod::basFileManager::replaceRefusal(QString::fromLocal8Bit(argv[1]));
    if (!refusal) {
        std::puts("replaceable");
        return 0;
    }
    std::puts(zelmod::jobMessage(*refusal).text.section('\n', 0, 0).toUtf8().constData());
    return 1;
}
