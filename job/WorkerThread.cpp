#include "job/WorkerThread.h"

namespace zelmod {

WorkerThread::WorkerThread(QObject* receiver) : receiver_(receiver) {
    context_.moveToThread(&thread_);
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
