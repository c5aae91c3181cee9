#include "job/WorkerThread.h"

#include <QCoreApplication>

namespace zelmod {

WorkerThread::WorkerThread(QObject* receiver) : receiver_(receiver) {
    context_.moveToThread(&thread_);
}

bool WorkerThread::runsOnReceiversThread() const {
    return receiver_->thread() != QCoreApplication::instance()->thread();
}

void WorkerThread::startThread() {
    if (!thread_.isRunning())
        thread_.start();
}

WorkerThread::~WorkerThread() {
    stop();
}

void WorkerThread::stop() {
    thread_.quit();
    thread_.wait();
}

} // namespace zelmod
