#pragma once

// Edit > Undo and Edit > Redo: the writes to the instrument, whichever window is active. Their
// texts name the step ("Undo Send to Bank A 005", "Can't Undo ..."); they follow the session's
// history and whether the Workstation window waits for the instrument. User-interface thread.

#include <QObject>
#include <QPointer>

class CCommands;
class CWSFrame;
class QAction;

class CUndoCommands : public QObject {
    Q_OBJECT
public:
    explicit CUndoCommands(CCommands& commands);

    QAction* UndoAction() const { return m_undo; }
    QAction* RedoAction() const { return m_redo; }
    // The Workstation window, once it is made: its history and waits drive the commands.
    void Attach(CWSFrame* frame);
    void Update();

private:
    bool Run(bool undo);

    QPointer<CWSFrame> m_frame;
    QAction* m_undo = nullptr;  // owned by the main window
    QAction* m_redo = nullptr;
};
