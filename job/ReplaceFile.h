// Puts a new file in place of the user's output only once it is complete.
#pragma once

#include "job/JobMessages.h"

#include <QString>

#include <functional>
#include <string_view>

namespace zelmod {

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
// failure says why and where and whether a file was there.
std::optional<JobFailure> replaceFileWithCopy(const QString& sourcePath, const QString& targetPath,
                                              const std::function<bool()>& stillWanted = {},
                                              const std::function<void()>& whileSyncing = {});
// The same with bytes in memory for the source.
std::optional<JobFailure> replaceFileWithBytes(std::string_view bytes, const QString& targetPath,
                                               const std::function<bool()>& stillWanted = {},
                                               const std::function<void()>& whileSyncing = {});

} // namespace zelmod
