#pragma once

#include "run/RunView.h"

#include <QStringList>

namespace zp::test {

using namespace Qt::Literals::StringLiterals;

// Keeps the captions and every status text shown, oldest first.
class FakeRunView : public RunView {
public:
    void setButtonCaption(const QString& text) override { m_button = text; }
    void setStatusText(const QString& text) override { m_statusTexts.append(text); }
    void setElapsedText(const QString& text) override
    {
        m_elapsed = text;
        ++m_elapsedUpdates;
    }
    QString counterText() const override { return m_counter; }
    void setCounterText(const QString& text) override { m_counter = text; }

    void warn(const QString& text) override { warnings.append(text); }
    void warnNotLoaded(const QString& address, const QString& reason) override
    {
        notLoaded.append(address + u": "_s + reason);
    }
    const QStringList& statusTexts() const { return m_statusTexts; }
    QString statusText() const
    {
        return m_statusTexts.isEmpty() ? QString() : m_statusTexts.last();
    }
    QString elapsedText() const { return m_elapsed; }
    int elapsedUpdates() const { return m_elapsedUpdates; }

    QStringList warnings;
    QStringList notLoaded; // "<address>: <reason>"

private:
    QString m_button;
    QStringList m_statusTexts;
    QString m_elapsed;
    int m_elapsedUpdates = 0;
    QString m_counter;
};

} // namespace zp::test
