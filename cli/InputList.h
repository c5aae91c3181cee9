// The files a zelmod-cli run converts, each with its output, gathered from
// the command line, the folders it names and a list of names.
#pragma once

#include "cli/CommandLine.h"
#include "job/JobMessages.h"

#include <QList>
#include <QString>

#include <optional>

namespace zelmod {

struct FileJob {
    QString input;
    QString output;
    QString amountText;
    // Found while gathering: a folder that could not be searched. Such an
    // entry names the folder and has no output.
    std::optional<JobFailure> failure;
};

// The files of the request in the order given, a folder's files sorted by
// name, each once per amount. When the --files-from list cannot be read,
// gives false and sets error.
bool plannedFiles(const CliRequest& request, QList<FileJob>& files, QString& error);

// Why the files cannot be converted as asked, checked before any work
// starts: an input that is one of the job's work files in workDir (when
// given), two inputs for one output, or an output that is one of the
// inputs. Empty when they can. Sorts instead of comparing every pair.
QString refusalOf(const QList<FileJob>& files, const QString& workDir);

} // namespace zelmod
