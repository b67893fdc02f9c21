#include "shell/Commands.h"

#include <QAction>
#include <QWidget>

#include <utility>

#include "messages/StringTable.h"

CCommands::CCommands(QWidget& owner) : m_owner(owner) {}

QAction* CCommands::Add(int id, const QString& text, std::optional<bq::StringId> prompt,
                        std::function<bool()> run) {
    auto* action = new QAction(text, &m_owner);
    if (prompt) {
        action->setStatusTip(bq::LoadString(*prompt).section(QLatin1Char('\n'), 0, 0));
    }
    m_actions.insert(id, action);
    m_handlers.insert(id, std::move(run));
    connect(action, &QAction::triggered, this, [this, id] { Execute(id); });
    return action;
}

bool CCommands::Execute(int id) {
    // A copy: the handler may replace the command's table while it runs.
    const std::function<bool()> run = m_handlers.value(id);
    return run ? run() : false;
}

void CCommands::SetEnabled(QAction* action, bool enabled) {
    if (action != nullptr && action->isEnabled() != enabled) {
        action->setEnabled(enabled);
    }
}

void CCommands::SetText(QAction* action, const QString& text) {
    if (action != nullptr && action->text() != text) {
        action->setText(text);
    }
}

QString CCommands::ToolTip(bq::StringId id) {
    return bq::LoadString(id).section(QLatin1Char('\n'), 1, 1);
}
