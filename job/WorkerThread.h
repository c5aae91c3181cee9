// Work that would hold the event loop up (copying or rewriting large files,
// a conversion in process) runs on a thread of its own; its result comes
// back through the event loop of the thread that started it.
#pragma once

#include <QObject>
#include <QThread>

#include <memory>
#include <optional>
#include <type_traits>

namespace zelmod {

// Runs work on a new thread, then done with its result on receiver's
// thread, unless receiver is gone by then. The thread deletes itself after
// that; its owner may wait for it, as a destructor must while work still
// uses the owner.
template <typename Work, typename Done>
QThread* startWorkerThread(QObject* receiver, Work work, Done done) {
    using Result = std::invoke_result_t<Work&>;
    auto result = std::make_shared<std::optional<Result>>();
    QThread* thread =
        QThread::create([result, work = std::move(work)]() mutable { result->emplace(work()); });
    QObject::connect(thread, &QThread::finished, receiver,
                     [result, done = std::move(done)]() mutable { done(std::move(**result)); });
    QObject::connect(thread, &QThread::finished, thread, &QObject::deleteLater);
    thread->start();
    return thread;
}

} // namespace zelmod
