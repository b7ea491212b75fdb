#pragma once

#include "util/Result.h"

#include <QString>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

struct zip;
struct zip_source;

namespace zp {

class ZipFileTarget;

// The zip package of an .xlsx file: its parts by name, read on demand with a
// bound on their size, replaced or added in memory, and saved atomically.
// Parts that were not replaced are copied into the saved file as they are
// stored (no recompression). Part names compare without regard to ASCII case,
// as the package format wants.
class XlsxPackage {
public:
    // Largest uncompressed part that is read; larger ones (zip bombs, huge
    // shared-string tables) make the read fail.
    static constexpr std::size_t MaxPartSize = 256u * 1024u * 1024u;
    // Most entries a package may have.
    static constexpr std::int64_t MaxEntries = 100000;

    ~XlsxPackage();
    XlsxPackage(const XlsxPackage&) = delete;
    XlsxPackage& operator=(const XlsxPackage&) = delete;

    // Opens the zip file at path (read-only until save). Removes temporary
    // files that an interrupted save of this path left behind. Fails when the
    // file is missing or not a readable zip.
    static Result<std::unique_ptr<XlsxPackage>> open(const QString& path);

    // An empty package to be saved at path; nothing is written before save().
    static std::unique_ptr<XlsxPackage> create(const QString& path);

    QString path() const { return m_path; }

    bool contains(std::string_view name) const;

    // The whole uncompressed part. Fails when it is missing, over
    // MaxPartSize or limit, damaged or encrypted.
    Result<std::string> read(std::string_view name, std::size_t limit = MaxPartSize) const;

    // The part in chunks handed to sink, which returns false to stop (the
    // read then fails). The same bounds as read().
    Result<void> readChunks(std::string_view name,
        const std::function<bool(const char*, std::size_t)>& sink,
        std::size_t limit = MaxPartSize) const;

    // A part's contents as pieces of text held by others, written one after
    // another: a large part is saved without being copied into one string.
    // owners keep the pieces alive while the package holds them.
    struct PartText {
        std::vector<std::shared_ptr<const std::string>> owners;
        std::vector<std::string_view> pieces;
        std::size_t size() const;
    };

    // Replaces the part's contents, or adds the part at the end. The data is
    // shared, not copied; it must not change until the next save() returns.
    void write(std::string_view name, std::shared_ptr<const PartText> text);
    void write(std::string_view name, std::shared_ptr<const std::string> data);
    void write(std::string_view name, std::string data);

    // Writes the package to a temporary file beside path, flushes it to disk,
    // renames it over path and flushes the folder, then reopens the new file
    // as the source of unchanged parts. Fails when any step fails. A failure before the rename
    // leaves the previous file at path. A failure to reopen comes after it: the new file is then at
    // path all the same, and the package goes on copying unchanged parts from the previous file,
    // which it still holds open.
    Result<void> save();

    // Whether save() can succeed, found out without touching the file:
    // every stored part must be copyable into a new package, and a whole
    // package must be writable beside the file (written to the temporary
    // path, flushed and removed again).
    struct SaveTrial {
        enum class Outcome {
            Savable,
            PartNotCopyable, // detail: the part's name
            NotWritable, // detail: why the write failed
        };
        Outcome outcome = Outcome::Savable;
        QString detail;
        std::optional<Failure> failure; // why the trial's write failed, when it did
    };
    SaveTrial trySave();

    // The temporary file that save() writes before renaming it over path. Its
    // name does not match a search for the workbook by its name.
    static QString temporaryPath(const QString& path);

    // The file a save replaces: path itself, or the file a symbolic link at
    // path points to, so that the link stays and its target gets the rows.
    static QString fileToReplace(const QString& path);

private:
    struct Entry {
        std::string name;
        std::int64_t sourceIndex = -1; // index in m_zip, -1 when only in memory
        std::shared_ptr<const PartText> data; // replaced contents
    };

    struct ZipDiscard {
        void operator()(zip* archive) const;
    };
    struct ZipSourceFree {
        void operator()(zip_source* source) const;
    };

    explicit XlsxPackage(QString path);
    const Entry* find(std::string_view name) const;
    // The first stored part that libzip cannot copy (encrypted, unknown
    // compression method); empty when there is none.
    QString uncopyablePart() const;
    Result<void> addEntry(zip* out, const Entry& entry) const;
    // Writes the package as a zip archive into target's file. Fails when
    // libzip refuses a part or the file a write; target.failure() then tells
    // which.
    Result<void> buildArchive(ZipFileTarget& target) const;
    Result<void> reopen();

    QString m_path;
    std::unique_ptr<zip, ZipDiscard> m_zip;
    std::vector<Entry> m_entries;
    std::unordered_map<std::string, std::size_t> m_byName; // lower-case name -> entry
};

} // namespace zp
