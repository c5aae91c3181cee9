// What a job needs to run its converters: a start, a cancel and the end of
// a run as a signal. ConverterRun starts the programs through their
// scripts; InProcessConverterRun calls the converters' library.
#pragma once

#include "job/BatchScript.h"
#include "job/JobMessages.h"

#include <QObject>
#include <QString>

#include <map>
#include <string>

namespace zelmod {

// How a run ended. Without a failure and not cancelled, the converter ran to
// its end and exitCode is its exit code.
struct ConverterRunResult {
    // The script could not be written (or not encoded for the console), the
    // converter not started, or it ended abnormally.
    std::optional<JobFailure> failure;
    bool cancelled = false; // stopped by cancel()
    int exitCode = 0;
    QString converterText; // what the converter wrote to its error output
};

// A job's intermediate files by their names in the working folder, held in
// memory in place of files when the job's input is small: such a job creates
// and removes no file but its output's partial file.
struct MemoryWorkFiles {
    bool inUse = false; // by the job that runs
    std::map<QString, std::string> contents;
};

class ConversionChain;

class ConverterRunner : public QObject {
    Q_OBJECT
  public:
    using QObject::QObject;

    // Starts the converter of command in the working folder and returns;
    // finished follows, never before start has returned.
    virtual void start(const ConverterCommand& command) = 0;
    // Stops the running converter; finished then says cancelled.
    virtual void cancel() = 0;
    // Where a job may keep its intermediate files in memory, for a runner
    // whose converters take them there; none by default.
    virtual MemoryWorkFiles* memoryWorkFiles() { return nullptr; }
    // Where a job may run both converters and its rewrite as one piece of
    // work, for a runner that can; none by default.
    virtual ConversionChain* conversionChain() { return nullptr; }

  signals:
    void finished(const zelmod::ConverterRunResult& result);
};

} // namespace zelmod
