#include "ExternalTools.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

using namespace Qt::Literals::StringLiterals;

namespace zp::test {

namespace {

constexpr int ToolTimeoutMs = 240000;

bool run(const QString& program, const QStringList& arguments, QByteArray* out, QByteArray* err)
{
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForFinished(ToolTimeoutMs)) {
        process.kill();
        process.waitForFinished();
        return false;
    }
    if (out)
        *out = process.readAllStandardOutput();
    if (err)
        *err = process.readAllStandardError();
    return process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

} // namespace

QString ExternalTools::python()
{
    static const QString found = [] {
        // Debian's interpreter first: python3-openpyxl installs there, and a
        // python3 earlier on PATH may be another one.
        for (const QString& candidate :
            { u"/usr/bin/python3"_s, QStandardPaths::findExecutable(u"python3"_s) }) {
            if (!candidate.isEmpty() && QFileInfo(candidate).isExecutable()
                && run(candidate, { u"-c"_s, u"import openpyxl"_s }, nullptr, nullptr))
                return candidate;
        }
        return QString();
    }();
    return found;
}

std::optional<QJsonObject> ExternalTools::probe(const QString& file, QString* error)
{
    QByteArray out;
    QByteArray err;
    const QString script = QStringLiteral(ZP_SOURCE_DIR) + u"/tests/workbook/probe_xlsx.py"_s;
    if (!run(python(), { script, file }, &out, &err)) {
        if (error)
            *error = QString::fromUtf8(err);
        return std::nullopt;
    }
    return QJsonDocument::fromJson(out).object();
}

QString ExternalTools::libreOffice()
{
    static const QString found = QStandardPaths::findExecutable(u"libreoffice"_s);
    return found;
}

QString ExternalTools::convert(const QString& file, const QString& filter, const QString& extension,
    const QString& outputFolder)
{
    // A profile of its own, so that a LibreOffice the user (or another test)
    // runs does not take the job over.
    QTemporaryDir profile;
    const QStringList arguments { u"-env:UserInstallation=file://"_s + profile.path(),
        u"--headless"_s, u"--convert-to"_s, filter, u"--outdir"_s, outputFolder, file };
    if (!run(libreOffice(), arguments, nullptr, nullptr))
        return {};
    const QString result
        = QDir(outputFolder).filePath(QFileInfo(file).completeBaseName() + u"."_s + extension);
    return QFileInfo::exists(result) ? result : QString();
}

QStringList ExternalTools::xlsxProblems(const QString& file)
{
    const QString tool = QStringLiteral(ZP_VALIDATE_XLSX);
    if (!QFileInfo(tool).isExecutable())
        return { u"validate-xlsx not found at "_s + tool
            + u" (a copy of shared/ belongs beside the repository)"_s };
    if (QStandardPaths::findExecutable(u"xmllint"_s).isEmpty())
        return { u"xmllint not found (scripts/install-deps installs libxml2-utils)"_s };
    QByteArray out;
    if (run(tool, { file }, &out, nullptr))
        return {};
    QStringList problems;
    for (const QString& line : QString::fromUtf8(out).split(u'\n')) {
        // Problem lines are indented under "FAIL <file>"; the tally is left out.
        if (line.startsWith(u"  "_s))
            problems << line.trimmed();
    }
    if (problems.isEmpty())
        problems << u"validate-xlsx failed: "_s + QString::fromUtf8(out);
    return problems;
}

std::optional<QJsonObject> ExternalTools::zipDigests(const QString& file, QString* error)
{
    static const QString script = uR"(
import hashlib, json, sys, zipfile
with zipfile.ZipFile(sys.argv[1]) as archive:
    damaged = archive.testzip()
    if damaged is not None:
        sys.exit("damaged entry " + damaged)
    print(json.dumps({entry.filename: hashlib.sha256(archive.read(entry)).hexdigest()
                      for entry in archive.infolist()}))
)"_s;
    QByteArray out;
    QByteArray err;
    if (!run(python(), { u"-c"_s, script, file }, &out, &err)) {
        if (error)
            *error = QString::fromUtf8(err);
        return std::nullopt;
    }
    return QJsonDocument::fromJson(out).object();
}

QByteArray ExternalTools::readFile(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

} // namespace zp::test
