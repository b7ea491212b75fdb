#pragma once

#include "util/Result.h"

#include <QByteArrayView>
#include <QString>

namespace zp {

// Replaces the file at path with data so that a crash or kill at any moment
// leaves either the old file or the new one, never a mix: data goes to
// temporaryPath (in the same folder), is flushed to disk, renamed over path,
// and the folder is flushed. An existing file's permissions are kept.
// Fails, with the reason, when any step failed; path is then untouched and
// temporaryPath removed.
Result<void> ReplaceFileAtomically(
    const QString& path, const QString& temporaryPath, QByteArrayView data);

} // namespace zp
