// The files a job keeps in the tool's directory, and the converters it runs.
#pragma once

#include "job/BatchScript.h"

#include <QString>

namespace zelmod {

namespace WorkFile {
inline const QString inputCopy = QStringLiteral("Zeltmp.dat");
inline const QString eventText = QStringLiteral("Zeltmps.txt");
inline const QString rewrittenText = QStringLiteral("Zeltmpd.txt");
inline const QString outputMidi = QStringLiteral("Zeltmp2.dat");
} // namespace WorkFile

// MIDI to event text, and event text back to MIDI.
const ConverterCommand& toTextCommand();
const ConverterCommand& toMidiCommand();

// The converter back to MIDI ends with this code when it wrote its output
// but had to cap note values above 127.
inline constexpr int cappedExitCode = 3;

// The path of a file in the tool's directory.
QString workPath(const QString& toolDir, const QString& name);

// Sets the attributes of each intermediate file to normal and deletes it,
// ignoring every failure: a missing file is the usual case.
enum class CleanUp { BeforeJob, AfterJob };
void removeIntermediateFiles(const QString& toolDir, CleanUp when);

// Whether path (or the file its link names) is one of the job's own files
// in the tool's directory.
bool isJobFile(const QString& path, const QString& toolDir);

// Whether path (or the file its link names) is one of the files the program
// is made of in the tool's directory: the programs, the converters, the
// setup file.
bool isProgramFile(const QString& path, const QString& toolDir);

} // namespace zelmod
