#include "tests/support/qt/ScriptedPresenter.h"

#include <QEventLoop>
#include <QTimer>

namespace bq::test {

ScriptedPresenter::ScriptedPresenter() {
    m_previous = SetMessagePresenter(this);
}

ScriptedPresenter::~ScriptedPresenter() {
    SetMessagePresenter(m_previous);
}

void ScriptedPresenter::Answer(int answer) {
    m_script.push_back({answer, false, 0});
}

void ScriptedPresenter::HoldOpen(int boundMs, int timeoutAnswer) {
    m_script.push_back({timeoutAnswer, true, boundMs});
}

QStringList ScriptedPresenter::Texts() const {
    QStringList texts;
    for (const Message& m : m_messages) {
        texts << m.text;
    }
    return texts;
}

void ScriptedPresenter::Clear() {
    m_messages.clear();
    m_script.clear();
    m_unscripted = 0;
    m_strayWithdrawals = 0;
}

int ScriptedPresenter::Show(const QString& text, unsigned style) {
    const std::size_t index = m_messages.size();
    m_messages.push_back({text, style, 0, false, false, {}});
    if (onShow) {
        onShow(m_messages[index]);
    }

    Step step;
    if (m_script.empty()) {
        ++m_unscripted;
        step.answer = (style & 0x0Fu) == MB_YESNO ? IDNO : IDOK;
    } else {
        step = m_script.front();
        m_script.pop_front();
    }

    int answer = step.answer;
    if (step.hold) {
        QEventLoop loop;
        Open open{&loop, index, step.answer, false};
        m_open.push_back(&open);
        QTimer bound;
        bound.setSingleShot(true);
        QObject::connect(&bound, &QTimer::timeout, &loop, &QEventLoop::quit);
        bound.start(step.boundMs);
        loop.exec();
        std::erase(m_open, &open);
        answer = open.answer;
        m_messages[index].withdrawn = open.withdrawn;
        m_messages[index].timedOut = !open.withdrawn;
    }
    m_messages[index].answer = answer;
    return answer;
}

int ScriptedPresenter::Choose(const QString& text, unsigned style, const QStringList& answers, int,
                              int escapeIndex) {
    m_messages.push_back({text, style, 0, false, false, answers});
    if (onShow) {
        onShow(m_messages.back());
    }
    int answer = escapeIndex;
    if (m_script.empty()) {
        ++m_unscripted;
    } else {
        answer = m_script.front().answer;
        m_script.pop_front();
    }
    m_messages.back().answer = answer;
    return answer;
}

void ScriptedPresenter::Withdraw(int answer) {
    if (m_open.empty()) {
        ++m_strayWithdrawals;
        return;
    }
    Open* open = m_open.back();
    if (open->withdrawn) {
        return;  // already ending; a second withdraw of the same question changes nothing
    }
    open->withdrawn = true;
    open->answer = answer;
    open->loop->quit();
}

}  // namespace bq::test
