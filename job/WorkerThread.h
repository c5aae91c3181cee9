// Work that would hold the event loop up (copying or rewriting large files,
// a conversion in process) runs on a thread that its owner keeps for all of
// its work, one piece at a time: a job of a small file costs no thread start.
// Each result comes back through the event loop of the owner's thread. An
// owner that lives on a thread of its own, not the application's (a slot of
// zelmod-cli), has no other events to answer meanwhile: its work runs on its
// own thread, in turn with its events, and is handed to no other.
#pragma once

#include <QObject>
#include <QThread>

#include <type_traits>
#include <utility>

namespace zelmod {

class WorkerThread {
  public:
    // Results go to receiver, on receiver's thread.
    explicit WorkerThread(QObject* receiver);
    // Waits for the piece that runs, as an owner whose members the work uses must.
    ~WorkerThread();
    WorkerThread(const WorkerThread&) = delete;
    WorkerThread& operator=(const WorkerThread&) = delete;

    // Runs work on the thread after the pieces started before it, then done
    // with its result on receiver's thread, unless receiver is gone by then.
    template <typename Work, typename Done> void start(Work work, Done done) {
        running_ = true;
        if (runsOnReceiversThread()) {
            QMetaObject::invokeMethod(
                receiver_,
                [this, work = std::move(work), done = std::move(done)]() mutable {
                    auto result = work();
                    running_ = false;
                    done(std::move(result));
                },
                Qt::QueuedConnection);
            return;
        }
        startThread();
        QMetaObject::invokeMethod(
            &context_,
            [this, work = std::move(work), done = std::move(done)]() mutable {
                QMetaObject::invokeMethod(
                    receiver_,
                    [this, result = work(), done = std::move(done)]() mutable {
                        running_ = false;
                        done(std::move(result));
                    },
                    Qt::QueuedConnection);
            },
            Qt::QueuedConnection);
    }
    // Whether a piece runs or its result has yet to come back.
    bool isRunning() const { return running_; }
    // Waits for the piece that runs and ends the thread; nothing runs after it.
    void stop();

  private:
    bool runsOnReceiversThread() const;
    void startThread();

    QObject* receiver_;
    QObject context_; // lives on thread_
    QThread thread_;
    bool running_ = false;
};

} // namespace zelmod
