// Rewrites the event text line by line. The text streams through in batches
// of whole lines of about a megabyte, so no file is ever held whole.
#pragma once

#include "TransformEventLine.h"

#include <QString>

#include <cstdint>
#include <string>

namespace zelmod {

struct RewriteResult {
    enum class Outcome {
        Done,
        TargetUncreatable, // the file for the rewritten text could not be created
        SourceUnopenable,  // the event text could not be opened
        SourceUnreadable,  // reading the event text failed at lineNumber
        LineInvalid,       // the transformer could not convert line lineNumber
        TargetUnwritable,  // writing failed at lineNumber (the last line when closing)
    };
    Outcome outcome = Outcome::Done;
    bool limitReached = false;   // some value had to be clamped
    std::int64_t lineNumber = 0; // counted from 1
    std::string line;            // the line that could not be converted
    QString errorText;           // the system's reason for a file failure
};

// Reads source, where a line ends with LF or CR LF, and writes every line as
// the transformer returns it to target, each followed by CR LF.
RewriteResult rewriteEventText(const QString& sourcePath, const QString& targetPath,
                               double shiftAmount, const JobOptionQuery& isSelected);

} // namespace zelmod
