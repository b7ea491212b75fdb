// The program's command line: the mode it asks for and the text it prints.

#include "app/CommandLine.h"

#include <gtest/gtest.h>

using namespace Qt::Literals::StringLiterals;

namespace zp::test {
namespace {

struct CommandCase {
    const char* name;
    QStringList arguments;
    CommandLine::Mode mode;
    QStringList textContains;
};

class ParseCommandLineTest : public ::testing::TestWithParam<CommandCase> { };

TEST_P(ParseCommandLineTest, ModeAndText)
{
    const CommandCase& c = GetParam();
    const CommandLine command
        = ParseCommandLine(QStringList { u"zavrinello-parser"_s } + c.arguments);
    EXPECT_EQ(command.mode, c.mode);
    for (const QString& part : c.textContains)
        EXPECT_TRUE(command.text.contains(part))
            << command.text.toStdString() << "\n  lacks " << part.toStdString();
    if (c.textContains.isEmpty()) {
        EXPECT_TRUE(command.text.isEmpty()) << command.text.toStdString();
    }
}

INSTANTIATE_TEST_SUITE_P(Arguments, ParseCommandLineTest,
    ::testing::Values(CommandCase { "none", {}, CommandLine::Mode::Window, {} },
        CommandCase { "headless", { u"--headless"_s }, CommandLine::Mode::Headless, {} },
        CommandCase { "help", { u"--help"_s }, CommandLine::Mode::Help,
            { u"Usage:"_s, u"--headless"_s, u"--version"_s } },
        CommandCase { "helpShort", { u"-h"_s }, CommandLine::Mode::Help, { u"--headless"_s } },
        CommandCase { "helpWinsOverHeadless", { u"--headless"_s, u"--help"_s },
            CommandLine::Mode::Help, { u"--headless"_s } },
        CommandCase { "version", { u"--version"_s }, CommandLine::Mode::Version,
            { u"zavrinello-parser 1."_s } },
        CommandCase {
            "versionShort", { u"-v"_s }, CommandLine::Mode::Version, { u"zavrinello-parser "_s } },
        CommandCase { "unknownOption", { u"--frobnicate"_s }, CommandLine::Mode::UsageError,
            { u"frobnicate"_s, u"Usage:"_s, u"--headless"_s } },
        CommandCase { "unknownWithHeadless", { u"--headless"_s, u"-x"_s },
            CommandLine::Mode::UsageError, { u"x"_s, u"Usage:"_s } },
        CommandCase { "positional", { u"book.xlsx"_s }, CommandLine::Mode::UsageError,
            { u"book.xlsx"_s, u"Usage:"_s } },
        CommandCase { "positionalAfterHeadless", { u"--headless"_s, u"a"_s, u"b"_s },
            CommandLine::Mode::UsageError, { u"a b"_s, u"Usage:"_s } },
        CommandCase { "helpAllIsNotOffered", { u"--help-all"_s }, CommandLine::Mode::UsageError,
            { u"help-all"_s, u"Usage:"_s } },
        CommandCase { "valueForAFlag", { u"--headless=yes"_s }, CommandLine::Mode::UsageError,
            { u"headless"_s, u"Usage:"_s } },
        // Qt's own arguments are left to Qt's application object.
        CommandCase { "qtArgumentsOpenTheWindow",
            { u"-platform"_s, u"offscreen"_s, u"-style=Fusion"_s, u"-session"_s, u"1a2b"_s,
                u"--reverse"_s },
            CommandLine::Mode::Window, {} },
        CommandCase { "qtArgumentsBesideHeadless", { u"-style"_s, u"Fusion"_s, u"--headless"_s },
            CommandLine::Mode::Headless, {} },
        CommandCase { "unknownBesideQtArguments", { u"-platform"_s, u"xcb"_s, u"--frobnicate"_s },
            CommandLine::Mode::UsageError, { u"frobnicate"_s, u"Usage:"_s } },
        CommandCase { "folderWithoutItsValue", { u"--folder"_s }, CommandLine::Mode::UsageError,
            { u"folder"_s, u"Usage:"_s } }),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ParseCommandLine, UsageErrorTextStartsWithTheErrorAndEndsWithOneLineBreakAtMost)
{
    const CommandLine command = ParseCommandLine({ u"zavrinello-parser"_s, u"--nope"_s });
    EXPECT_TRUE(command.text.startsWith(u"Неизвестный параметр: nope\n"_s))
        << command.text.toStdString();
    EXPECT_FALSE(command.text.endsWith(u"\n"_s));
    const CommandLine help = ParseCommandLine({ u"zavrinello-parser"_s, u"--help"_s });
    EXPECT_FALSE(help.text.endsWith(u"\n"_s));
    EXPECT_FALSE(help.text.contains(u"help-all"_s)) << help.text.toStdString();
}

TEST(ParseCommandLine, FolderGoesWithTheWindowAndHeadlessAlike)
{
    EXPECT_EQ(
        ParseCommandLine({ u"zavrinello-parser"_s, u"--folder"_s, u"a b"_s }).folder, u"a b"_s);
    const CommandLine headless
        = ParseCommandLine({ u"zavrinello-parser"_s, u"--headless"_s, u"--folder=/srv/x"_s });
    EXPECT_EQ(headless.mode, CommandLine::Mode::Headless);
    EXPECT_EQ(headless.folder, u"/srv/x"_s);
    EXPECT_TRUE(ParseCommandLine({ u"zavrinello-parser"_s }).folder.isEmpty());
}

} // namespace
} // namespace zp::test
