// Tells whether another instance of the window program is already running.
#pragma once

#include <QObject>
#include <QString>

#ifdef Q_OS_WIN
class QWinEventNotifier;
#endif

// The first instance to ask holds a lock that the system releases when the
// process ends, however it ends, so a crash leaves nothing stale behind. On
// Windows the lock is a named mutex in the login session; elsewhere an flock
// on a file in the user's runtime directory. Either way it is per user.
//
// A refused start calls the running instance, which then signals
// calledByAnother. On Windows the call is a named event in the login
// session; elsewhere a touch of the lock file, which only its owner may
// make. Other users cannot call.
class SingleInstance : public QObject {
    Q_OBJECT

  public:
    explicit SingleInstance(const QString& name);
    ~SingleInstance() override;
    SingleInstance(const SingleInstance&) = delete;
    SingleInstance& operator=(const SingleInstance&) = delete;

    // True when another instance holds the lock. Otherwise this one takes it
    // and keeps it until it is destroyed. When the lock cannot be set up at
    // all, the failure is reported on standard error and the answer is false:
    // better two windows than none.
    bool anotherIsRunning();

    // The instance that holds the lock starts answering calls.
    void listenForCalls();
    // A refused start asks the running instance to come forward; when it
    // cannot, nothing happens.
    void callRunningInstance();

  signals:
    void calledByAnother();

  private:
    QString name;
#ifdef Q_OS_WIN
    QString callEventName() const;

    void* mutex = nullptr;
    void* callEvent = nullptr;
    QWinEventNotifier* callNotifier = nullptr;
#else
    QString lockFilePath() const;

    int lockFile = -1;
#endif
};
