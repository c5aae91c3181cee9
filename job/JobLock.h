// Keeps two jobs from sharing the tool's directory at once, whichever
// program runs them. The lock belongs to an open file, so the system
// releases it when its holder ends, however it ends.
#pragma once

#include <QString>

namespace zelmod {

class JobLock {
  public:
    enum class Status { Held, Busy, Failed };

    explicit JobLock(QString directory);
    ~JobLock();
    JobLock(const JobLock&) = delete;
    JobLock& operator=(const JobLock&) = delete;

    // Takes the lock without waiting: Busy when another job holds it,
    // Failed (see errorText) when the lock file cannot be created.
    Status tryLock();
    void unlock();

    QString filePath() const { return path_; }
    QString errorText() const { return errorText_; }

    static constexpr const char* fileName = "Zelmod.job.lock";

  private:
    QString path_;
    QString errorText_;
#ifdef _WIN32
    void* handle_ = nullptr;
#else
    int fd_ = -1;
#endif
};

} // namespace zelmod
