#pragma once

#include <QString>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

struct zip;

namespace zp {

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
    // files that an interrupted save of this path left behind. Returns nullptr
    // with *error set when the file is missing or not a readable zip.
    static std::unique_ptr<XlsxPackage> open(const QString& path, QString* error);

    // An empty package to be saved at path; nothing is written before save().
    static std::unique_ptr<XlsxPackage> create(const QString& path);

    QString path() const { return m_path; }

    bool contains(std::string_view name) const;

    // The whole uncompressed part, or nullopt with *error set (missing,
    // over MaxPartSize, damaged or encrypted data).
    std::optional<std::string> read(std::string_view name, QString* error) const;

    // The part in chunks handed to sink, which returns false to stop (the
    // read then fails). The same bounds as read().
    bool readChunks(std::string_view name,
        const std::function<bool(const char*, std::size_t)>& sink, QString* error) const;

    // Replaces the part's contents, or adds the part at the end. The data is
    // shared, not copied; it must not change until the next save() returns.
    void write(std::string_view name, std::shared_ptr<const std::string> data);
    void write(std::string_view name, std::string data);

    // Writes the package to a temporary file beside path, flushes it to disk,
    // renames it over path and flushes the folder. Returns false with *error
    // set when any step fails; the file at path is then the previous one.
    bool save(QString* error);

    // Whether save() can succeed, found out without touching the file:
    // every stored part must be copyable into a new package, and a whole
    // package must be writable beside the file (written to the temporary
    // path, flushed and removed again).
    enum class SaveTrial {
        Savable,
        PartNotCopyable, // *detail: the part's name
        NotWritable, // *detail: why the write failed
    };
    SaveTrial trySave(QString* detail);

    // The temporary file that save() writes before renaming it over path. Its
    // name does not match "Zavrinello.XLS*" searches for the workbook.
    static QString temporaryPath(const QString& path);

    // The file a save replaces: path itself, or the file a symbolic link at
    // path points to, so that the link stays and its target gets the rows.
    static QString fileToReplace(const QString& path);

private:
    struct Entry {
        std::string name;
        std::int64_t sourceIndex = -1; // index in m_zip, -1 when only in memory
        std::shared_ptr<const std::string> data; // replaced contents
    };

    explicit XlsxPackage(QString path);
    const Entry* find(std::string_view name) const;
    // The first stored part that libzip cannot copy (encrypted, unknown
    // compression method); empty when there is none.
    QString uncopyablePart() const;
    std::optional<std::string> buildArchive(QString* error);
    bool reopen(QString* error);

    QString m_path;
    zip* m_zip = nullptr;
    std::vector<Entry> m_entries;
    std::unordered_map<std::string, std::size_t> m_byName; // lower-case name -> entry
};

} // namespace zp
