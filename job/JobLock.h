// Keeps two jobs from sharing the working folder at once, whichever
// program runs them. The lock belongs to an open file, so the system
// releases it when its holder ends, however it ends.
#pragma once

#include "job/JobMessages.h"

#include <QString>

namespace zelmod {

class JobLock {
  public:
    explicit JobLock(QString directory);
    ~JobLock();
    JobLock(const JobLock&) = delete;
    JobLock& operator=(const JobLock&) = delete;

    // Takes the lock without waiting, or says why not: another job holds
    // it, or the lock file cannot be created.
    std::optional<JobFailure> tryLock();
    void unlock();

  private:
    JobFailure busy() const;
#ifndef _WIN32
    JobFailure refusal(int error) const;
#endif

    QString directory_;
    QString path_;
#ifdef _WIN32
    void* handle_ = nullptr;
#else
    int fd_ = -1;
#endif
};

} // namespace zelmod
