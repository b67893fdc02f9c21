#include "shell/BackupCommands.h"

#include <QAction>
#include <QDateTime>
#include <QFileDialog>
#include <QPointer>

#include "messages/StringTable.h"
#include "shell/CommandIds.h"
#include "shell/Commands.h"
#include "shell/FileDialogs.h"
#include "shell/WorkstationHost.h"
#include "workstation/WSBackup.h"
#include "workstation/WSFrame.h"

CBackupCommands::CBackupCommands(CCommands& commands, IWorkstationHost& host, QWidget& window)
    : QObject(&commands), m_host(host), m_window(window) {
    m_backup = commands.Add(ID_FILE_BACKUP, bq::LoadString(bq::StringId::CommandBackup),
                            bq::StringId::BackupPrompt, [this] { return OnBackUp(); });
    m_backup->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_B));
}

std::unique_ptr<QFileDialog> CBackupCommands::CreateBackupDialog() {
    return bq::SavePcgDialog(&m_window, bq::LoadString(bq::StringId::BackupTitle),
                             CWSBackup::DefaultFileName(QDateTime::currentDateTime()));
}

bool CBackupCommands::OnBackUp() {
    if (m_host.Workstation()->IsBusy()) {
        return true;
    }
    QPointer<CBackupCommands> self(this);
    // First the instrument, so that no file name is asked for a backup that cannot be made.
    if (!m_host.ConnectWorkstation() || !self) {
        return true;
    }
    std::unique_ptr<QFileDialog> dialog = CreateBackupDialog();
    if (dialog->exec() != QDialog::Accepted || !self || dialog->selectedFiles().isEmpty()) {
        return true;
    }
    const QString path = dialog->selectedFiles().first();
    dialog.reset();
    BackUpWorkstation(path);
    return true;
}

bool CBackupCommands::BackUpWorkstation(const QString& path) {
    CWSFrame* ws = m_host.Workstation();
    if (ws->IsBusy() || !m_host.ConnectWorkstation()) {
        return false;
    }
    return CWSBackup::Run(*ws, path) == CWSBackup::Outcome::Written;
}
