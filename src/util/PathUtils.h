#pragma once

#include <QString>

namespace zp {

// True when path names an existing directory. One trailing separator is
// ignored. An empty path, a file or a missing path gives false.
bool DirExists(const QString& path);

// Creates the directory path together with every missing level above it.
// Returns false when the whole path exists as directories at the end, true
// when it could not be created (a level exists as a file, no permission).
// An existing directory is left unchanged.
bool CreateDir(const QString& path);

// The text after the last "/" of url (all of url when it has none); may be
// empty. A query or fragment stays part of the result.
QString GetFileNameFromURL(const QString& url);

// The file name a picture at url is saved under: the last path segment of
// url without its query ("?...") and fragment ("#..."), so that cache
// busting ("a.png?v=2") or size parameters do not become part of the name.
// Nothing is decoded ("%3F" stays). May be empty or unsafe (IsSafeFileName).
QString PictureFileName(const QString& url);

// True when name can be used as the name of a file inside a folder on Linux
// and Windows alike: not empty, not "." or "..", free of path separators,
// control characters, bidirectional controls and the characters Windows
// refuses (< > : " | ? *), not ending in a dot or a space, and not a Windows
// device name (CON, PRN, AUX, NUL, COM1-9, LPT1-9, with any extension).
// Names taken from web addresses must pass this before use.
bool IsSafeFileName(const QString& name);

} // namespace zp
