#pragma once

#include <QString>

namespace zp {

// Title of every message box of the program.
inline const QString MessageTitle = QStringLiteral("Парсер Zavrinello из Tolmari");

// The four kinds of message box the program shows.
enum class MessageStyle {
    StopQuestion, // question icon, Yes and No ("Остановить парсерсер?")
    RetryPrompt, // critical icon, Yes and No, Yes the default (a page failed)
    Question, // question icon, Yes and No, No the default (go on despite a risk?)
    Failure, // critical icon, OK (failures, "Парсер остановлен.")
    Report, // information icon, OK (the final report)
};

enum class MessageAnswer { Yes, No, Ok };

// Shows a modal message box titled MessageTitle and returns the button pressed.
// The window implements it with QMessageBox; tests answer from a script.
class Dialogs {
public:
    virtual ~Dialogs() = default;
    virtual MessageAnswer show(MessageStyle style, const QString& text) = 0;
    // Shows text as show() does, with reason (why a page could not be had, in
    // the words of the network; why a file could not be used, in the
    // system's) beneath it where the box has room for it. This one leaves the
    // reason out: a run without a window writes it to standard error (see
    // RunView::warn).
    virtual MessageAnswer showWithReason(
        MessageStyle style, const QString& text, const QString& reason)
    {
        Q_UNUSED(reason);
        return show(style, text);
    }
};

} // namespace zp
