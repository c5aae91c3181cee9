#include "job/InProcessConverterRun.h"

#include "converters/Converters.h"
#include "job/JobFiles.h"
#include "job/NativePath.h"

#include <QFileInfo>

#include <exception>
#include <system_error>
#include <thread>

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

// What the program would write to its error output and end with, once
// convert, which returns the count of capped values, has run.
template <typename Convert>
ConverterRunResult likeTheProgram(const Conversion& conversion, const QString& workDir,
                                  Convert convert) {
    try {
        if (const std::uint64_t capped = convert())
            return {std::nullopt, false, convert::CappedExitCode,
                    conversion.name + QStringLiteral(": ") +
                        QString::fromStdString(
                            convert::cappedValuesLine(conversion.input.toStdString(), capped))};
        return {};
    } catch (const std::exception& error) {
        // The program names its files as it got them: without the folder.
        QString text = pathFromNative(QByteArray(error.what()));
        text.remove(workDir + QLatin1Char('/'));
        return {std::nullopt, false, 1, conversion.name + QStringLiteral(": ") + text};
    }
}

ConverterRunResult runConversion(const Conversion& conversion, const QString& workDir,
                                 MemoryWorkFiles* memory) {
    return likeTheProgram(conversion, workDir, [&] {
        return memory && memory->inUse ? convertInMemory(conversion, *memory)
                                       : convertFiles(conversion, workDir);
    });
}

// One end of a pipe as a device, for the rewrite. A writer's end closed is
// a whole text; an end dropped while open tells the pipe that its side
// stopped early.
class PipeEnd : public QIODevice {
  public:
    PipeEnd(convert::TextPipe& pipe, OpenMode mode) : pipe_(pipe) { open(mode | Unbuffered); }
    ~PipeEnd() override {
        if (openMode() & WriteOnly)
            pipe_.abandonWriting();
        else if (isOpen())
            pipe_.stopReading();
    }

    bool isSequential() const override { return true; }
    void close() override {
        if (openMode() & WriteOnly)
            pipe_.closeWriting();
        QIODevice::close();
    }

  protected:
    qint64 readData(char* data, qint64 count) override {
        return onPipe([&] { return qint64(pipe_.read(data, std::size_t(count))); });
    }
    qint64 writeData(const char* data, qint64 count) override {
        return onPipe([&] { return pipe_.write(data, std::size_t(count)), count; });
    }

  private:
    template <typename Transfer> qint64 onPipe(Transfer transfer) {
        try {
            return transfer();
        } catch (const convert::PipeBroken& error) {
            setErrorString(QString::fromStdString(error.what()));
            return -1;
        }
    }

    convert::TextPipe& pipe_;
};

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
    if (chain_)
        chain_->cancel();
}

ConversionChain::ConversionChain(QString workDir, QObject* parent)
    : QObject(parent), workDir_(std::move(workDir)) {}

ConversionChain::~ConversionChain() {
    cancel();
}

void ConversionChain::start(MemoryWorkFiles* memory, ChainRewrite rewrite) {
    cancelled_ = false;
    {
        const std::lock_guard lock(pipes_);
        text_.reset();
        rewritten_.reset();
        if (!memory) {
            text_.emplace(nativeString(WorkFile::eventText));
            rewritten_.emplace(nativeString(WorkFile::rewrittenText));
        }
    }
    worker_.start(
        [this, memory, rewrite = std::move(rewrite)] {
            return memory ? inMemory(*memory, rewrite) : streamed(rewrite);
        },
        [this](ChainResult result) {
            result.cancelled = cancelled_;
            emit finished(result);
        });
}

// One step after the other, each on what the last one left in memory.
ChainResult ConversionChain::inMemory(MemoryWorkFiles& memory, const ChainRewrite& rewrite) const {
    ChainResult result;
    result.toText = runConversion(conversionOf(toTextCommand()), workDir_, &memory);
    if (result.toText.exitCode != 0)
        return result;
    result.rewrite = rewriteInMemory(memory.contents[WorkFile::eventText],
                                     memory.contents[WorkFile::rewrittenText], rewrite);
    if (result.rewrite.failure)
        return result;
    result.toMidi = runConversion(conversionOf(toMidiCommand()), workDir_, &memory);
    return result;
}

// The rewrite runs on the worker, each converter on a thread of its own.
ChainResult ConversionChain::streamed(const ChainRewrite& rewrite) {
    const Conversion toText = conversionOf(toTextCommand());
    const Conversion toMidi = conversionOf(toMidiCommand());
    const std::string input = nativeString(workPath(workDir_, toText.input));
    const std::string output = nativeString(workPath(workDir_, toMidi.output));
    ChainResult result;
    std::optional<JobFailure> notStarted;
    {
        // Joined at the end of this block, after the rewrite let go of its pipes.
        std::jthread first, second;
        try {
            first = std::jthread([&] {
                result.toText = likeTheProgram(toText, workDir_, [&] {
                    convert::midiToTextPiped(input, *text_);
                    return std::uint64_t{0};
                });
            });
            second = std::jthread([&] {
                result.toMidi = likeTheProgram(toMidi, workDir_, [&] {
                    return convert::textToMidiPiped(*rewritten_, output);
                });
            });
        } catch (const std::system_error& error) { // a thread could not start
            text_->cancel();
            rewritten_->cancel();
            notStarted = JobFailure{JobMessageId::ConverterNotStarted,
                                    {toText.name, QString::fromLocal8Bit(error.what())}};
        }
        if (!notStarted) {
            PipeEnd source(*text_, QIODevice::ReadOnly);
            PipeEnd target(*rewritten_, QIODevice::WriteOnly);
            result.rewrite = rewrite(source, target);
        }
    }
    if (notStarted)
        result.toText.failure = notStarted;
    return result;
}

// A cancel between runs is forgotten by the next start().
void ConversionChain::cancel() {
    cancelled_ = true;
    const std::lock_guard lock(pipes_);
    if (text_)
        text_->cancel();
    if (rewritten_)
        rewritten_->cancel();
}

} // namespace zelmod
