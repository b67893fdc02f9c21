#pragma once

// File > Back Up Workstation (the instrument's whole memory into one PCG file) and File >
// Restore Workstation (a PCG file put back onto it, only what differs written), each connecting
// first when needed. User-interface thread only.

#include <QObject>
#include <QString>

#include <memory>

class CCommands;
class IWorkstationHost;
class QAction;
class QFileDialog;
class QWidget;

class CBackupCommands : public QObject {
    Q_OBJECT
public:
    CBackupCommands(CCommands& commands, IWorkstationHost& host, QWidget& window);

    QAction* BackupAction() const { return m_backup; }
    QAction* RestoreAction() const { return m_restore; }
    // The save dialog as the command shows it, on a new file in the home folder.
    std::unique_ptr<QFileDialog> CreateBackupDialog();
    // What the command does once it has the file name; true when the file was written.
    bool BackUpWorkstation(const QString& path);
    // The open dialog as Restore Workstation shows it.
    std::unique_ptr<QFileDialog> CreateRestoreDialog();
    // What Restore Workstation does once it has the file; true when something was written.
    bool RestoreWorkstation(const QString& path);

private:
    bool OnBackUp();
    bool OnRestore();
    // The instrument first, so that no file name is asked for what cannot be done; then the
    // file chosen in the dialog `make` gives. Empty when either is not to be had.
    QString ConnectedAndChosen(std::unique_ptr<QFileDialog> (CBackupCommands::*make)());

    IWorkstationHost& m_host;
    QWidget& m_window;
    QAction* m_backup = nullptr;  // owned by the main window
    QAction* m_restore = nullptr;
};
