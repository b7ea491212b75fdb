#include "gui/MessageBoxDialogs.h"

#include <QAbstractButton>
#include <QMessageBox>

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

// The window speaks Russian whatever the desktop's language, and Qt's own
// button texts are English unless a translation of Qt is installed.
void nameButtonsInRussian(QMessageBox& box)
{
    if (QAbstractButton* yes = box.button(QMessageBox::Yes))
        yes->setText(u"&Да"_s);
    if (QAbstractButton* no = box.button(QMessageBox::No))
        no->setText(u"&Нет"_s);
}

} // namespace

MessageBoxDialogs::MessageBoxDialogs(QWidget* window)
    : m_window(window)
{
}

MessageAnswer MessageBoxDialogs::show(MessageStyle style, const QString& text)
{
    const BoxLook look = lookOf(style);
    QMessageBox box(look.icon, MessageTitle, withLineBreaks(text), look.buttons, m_window.data());
    box.setTextFormat(Qt::PlainText);
    box.setDefaultButton(look.defaultButton);
    nameButtonsInRussian(box);
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
