#pragma once

#include "run/RunState.h"
#include "run/RunView.h"

#include <QWidget>
#include <functional>

class QLabel;
class QPushButton;

namespace zp {

// The program's only window: the status line lblCV across the top, below it
// "Загружено:" (Label3), the row counter (Label2), the elapsed time (Label1)
// and the Start/Stop button Command1 at the right.
//
// Command1 is the window's default button: Enter presses it.
//
// Form1 shows state and forwards the click; it does not run anything itself.
// It owns the run state of the current run, which the run controller and the
// crawl read and write through runState().
//
// Geometry is laid out in twips (1/1440 inch) converted with the logical DPI
// of the screen the window is created on; the window has a fixed size, no
// minimise or maximise button, and is centred on that screen.
class Form1 : public QWidget, public RunView {
    Q_OBJECT
public:
    // Asked on every attempt to close the window (the title bar's close button,
    // Alt+F4, close()). Returning false keeps the window open, e.g. while a
    // run is in progress the guard can request a stop and close the window
    // itself once the run has ended. Without a guard the window always closes.
    using CloseGuard = std::function<bool()>;

    explicit Form1(QWidget* parent = nullptr);
    ~Form1() override;

    RunState& runState() { return m_runState; }
    const RunState& runState() const { return m_runState; }

    // Replaces the close guard; an empty function removes it.
    void setCloseGuard(CloseGuard guard);

    // RunView
    void setButtonCaption(const QString& text) override;
    void setStatusText(const QString& text) override;
    void setElapsedText(const QString& text) override;
    QString counterText() const override;
    void setCounterText(const QString& text) override;

    // The font of the window's controls (8.25 pt, regular or weight 700).
    // "MS Sans Serif" is used where it exists; elsewhere a font with the
    // metrics of Arial, so that the captions fit their boxes.
    static QFont controlFont(bool bold);

    // Converts twips to pixels at the given logical DPI, rounded to nearest.
    static int twipsToPixels(int twips, qreal logicalDpi);

Q_SIGNALS:
    // Command1 was clicked, idle or during a run alike. The run controller
    // connects to it; the window itself does nothing else on a click.
    void startStopClicked();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    QRect twipsRect(int left, int top, int width, int height) const;
    void centreOnScreen();

    RunState m_runState;
    CloseGuard m_closeGuard;
    QPushButton* m_command1 = nullptr;
    QLabel* m_label3 = nullptr;
    QLabel* m_label2 = nullptr;
    QLabel* m_label1 = nullptr;
    QLabel* m_lblCV = nullptr;
};

} // namespace zp
