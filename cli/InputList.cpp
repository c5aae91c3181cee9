#include "cli/InputList.h"

#include "files/Files.h"
#include "job/JobFiles.h"
#include "job/NativePath.h"
#include "job/amount/ShiftAmount.h"

#include <QDir>
#include <QFileInfo>
#include <QHash>

#include <algorithm>
#include <filesystem>
#include <memory>

namespace zelmod {
namespace {

namespace fs = std::filesystem;

// An input found, with the path its output takes below the output folder.
struct Found {
    QString input;
    QString below;
    std::optional<JobFailure> failure;
};

bool isMidiName(const std::string& name) {
    const auto endsWith = [&](std::string_view end) {
        return name.size() > end.size() &&
               std::equal(end.rbegin(), end.rend(), name.rbegin(),
                          [](char a, char b) { return a == std::tolower((unsigned char)b); });
    };
    return endsWith(".mid") || endsWith(".midi");
}

// The folder's MIDI files and those of its subfolders, by name. Links to
// folders are not followed, so that no link can lead the search in a circle.
void searchFolder(const fs::path& folder, const QString& below, QList<Found>& found) {
    std::error_code error;
    std::vector<fs::directory_entry> entries;
    for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error))
        entries.push_back(*it);
    const QString shown = pathFromFilesystem(folder);
    if (error) {
        found.append({shown, QString(),
                      fileFailure(JobMessageId::InputUncopyable, shown,
                                  QString::fromLocal8Bit(error.message()))});
        return;
    }
    std::sort(entries.begin(), entries.end());
    for (const fs::directory_entry& entry : entries) {
        const QString name = pathFromFilesystem(entry.path().filename());
        const QString entryBelow = below + name;
        if (entry.is_directory(error) && !entry.is_symlink(error))
            searchFolder(entry.path(), entryBelow + QLatin1Char('/'), found);
        else if (isMidiName(nativeString(name)) && entry.is_regular_file(error))
            found.append({pathFromFilesystem(entry.path()), entryBelow, std::nullopt});
    }
}

// Where a listed name's output goes below the output folder: a relative
// name keeps its folders, other names give their file name alone.
QString listedPlace(const QString& name) {
    const QString clean = QDir::cleanPath(name);
    if (QDir::isAbsolutePath(clean) || clean == QLatin1String("..") ||
        clean.startsWith(QLatin1String("../")))
        return QFileInfo(name).fileName();
    return clean;
}

// Adds one input: a folder's files, or the input itself, which the job
// reads and reports on when it is missing or is no file.
void addInput(const QString& input, const QString& place, QList<Found>& found) {
    std::error_code error;
    const fs::path path = filesystemPath(input);
    if (fs::is_directory(path, error))
        searchFolder(path, place.isEmpty() ? QString() : place + QLatin1Char('/'), found);
    else
        found.append({input, place.isEmpty() ? QFileInfo(input).fileName() : place, std::nullopt});
}

bool readList(const QString& listPath, char separator, QStringList& names, QString& error) {
    try {
        std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(
            convert::openForReading(nativeString(listPath)),
            [](std::FILE* f) { return f == stdin ? 0 : std::fclose(f); });
        QByteArray text;
        char piece[65536];
        for (std::size_t count; (count = std::fread(piece, 1, sizeof piece, file.get())) > 0;)
            text.append(piece, qsizetype(count));
        if (std::ferror(file.get()))
            throw convert::ConversionError(nativeString(listPath) + ": cannot read");
        for (const QByteArray& name : text.split(separator)) {
            if (!name.isEmpty())
                names.append(pathFromNative(name));
        }
        return true;
    } catch (const convert::ConversionError& failure) {
        error = QStringLiteral("--files-from: ") + pathFromNative(QByteArray(failure.what()));
        return false;
    }
}

// The folder below the output folder for one amount of several:
// "transpose+3", as the amount box would show the amount.
QString amountFolder(Job job, const QString& amountText) {
    const double amount = clampAmount(amountFromText(amountText.toStdString()));
    return jobName(job) + (amount < 0 ? QString() : QStringLiteral("+")) +
           QString::fromStdString(amountToText(amount)) + QLatin1Char('/');
}

// Where paths lead (pathIdentity), each folder resolved once: a collection
// has many files to a folder.
class PathIdentities {
  public:
    QString of(const QString& path) {
        const QFileInfo file(path);
        const QString folder = file.absolutePath();
        auto resolved = folders_.constFind(folder);
        if (resolved == folders_.constEnd())
            resolved = folders_.insert(folder, resolvedFolder(folder));
        return *resolved + QLatin1Char('/') + file.fileName();
    }

  private:
    QHash<QString, QString> folders_;
};

} // namespace

bool plannedFiles(const CliRequest& request, QList<FileJob>& files, QString& error) {
    QList<Found> found;
    for (const QString& input : request.inputs)
        addInput(input, QString(), found);
    QStringList listed;
    if (!request.filesFrom.isEmpty() &&
        !readList(request.filesFrom, request.nulSeparated ? '\0' : '\n', listed, error))
        return false;
    for (const QString& name : listed)
        addInput(name, listedPlace(name), found);
    const bool amountFolders = request.amountTexts.size() > 1;
    files.clear();
    files.reserve(found.size() * request.amountTexts.size());
    for (const Found& entry : found) {
        for (const QString& amountText : request.amountTexts) {
            QString output = request.output;
            if (output.isEmpty() && !entry.failure)
                output = QDir(request.outDir)
                             .filePath((amountFolders ? amountFolder(request.job, amountText)
                                                      : QString()) +
                                       entry.below);
            files.append({entry.input, output, amountText, entry.failure});
            if (entry.failure)
                break; // a folder that cannot be searched is reported once
        }
    }
    return true;
}

QString refusalOf(const QList<FileJob>& files, const QString& workDir) {
    struct Keyed {
        QString key;
        qsizetype index;
    };
    const auto byKey = [](const Keyed& a, const Keyed& b) {
        const int order = a.key.compare(b.key, fileNameCase);
        return order != 0 ? order < 0 : a.index < b.index;
    };
    PathIdentities identities;
    std::vector<Keyed> outputs;
    std::vector<QString> inputs;
    for (qsizetype i = 0; i < files.size(); ++i) {
        const FileJob& file = files[i];
        if (file.failure)
            continue;
        // The job clears its work files before it reads the input.
        if (!workDir.isEmpty() && isJobFile(file.input, workDir))
            return jobMessage(JobMessageId::InputIsWorkFile, {shownPath(file.input)}).text;
        outputs.push_back(
            {file.output == QLatin1String("-") ? QString() : identities.of(file.output), i});
        inputs.push_back(identities.of(file.input));
    }
    std::sort(outputs.begin(), outputs.end(), byKey);
    for (std::size_t i = 1; i < outputs.size(); ++i) {
        if (!outputs[i].key.isEmpty() &&
            outputs[i].key.compare(outputs[i - 1].key, fileNameCase) == 0)
            return jobMessage(JobMessageId::InputNamesClash,
                              {shownPath(files[outputs[i - 1].index].input),
                               shownPath(files[outputs[i].index].input)})
                .text;
    }
    const auto lessInCase = [](const QString& a, const QString& b) {
        return a.compare(b, fileNameCase) < 0;
    };
    std::sort(inputs.begin(), inputs.end(), lessInCase);
    for (const Keyed& output : outputs) {
        if (std::binary_search(inputs.begin(), inputs.end(), output.key, lessInCase))
            return jobMessage(JobMessageId::OutputIsInput, {shownPath(files[output.index].output)})
                .text;
    }
    return QString();
}

} // namespace zelmod
