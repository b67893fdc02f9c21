#pragma once

// File > Back Up Workstation: the instrument's whole memory into one PCG file, connecting
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
    // The save dialog as the command shows it, on a new file in the home folder.
    std::unique_ptr<QFileDialog> CreateBackupDialog();
    // What the command does once it has the file name; true when the file was written.
    bool BackUpWorkstation(const QString& path);

private:
    bool OnBackUp();

    IWorkstationHost& m_host;
    QWidget& m_window;
    QAction* m_backup = nullptr;  // owned by the main window
};
