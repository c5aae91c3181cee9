// Puts a new file in place of the user's output only once it is complete.
#pragma once

#include "job/JobMessages.h"

#include <QString>

#include <functional>
#include <memory>
#include <string_view>

namespace zelmod {

namespace convert {
class OutputFile;
}

// A new output written whole, its data on the way to the disk, that takes
// the output's name only when finished, on any one thread. Destroyed
// unfinished, it is removed and the old output stays as it was.
class PendingReplacement {
  public:
    PendingReplacement(std::unique_ptr<convert::OutputFile> file, const QString& targetPath,
                       JobMessageId failureId);
    ~PendingReplacement();
    PendingReplacement(const PendingReplacement&) = delete;
    PendingReplacement& operator=(const PendingReplacement&) = delete;

    // Waits for the data and renames the file over the output, as
    // replaceFileWithCopy does; on failure the file is removed.
    std::optional<JobFailure> finish();

  private:
    std::unique_ptr<convert::OutputFile> file_;
    QString targetPath_;
    JobMessageId failureId_;
};

// Where the new output is written before it takes the output's name: beside
// the file that is replaced (a link's target), so that the rename stays on
// one file system, under a name made afresh with a random tag of six letters
// and digits. The user's own leftovers of that form, from a killed program,
// are removed by the next job on that output.
QString partialPathFor(const QString& outputPath, const QString& tag = QStringLiteral("XXXXXX"));

// Copies source to a partial file and renames that over target, keeping the
// target's permissions and any link to it. Until the rename the old target
// stays as it was. stillWanted, when given, is asked between pieces and
// before the rename; when it says no, nothing is replaced and no failure is
// given: the caller that said no knows. whileSyncing, when given, runs once
// the copy is complete and closed, while its data goes to the disk, before
// the rename waits for it. On failure the partial file is removed, and the
// failure says why and where and whether a file was there. With pending
// given, the wait and the rename are left to the replacement put there.
std::optional<JobFailure>
replaceFileWithCopy(const QString& sourcePath, const QString& targetPath,
                    const std::function<bool()>& stillWanted = {},
                    const std::function<void()>& whileSyncing = {},
                    std::unique_ptr<PendingReplacement>* pending = nullptr);
// The same with bytes in memory for the source.
std::optional<JobFailure>
replaceFileWithBytes(std::string_view bytes, const QString& targetPath,
                     const std::function<bool()>& stillWanted = {},
                     const std::function<void()>& whileSyncing = {},
                     std::unique_ptr<PendingReplacement>* pending = nullptr);

} // namespace zelmod
