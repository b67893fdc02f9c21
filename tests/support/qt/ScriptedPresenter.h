#pragma once

// A message presenter for tests: records every message, answers from a script, and can keep a
// question "open" in a nested event loop until the program withdraws it.

#include <QString>
#include <QStringList>

#include <deque>
#include <functional>
#include <vector>

#include "messages/Messages.h"

class QEventLoop;

namespace bq::test {

class ScriptedPresenter final : public IMessagePresenter {
public:
    struct Message {
        QString text;
        unsigned style = 0;
        int answer = 0;          // what Show returned
        bool withdrawn = false;  // ended by Withdraw
        bool timedOut = false;   // a held question that nobody withdrew in time
        QStringList answers;     // a question with answers of its own: them, first to last
    };

    // Installs itself as the presenter; the destructor puts the previous one back.
    ScriptedPresenter();
    ~ScriptedPresenter() override;
    ScriptedPresenter(const ScriptedPresenter&) = delete;
    ScriptedPresenter& operator=(const ScriptedPresenter&) = delete;

    // The next unanswered question gets `answer` at once (for one with answers of its own, the
    // index of the answer).
    void Answer(int answer);
    // The next unanswered question stays open, running the event loop, until Withdraw ends it
    // or `boundMs` passes; then it returns `timeoutAnswer` and is marked timed out.
    void HoldOpen(int boundMs, int timeoutAnswer = IDNO);
    // Questions beyond the script get IDNO (Yes/No) or IDOK and are counted as unscripted.
    int Unscripted() const { return m_unscripted; }
    // Withdraw calls that found no open question.
    int StrayWithdrawals() const { return m_strayWithdrawals; }

    // Runs each time a question has been recorded, before it is answered or held.
    std::function<void(const Message&)> onShow;

    const std::vector<Message>& Messages() const { return m_messages; }
    QStringList Texts() const;
    bool IsOpen() const { return !m_open.empty(); }
    void Clear();

    int Show(const QString& text, unsigned style) override;
    int Choose(const QString& text, unsigned style, const QStringList& answers, int defaultIndex,
               int escapeIndex) override;
    void Withdraw(int answer) override;

private:
    struct Step {
        int answer = 0;
        bool hold = false;
        int boundMs = 0;
    };
    struct Open {
        QEventLoop* loop = nullptr;
        std::size_t index = 0;
        int answer = 0;
        bool withdrawn = false;
    };

    IMessagePresenter* m_previous = nullptr;
    std::deque<Step> m_script;
    std::vector<Message> m_messages;
    std::vector<Open*> m_open;  // innermost last
    int m_unscripted = 0;
    int m_strayWithdrawals = 0;
};

}  // namespace bq::test
