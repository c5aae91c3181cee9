// The files the programs keep in the working folder, and the converters a
// job runs.
#pragma once

#include "job/BatchScript.h"

#include <QString>

namespace zelmod {

// The application title: the window's caption, the first word of the setup
// file's name and header, and the application name that chooses an
// installed copy's working folder (toolFoldersOf).
inline const QString AppTitle = QStringLiteral("Zelmod");

namespace WorkFile {
inline const QString setupFile = AppTitle + QStringLiteral(".dat");
inline const QString lock = QStringLiteral("Zelmod.job.lock");
inline const QString inputCopy = QStringLiteral("Zeltmp.dat");
inline const QString eventText = QStringLiteral("Zeltmps.txt");
inline const QString rewrittenText = QStringLiteral("Zeltmpd.txt");
inline const QString outputMidi = QStringLiteral("Zeltmp2.dat");
} // namespace WorkFile

// MIDI to event text, and event text back to MIDI.
const ConverterCommand& toTextCommand();
const ConverterCommand& toMidiCommand();

// The path of a file in a folder: the working folder or the program folder.
QString workPath(const QString& dir, const QString& name);

// Sets the attributes of each intermediate file to normal and deletes it; a
// missing file is the usual case. The first file that stays there (another
// user's in a shared folder, say), which no job may then write through.
enum class CleanUp { BeforeJob, AfterJob };
std::optional<JobFailure> removeIntermediateFiles(const QString& workDir, CleanUp when);

// Whether path (or the file its link names) is one of the files the
// programs keep in the working folder: the setup file, the lock and the
// job's intermediate files, a converter's partial output among them.
bool isJobFile(const QString& path, const QString& workDir);

// Whether path (or the file its link names) is one of the programs or
// converters in dir.
bool isProgramFile(const QString& path, const QString& dir);

} // namespace zelmod
