// Tells whether another instance of the window program is already running.
#pragma once

#include <QString>

// The first instance to ask holds a lock that the system releases when the
// process ends, however it ends, so a crash leaves nothing stale behind. On
// Windows the lock is a named mutex in the login session; elsewhere an flock
// on a file in the user's runtime directory. Either way it is per user.
class SingleInstance {
  public:
    explicit SingleInstance(const QString& name);
    ~SingleInstance();
    SingleInstance(const SingleInstance&) = delete;
    SingleInstance& operator=(const SingleInstance&) = delete;

    // True when another instance holds the lock. Otherwise this one takes it
    // and keeps it until it is destroyed. When the lock cannot be set up at
    // all, the failure is reported on standard error and the answer is false:
    // better two windows than none.
    bool anotherIsRunning();

  private:
    QString name;
#ifdef Q_OS_WIN
    void* mutex = nullptr;
#else
    int lockFile = -1;
#endif
};
