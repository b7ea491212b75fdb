#include "gui/MessageBoxDialogs.h"

#include "gui/Form1.h"

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <functional>
#include <gtest/gtest.h>

using namespace Qt::Literals::StringLiterals;

namespace zp {
namespace {

// What a box looked like while it was on screen.
struct SeenBox {
    bool found = false;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QMessageBox::StandardButtons buttons;
    QMessageBox::StandardButton defaultButton = QMessageBox::NoButton;
    QString title;
    QString text;
    Qt::WindowModality modality = Qt::NonModal;
    QWidget* parent = nullptr;
    int width = 0;
    int titleWidth = 0; // of the title in the box's font
};

// Shows a box through the service and, once it is up, records it and lets
// `act` answer it.
MessageAnswer showAndAct(Dialogs& dialogs, MessageStyle style, const QString& text, SeenBox& seen,
    const std::function<void(QMessageBox*)>& act)
{
    QTimer::singleShot(0, qApp, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box) {
            ADD_FAILURE() << "no modal message box is shown";
            for (QWidget* w : QApplication::topLevelWidgets())
                if (auto* b = qobject_cast<QMessageBox*>(w))
                    b->reject();
            return;
        }
        seen.found = true;
        seen.icon = box->icon();
        seen.buttons = box->standardButtons();
        seen.defaultButton = box->standardButton(box->defaultButton());
        seen.title = box->windowTitle();
        seen.text = box->text();
        seen.modality = box->windowModality();
        seen.parent = box->parentWidget();
        seen.width = box->width();
        seen.titleWidth = box->fontMetrics().horizontalAdvance(box->windowTitle());
        act(box);
    });
    return dialogs.show(style, text);
}

struct StyleCase {
    const char* name;
    MessageStyle style;
    QMessageBox::Icon icon;
    QMessageBox::StandardButtons buttons;
    QMessageBox::StandardButton defaultButton;
};

class MessageBoxStyleTest : public ::testing::TestWithParam<StyleCase> {
protected:
    void SetUp() override { form.show(); }
    Form1 form;
    MessageBoxDialogs dialogs { &form };
};

TEST_P(MessageBoxStyleTest, LooksAsItsStyleSays)
{
    const StyleCase& c = GetParam();
    SeenBox seen;
    const MessageAnswer answer = showAndAct(dialogs, c.style, u"Текст"_s, seen,
        [](QMessageBox* box) { box->defaultButton()->click(); });

    ASSERT_TRUE(seen.found);
    EXPECT_EQ(seen.icon, c.icon);
    EXPECT_EQ(seen.buttons, c.buttons);
    EXPECT_EQ(seen.defaultButton, c.defaultButton);
    EXPECT_EQ(seen.title, u"Парсер Zavrinello из Tolmari"_s);
    EXPECT_EQ(seen.text, u"Текст"_s);
    // A short text must not make the box narrower than its title bar needs.
    EXPECT_GT(seen.width, seen.titleWidth + 100);
    EXPECT_EQ(seen.modality, Qt::WindowModal);
    EXPECT_EQ(seen.parent, &form);
    EXPECT_EQ(answer, c.defaultButton == QMessageBox::Yes ? MessageAnswer::Yes : MessageAnswer::Ok);
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
}

TEST_P(MessageBoxStyleTest, EscapeAnswersNoOrOk)
{
    const StyleCase& c = GetParam();
    SeenBox seen;
    const MessageAnswer answer = showAndAct(dialogs, c.style, u"Текст"_s, seen,
        [](QMessageBox* box) { QTest::keyClick(box, Qt::Key_Escape); });
    ASSERT_TRUE(seen.found);
    EXPECT_EQ(answer, c.buttons.testFlag(QMessageBox::Ok) ? MessageAnswer::Ok : MessageAnswer::No);
}

TEST_P(MessageBoxStyleTest, ReturnKeyPressesTheDefault)
{
    const StyleCase& c = GetParam();
    SeenBox seen;
    const MessageAnswer answer = showAndAct(dialogs, c.style, u"Текст"_s, seen,
        [](QMessageBox* box) { QTest::keyClick(box, Qt::Key_Return); });
    ASSERT_TRUE(seen.found);
    EXPECT_EQ(answer, c.defaultButton == QMessageBox::Yes ? MessageAnswer::Yes : MessageAnswer::Ok);
}

INSTANTIATE_TEST_SUITE_P(Styles, MessageBoxStyleTest,
    ::testing::Values(StyleCase { "StopQuestion", MessageStyle::StopQuestion, QMessageBox::Question,
                          QMessageBox::Yes | QMessageBox::No, QMessageBox::Yes },
        StyleCase { "RetryPrompt", MessageStyle::RetryPrompt, QMessageBox::Critical,
            QMessageBox::Yes | QMessageBox::No, QMessageBox::Yes },
        StyleCase { "Failure", MessageStyle::Failure, QMessageBox::Critical, QMessageBox::Ok,
            QMessageBox::Ok },
        StyleCase { "Report", MessageStyle::Report, QMessageBox::Information, QMessageBox::Ok,
            QMessageBox::Ok }),
    [](const auto& info) { return std::string(info.param.name); });

class MessageBoxDialogsTest : public ::testing::Test {
protected:
    void SetUp() override { form.show(); }
    Form1 form;
    MessageBoxDialogs dialogs { &form };
};

TEST_F(MessageBoxDialogsTest, NoButtonAnswersNo)
{
    SeenBox seen;
    const MessageAnswer answer
        = showAndAct(dialogs, MessageStyle::StopQuestion, u"Остановить парсерсер?"_s, seen,
            [](QMessageBox* box) { box->button(QMessageBox::No)->click(); });
    ASSERT_TRUE(seen.found);
    EXPECT_EQ(seen.text, u"Остановить парсерсер?"_s);
    EXPECT_EQ(answer, MessageAnswer::No);
}

TEST_F(MessageBoxDialogsTest, QuestionButtonsAreCaptionedInRussianByQtsTranslation)
{
    SeenBox seen;
    QString yesText;
    QString noText;
    const MessageAnswer answer = showAndAct(dialogs, MessageStyle::RetryPrompt,
        u"Нет доступа к сайту.\rПопробовать еще раз?"_s, seen, [&](QMessageBox* box) {
            yesText = box->button(QMessageBox::Yes)->text();
            noText = box->button(QMessageBox::No)->text();
            QTest::keyClick(box, Qt::Key_Return);
        });
    ASSERT_TRUE(seen.found);
    EXPECT_EQ(yesText, u"&Да"_s);
    EXPECT_EQ(noText, u"&Нет"_s);
    EXPECT_EQ(answer, MessageAnswer::Yes);
}

TEST_F(MessageBoxDialogsTest, CarriageReturnBreaksTheLine)
{
    SeenBox seen;
    showAndAct(dialogs, MessageStyle::Report,
        u"Загрузка закончена.\rБыло загружено 5 новых товаров.\r\nКонец"_s, seen,
        [](QMessageBox* box) { box->button(QMessageBox::Ok)->click(); });
    ASSERT_TRUE(seen.found);
    EXPECT_EQ(seen.text, u"Загрузка закончена.\nБыло загружено 5 новых товаров.\nКонец"_s);
}

TEST_F(MessageBoxDialogsTest, ReasonStandsUnderTheText)
{
    SeenBox seen;
    QTimer::singleShot(0, qApp, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        ASSERT_NE(box, nullptr);
        seen.found = true;
        seen.text = box->text();
        box->button(QMessageBox::No)->click();
    });
    const MessageAnswer answer = dialogs.showWithReason(MessageStyle::RetryPrompt,
        u"Нет доступа к сайту.\rПопробовать еще раз?"_s, u"127.0.0.1:8443: <certificate>"_s);
    ASSERT_TRUE(seen.found);
    EXPECT_EQ(seen.text,
        u"Нет доступа к сайту.\nПопробовать еще раз?\n\n127.0.0.1:8443: <certificate>"_s);
    EXPECT_EQ(answer, MessageAnswer::No);
}

TEST_F(MessageBoxDialogsTest, TextIsShownAsPlainText)
{
    SeenBox seen;
    QMessageBox* shown = nullptr;
    Qt::TextFormat format = Qt::AutoText;
    showAndAct(dialogs, MessageStyle::Failure, u"<b>a</b> & b"_s, seen, [&](QMessageBox* box) {
        shown = box;
        format = box->textFormat();
        box->button(QMessageBox::Ok)->click();
    });
    ASSERT_NE(shown, nullptr);
    EXPECT_EQ(format, Qt::PlainText);
}

TEST(MessageBoxDialogsNoWindow, ApplicationModalWhenTheWindowIsGone)
{
    auto form = std::make_unique<Form1>();
    MessageBoxDialogs dialogs(form.get());
    form.reset();

    SeenBox seen;
    const MessageAnswer answer = showAndAct(dialogs, MessageStyle::Failure, u"x"_s, seen,
        [](QMessageBox* box) { box->button(QMessageBox::Ok)->click(); });
    ASSERT_TRUE(seen.found);
    EXPECT_EQ(seen.parent, nullptr);
    EXPECT_EQ(seen.modality, Qt::ApplicationModal);
    EXPECT_EQ(answer, MessageAnswer::Ok);
}

} // namespace
} // namespace zp
