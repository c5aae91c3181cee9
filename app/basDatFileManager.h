// The setup file beside the executable: one header line that marks that the
// program has been run from this directory. Nothing depends on its content.
#pragma once

#include <QString>
#include <QtGlobal>

namespace basDatFileManager {

// Whether a setup file is present at path: a file, hidden or not; a system
// file or a directory of that name does not count.
bool SetupFileExists(const QString& path);

// True when the file is present and its first line equals SetupHeader. A
// differing, empty or unreadable file sets mismatch to 1; a missing file
// leaves it alone. Failures are reported on standard error.
bool ReadSetupFile(const QString& path, qint32& mismatch);

// Replaces the file with SetupHeader and CR LF. False, after a report on
// standard error, when the file could not be written.
bool WriteSetupFile(const QString& path);

// The existence test on Windows, on the attributes GetFileAttributesW reports.
bool attributesCountAsSetupFile(quint32 attributes);

} // namespace basDatFileManager
