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

const QString ProgramDescription
    = u"Копирует каталог Zavrinello из магазина Tolmari в Zavrinello.xlsx, картинки —\n"
      u"в папку Images рядом с ним.\n\n"
      u"Папка файлов: заданная параметром --folder; иначе папка программы, если\n"
      u"в ней уже есть Zavrinello.xlsx или если в неё можно писать и программа\n"
      u"не установлена в систему; иначе папка документов пользователя + /Zavrinello\n"
      u"(обычно ~/Documents/Zavrinello), она создаётся при необходимости."_s;

// The options this program takes.
struct Options {
    QCommandLineOption folder;
    QCommandLineOption headless;
    QCommandLineOption connections;
    QCommandLineOption retries;
    QCommandLineOption skipFailed;
    QCommandLineOption help;
    QCommandLineOption version;

    // In the order the help lists them.
    void addTo(QCommandLineParser& parser) const
    {
        for (const QCommandLineOption* option :
            { &folder, &headless, &connections, &retries, &skipFailed, &help, &version })
            parser.addOption(*option);
    }
};

Options DeclareOptions()
{
    return Options {
        .folder = QCommandLineOption(u"folder"_s,
            u"Хранить Zavrinello.xlsx и Images в папке <папка> (создаётся при необходимости)."_s,
            u"папка"_s),
        .headless
        = QCommandLineOption(u"headless"_s, u"Выполнить одну загрузку без окна и выйти."_s),
        .connections = QCommandLineOption(u"connections"_s,
            u"Сколько запросов к сайту выполнять одновременно (%1-%2, по умолчанию %3)."_s
                .arg(RunNetwork::kMinConnections)
                .arg(RunNetwork::kMaxConnections)
                .arg(RunNetwork::kDefaultConnections),
            u"N"_s),
        .retries = QCommandLineOption(u"retries"_s,
            u"Без терминала: сколько раз повторить запрос недоступной страницы, прежде чем "
            u"ответить «нет» (по умолчанию %1, через 1, 2, 4 … с)."_s.arg(
                CommandLine::DefaultRetries),
            u"N"_s),
        .skipFailed = QCommandLineOption(u"skip-failed-products"_s,
            u"Пропускать товар, страница которого недоступна и после повторов, вместо остановки."_s),
        // Not addHelpOption(): its --help-all lists Qt's own options, which
        // this program does not take.
        .help = QCommandLineOption({ u"h"_s, u"help"_s }, u"Показать эту справку и выйти."_s),
        .version = QCommandLineOption({ u"v"_s, u"version"_s }, u"Показать версию и выйти."_s),
    };
}

// The help text without its final line break (the caller adds its own).
QString Usage(const QCommandLineParser& parser)
{
    return parser.helpText().trimmed();
}

// Reads option into value when it is given; false when it is then not a whole
// number from min to max.
bool ReadNumber(const QCommandLineParser& parser, const QCommandLineOption& option, int min,
    int max, int& value)
{
    if (!parser.isSet(option))
        return true;
    bool ok = false;
    value = parser.value(option).toInt(&ok);
    return ok && value >= min && value <= max;
}

// error followed by the bounds the number must keep.
QString OutOfBounds(const QString& error, int min, int max)
{
    return error + u" (нужно от %1 до %2)"_s.arg(min).arg(max);
}

// Reads the numbers and switches into result; the error for the first number
// out of bounds, empty when there is none.
QString ReadSettings(const QCommandLineParser& parser, const Options& options, CommandLine& result)
{
    const bool connectionsOk = ReadNumber(parser, options.connections, RunNetwork::kMinConnections,
        RunNetwork::kMaxConnections, result.connections);
    const bool retriesOk
        = ReadNumber(parser, options.retries, 0, CommandLine::MaxRetries, result.retries);
    result.skipFailedProducts = parser.isSet(options.skipFailed);
    if (!connectionsOk)
        return OutOfBounds(u"Неверное число соединений: "_s + parser.value(options.connections),
            RunNetwork::kMinConnections, RunNetwork::kMaxConnections);
    if (!retriesOk)
        return OutOfBounds(u"Неверное число повторов: "_s + parser.value(options.retries), 0,
            CommandLine::MaxRetries);
    return {};
}

// The parser's complaint, in the program's own words for the common errors.
QString ParserError(const QCommandLineParser& parser)
{
    if (!parser.unknownOptionNames().isEmpty())
        return u"Неизвестный параметр: "_s + parser.unknownOptionNames().join(u", "_s);
    if (!parser.errorText().isEmpty())
        return parser.errorText();
    return u"Неизвестный аргумент: "_s + parser.positionalArguments().join(u' ');
}

// The mode the switches ask for, with its text; the window when none does.
void ChooseMode(const QCommandLineParser& parser, const Options& options, CommandLine& result)
{
    if (parser.isSet(options.help)) {
        result.mode = CommandLine::Mode::Help;
        result.text = Usage(parser);
    } else if (parser.isSet(options.version)) {
        result.mode = CommandLine::Mode::Version;
        result.text = u"zavrinello-parser "_s + QString::fromLatin1(ProgramVersion);
    } else if (parser.isSet(options.headless)) {
        result.mode = CommandLine::Mode::Headless;
    }
}

} // namespace

CommandLine ParseCommandLine(const QStringList& arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(ProgramDescription);
    const Options options = DeclareOptions();
    options.addTo(parser);
    CommandLine result;
    const bool parsed = parser.parse(withoutQtOptions(arguments));
    QString error = parsed ? ReadSettings(parser, options, result) : QString();
    if (error.isEmpty() && (!parsed || !parser.positionalArguments().isEmpty()))
        error = ParserError(parser);
    if (error.isEmpty()) {
        ChooseMode(parser, options, result);
    } else {
        result.mode = CommandLine::Mode::UsageError;
        result.text = error + u"\n\n"_s + Usage(parser);
    }
    result.folder = parser.value(options.folder);
    return result;
}

} // namespace zp
