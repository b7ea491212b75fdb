#include "gui/MessageBoxDialogs.h"

#include <QFontMetrics>
#include <QGridLayout>
#include <QMessageBox>
#include <QSpacerItem>

using namespace Qt::Literals::StringLiterals;

namespace zp {

namespace {

struct BoxLook {
    QMessageBox::Icon icon;
    QMessageBox::StandardButtons buttons;
    QMessageBox::StandardButton defaultButton;
};

BoxLook lookOf(MessageStyle style)
{
    const auto yesNo = QMessageBox::Yes | QMessageBox::No;
    switch (style) {
    case MessageStyle::StopQuestion:
        return { QMessageBox::Question, yesNo, QMessageBox::Yes };
    case MessageStyle::RetryPrompt:
        return { QMessageBox::Critical, yesNo, QMessageBox::Yes };
    case MessageStyle::Question:
        return { QMessageBox::Question, yesNo, QMessageBox::No };
    case MessageStyle::Failure:
        return { QMessageBox::Critical, QMessageBox::Ok, QMessageBox::Ok };
    case MessageStyle::Report:
        return { QMessageBox::Information, QMessageBox::Ok, QMessageBox::Ok };
    }
    return { QMessageBox::Information, QMessageBox::Ok, QMessageBox::Ok };
}

// The program's texts break lines with a carriage return, which a Qt label
// would not show as a break.
QString withLineBreaks(QString text)
{
    text.replace(u"\r\n"_s, u"\n"_s);
    text.replace(u'\r', u'\n');
    return text;
}

// A box is as wide as its text, and window managers cut a title that does not
// fit. The title bar's font is the window manager's: the box's own font, made
// bold, and room for the bar's icon and buttons stand in for it.
void makeRoomForTitle(QMessageBox& box)
{
    QFont titleFont = box.font();
    titleFont.setBold(true);
    constexpr int TitleBarDecorations = 160;
    const int width
        = QFontMetrics(titleFont).horizontalAdvance(box.windowTitle()) + TitleBarDecorations;
    if (auto* grid = qobject_cast<QGridLayout*>(box.layout()))
        grid->addItem(new QSpacerItem(width, 0, QSizePolicy::Minimum, QSizePolicy::Fixed),
            grid->rowCount(), 0, 1, grid->columnCount());
}

} // namespace

MessageBoxDialogs::MessageBoxDialogs(QWidget* window)
    : m_window(window)
{
}

MessageAnswer MessageBoxDialogs::show(MessageStyle style, const QString& text)
{
    return showWithReason(style, text, {});
}

MessageAnswer MessageBoxDialogs::showWithReason(
    MessageStyle style, const QString& text, const QString& reason)
{
    const BoxLook look = lookOf(style);
    const QString shown = reason.isEmpty() ? text : text + u"\n\n"_s + reason;
    QMessageBox box(look.icon, MessageTitle, withLineBreaks(shown), look.buttons, m_window.data());
    box.setTextFormat(Qt::PlainText);
    box.setDefaultButton(look.defaultButton);
    makeRoomForTitle(box);
    box.setWindowModality(m_window ? Qt::WindowModal : Qt::ApplicationModal);
    box.exec();

    // Escape and the close button give no clicked button on a Yes/No box.
    switch (box.standardButton(box.clickedButton())) {
    case QMessageBox::Yes:
        return MessageAnswer::Yes;
    case QMessageBox::No:
        return MessageAnswer::No;
    case QMessageBox::Ok:
        return MessageAnswer::Ok;
    default:
        return look.buttons.testFlag(QMessageBox::Ok) ? MessageAnswer::Ok : MessageAnswer::No;
    }
}

} // namespace zp
