// A whole .xlsx file as another program (or an attacker) may have written it:
// zip, content types, relationships, shared strings, styles and the sheet.
// An opened workbook is read, gets one product row and is saved and opened
// again, as a run does.
//
// Inputs starting with "PK" are the file itself. Any other input lists the
// package's parts as "=name\n" lines each followed by the part's text; they
// are zipped (stored, correct checksums) before the open, so that mutations
// reach the XML readers instead of failing the zip checksum.
#include "workbook/WorkbookLayout.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <zip.h>

namespace {

// On tmpfs when there is one: every save flushes the file to disk.
QTemporaryDir& workFolder()
{
    static QTemporaryDir folder(QDir(QStringLiteral("/dev/shm")).exists()
            ? QStringLiteral("/dev/shm/zp-fuzz-XXXXXX")
            : QDir::tempPath() + QStringLiteral("/zp-fuzz-XXXXXX"));
    return folder;
}

bool writeParts(const QString& path, const QByteArray& input)
{
    QFile::remove(path);
    int error = 0;
    zip_t* archive
        = zip_open(QFile::encodeName(path).constData(), ZIP_CREATE | ZIP_TRUNCATE, &error);
    if (!archive)
        return false;
    // The part texts are borrowed by libzip until the archive is closed.
    const QList<QByteArray> parts = input.split('=');
    for (const QByteArray& part : parts) {
        const qsizetype newline = part.indexOf('\n');
        if (newline <= 0)
            continue;
        const QByteArray name = part.left(newline);
        zip_source_t* source = zip_source_buffer(
            archive, part.constData() + newline + 1, zip_uint64_t(part.size() - newline - 1), 0);
        if (!source)
            continue;
        const zip_int64_t index = zip_file_add(archive, name.constData(), source, ZIP_FL_ENC_UTF_8);
        if (index < 0)
            zip_source_free(source);
        else
            zip_set_file_compression(archive, zip_uint64_t(index), ZIP_CM_STORE, 0);
    }
    return zip_close(archive) == 0 || (zip_discard(archive), false);
}

void appendProduct(zp::WorkbookLayout& layout)
{
    const int row = layout.findNextRow();
    layout.isStored(QStringLiteral("http://127.0.0.1/p/1"), QStringLiteral("1"));
    layout.cellText(1, zp::WorkbookLayout::CheckColumn);
    layout.linkAddress(row > 2 ? row - 1 : 2, 1);
    if (!layout.checkLayout())
        return;
    layout.writeCell(row, 1, QStringLiteral("ZV-1_x0041_"));
    layout.linkCell(row, 1, QStringLiteral("http://127.0.0.1/p/1"));
    const int column = layout.propertyColumn(QStringLiteral("Paino"));
    if (column > 0)
        layout.writeCell(row, column, QStringLiteral("1 kg"));
    if (layout.save()) {
        if (!zp::WorkbookLayout::open(layout.filePath()))
            std::abort(); // a workbook we saved must open again
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QString path = workFolder().filePath(zp::WorkbookLayout::FileName);
    const QByteArray input
        = QByteArray::fromRawData(reinterpret_cast<const char*>(data), qsizetype(size));
    if (!input.startsWith("PK")) {
        if (!writeParts(path, input))
            return 0;
    } else {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            std::abort();
        file.write(input);
    }
    const auto layout = zp::WorkbookLayout::open(path);
    if (layout)
        appendProduct(**layout);
    else if (layout.error().isEmpty())
        std::abort(); // a refusal always says why
    return 0;
}
