#include "xlsx/XlsxPackage.h"

#include "util/AtomicFile.h"
#include "xlsx/ZipFileTarget.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <zip.h>

using namespace Qt::Literals::StringLiterals;

namespace zp {

namespace {

std::string lowerAscii(std::string_view text)
{
    std::string lower(text);
    std::transform(lower.begin(), lower.end(), lower.begin(),
        [](char ch) { return ch >= 'A' && ch <= 'Z' ? static_cast<char>(ch - 'A' + 'a') : ch; });
    return lower;
}

// libzip's failure in the program's terms: the kind of the system's errno
// when libzip had one, else of libzip's own code.
Failure zipFailure(zip_error_t* error)
{
    using Kind = Failure::Kind;
    const QString text = QString::fromLocal8Bit(zip_error_strerror(error));
    if (zip_error_system_type(error) == ZIP_ET_SYS)
        return { Failure::kindOfErrno(zip_error_code_system(error)), text };
    switch (zip_error_code_zip(error)) {
    case ZIP_ER_NOENT:
        return { Kind::NotFound, text };
    case ZIP_ER_NOZIP:
    case ZIP_ER_INCONS:
    case ZIP_ER_CRC:
    case ZIP_ER_EOF:
    case ZIP_ER_ZLIB:
    case ZIP_ER_COMPRESSED_DATA:
        return { Kind::Damaged, text };
    case ZIP_ER_MULTIDISK:
    case ZIP_ER_COMPNOTSUPP:
    case ZIP_ER_ENCRNOTSUPP:
    case ZIP_ER_NOPASSWD:
    case ZIP_ER_WRONGPASSWD:
        return { Kind::Unsupported, text };
    default:
        return { Kind::IOError, text };
    }
}

struct ZipFileClose {
    void operator()(zip_file_t* file) const { zip_fclose(file); }
};

// A libzip error record, released when it goes out of scope.
struct ZipError {
    ZipError() { zip_error_init(&record); }
    ~ZipError() { zip_error_fini(&record); }
    ZipError(const ZipError&) = delete;
    ZipError& operator=(const ZipError&) = delete;
    zip_error_t record;
};

} // namespace

void XlsxPackage::ZipDiscard::operator()(zip* archive) const
{
    zip_discard(archive);
}

void XlsxPackage::ZipSourceFree::operator()(zip_source* source) const
{
    zip_source_free(source);
}

XlsxPackage::XlsxPackage(QString path)
    : m_path(std::move(path))
{
}

XlsxPackage::~XlsxPackage() = default;

QString XlsxPackage::temporaryPath(const QString& path)
{
    const QFileInfo info(path);
    return info.absolutePath() + u"/.~"_s + info.fileName() + u".saving"_s;
}

QString XlsxPackage::fileToReplace(const QString& path)
{
    const QFileInfo info(path);
    if (!info.isSymLink())
        return path;
    // A link to a missing target: the save creates the target.
    const QString target = info.canonicalFilePath();
    return target.isEmpty() ? info.symLinkTarget() : target;
}

Result<std::unique_ptr<XlsxPackage>> XlsxPackage::open(const QString& path)
{
    // What a save killed half-way left behind is never the workbook.
    const QString leftover = temporaryPath(fileToReplace(path));
    if (QFileInfo(leftover).isFile())
        QFile::remove(leftover);

    std::unique_ptr<XlsxPackage> package(new XlsxPackage(path));
    if (Result<void> opened = package->reopen(); !opened)
        return std::move(opened).failure();
    return package;
}

std::unique_ptr<XlsxPackage> XlsxPackage::create(const QString& path)
{
    return std::unique_ptr<XlsxPackage>(new XlsxPackage(path));
}

Result<void> XlsxPackage::reopen()
{
    // Through a source of its own, so that a file that cannot be read keeps
    // the system's errno.
    ZipError zerr;
    zip_source_t* file
        = zip_source_file_create(QFile::encodeName(m_path).constData(), 0, -1, &zerr.record);
    std::unique_ptr<zip, ZipDiscard> archive(
        file ? zip_open_from_source(file, ZIP_RDONLY | ZIP_CHECKCONS, &zerr.record) : nullptr);
    if (!archive) {
        if (file)
            zip_source_free(file);
        return zipFailure(&zerr.record).within(u"not a readable zip file"_s);
    }
    const zip_int64_t count = zip_get_num_entries(archive.get(), 0);
    if (count < 0 || count > MaxEntries) {
        return Failure { Failure::Kind::TooLarge, u"too many zip entries"_s };
    }
    std::vector<Entry> entries;
    std::unordered_map<std::string, std::size_t> byName;
    entries.reserve(static_cast<std::size_t>(count));
    for (zip_int64_t i = 0; i < count; ++i) {
        const char* name
            = zip_get_name(archive.get(), static_cast<zip_uint64_t>(i), ZIP_FL_ENC_GUESS);
        if (!name) {
            return Failure { Failure::Kind::Damaged, u"unreadable zip entry name"_s };
        }
        byName.emplace(lowerAscii(name), entries.size());
        entries.push_back(Entry { name, i, nullptr });
    }
    m_zip.reset(archive.release());
    m_entries = std::move(entries);
    m_byName = std::move(byName);
    return {};
}

const XlsxPackage::Entry* XlsxPackage::find(std::string_view name) const
{
    if (!name.empty() && name.front() == '/')
        name.remove_prefix(1);
    const auto it = m_byName.find(lowerAscii(name));
    return it == m_byName.end() ? nullptr : &m_entries[it->second];
}

bool XlsxPackage::contains(std::string_view name) const
{
    return find(name) != nullptr;
}

Result<void> XlsxPackage::readChunks(std::string_view name,
    const std::function<bool(const char*, std::size_t)>& sink, std::size_t limit) const
{
    limit = std::min(limit, MaxPartSize);
    const Entry* entry = find(name);
    const QString partName = QString::fromUtf8(name.data(), static_cast<qsizetype>(name.size()));
    using Kind = Failure::Kind;
    if (!entry) {
        return Failure { Kind::Damaged, u"missing part "_s + partName };
    }
    if (entry->data) {
        if (entry->data->size() > limit)
            return Failure { Kind::TooLarge, u"part too large: "_s + partName };
        for (const std::string_view piece : entry->data->pieces) {
            if (!sink(piece.data(), piece.size()))
                return Failure { Kind::Damaged, u"bad part "_s + partName };
        }
        return {};
    }
    zip_stat_t st;
    zip_stat_init(&st);
    if (zip_stat_index(m_zip.get(), static_cast<zip_uint64_t>(entry->sourceIndex), 0, &st) != 0
        || !(st.valid & ZIP_STAT_SIZE)) {
        return Failure { Kind::Damaged, u"unreadable part "_s + partName };
    }
    if (st.size > limit)
        return Failure { Kind::TooLarge, u"part too large: "_s + partName };
    const std::unique_ptr<zip_file_t, ZipFileClose> file(
        zip_fopen_index(m_zip.get(), static_cast<zip_uint64_t>(entry->sourceIndex), 0));
    if (!file) {
        return zipFailure(zip_get_error(m_zip.get())).within(u"cannot read part "_s + partName);
    }
    std::vector<char> buffer(256 * 1024);
    std::size_t total = 0;
    for (;;) {
        const zip_int64_t n = zip_fread(file.get(), buffer.data(), buffer.size());
        if (n < 0)
            return zipFailure(zip_file_get_error(file.get())).within(u"damaged part "_s + partName);
        if (n == 0)
            return {};
        total += static_cast<std::size_t>(n);
        if (total > limit)
            return Failure { Kind::TooLarge, u"part too large: "_s + partName };
        if (!sink(buffer.data(), static_cast<std::size_t>(n)))
            return Failure { Kind::Damaged, u"bad part "_s + partName };
    }
}

Result<std::string> XlsxPackage::read(std::string_view name, std::size_t limit) const
{
    std::string data;
    if (const Entry* entry = find(name); entry && !entry->data) {
        zip_stat_t st;
        zip_stat_init(&st);
        if (zip_stat_index(m_zip.get(), static_cast<zip_uint64_t>(entry->sourceIndex), 0, &st) == 0
            && (st.valid & ZIP_STAT_SIZE) && st.size <= std::min(limit, MaxPartSize))
            data.reserve(static_cast<std::size_t>(st.size));
    } else if (entry && entry->data->size() <= limit) {
        data.reserve(entry->data->size());
    }
    Result<void> done = readChunks(
        name,
        [&data](const char* chunk, std::size_t size) {
            data.append(chunk, size);
            return true;
        },
        limit);
    if (!done)
        return std::move(done).failure();
    return data;
}

std::size_t XlsxPackage::PartText::size() const
{
    std::size_t total = 0;
    for (const std::string_view piece : pieces)
        total += piece.size();
    return total;
}

void XlsxPackage::write(std::string_view name, std::string data)
{
    write(name, std::make_shared<const std::string>(std::move(data)));
}

void XlsxPackage::write(std::string_view name, std::shared_ptr<const std::string> data)
{
    const std::string_view piece = *data;
    write(name, std::make_shared<const PartText>(PartText { { std::move(data) }, { piece } }));
}

void XlsxPackage::write(std::string_view name, std::shared_ptr<const PartText> data)
{
    if (!name.empty() && name.front() == '/')
        name.remove_prefix(1);
    const std::string key = lowerAscii(name);
    if (const auto it = m_byName.find(key); it != m_byName.end()) {
        m_entries[it->second].data = std::move(data);
        return;
    }
    m_byName.emplace(key, m_entries.size());
    m_entries.push_back(Entry { std::string(name), -1, std::move(data) });
}

// Adds one part to the archive being built: a replaced part compressed anew,
// an unchanged one copied as stored. False when libzip refused it.
Result<void> XlsxPackage::addEntry(zip* out, const Entry& entry) const
{
    auto fail = [out](const QString& text) { return zipFailure(zip_get_error(out)).within(text); };
    std::unique_ptr<zip_source, ZipSourceFree> source;
    zip_int32_t method = ZIP_CM_DEFLATE;
    zip_uint32_t level = 0;
    if (entry.data) {
        // Sizes are known up front, so libzip writes no Zip64 extra field.
        std::vector<zip_buffer_fragment_t> fragments;
        fragments.reserve(entry.data->pieces.size());
        for (const std::string_view piece : entry.data->pieces) {
            if (!piece.empty())
                fragments.push_back(zip_buffer_fragment_t {
                    reinterpret_cast<zip_uint8_t*>(const_cast<char*>(piece.data())),
                    piece.size() });
        }
        source.reset(zip_source_buffer_fragment(out, fragments.data(), fragments.size(), 0));
        // The big worksheet is written on every save; a light level keeps
        // saving fast at little cost in size.
        level = entry.data->size() > 1024 * 1024 ? 1 : 6;
    } else {
        zip_stat_t st;
        zip_stat_init(&st);
        const auto index = static_cast<zip_uint64_t>(entry.sourceIndex);
        if (zip_stat_index(m_zip.get(), index, 0, &st) != 0)
            return fail(u"cannot stat part"_s);
        if (st.valid & ZIP_STAT_COMP_METHOD)
            method = static_cast<zip_int32_t>(st.comp_method);
        source.reset(zip_source_zip(out, m_zip.get(), index, ZIP_FL_COMPRESSED, 0, -1));
    }
    if (!source)
        return fail(u"cannot add part"_s);
    const zip_int64_t index = zip_file_add(out, entry.name.c_str(), source.get(), ZIP_FL_ENC_UTF_8);
    if (index < 0)
        return fail(u"cannot add part"_s);
    source.release(); // the archive owns it now
    if (zip_set_file_compression(out, static_cast<zip_uint64_t>(index), method, level) != 0)
        return fail(u"cannot set compression"_s);
    return {};
}

QString XlsxPackage::uncopyablePart() const
{
    for (const Entry& entry : m_entries) {
        if (entry.data || !m_zip)
            continue;
        zip_stat_t st;
        zip_stat_init(&st);
        if (zip_stat_index(m_zip.get(), static_cast<zip_uint64_t>(entry.sourceIndex), 0, &st) != 0)
            return QString::fromStdString(entry.name);
        const bool encrypted
            = (st.valid & ZIP_STAT_ENCRYPTION_METHOD) && st.encryption_method != ZIP_EM_NONE;
        const bool unknownMethod = (st.valid & ZIP_STAT_COMP_METHOD)
            && !zip_compression_method_supported(static_cast<zip_int32_t>(st.comp_method), 0);
        if (encrypted || unknownMethod)
            return QString::fromStdString(entry.name);
    }
    return {};
}

XlsxPackage::SaveTrial XlsxPackage::trySave()
{
    using enum SaveTrial::Outcome;
    if (const QString part = uncopyablePart(); !part.isEmpty())
        return { PartNotCopyable, part, std::nullopt };
    const QString temporary = temporaryPath(fileToReplace(m_path));
    Result<void> written = WriteFileDurably(temporary, [this](QFile& file) {
        ZipFileTarget target(file);
        return buildArchive(target);
    });
    QFile::remove(temporary);
    if (written)
        return {};
    // What libzip cannot copy is the workbook's fault; what the system
    // refuses is the folder's.
    const Failure::Kind kind = written.failure().kind();
    const bool partRefused = kind == Failure::Kind::Damaged || kind == Failure::Kind::Unsupported;
    return { partRefused ? PartNotCopyable : NotWritable, written.error(),
        std::move(written).failure() };
}

Result<void> XlsxPackage::buildArchive(ZipFileTarget& target) const
{
    ZipError zerr;
    zip_source_t* file = target.createSource(&zerr.record);
    if (!file)
        return zipFailure(&zerr.record);
    std::unique_ptr<zip, ZipDiscard> out(
        zip_open_from_source(file, ZIP_CREATE | ZIP_TRUNCATE, &zerr.record));
    if (!out) {
        zip_source_free(file);
        return zipFailure(&zerr.record);
    }
    for (const Entry& entry : m_entries) {
        if (Result<void> added = addEntry(out.get(), entry); !added)
            return std::move(added).failure();
    }
    if (zip_close(out.get()) != 0) {
        // The file's own failure (a full disk) says more than libzip's "Write error".
        const Failure failure
            = target.failure() ? *target.failure() : zipFailure(zip_get_error(out.get()));
        return failure.within(u"cannot write zip"_s);
    }
    out.release(); // closed and freed by zip_close
    return {};
}

Result<void> XlsxPackage::save()
{
    const QString path = fileToReplace(m_path);
    const Result<void> replaced
        = ReplaceFileAtomically(path, temporaryPath(path), [this](QFile& file) {
              ZipFileTarget target(file);
              return buildArchive(target);
          });
    if (!replaced)
        return replaced;
    // Unchanged parts of the next save are copied from the file just written.
    return reopen();
}

} // namespace zp
