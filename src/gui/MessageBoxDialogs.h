#pragma once

#include "run/Dialogs.h"

#include <QPointer>
#include <QWidget>

namespace zp {

// The program's message boxes: QMessageBox titled MessageTitle, modal to the
// given window and centred on it.
//   StopQuestion  question icon, Yes / No, Yes the default
//   RetryPrompt   critical icon, Yes / No, Yes the default
//   Question      question icon, Yes / No, No the default
//   Failure       critical icon, OK
//   Report        information icon, OK
// show() blocks in the box's own event loop until a button is pressed and
// returns it; closing a Yes/No box with Escape or its close button answers No,
// an OK box answers Ok. Line breaks written as "\r" or "\r\n" show as breaks.
// The window is not owned; if it is gone, the box is modal to the application.
class MessageBoxDialogs : public Dialogs {
public:
    explicit MessageBoxDialogs(QWidget* window);

    MessageAnswer show(MessageStyle style, const QString& text) override;
    // The reason stands under the text, after an empty line.
    MessageAnswer showWithReason(
        MessageStyle style, const QString& text, const QString& reason) override;

private:
    QPointer<QWidget> m_window;
};

} // namespace zp
