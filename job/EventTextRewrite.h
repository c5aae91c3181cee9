// Rewrites the event text line by line. The text streams through in batches
// of whole lines, a quarter of a megabyte at a time, so no file is ever held
// whole.
#pragma once

#include "job/JobMessages.h"
#include "transform/TransformEventLine.h"

#include <QIODevice>
#include <QString>

#include <cstdint>
#include <functional>
#include <string>

namespace zelmod {

struct RewriteResult {
    // A file that could not be created, opened, read or written, or a line
    // the transformer could not convert; lines are counted from 1, and a
    // failed write is named by the last line written when it fails on closing.
    std::optional<JobFailure> failure;
    std::uint64_t clampedLines = 0; // lines whose value had to be clamped
};

// Reads source, where a line ends with LF or CR LF, and writes every line as
// the transformer returns it to target, each followed by CR LF. stillWanted,
// when given, is asked between batches; when it says no, the rewrite stops
// there without a failure: the caller that said no knows.
RewriteResult rewriteEventText(const QString& sourcePath, const QString& targetPath,
                               double shiftAmount, const JobOptionQuery& isSelected,
                               const std::function<bool()>& stillWanted = {});

// The paths that a rewrite's failures name.
struct RewriteNames {
    QString source;
    QString target;
};

// The same on open devices, failing as on the files named: for text that
// streams from one converter to the other.
RewriteResult rewriteEventText(QIODevice& source, QIODevice& target, const RewriteNames& names,
                               double shiftAmount, const JobOptionQuery& isSelected,
                               const std::function<bool()>& stillWanted = {});

// A rewrite on open devices run on texts held in memory.
RewriteResult
rewriteInMemory(const std::string& sourceText, std::string& targetText,
                const std::function<RewriteResult(QIODevice& source, QIODevice& target)>& rewrite);

// The same two on texts held in memory, failing as on the files named.
RewriteResult rewriteEventText(const std::string& sourceText, std::string& targetText,
                               const RewriteNames& names, double shiftAmount,
                               const JobOptionQuery& isSelected,
                               const std::function<bool()>& stillWanted = {});
RewriteResult reverseEventText(const std::string& sourceText, std::string& targetText,
                               const RewriteNames& names);

// Writes the text of source played backwards to target. Once stillWanted
// says no, it stops within a few thousand lines and leaves target as it
// was. Its failures name the line or the file.
RewriteResult reverseEventText(const QString& sourcePath, const QString& targetPath,
                               const std::function<bool()>& stillWanted = {});

} // namespace zelmod
