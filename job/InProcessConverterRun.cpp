#include "job/InProcessConverterRun.h"

#include "converters/Converters.h"
#include "job/JobFiles.h"
#include "job/NativePath.h"

#include <QFileInfo>

#include <exception>

namespace zelmod {
namespace {

// The converter's arguments as its program would get them: file names in
// the working folder.
struct Conversion {
    bool toMidi;
    QString name; // mf2t or t2mf, as the program calls itself
    QString input;
    QString output;
};

Conversion conversionOf(const ConverterCommand& command) {
    const QStringList files = command.arguments.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    return {command.converterName == toMidiCommand().converterName,
            QFileInfo(command.converterName).baseName().toLower(), files.value(0), files.value(1)};
}

// The files in the working folder; the count of capped values.
std::uint64_t convertFiles(const Conversion& conversion, const QString& workDir) {
    const std::string input = nativeString(workPath(workDir, conversion.input));
    const std::string output = nativeString(workPath(workDir, conversion.output));
    if (conversion.toMidi)
        return convert::textToMidi(input, output);
    convert::midiToText(input, output);
    return 0;
}

// The same in memory, the input named as the program names it.
std::uint64_t convertInMemory(const Conversion& conversion, MemoryWorkFiles& memory) {
    const std::string name = nativeString(conversion.input);
    const convert::MemoryInput input{memory.contents[conversion.input], name};
    const convert::MemoryOutput output{memory.contents[conversion.output]};
    if (conversion.toMidi)
        return convert::textToMidiInMemory(input, output);
    convert::midiToTextInMemory(input, output);
    return 0;
}

// What the program would write to its error output and end with.
ConverterRunResult runConversion(const Conversion& conversion, const QString& workDir,
                                 MemoryWorkFiles* memory) {
    try {
        const bool inMemory = memory && memory->inUse;
        if (const std::uint64_t capped =
                inMemory ? convertInMemory(conversion, *memory) : convertFiles(conversion, workDir))
            return {std::nullopt, false, convert::CappedExitCode,
                    QStringLiteral("t2mf: ") + QString::fromStdString(convert::cappedValuesLine(
                                                   conversion.input.toStdString(), capped))};
        return {};
    } catch (const std::exception& error) {
        // The program names its files as it got them: without the folder.
        QString text = pathFromNative(QByteArray(error.what()));
        text.remove(workDir + QLatin1Char('/'));
        return {std::nullopt, false, 1, conversion.name + QStringLiteral(": ") + text};
    }
}

} // namespace

InProcessConverterRun::InProcessConverterRun(ToolFolders folders, QObject* parent)
    : ConverterRunner(parent), folders_(std::move(folders)) {}

void InProcessConverterRun::start(const ConverterCommand& command) {
    cancelled_ = false;
    worker_.start(
        [conversion = conversionOf(command), workDir = folders_.workDir,
         memory = memoryWorkFiles()] { return runConversion(conversion, workDir, memory); },
        [this](ConverterRunResult result) {
            result.cancelled = cancelled_;
            emit finished(result);
        });
}

void InProcessConverterRun::cancel() {
    if (worker_.isRunning())
        cancelled_ = true;
}

} // namespace zelmod
