#include "shell/BackupCommands.h"

#include <QAction>
#include <QDateTime>
#include <QDir>
#include <QFileDialog>
#include <QPointer>

#include "messages/StringTable.h"
#include "shell/CommandIds.h"
#include "shell/Commands.h"
#include "shell/FileDialogs.h"
#include "shell/WorkstationHost.h"
#include "workstation/WSBackup.h"
#include "workstation/WSFrame.h"
#include "workstation/WSRestore.h"

CBackupCommands::CBackupCommands(CCommands& commands, IWorkstationHost& host, QWidget& window)
    : QObject(&commands), m_host(host), m_window(window) {
    m_backup = commands.Add(ID_FILE_BACKUP, bq::LoadString(bq::StringId::CommandBackup),
                            bq::StringId::BackupPrompt, [this] { return OnBackUp(); });
    m_backup->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_B));
    m_restore = commands.Add(ID_FILE_RESTORE, bq::LoadString(bq::StringId::CommandRestore),
                             bq::StringId::RestorePrompt, [this] { return OnRestore(); });
}

std::unique_ptr<QFileDialog> CBackupCommands::CreateBackupDialog() {
    return bq::SavePcgDialog(&m_window, bq::LoadString(bq::StringId::BackupTitle),
                             CWSBackup::DefaultFileName(QDateTime::currentDateTime()));
}

QString CBackupCommands::ConnectedAndChosen(
    std::unique_ptr<QFileDialog> (CBackupCommands::*make)()) {
    if (m_host.Workstation()->IsBusy()) {
        return {};
    }
    QPointer<CBackupCommands> self(this);
    if (!m_host.ConnectWorkstation() || !self) {
        return {};
    }
    std::unique_ptr<QFileDialog> dialog = (this->*make)();
    if (dialog->exec() != QDialog::Accepted || !self || dialog->selectedFiles().isEmpty()) {
        return {};
    }
    return dialog->selectedFiles().first();
}

bool CBackupCommands::OnBackUp() {
    if (const QString path = ConnectedAndChosen(&CBackupCommands::CreateBackupDialog);
        !path.isEmpty()) {
        BackUpWorkstation(path);
    }
    return true;
}

bool CBackupCommands::BackUpWorkstation(const QString& path) {
    CWSFrame* ws = m_host.Workstation();
    if (ws->IsBusy() || !m_host.ConnectWorkstation()) {
        return false;
    }
    return CWSBackup::Run(*ws, path) == CWSBackup::Outcome::Written;
}

std::unique_ptr<QFileDialog> CBackupCommands::CreateRestoreDialog() {
    auto dialog = bq::OpenPcgDialog(&m_window, bq::LoadString(bq::StringId::RestoreTitle));
    // Backups are made in the home folder.
    dialog->setDirectory(QDir::homePath());
    // Only a file that is there can be put back.
    dialog->setFileMode(QFileDialog::ExistingFile);
    return dialog;
}

bool CBackupCommands::OnRestore() {
    if (const QString path = ConnectedAndChosen(&CBackupCommands::CreateRestoreDialog);
        !path.isEmpty()) {
        RestoreWorkstation(path);
    }
    return true;
}

bool CBackupCommands::RestoreWorkstation(const QString& path) {
    CWSFrame* ws = m_host.Workstation();
    if (ws->IsBusy() || !m_host.ConnectWorkstation()) {
        return false;
    }
    return CWSRestore::Run(*ws, path, QDir::homePath()) == CWSRestore::Outcome::Written;
}
