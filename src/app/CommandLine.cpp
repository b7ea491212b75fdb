#include "app/CommandLine.h"

#include "app/BuildConfig.h"

#include <QCommandLineParser>

using namespace Qt::Literals::StringLiterals;

namespace zp {

namespace {

// The options QGuiApplication and QApplication take out of the arguments,
// with one dash or two; "-style=x" and "-stylesheet=x" carry their value.
const QStringList QtOptionsWithValue { u"platform"_s, u"platformpluginpath"_s, u"platformtheme"_s,
    u"plugin"_s, u"qwindowgeometry"_s, u"qwindowicon"_s, u"qwindowtitle"_s, u"session"_s,
    u"display"_s, u"geometry"_s, u"style"_s, u"stylesheet"_s, u"name"_s, u"title"_s };
const QStringList QtFlags { u"reverse"_s, u"widgetcount"_s, u"nograb"_s, u"dograb"_s, u"sync"_s };

QStringList withoutQtOptions(const QStringList& arguments)
{
    QStringList rest;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString& argument = arguments[i];
        const bool dashed = i > 0 && argument.startsWith(u'-');
        const QString name = argument.mid(argument.startsWith(u"--"_s) ? 2 : 1);
        if (dashed && QtOptionsWithValue.contains(name) && i + 1 < arguments.size()) {
            ++i; // its value
            continue;
        }
        if (dashed
            && (QtFlags.contains(name) || name.startsWith(u"style="_s)
                || name.startsWith(u"stylesheet="_s) || name.startsWith(u"qmljsdebugger="_s)))
            continue;
        rest << argument;
    }
    return rest;
}

} // namespace

CommandLine ParseCommandLine(const QStringList& arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(
        u"Копирует каталог Zavrinello из магазина Tolmari в Zavrinello.xlsx, картинки —\n"
        u"в папку Images рядом с ним.\n\n"
        u"Папка файлов: заданная параметром --folder; иначе папка программы, если\n"
        u"в ней уже есть Zavrinello.xlsx или если в неё можно писать и программа\n"
        u"не установлена в систему; иначе папка документов пользователя + /Zavrinello\n"
        u"(обычно ~/Documents/Zavrinello), она создаётся при необходимости."_s);
    const QCommandLineOption folder(u"folder"_s,
        u"Хранить Zavrinello.xlsx и Images в папке <папка> (создаётся при необходимости)."_s,
        u"папка"_s);
    parser.addOption(folder);
    const QCommandLineOption headless(
        u"headless"_s, u"Выполнить одну загрузку без окна и выйти."_s);
    parser.addOption(headless);
    const QCommandLineOption connections(u"connections"_s,
        u"Сколько запросов к сайту выполнять одновременно (%1-%2, по умолчанию %3)."_s
            .arg(RunNetwork::kMinConnections)
            .arg(RunNetwork::kMaxConnections)
            .arg(RunNetwork::kDefaultConnections),
        u"N"_s);
    parser.addOption(connections);
    const QCommandLineOption retries(u"retries"_s,
        u"Без терминала: сколько раз повторить запрос недоступной страницы, прежде чем "
        u"ответить «нет» (по умолчанию %1, через 1, 2, 4 … с)."_s.arg(CommandLine::DefaultRetries),
        u"N"_s);
    parser.addOption(retries);
    const QCommandLineOption skipFailed(u"skip-failed-products"_s,
        u"Пропускать товар, страница которого недоступна и после повторов, вместо остановки."_s);
    parser.addOption(skipFailed);
    // Not addHelpOption(): its --help-all lists Qt's own options, which this
    // program does not take.
    const QCommandLineOption help({ u"h"_s, u"help"_s }, u"Показать эту справку и выйти."_s);
    parser.addOption(help);
    const QCommandLineOption version({ u"v"_s, u"version"_s }, u"Показать версию и выйти."_s);
    parser.addOption(version);

    // helpText() ends with a line break; the caller adds its own.
    const QString usage = parser.helpText().trimmed();
    CommandLine result;
    bool countOk = true;
    bool retriesOk = true;
    const QStringList ownArguments = withoutQtOptions(arguments);
    if (parser.parse(ownArguments)) {
        if (parser.isSet(connections)) {
            result.connections = parser.value(connections).toInt(&countOk);
            countOk = countOk && result.connections >= RunNetwork::kMinConnections
                && result.connections <= RunNetwork::kMaxConnections;
        }
        if (parser.isSet(retries)) {
            result.retries = parser.value(retries).toInt(&retriesOk);
            retriesOk
                = retriesOk && result.retries >= 0 && result.retries <= CommandLine::MaxRetries;
        }
        result.skipFailedProducts = parser.isSet(skipFailed);
    }
    if (!countOk || !retriesOk) {
        result.mode = CommandLine::Mode::UsageError;
        result.text = (countOk ? u"Неверное число повторов: "_s + parser.value(retries)
                                  + u" (нужно от 0 до %1)"_s.arg(CommandLine::MaxRetries)
                               : u"Неверное число соединений: "_s + parser.value(connections)
                                  + u" (нужно от %1 до %2)"_s.arg(RunNetwork::kMinConnections)
                                        .arg(RunNetwork::kMaxConnections))
            + u"\n\n"_s + usage;
    } else if (!parser.parse(ownArguments) || !parser.positionalArguments().isEmpty()) {
        // The program's own words for the common errors.
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
    result.folder = parser.value(folder);
    return result;
}

} // namespace zp
