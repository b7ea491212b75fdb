#pragma once

#include <QString>

namespace zp {

// What a run shows the user besides message boxes: the window's button and
// labels (or, without a window, the terminal). Implemented by the window.
class RunView {
public:
    // Command1's caption while idle and while a run is in progress.
    static inline const QString StartCaption = QStringLiteral("Старт");
    static inline const QString StopCaption = QStringLiteral("Стоп");

    virtual ~RunView() = default;

    virtual void setButtonCaption(const QString& text) = 0; // Command1
    virtual void setStatusText(const QString& text) = 0; // lblCV, the status line
    virtual void setElapsedText(const QString& text) = 0; // Label1, "hh:nn:ss"
    virtual QString counterText() const = 0; // Label2, the row counter
    virtual void setCounterText(const QString& text) = 0;
    // A line for whoever reads the run's warnings (standard error of a run
    // without a window); the window has none.
    virtual void warn(const QString& text) { Q_UNUSED(text); }

    // A page or picture at address that could not be had, and why ("404").
    // A run without a window says so on standard error; the window shows
    // nothing (the retry question speaks for pages).
    virtual void warnNotLoaded(const QString& address, const QString& reason)
    {
        Q_UNUSED(address);
        Q_UNUSED(reason);
    }
};

} // namespace zp
