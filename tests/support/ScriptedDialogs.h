#pragma once

#include "run/Dialogs.h"

#include <QString>
#include <QStringList>
#include <deque>
#include <functional>
#include <gtest/gtest.h>
#include <ostream>
#include <utility>
#include <vector>

namespace zp::test {

// A Dialogs service for tests: records every message box the code under test
// shows and answers from a queue the test fills beforehand.
//
//   ScriptedDialogs dialogs;
//   dialogs.answer(MessageAnswer::Yes);          // next box answers Yes
//   ...code under test calls dialogs.show(...)...
//   EXPECT_EQ(dialogs.shown(), (std::vector<ShownMessage>{{MessageStyle::StopQuestion,
//   u"..."_s}})); EXPECT_EQ(dialogs.pendingAnswers(), 0);
//
// A box shown with the queue empty, or answered with a button the box does not
// have (Yes on an OK box, Ok on a Yes/No box), fails the running test; show()
// then returns the box's cancel answer (No, or Ok) so the code under test can
// go on. onShow, when set, runs inside show() before the answer is returned,
// which is where a user's action during a modal box (or a nested click) can
// be simulated.
struct ShownMessage {
    MessageStyle style;
    QString text;

    friend bool operator==(const ShownMessage&, const ShownMessage&) = default;
    friend void PrintTo(const ShownMessage& m, std::ostream* os)
    {
        *os << "{style " << static_cast<int>(m.style) << ", \"" << m.text.toStdString() << "\"}";
    }
};

class ScriptedDialogs : public Dialogs {
public:
    // Queues one answer per call, in order.
    ScriptedDialogs& answer(MessageAnswer a)
    {
        m_answers.push_back(a);
        return *this;
    }

    // Every box shown so far, oldest first.
    const std::vector<ShownMessage>& shown() const { return m_shown; }

    // Forgets the boxes shown so far.
    void clearShown() { m_shown.clear(); }

    // Answers queued but not used yet.
    qsizetype pendingAnswers() const { return static_cast<qsizetype>(m_answers.size()); }

    void setOnShow(std::function<void(const ShownMessage&)> hook) { m_onShow = std::move(hook); }

    // The reasons given with the boxes shown through showWithReason, oldest first.
    const QStringList& reasons() const { return m_reasons; }

    MessageAnswer showWithReason(
        MessageStyle style, const QString& text, const QString& reason) override
    {
        m_reasons.append(reason);
        return show(style, text);
    }

    MessageAnswer show(MessageStyle style, const QString& text) override
    {
        m_shown.push_back({ style, text });
        if (m_onShow)
            m_onShow(m_shown.back());
        const bool yesNo = style == MessageStyle::StopQuestion || style == MessageStyle::RetryPrompt
            || style == MessageStyle::Question;
        const MessageAnswer cancel = yesNo ? MessageAnswer::No : MessageAnswer::Ok;
        if (m_answers.empty()) {
            ADD_FAILURE() << "unexpected message box (no answer queued): " << text.toStdString();
            return cancel;
        }
        const MessageAnswer a = m_answers.front();
        m_answers.pop_front();
        if (yesNo == (a == MessageAnswer::Ok)) {
            ADD_FAILURE() << "queued answer does not fit the box's buttons: " << text.toStdString();
            return cancel;
        }
        return a;
    }

private:
    QStringList m_reasons;
    std::deque<MessageAnswer> m_answers;
    std::vector<ShownMessage> m_shown;
    std::function<void(const ShownMessage&)> m_onShow;
};

} // namespace zp::test
