// Puts a new file in place of the user's output only once it is complete.
#pragma once

#include <QString>

namespace zelmod {

// Where the new output is written before it takes the output's name: beside
// the output, so that the rename stays on one file system, and under a name
// of its own, so that a leftover from a killed program is recognisable and
// the next job writing the same output removes it.
QString partialPathFor(const QString& outputPath);

// Copies source to the partial file and renames that over target. Until
// the rename the old target stays as it was; a read-only target is
// replaced too. On failure the partial file is removed and errorText says why.
bool replaceFileWithCopy(const QString& sourcePath, const QString& targetPath, QString& errorText);

} // namespace zelmod
