#include "gui/Form1.h"

#include "gui/ProgramIcon.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <cmath>

using namespace Qt::Literals::StringLiterals;

namespace zp {

namespace {

constexpr int TwipsPerInch = 1440;
constexpr int ClientWidthTwips = 10095;
constexpr int ClientHeightTwips = 1110;
constexpr qreal ControlPointSize = 8.25;

QLabel* makeLabel(QWidget* parent, const QString& name, const QString& caption)
{
    auto* label = new QLabel(caption, parent);
    label->setObjectName(name);
    label->setTextFormat(Qt::PlainText);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    return label;
}

// Tab order of the controls: Command1, lblCV, Label1, Label2, Label3.
// setTabOrder() ignores widgets that take no focus, and labels take none, so
// the chain is arranged while every control accepts tab focus and the labels'
// own policy is put back afterwards; the chain keeps the order.
void setChainOrder(const QList<QWidget*>& order)
{
    QList<Qt::FocusPolicy> policies;
    for (QWidget* w : order) {
        policies.append(w->focusPolicy());
        if (w->focusPolicy() == Qt::NoFocus)
            w->setFocusPolicy(Qt::TabFocus);
    }
    for (qsizetype i = 1; i < order.size(); ++i)
        QWidget::setTabOrder(order[i - 1], order[i]);
    for (qsizetype i = 0; i < order.size(); ++i)
        order[i]->setFocusPolicy(policies[i]);
}

} // namespace

Form1::Form1(QWidget* parent)
    : QWidget(parent,
        Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
            | Qt::WindowCloseButtonHint)
{
    setObjectName(u"Form1"_s);
    setWindowTitle(u"Парсер Tolmari- v.1.0"_s);
    setWindowIcon(ProgramIcon());
    setFont(controlFont(false));
    const QFont bold = controlFont(true);

    // Created in this order; the focus chain follows it until setChainOrder.
    m_command1 = new QPushButton(RunView::StartCaption, this);
    m_command1->setObjectName(u"Command1"_s);
    m_command1->setFont(bold);
    m_command1->setGeometry(twipsRect(8265, 600, 1665, 420));
    m_command1->setDefault(true);

    m_label3 = makeLabel(this, u"Label3"_s, u"Загружено:"_s);
    m_label3->setGeometry(twipsRect(90, 720, 945, 285));

    m_label2 = makeLabel(this, u"Label2"_s, u"0"_s);
    m_label2->setGeometry(twipsRect(1020, 735, 1110, 315));

    m_label1 = makeLabel(this, u"Label1"_s, u"00:00:00"_s);
    m_label1->setGeometry(twipsRect(2280, 735, 1155, 255));

    m_lblCV = makeLabel(this, u"lblCV"_s, u"Прогресс:"_s);
    m_lblCV->setFont(bold);
    m_lblCV->setWordWrap(true);
    m_lblCV->setGeometry(twipsRect(90, 135, 9870, 435));

    setChainOrder({ m_command1, m_lblCV, m_label1, m_label2, m_label3 });

    const QRect client = twipsRect(0, 0, ClientWidthTwips, ClientHeightTwips);
    setFixedSize(client.size());
    centreOnScreen();

    connect(m_command1, &QPushButton::clicked, this, &Form1::startStopClicked);
}

Form1::~Form1() = default;

void Form1::setCloseGuard(CloseGuard guard)
{
    m_closeGuard = std::move(guard);
}

void Form1::setButtonCaption(const QString& text)
{
    m_command1->setText(text);
}

void Form1::setStatusText(const QString& text)
{
    m_lblCV->setText(text);
}

void Form1::setElapsedText(const QString& text)
{
    m_label1->setText(text);
}

QString Form1::counterText() const
{
    return m_label2->text();
}

void Form1::setCounterText(const QString& text)
{
    m_label2->setText(text);
}

QFont Form1::controlFont(bool bold)
{
    QFont font;
    // Liberation Sans and Arimo share Arial's metrics, which are close to
    // MS Sans Serif's; DejaVu Sans, the usual Linux default, is too wide for
    // "Загружено:" in its 945-twip box.
    font.setFamilies({ u"MS Sans Serif"_s, u"Microsoft Sans Serif"_s, u"Liberation Sans"_s,
        u"Arial"_s, u"Arimo"_s });
    font.setStyleHint(QFont::SansSerif);
    font.setPointSizeF(ControlPointSize);
    font.setWeight(bold ? QFont::Bold : QFont::Normal);
    return font;
}

int Form1::twipsToPixels(int twips, qreal logicalDpi)
{
    return static_cast<int>(std::lround(twips * logicalDpi / TwipsPerInch));
}

// Enter presses the default button wherever the focus is, as in a dialog.
void Form1::keyPressEvent(QKeyEvent* event)
{
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter)
        && (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier) {
        m_command1->click();
        return;
    }
    QWidget::keyPressEvent(event);
}

void Form1::closeEvent(QCloseEvent* event)
{
    if (m_closeGuard && !m_closeGuard())
        event->ignore();
    else
        event->accept();
}

QRect Form1::twipsRect(int left, int top, int width, int height) const
{
    const qreal dpiX = logicalDpiX();
    const qreal dpiY = logicalDpiY();
    return { twipsToPixels(left, dpiX), twipsToPixels(top, dpiY), twipsToPixels(width, dpiX),
        twipsToPixels(height, dpiY) };
}

void Form1::centreOnScreen()
{
    const QScreen* target = screen() ? screen() : QGuiApplication::primaryScreen();
    if (!target)
        return;
    QRect frame = geometry();
    frame.moveCenter(target->availableGeometry().center());
    move(frame.topLeft());
}

} // namespace zp
