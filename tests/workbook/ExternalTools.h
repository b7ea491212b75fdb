#pragma once

#include <QJsonObject>
#include <QString>
#include <QStringList>
#include <optional>

namespace zp::test {

// The independent readers the workbook tests check our files with: openpyxl
// (through probe_xlsx.py) and LibreOffice Calc. Empty results mean the tool
// is missing; scripts/install-deps installs both.
class ExternalTools {
public:
    // A Python 3 that can import openpyxl, empty when there is none.
    static QString python();

    // probe_xlsx.py's description of file; nullopt when openpyxl failed to
    // read it (the error is in *error).
    static std::optional<QJsonObject> probe(const QString& file, QString* error);

    // The LibreOffice program, empty when not installed.
    static QString libreOffice();

    // Converts file with LibreOffice into outputFolder with the filter
    // ("csv:...", "xlsx"); returns the path of the result, empty on failure.
    static QString convert(const QString& file, const QString& filter, const QString& extension,
        const QString& outputFolder);

    static QByteArray readFile(const QString& path);

    // Python's zipfile's reading of the zip file: every entry's name with the
    // SHA-256 of its bytes (hex); nullopt when zipfile failed to read it or
    // found an entry damaged (the error is in *error).
    static std::optional<QJsonObject> zipDigests(const QString& file, QString* error);

    // The problems validate-xlsx finds in file (schema, cell order, indexes,
    // relationships), one line each; empty when the file passes. A missing
    // tool or xmllint is a problem too, so that no check passes unchecked.
    static QStringList xlsxProblems(const QString& file);
};

} // namespace zp::test
