#include "cli/Interruption.h"

#ifndef Q_OS_WIN
#include <QSocketNotifier>

#include <csignal>
#include <fcntl.h>
#include <unistd.h>
#endif

namespace zelmod {

#ifndef Q_OS_WIN
namespace {

// A signal handler may only write to a pipe; the event loop reads it.
int signalPipe[2] = {-1, -1};

extern "C" void noteSignal(int) {
    const char byte = 1;
    [[maybe_unused]] const auto written = ::write(signalPipe[1], &byte, 1);
}

} // namespace
#endif

Interruption::Interruption(QObject* parent) : QObject(parent) {
#ifndef Q_OS_WIN
    if (::pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    auto* notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this, &Interruption::interrupt);
    struct sigaction action {};
    action.sa_handler = noteSignal;
    // A call that waits (an open on a slow network file system) goes on and
    // the job ends as interrupted, instead of failing with EINTR's text.
    action.sa_flags = SA_RESTART;
    sigemptyset(&action.sa_mask);
    for (int signal : {SIGINT, SIGTERM, SIGHUP})
        ::sigaction(signal, &action, nullptr);
#endif
}

void Interruption::interrupt() {
#ifndef Q_OS_WIN
    char bytes[16];
    while (::read(signalPipe[0], bytes, sizeof bytes) > 0) {
    }
#endif
    emit interrupted();
}

} // namespace zelmod
