#include "workbook/XlsxPackage.h"

#include "util/AtomicFile.h"

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

QString zipErrorText(zip_error_t* error)
{
    return QString::fromLocal8Bit(zip_error_strerror(error));
}

void setError(QString* error, const QString& text)
{
    if (error)
        *error = text;
}

} // namespace

XlsxPackage::XlsxPackage(QString path)
    : m_path(std::move(path))
{
}

XlsxPackage::~XlsxPackage()
{
    if (m_zip)
        zip_discard(m_zip);
}

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

std::unique_ptr<XlsxPackage> XlsxPackage::open(const QString& path, QString* error)
{
    // What a save killed half-way left behind is never the workbook.
    const QString leftover = temporaryPath(fileToReplace(path));
    if (QFileInfo(leftover).isFile())
        QFile::remove(leftover);

    std::unique_ptr<XlsxPackage> package(new XlsxPackage(path));
    if (!package->reopen(error))
        return nullptr;
    return package;
}

std::unique_ptr<XlsxPackage> XlsxPackage::create(const QString& path)
{
    return std::unique_ptr<XlsxPackage>(new XlsxPackage(path));
}

bool XlsxPackage::reopen(QString* error)
{
    int code = 0;
    zip_t* archive
        = zip_open(QFile::encodeName(m_path).constData(), ZIP_RDONLY | ZIP_CHECKCONS, &code);
    if (!archive) {
        zip_error_t zerr;
        zip_error_init_with_code(&zerr, code);
        setError(error, u"not a readable zip file: "_s + zipErrorText(&zerr));
        zip_error_fini(&zerr);
        return false;
    }
    const zip_int64_t count = zip_get_num_entries(archive, 0);
    if (count < 0 || count > MaxEntries) {
        zip_discard(archive);
        setError(error, u"too many zip entries"_s);
        return false;
    }
    std::vector<Entry> entries;
    std::unordered_map<std::string, std::size_t> byName;
    entries.reserve(static_cast<std::size_t>(count));
    for (zip_int64_t i = 0; i < count; ++i) {
        const char* name = zip_get_name(archive, static_cast<zip_uint64_t>(i), ZIP_FL_ENC_GUESS);
        if (!name) {
            zip_discard(archive);
            setError(error, u"unreadable zip entry name"_s);
            return false;
        }
        byName.emplace(lowerAscii(name), entries.size());
        entries.push_back(Entry { name, i, nullptr });
    }
    if (m_zip)
        zip_discard(m_zip);
    m_zip = archive;
    m_entries = std::move(entries);
    m_byName = std::move(byName);
    return true;
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

bool XlsxPackage::readChunks(std::string_view name,
    const std::function<bool(const char*, std::size_t)>& sink, QString* error) const
{
    const Entry* entry = find(name);
    const QString partName = QString::fromUtf8(name.data(), static_cast<qsizetype>(name.size()));
    if (!entry) {
        setError(error, u"missing part "_s + partName);
        return false;
    }
    if (entry->data) {
        if (!sink(entry->data->data(), entry->data->size())) {
            setError(error, u"bad part "_s + partName);
            return false;
        }
        return true;
    }
    zip_stat_t st;
    zip_stat_init(&st);
    if (zip_stat_index(m_zip, static_cast<zip_uint64_t>(entry->sourceIndex), 0, &st) != 0
        || !(st.valid & ZIP_STAT_SIZE) || st.size > MaxPartSize) {
        setError(error, u"part too large or unreadable: "_s + partName);
        return false;
    }
    zip_file_t* file = zip_fopen_index(m_zip, static_cast<zip_uint64_t>(entry->sourceIndex), 0);
    if (!file) {
        setError(error,
            u"cannot read part "_s + partName + u": "_s + zipErrorText(zip_get_error(m_zip)));
        return false;
    }
    std::vector<char> buffer(256 * 1024);
    std::size_t total = 0;
    bool ok = true;
    for (;;) {
        const zip_int64_t n = zip_fread(file, buffer.data(), buffer.size());
        if (n < 0) {
            setError(error,
                u"damaged part "_s + partName + u": "_s + zipErrorText(zip_file_get_error(file)));
            ok = false;
            break;
        }
        if (n == 0)
            break;
        total += static_cast<std::size_t>(n);
        if (total > MaxPartSize) {
            setError(error, u"part too large: "_s + partName);
            ok = false;
            break;
        }
        if (!sink(buffer.data(), static_cast<std::size_t>(n))) {
            setError(error, u"bad part "_s + partName);
            ok = false;
            break;
        }
    }
    zip_fclose(file);
    return ok;
}

std::optional<std::string> XlsxPackage::read(std::string_view name, QString* error) const
{
    std::string data;
    if (const Entry* entry = find(name); entry && !entry->data) {
        zip_stat_t st;
        zip_stat_init(&st);
        if (zip_stat_index(m_zip, static_cast<zip_uint64_t>(entry->sourceIndex), 0, &st) == 0
            && (st.valid & ZIP_STAT_SIZE) && st.size <= MaxPartSize)
            data.reserve(static_cast<std::size_t>(st.size));
    } else if (entry) {
        return *entry->data;
    }
    const bool ok = readChunks(
        name,
        [&data](const char* chunk, std::size_t size) {
            data.append(chunk, size);
            return true;
        },
        error);
    if (!ok)
        return std::nullopt;
    return data;
}

void XlsxPackage::write(std::string_view name, std::string data)
{
    write(name, std::make_shared<const std::string>(std::move(data)));
}

void XlsxPackage::write(std::string_view name, std::shared_ptr<const std::string> data)
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

std::optional<std::string> XlsxPackage::buildArchive(QString* error)
{
    zip_error_t zerr;
    zip_error_init(&zerr);
    zip_source_t* buffer = zip_source_buffer_create(nullptr, 0, 0, &zerr);
    if (!buffer) {
        setError(error, zipErrorText(&zerr));
        zip_error_fini(&zerr);
        return std::nullopt;
    }
    zip_t* out = zip_open_from_source(buffer, ZIP_TRUNCATE, &zerr);
    if (!out) {
        setError(error, zipErrorText(&zerr));
        zip_source_free(buffer);
        zip_error_fini(&zerr);
        return std::nullopt;
    }
    zip_error_fini(&zerr);

    auto fail = [&](const QString& text) -> std::optional<std::string> {
        setError(error, text + u": "_s + zipErrorText(zip_get_error(out)));
        zip_discard(out);
        return std::nullopt;
    };

    for (const Entry& entry : m_entries) {
        zip_source_t* source = nullptr;
        zip_int32_t method = ZIP_CM_DEFLATE;
        zip_uint32_t level = 6;
        if (entry.data) {
            // Sizes are known up front, so libzip writes no Zip64 extra field.
            source = zip_source_buffer(out, entry.data->data(), entry.data->size(), 0);
            // The big worksheet is written on every save; a light level keeps
            // saving fast at little cost in size.
            level = entry.data->size() > 1024 * 1024 ? 1 : 6;
        } else {
            zip_stat_t st;
            zip_stat_init(&st);
            if (zip_stat_index(m_zip, static_cast<zip_uint64_t>(entry.sourceIndex), 0, &st) != 0)
                return fail(u"cannot stat part"_s);
            method = (st.valid & ZIP_STAT_COMP_METHOD) ? static_cast<zip_int32_t>(st.comp_method)
                                                       : ZIP_CM_DEFLATE;
            source = zip_source_zip(
                out, m_zip, static_cast<zip_uint64_t>(entry.sourceIndex), ZIP_FL_COMPRESSED, 0, -1);
        }
        if (!source)
            return fail(u"cannot add part"_s);
        const zip_int64_t index = zip_file_add(out, entry.name.c_str(), source, ZIP_FL_ENC_UTF_8);
        if (index < 0) {
            zip_source_free(source);
            return fail(u"cannot add part"_s);
        }
        if (zip_set_file_compression(
                out, static_cast<zip_uint64_t>(index), method, entry.data ? level : 0)
            != 0)
            return fail(u"cannot set compression"_s);
    }

    zip_source_keep(buffer);
    if (zip_close(out) != 0) {
        const QString text = zipErrorText(zip_get_error(out));
        zip_discard(out);
        zip_source_free(buffer);
        setError(error, u"cannot write zip: "_s + text);
        return std::nullopt;
    }

    std::string bytes;
    bool ok = zip_source_open(buffer) == 0;
    if (ok) {
        ok = zip_source_seek(buffer, 0, SEEK_END) == 0;
        const zip_int64_t size = ok ? zip_source_tell(buffer) : -1;
        ok = ok && size >= 0 && zip_source_seek(buffer, 0, SEEK_SET) == 0;
        if (ok) {
            bytes.resize(static_cast<std::size_t>(size));
            ok = zip_source_read(buffer, bytes.data(), static_cast<zip_uint64_t>(size)) == size;
        }
        zip_source_close(buffer);
    }
    zip_source_free(buffer);
    if (!ok) {
        setError(error, u"cannot read the zip back"_s);
        return std::nullopt;
    }
    return bytes;
}

QString XlsxPackage::uncopyablePart() const
{
    for (const Entry& entry : m_entries) {
        if (entry.data || !m_zip)
            continue;
        zip_stat_t st;
        zip_stat_init(&st);
        if (zip_stat_index(m_zip, static_cast<zip_uint64_t>(entry.sourceIndex), 0, &st) != 0)
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

XlsxPackage::SaveTrial XlsxPackage::trySave(QString* detail)
{
    if (const QString part = uncopyablePart(); !part.isEmpty()) {
        setError(detail, part);
        return SaveTrial::PartNotCopyable;
    }
    std::optional<std::string> bytes = buildArchive(detail);
    if (!bytes)
        return SaveTrial::PartNotCopyable;
    const QString temporary = temporaryPath(fileToReplace(m_path));
    const bool written = WriteFileDurably(
        temporary, QByteArrayView(bytes->data(), qsizetype(bytes->size())), detail);
    QFile::remove(temporary);
    return written ? SaveTrial::Savable : SaveTrial::NotWritable;
}

bool XlsxPackage::save(QString* error)
{
    std::optional<std::string> bytes = buildArchive(error);
    if (!bytes)
        return false;

    const QString target = fileToReplace(m_path);
    if (!ReplaceFileAtomically(target, temporaryPath(target),
            QByteArrayView(bytes->data(), qsizetype(bytes->size())), error))
        return false;
    bytes.reset();

    // Unchanged parts of the next save are copied from the file just written.
    if (!reopen(error))
        return false;
    return true;
}

} // namespace zp
