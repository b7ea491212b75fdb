#include "gui/Form1.h"

#include <QApplication>
#include <QFontInfo>
#include <QFontMetrics>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QSignalSpy>
#include <QStyleOptionButton>
#include <cmath>
#include <gtest/gtest.h>
#include <iostream>
#include <memory>

using namespace Qt::Literals::StringLiterals;

namespace zp {
namespace {

struct ControlLayout {
    const char* name;
    bool isButton;
    QString caption;
    int left, top, width, height; // twips
    bool bold;
    int tabIndex;
    QStringList laterTexts; // texts the run writes into the control later

    friend void PrintTo(const ControlLayout& layout, std::ostream* os) { *os << layout.name; }
};

// The window's controls in their order of creation.
const std::vector<ControlLayout>& controlLayouts()
{
    static const std::vector<ControlLayout> layouts = {
        { "Command1", true, u"Старт"_s, 8265, 600, 1665, 420, true, 0, { u"Стоп"_s } },
        { "Label3", false, u"Загружено:"_s, 90, 720, 945, 285, false, 4, {} },
        { "Label2", false, u"0"_s, 1020, 735, 1110, 315, false, 3, { u"1"_s, u"9999999"_s } },
        { "Label1", false, u"00:00:00"_s, 2280, 735, 1155, 255, false, 2, { u"23:59:59"_s } },
        { "lblCV", false, u"Прогресс:"_s, 90, 135, 9870, 435, true, 1,
            { u"Подключение к Excel"_s, u"Открытие файла Excel ..."_s } },
    };
    return layouts;
}

int px(int twips, qreal dpi)
{
    return qRound(twips * dpi / 1440.0);
}

class Form1Test : public ::testing::Test {
protected:
    void SetUp() override { form = std::make_unique<Form1>(); }

    QWidget* control(const char* name) const
    {
        return form->findChild<QWidget*>(QString::fromLatin1(name), Qt::FindDirectChildrenOnly);
    }

    std::unique_ptr<Form1> form;
};

TEST_F(Form1Test, CaptionAndClientSizeInPixelsAtLogicalDpi)
{
    EXPECT_EQ(form->windowTitle(), u"Парсер Tolmari- v.1.0"_s);
    const QSize client(px(10095, form->logicalDpiX()), px(1110, form->logicalDpiY()));
    EXPECT_EQ(form->size(), client);
    EXPECT_EQ(form->minimumSize(), client);
    EXPECT_EQ(form->maximumSize(), client);
}

TEST(Form1Twips, ConvertsAtTheGivenDpi)
{
    EXPECT_EQ(Form1::twipsToPixels(10095, 96), 673);
    EXPECT_EQ(Form1::twipsToPixels(1110, 96), 74);
    EXPECT_EQ(Form1::twipsToPixels(1440, 120), 120);
    EXPECT_EQ(Form1::twipsToPixels(945, 144), 95); // 94.5 rounds up
    EXPECT_EQ(Form1::twipsToPixels(10095, 192), 1346);
    EXPECT_EQ(Form1::twipsToPixels(0, 96), 0);
}

TEST_F(Form1Test, HasNoMinimiseOrMaximiseButton)
{
    const Qt::WindowFlags flags = form->windowFlags();
    EXPECT_TRUE(form->isWindow());
    EXPECT_FALSE(flags.testFlag(Qt::WindowMinimizeButtonHint));
    EXPECT_FALSE(flags.testFlag(Qt::WindowMaximizeButtonHint));
    EXPECT_TRUE(flags.testFlag(Qt::WindowCloseButtonHint));
    EXPECT_TRUE(flags.testFlag(Qt::WindowTitleHint));
    EXPECT_TRUE(flags.testFlag(Qt::CustomizeWindowHint));
}

TEST_F(Form1Test, CentredOnItsScreen)
{
    const QPoint centre = form->screen()->availableGeometry().center();
    EXPECT_LE(std::abs(form->geometry().center().x() - centre.x()), 1);
    EXPECT_LE(std::abs(form->geometry().center().y() - centre.y()), 1);
}

TEST_F(Form1Test, ControlsInOrderOfCreation)
{
    QStringList names;
    for (QObject* child : form->children())
        if (child->isWidgetType())
            names.append(child->objectName());
    EXPECT_EQ(
        names, (QStringList { u"Command1"_s, u"Label3"_s, u"Label2"_s, u"Label1"_s, u"lblCV"_s }));
}

TEST_F(Form1Test, FocusChainFollowsTabIndexAndLabelsStayUnfocusable)
{
    QStringList byTabIndex(5);
    for (const ControlLayout& layout : controlLayouts())
        byTabIndex[layout.tabIndex] = QString::fromLatin1(layout.name);

    QStringList chain;
    QWidget* w = control("Command1");
    for (int i = 0; i < 5 && w; ++i, w = w->nextInFocusChain())
        chain.append(w->objectName());
    EXPECT_EQ(chain, byTabIndex);
    EXPECT_EQ(w, form.get()); // the chain closes through the window

    EXPECT_EQ(control("Command1")->focusPolicy(), Qt::StrongFocus);
    for (const char* label : { "Label1", "Label2", "Label3", "lblCV" })
        EXPECT_EQ(control(label)->focusPolicy(), Qt::NoFocus) << label;
}

class Form1ControlTest : public Form1Test, public ::testing::WithParamInterface<ControlLayout> { };

TEST_P(Form1ControlTest, CaptionGeometryAndFont)
{
    const ControlLayout& layout = GetParam();
    QWidget* w = control(layout.name);
    ASSERT_NE(w, nullptr);
    ASSERT_EQ(qobject_cast<QPushButton*>(w) != nullptr, layout.isButton);

    const QString text
        = layout.isButton ? static_cast<QPushButton*>(w)->text() : static_cast<QLabel*>(w)->text();
    EXPECT_EQ(text, layout.caption);

    const qreal dpiX = form->logicalDpiX();
    const qreal dpiY = form->logicalDpiY();
    EXPECT_EQ(w->geometry(),
        QRect(px(layout.left, dpiX), px(layout.top, dpiY), px(layout.width, dpiX),
            px(layout.height, dpiY)));

    EXPECT_DOUBLE_EQ(w->font().pointSizeF(), 8.25);
    EXPECT_EQ(w->font().weight(), layout.bold ? 700 : 400);
    EXPECT_EQ(QFontInfo(w->font()).bold(), layout.bold);
}

// Every text the control shows must fit its box in the font actually chosen on
// this machine (the fallback for MS Sans Serif decides this).
TEST_P(Form1ControlTest, CaptionsFitTheirBox)
{
    const ControlLayout& layout = GetParam();
    QWidget* w = control(layout.name);
    ASSERT_NE(w, nullptr);

    QRect box = w->contentsRect();
    if (auto* button = qobject_cast<QPushButton*>(w)) {
        QStyleOptionButton option;
        option.initFrom(button);
        option.text = button->text();
        box = button->style()->subElementRect(QStyle::SE_PushButtonContents, &option, button);
    } else {
        const auto* label = static_cast<QLabel*>(w);
        const int indent = label->indent() > 0 ? label->indent() : 0;
        box.adjust(label->margin() + indent, label->margin(), -label->margin(), -label->margin());
    }

    const QFontMetrics metrics(w->font());
    QStringList texts { layout.caption };
    texts += layout.laterTexts;
    for (const QString& text : texts) {
        const int width = metrics.horizontalAdvance(text);
        std::cout << layout.name << " \"" << text.toStdString() << "\" " << width << " px of "
                  << box.width() << " px wide, " << metrics.height() << " px of " << box.height()
                  << " px high (" << QFontInfo(w->font()).family().toStdString() << ")\n";
        EXPECT_LE(width, box.width()) << text.toStdString();
        EXPECT_LE(metrics.height(), box.height()) << text.toStdString();
    }
}

INSTANTIATE_TEST_SUITE_P(Controls, Form1ControlTest, ::testing::ValuesIn(controlLayouts()),
    [](const auto& info) { return std::string(info.param.name); });

struct ViewCase {
    const char* name;
    void (RunView::*setter)(const QString&);
    const char* control;

    friend void PrintTo(const ViewCase& c, std::ostream* os) { *os << c.name; }
};

class Form1ViewTest : public Form1Test, public ::testing::WithParamInterface<ViewCase> { };

TEST_P(Form1ViewTest, SetterReachesItsControlOnly)
{
    const ViewCase& c = GetParam();
    RunView& view = *form;
    (view.*c.setter)(u"Стоп 12"_s);

    for (const ControlLayout& layout : controlLayouts()) {
        QWidget* w = control(layout.name);
        const QString text = layout.isButton ? static_cast<QPushButton*>(w)->text()
                                             : static_cast<QLabel*>(w)->text();
        if (std::string_view(layout.name) == c.control)
            EXPECT_EQ(text, u"Стоп 12"_s) << layout.name;
        else
            EXPECT_EQ(text, layout.caption) << layout.name;
    }
}

INSTANTIATE_TEST_SUITE_P(Setters, Form1ViewTest,
    ::testing::Values(ViewCase { "ButtonCaption", &RunView::setButtonCaption, "Command1" },
        ViewCase { "StatusText", &RunView::setStatusText, "lblCV" },
        ViewCase { "ElapsedText", &RunView::setElapsedText, "Label1" },
        ViewCase { "CounterText", &RunView::setCounterText, "Label2" }),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(Form1Test, CounterTextReadsTheCounterLabel)
{
    const RunView& view = *form;
    EXPECT_EQ(view.counterText(), u"0"_s);
    static_cast<QLabel*>(control("Label2"))->setText(u"41"_s);
    EXPECT_EQ(view.counterText(), u"41"_s);
}

TEST_F(Form1Test, ClickOnlyEmitsStartStopClicked)
{
    QSignalSpy clicks(form.get(), &Form1::startStopClicked);
    form->show();
    static_cast<QPushButton*>(control("Command1"))->click();
    static_cast<QPushButton*>(control("Command1"))->click();

    EXPECT_EQ(clicks.count(), 2);
    EXPECT_EQ(static_cast<QPushButton*>(control("Command1"))->text(), u"Старт"_s);
    EXPECT_EQ(static_cast<QLabel*>(control("lblCV"))->text(), u"Прогресс:"_s);
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    EXPECT_FALSE(form->runState().IsRunning);
}

TEST_F(Form1Test, RunStateStartsEmpty)
{
    const RunState& state = form->runState();
    EXPECT_FALSE(state.IsRunning);
    EXPECT_FALSE(state.StartTime.isValid());
    EXPECT_EQ(state.NewCount, 0);
    EXPECT_EQ(state.NextRow, 0);
    EXPECT_EQ(state.FixedColumnCount, 0);
    EXPECT_FALSE(state.StopRequested.isSet());
}

TEST_F(Form1Test, RunStateIsTheWindowsOwn)
{
    form->runState().NewCount = 7;
    form->runState().StopRequested.set();
    EXPECT_EQ(std::as_const(*form).runState().NewCount, 7);
    EXPECT_TRUE(std::as_const(*form).runState().StopRequested.isSet());
    EXPECT_EQ(Form1().runState().NewCount, 0); // one set per window
}

TEST_F(Form1Test, CloseGuardCanKeepTheWindowOpen)
{
    int asked = 0;
    bool allow = false;
    form->setCloseGuard([&] {
        ++asked;
        return allow;
    });
    form->show();

    EXPECT_FALSE(form->close());
    EXPECT_TRUE(form->isVisible());
    EXPECT_EQ(asked, 1);

    allow = true;
    EXPECT_TRUE(form->close());
    EXPECT_FALSE(form->isVisible());
    EXPECT_EQ(asked, 2);
}

TEST_F(Form1Test, ClosesWithoutGuard)
{
    form->setCloseGuard([] { return false; });
    form->setCloseGuard({});
    form->show();
    EXPECT_TRUE(form->close());
    EXPECT_FALSE(form->isVisible());
}

TEST(Form1Font, PrefersMsSansSerifThenArialMetrics)
{
    const QStringList families = Form1::controlFont(false).families();
    ASSERT_GE(families.size(), 2);
    EXPECT_EQ(families.first(), u"MS Sans Serif"_s);
    EXPECT_TRUE(families.contains(u"Liberation Sans"_s));
    EXPECT_EQ(Form1::controlFont(true).weight(), QFont::Bold);
    EXPECT_EQ(Form1::controlFont(false).weight(), QFont::Normal);
}

} // namespace
} // namespace zp
