#pragma once

#include "util/Result.h"

#include <QByteArrayView>
#include <QFile>
#include <QString>
#include <functional>
#include <optional>

namespace zp {

// Writes the contents of a new, empty file that is open for writing,
// unbuffered and seekable, at whatever positions it likes. Fails with the
// reason.
using FileFiller = std::function<Result<void>(QFile& file)>;

// Writes all of data to file. A short write (the disk filling up) is
// followed by another, so that a failure has the system's reason. Fails when
// not all of data was written.
Result<void> WriteAll(QFile& file, QByteArrayView data);

// Replaces the file at path with what fill writes so that a crash or kill at
// any moment leaves either the old file or the new one, never a mix: fill
// gets temporaryPath (in the same folder) open, the file is flushed to disk,
// renamed over path, and the folder is flushed. An existing file's
// permissions are kept. Fails, with the reason, when any step failed; path
// is then untouched and temporaryPath removed.
Result<void> ReplaceFileAtomically(
    const QString& path, const QString& temporaryPath, const FileFiller& fill);

// Has fill write path and flushes it to disk. Fails, with the reason, when
// any step failed (the file may then be partial).
Result<void> WriteFileDurably(const QString& path, const FileFiller& fill);

// Flushes a folder's entries (renames, new files) to disk; false on failure.
bool SyncFolder(const QString& folder);

// A file written whole under a temporary name and still open, waiting to be
// flushed to disk and put under its final name. It holds only a descriptor
// and two paths, so it may be committed on any thread. One that goes away
// uncommitted is closed and its temporary file removed.
class WrittenFile {
public:
    // descriptor: open on temporaryPath, now owned; size: the bytes written.
    WrittenFile(int descriptor, QString temporaryPath, QString path, qint64 size);
    WrittenFile(WrittenFile&& other) noexcept;
    WrittenFile& operator=(WrittenFile&&) = delete;
    WrittenFile(const WrittenFile&) = delete;
    WrittenFile& operator=(const WrittenFile&) = delete;
    ~WrittenFile();

    // Flushes the file to disk, checks that it holds exactly the bytes
    // written, closes it and renames it over path. Its folder is not flushed
    // (SyncFolder does that): until it is, a crash may lose the new name, but
    // never shows a partial file under it. False when any step failed; the
    // temporary file is removed then. Once only.
    bool commit();

    const QString& path() const { return m_path; }

private:
    void drop();

    int m_descriptor;
    QString m_temporaryPath;
    QString m_path;
    qint64 m_size;
};

// A file written piece by piece that appears under its final name whole or
// not at all: the pieces go to a temporary file beside it, which finish()
// hands over as a WrittenFile to be committed. A temporary file neither
// handed over nor committed is removed when the writer goes away.
class AtomicFileWriter {
public:
    AtomicFileWriter(QString path, QString temporaryPath);
    ~AtomicFileWriter();
    AtomicFileWriter(const AtomicFileWriter&) = delete;
    AtomicFileWriter& operator=(const AtomicFileWriter&) = delete;

    // Creates (truncates) the temporary file. False when it cannot be.
    bool open();
    bool isOpen() const { return m_file.isOpen(); }
    // Appends data; false when not all of it was written. Every later call
    // of write() and finish() fails then.
    bool write(QByteArrayView data);
    // Ends the writing (creating an empty file when nothing was written): the
    // file, still under its temporary name, to be committed; nullopt, the
    // temporary file removed, when a write or the hand-over failed. Nothing
    // more can be written afterwards.
    std::optional<WrittenFile> finish();
    // Removes the temporary file unless it was handed over; nothing new is
    // left under either name.
    void discard();

    qint64 written() const { return m_written; }

private:
    QString m_path;
    QFile m_file;
    qint64 m_written = 0;
    bool m_failed = false;
    bool m_handedOver = false;
};

} // namespace zp
