#include "app/CommandLine.h"

#include "app/BuildConfig.h"

#include <QCommandLineParser>

using namespace Qt::Literals::StringLiterals;

namespace zp {

CommandLine ParseCommandLine(const QStringList& arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(
        u"Копирует каталог Zavrinello из магазина Tolmari в Zavrinello.xlsx рядом с программой."_s);
    const QCommandLineOption headless(
        u"headless"_s, u"Выполнить одну загрузку без окна и выйти."_s);
    parser.addOption(headless);
    // Not addHelpOption(): its --help-all lists Qt's own options, which this
    // program does not take.
    const QCommandLineOption help({ u"h"_s, u"help"_s }, u"Показать эту справку и выйти."_s);
    parser.addOption(help);
    const QCommandLineOption version({ u"v"_s, u"version"_s }, u"Показать версию и выйти."_s);
    parser.addOption(version);

    // helpText() ends with a line break; the caller adds its own.
    const QString usage = parser.helpText().trimmed();
    CommandLine result;
    if (!parser.parse(arguments) || !parser.positionalArguments().isEmpty()) {
        // Qt's own error texts are English; the common ones are said here.
        QString error = parser.errorText();
        if (!parser.unknownOptionNames().isEmpty())
            error = u"Неизвестный параметр: "_s + parser.unknownOptionNames().join(u", "_s);
        else if (error.isEmpty())
            error = u"Неизвестный аргумент: "_s + parser.positionalArguments().join(u' ');
        result.mode = CommandLine::Mode::UsageError;
        result.text = error + u"\n\n"_s + usage;
    } else if (parser.isSet(help)) {
        result.mode = CommandLine::Mode::Help;
        result.text = usage;
    } else if (parser.isSet(version)) {
        result.mode = CommandLine::Mode::Version;
        result.text = u"zavrinello-parser "_s + QString::fromLatin1(ProgramVersion);
    } else if (parser.isSet(headless)) {
        result.mode = CommandLine::Mode::Headless;
    }
    return result;
}

} // namespace zp
