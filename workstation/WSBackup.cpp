#include "workstation/WSBackup.h"

#include <QCursor>
#include <QFile>
#include <QGuiApplication>
#include <QPointer>

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "messages/Messages.h"
#include "messages/StringTable.h"
#include "midi/BackupDownload.h"
#include "midi/SysEx.h"
#include "model/PcgWriter.h"
#include "workstation/MIDIProgressDlg.h"
#include "workstation/WSFrame.h"
#include "workstation/WSMemory.h"
#include "workstation/WSSession.h"

namespace {

constexpr unsigned kInformation = 0x40;  // the information icon

void Report(bq::StringId format, const QString& what, unsigned style = bq::MB_ICONERROR) {
    bq::ShowMessage(bq::FormatText(bq::LoadString(format), {what}), style);
}

}  // namespace

QString CWSBackup::DefaultFileName(const QDateTime& now) {
    return QStringLiteral("karma-backup-%1.pcg")
        .arg(now.toString(QStringLiteral("yyyy-MM-dd-HHmm")));
}

QString CWSBackup::BankTitle(int index) {
    const bq::midi::BackupBank bank = bq::midi::BackupBankAt(index);
    if (bank.recordSize == 0) {
        return {};
    }
    const bq::StringId name =
        bank.combination ? bq::kCombiBankNames[bank.bank] : bq::kProgramBankNames[bank.bank];
    return bq::FormatText(bq::LoadString(bank.combination ? bq::StringId::BackupCombinationBank
                                                          : bq::StringId::BackupProgramBank),
                          {bq::LoadString(name)});
}

QString CWSBackup::BankStepText(int index) {
    return BankStepText(index + 1, bq::midi::kBackupBanks, index);
}

QString CWSBackup::BankStepText(int step, int steps, int index) {
    return bq::FormatText(bq::LoadString(bq::StringId::BackupStep),
                          {QString::number(step), QString::number(steps), BankTitle(index)});
}

CWSBackup::Outcome CWSBackup::DownloadBanks(CWSFrame& frame, const std::vector<int>& indexes,
                                            bool ofAllTwelve, const FailedFn& failed) {
    if (indexes.empty()) {
        return Outcome::Written;
    }
    QPointer<CWSFrame> self(&frame);
    std::uint64_t total = 0;
    for (int index : indexes) {
        total += bq::midi::BackupBankAt(index).dumpBytes;
    }
    auto dialog = std::make_unique<CMIDIProgressDlg>(frame.ProgressTimerPeriodMs());
    dialog->BeginBackup(bq::MainWindow(), static_cast<std::uint32_t>(total));
    for (std::size_t step = 0; step < indexes.size(); ++step) {
        const int index = indexes[step];
        const bq::midi::BackupBank bank = bq::midi::BackupBankAt(index);
        dialog->SetStatusText(ofAllTwelve ? BankStepText(index)
                                          : BankStepText(static_cast<int>(step) + 1,
                                                         static_cast<int>(indexes.size()), index));
        CWSFrame::DumpEnd end = CWSFrame::DumpEnd::NotSent;
        // Shown in the view as it comes, through the memory.
        const bool stored =
            frame.Session().DownloadBankWith(dialog.get(), bank.combination, bank.bank, &end);
        if (!self) {
            return Outcome::Failed;  // the window went, and the command with it
        }
        if (!stored) {
            const bool cancelled = dialog->Cancelled();
            dialog.reset();  // enables the main window before any message
            if (cancelled) {
                return Outcome::Cancelled;
            }
            failed(index, static_cast<int>(end));
            return Outcome::Failed;
        }
    }
    return Outcome::Written;
}

CWSBackup::Outcome CWSBackup::Run(CWSFrame& frame, const QString& path) {
    if (!frame.IsConnected() || frame.IsBusy()) {
        return Outcome::Failed;
    }
    QPointer<CWSFrame> self(&frame);
    const CWSMemory& known = frame.Session().Memory();
    bq::pcg::KarmaMemory memory;
    std::vector<int> missing;
    for (int index = 0; index < bq::midi::kBackupBanks; ++index) {
        const bq::midi::BackupBank bank = bq::midi::BackupBankAt(index);
        // Only what is known in this connection is taken as it is: a bank from an earlier
        // connection, or with a slot whose write got no answer, is downloaded again.
        if (!known.BankRecords(
                bank.combination, bank.bank,
                &(bank.combination ? memory.combis[bank.bank] : memory.programs[bank.bank]))) {
            missing.push_back(index);
        }
    }

    const Outcome downloaded = DownloadBanks(frame, missing, true, [](int index, int end) {
        const auto how = static_cast<CWSFrame::DumpEnd>(end);
        const bq::StringId problem =
            how == CWSFrame::DumpEnd::NotSent    ? bq::StringId::BackupNotSent
            : how == CWSFrame::DumpEnd::Refused  ? bq::StringId::BackupRefused
            : how == CWSFrame::DumpEnd::Received ? bq::StringId::BackupBadDump
                                                 : bq::StringId::BackupStopped;
        Report(problem, BankTitle(index));
    });
    if (downloaded != Outcome::Written || !self) {
        return self ? downloaded : Outcome::Failed;
    }
    for (int index : missing) {
        const bq::midi::BackupBank bank = bq::midi::BackupBankAt(index);
        known.BankRecords(
            bank.combination, bank.bank,
            &(bank.combination ? memory.combis[bank.bank] : memory.programs[bank.bank]));
    }

    bq::pcg::PcgWriteResult result;
    {
        QGuiApplication::setOverrideCursor(QCursor(Qt::WaitCursor));
        result = bq::pcg::WritePcgFile(QFile::encodeName(path).toStdString(), memory);
        QGuiApplication::restoreOverrideCursor();
    }
    if (!result.Succeeded()) {
        Report(bq::StringId::BackupNotWritten, QString::fromStdString(result.reason));
        return Outcome::Failed;
    }
    Report(bq::StringId::BackupWritten, path, bq::MB_OK | kInformation);
    return Outcome::Written;
}
