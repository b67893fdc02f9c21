#pragma once

// The main window's commands by id: each one's action (its text, keys, prompt in the message
// pane) and what runs it. The features add their own commands and keep their enabled state
// and texts up to date from the signals of what they depend on; the main window puts the
// actions into its menus and bars. User-interface thread only.

#include <QMap>
#include <QObject>
#include <QString>

#include <functional>
#include <optional>

#include "messages/StringId.h"

class QAction;
class QWidget;

class CCommands : public QObject {
    Q_OBJECT
public:
    // The actions are children of `owner`, the main window, so that their keys work in it.
    // The owner holds this object and lets it go before its own children.
    explicit CCommands(QWidget& owner);

    // A command whose action runs `run`; the prompt is shown in the message pane ("prompt\n
    // tooltip": its first line). `run` says whether anything handled the command.
    QAction* Add(int id, const QString& text, std::optional<bq::StringId> prompt,
                 std::function<bool()> run);
    QAction* Action(int id) const { return m_actions.value(id, nullptr); }
    // Runs the command as its menu item, key or button does; false when nothing handles it.
    bool Execute(int id);
    bool Has(int id) const { return m_handlers.contains(id); }

    // Changes an action only when it differs, so that menus and bars repaint only then.
    static void SetEnabled(QAction* action, bool enabled);
    static void SetText(QAction* action, const QString& text);
    // The tooltip part of a "prompt\ntooltip" string.
    static QString ToolTip(bq::StringId id);

private:
    QWidget& m_owner;
    QMap<int, QAction*> m_actions;
    QMap<int, std::function<bool()>> m_handlers;
};
