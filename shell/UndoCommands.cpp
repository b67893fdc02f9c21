#include "shell/UndoCommands.h"

#include <QAction>
#include <QKeySequence>

#include "messages/StringTable.h"
#include "shell/CommandIds.h"
#include "shell/Commands.h"
#include "workstation/WSFrame.h"
#include "workstation/WSSession.h"

CUndoCommands::CUndoCommands(CCommands& commands) : QObject(&commands) {
    m_undo = commands.Add(ID_EDIT_UNDO, bq::LoadString(bq::StringId::CommandUndo),
                          bq::StringId::EditUndoPrompt, [this] { return Run(true); });
    m_undo->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Z));
    m_redo = commands.Add(ID_EDIT_REDO, bq::LoadString(bq::StringId::CommandRedo),
                          bq::StringId::EditRedoPrompt, [this] { return Run(false); });
    m_redo->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z));
    Update();
}

void CUndoCommands::Attach(CWSFrame* frame) {
    m_frame = frame;
    if (frame == nullptr) {
        return;
    }
    connect(&frame->Session(), &CWSSession::HistoryChanged, this, &CUndoCommands::Update);
    connect(frame, &CWSFrame::BusyChanged, this, &CUndoCommands::Update);
    connect(frame, &CWSFrame::MIDIStatusChanged, this, &CUndoCommands::Update);
    Update();
}

bool CUndoCommands::Run(bool undo) {
    if (m_frame == nullptr) {
        return false;
    }
    if (undo) {
        m_frame->Session().Undo();
    } else {
        m_frame->Session().Redo();
    }
    return true;
}

void CUndoCommands::Update() {
    const CWSSession* session = m_frame != nullptr ? &m_frame->Session() : nullptr;
    const bool busy = m_frame != nullptr && m_frame->IsBusy();
    // The texts name the step, as the history holds it now.
    const QString undo =
        session != nullptr ? session->UndoText() : bq::LoadString(bq::StringId::Undo);
    const QString redo =
        session != nullptr ? session->RedoText() : bq::LoadString(bq::StringId::Redo);
    CCommands::SetText(m_undo, QStringLiteral("&%1\tCtrl+Z").arg(undo));
    CCommands::SetText(m_redo, QStringLiteral("&%1\tCtrl+Shift+Z").arg(redo));
    CCommands::SetEnabled(m_undo, session != nullptr && session->CanUndo() && !busy);
    CCommands::SetEnabled(m_redo, session != nullptr && session->CanRedo() && !busy);
}
