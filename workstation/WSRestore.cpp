#include "workstation/WSRestore.h"

#include <QCursor>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QPointer>

#include <memory>
#include <vector>

#include "messages/Messages.h"
#include "messages/StringTable.h"
#include "midi/KarmaBanks.h"
#include "midi/RestorePlan.h"
#include "midi/SysEx.h"
#include "model/PcgMemory.h"
#include "model/PcgWriter.h"
#include "workstation/MIDIProgressDlg.h"
#include "workstation/RestoreDialog.h"
#include "workstation/WSBackup.h"
#include "workstation/WSFrame.h"
#include "workstation/WSMemory.h"
#include "workstation/WSSession.h"

namespace {

constexpr unsigned kInformation = 0x40;  // the information icon

using Bytes = std::vector<std::uint8_t>;

Bytes& BankOf(bq::pcg::KarmaMemory& memory, int index) {
    const bq::midi::BackupBank bank = bq::midi::BackupBankAt(index);
    return bank.combination ? memory.combis[bank.bank] : memory.programs[bank.bank];
}

bq::ws::Place PlaceOf(const bq::midi::RestoreSlot& slot) {
    const bq::midi::BackupBank bank = bq::midi::BackupBankAt(slot.bank);
    return {bank.bank, slot.slot, bank.combination};
}

QString SlotName(const bq::midi::RestoreSlot& slot) {
    return bq::FormatText(bq::LoadString(bq::StringId::RestoreSlotName),
                          {CWSBackup::BankTitle(slot.bank), QString::asprintf("%03d", slot.slot)});
}

// What the dialog shows of each bank the plan compared.
std::vector<CRestoreDialog::Bank> DialogBanks(const bq::midi::RestorePlan& plan) {
    std::vector<CRestoreDialog::Bank> banks;
    for (const bq::midi::RestoreBankPlan& bank : plan.banks) {
        const QString title = CWSBackup::BankTitle(bank.bank);
        banks.push_back(
            {bank.bank,
             bank.Same() ? bq::FormatText(bq::LoadString(bq::StringId::RestoreBankSame), {title})
                         : bq::FormatText(bq::LoadString(bq::StringId::RestoreBankDiffers),
                                          {title, QString::number(bank.differing.size()),
                                           QString::number(bank.held)}),
             !bank.Same()});
    }
    return banks;
}

}  // namespace

QString CWSRestore::SafetyFileName(const QDateTime& now) {
    return QStringLiteral("karma-before-restore-%1.pcg")
        .arg(now.toString(QStringLiteral("yyyy-MM-dd-HHmm")));
}

CWSRestore::Outcome CWSRestore::Run(CWSFrame& frame, const QString& path,
                                    const QString& safetyFolder) {
    if (!frame.IsConnected() || frame.IsBusy()) {
        return Outcome::Failed;
    }
    const QString fileName = QFileInfo(path).fileName();
    bq::pcg::KarmaMemory file;
    const HRESULT read = bq::pcg::ReadPcgMemory(QFile::encodeName(path).toStdString(), &file);
    if (FAILED(read)) {
        // As File Open says it.
        if (read == E_INVALIDARG) {
            bq::ShowMessage(bq::StringId::TritonNotSupported, bq::MB_ICONERROR);
        } else {
            bq::ReportError(bq::StringId::LoadPcgFile, read);
        }
        return Outcome::Failed;
    }
    const std::vector<int> held = bq::midi::RestoreBanksHeld(file);
    if (held.empty()) {
        bq::ShowMessage(bq::FormatText(bq::LoadString(bq::StringId::RestoreNoBanks), {fileName}),
                        bq::MB_ICONERROR);
        return Outcome::Nothing;
    }

    // What the instrument holds in those banks, known in this connection.
    QPointer<CWSFrame> self(&frame);
    std::vector<int> missing;
    for (int index : held) {
        const bq::midi::BackupBank bank = bq::midi::BackupBankAt(index);
        if (!frame.Session().BankDownloaded(bank.combination, bank.bank)) {
            missing.push_back(index);
        }
    }
    const CWSBackup::Outcome downloaded =
        CWSBackup::DownloadBanks(frame, missing, false, [](int index, int) {
            bq::ShowMessage(bq::FormatText(bq::LoadString(bq::StringId::RestoreNotDownloaded),
                                           {CWSBackup::BankTitle(index)}),
                            bq::MB_ICONERROR);
        });
    if (!self || downloaded != CWSBackup::Outcome::Written) {
        return self && downloaded == CWSBackup::Outcome::Cancelled ? Outcome::Cancelled
                                                                   : Outcome::Failed;
    }
    bq::pcg::KarmaMemory instrument;
    for (int index : held) {
        const bq::midi::BackupBank bank = bq::midi::BackupBankAt(index);
        frame.Session().Memory().BankRecords(bank.combination, bank.bank,
                                             &BankOf(instrument, index));
    }

    const bq::midi::RestorePlan whole = bq::midi::PlanRestore(file, instrument, held);
    if (whole.writes.empty()) {
        bq::ShowMessage(bq::FormatText(bq::LoadString(bq::StringId::RestoreNothing), {fileName}),
                        bq::MB_OK | kInformation);
        return Outcome::Nothing;
    }
    const QString safetyPath =
        QDir(safetyFolder).filePath(SafetyFileName(QDateTime::currentDateTime()));
    std::vector<int> chosen;
    bool saveFirst = true;
    {
        CRestoreDialog dialog(bq::MainWindow(), fileName, DialogBanks(whole), safetyPath);
        if (dialog.exec() != QDialog::Accepted || !self) {
            return Outcome::Cancelled;
        }
        chosen = dialog.Chosen();
        saveFirst = dialog.SaveFirst();
    }
    const bq::midi::RestorePlan plan = bq::midi::PlanRestore(file, instrument, chosen);

    // What the instrument holds in the chosen banks, kept first: it was just downloaded anyway.
    if (saveFirst) {
        bq::pcg::KarmaMemory before;
        for (int index : chosen) {
            BankOf(before, index) = BankOf(instrument, index);
        }
        QGuiApplication::setOverrideCursor(QCursor(Qt::WaitCursor));
        const bq::pcg::PcgWriteResult result =
            bq::pcg::WritePcgFile(QFile::encodeName(safetyPath).toStdString(), before);
        QGuiApplication::restoreOverrideCursor();
        if (!result.Succeeded()) {
            bq::ShowMessage(bq::FormatText(bq::LoadString(bq::StringId::RestoreBackupNotWritten),
                                           {QString::fromStdString(result.reason)}),
                            bq::MB_ICONERROR);
            return Outcome::Failed;
        }
    }

    auto dialog = std::make_unique<CMIDIProgressDlg>(frame.ProgressTimerPeriodMs());
    dialog->BeginRestore(bq::MainWindow(), static_cast<std::uint32_t>(plan.sendBytes));
    std::vector<bq::ws::SlotWrite> writes;
    QString problem;
    const QString count = QString::number(plan.writes.size());
    for (std::size_t i = 0; i < plan.writes.size(); ++i) {
        const bq::midi::RestoreSlot& slot = plan.writes[i];
        const bq::ws::Place place = PlaceOf(slot);
        dialog->SetStatusText(bq::FormatText(bq::LoadString(bq::StringId::RestoreWriting),
                                             {SlotName(slot), QString::number(i + 1), count}));
        const std::uint8_t* data = bq::midi::RestoreRecord(file, slot);
        const std::size_t size = bq::midi::BackupBankAt(slot.bank).recordSize;
        const Bytes record(data, data + size);
        Bytes before =
            frame.Session().Memory().RecordNow(place.combination, place.bank, place.slot);
        const CWSFrame::WriteEnd end = frame.Session().WriteSlot(place, record);
        if (!self) {
            return Outcome::Failed;
        }
        if (end != CWSFrame::WriteEnd::Completed) {
            const bq::StringId reason =
                end == CWSFrame::WriteEnd::Refused      ? bq::StringId::RestoreRefusedSlot
                : end == CWSFrame::WriteEnd::Unanswered ? bq::StringId::RestoreSilentSlot
                                                        : bq::StringId::RestoreNotSentSlot;
            problem = bq::FormatText(bq::LoadString(reason), {SlotName(slot)});
            break;
        }
        writes.push_back({place, std::move(before), record});
        dialog->UpdateProgress(static_cast<std::uint32_t>(bq::sysex::ItemWriteLength(size)));
        // Cancel (or No to the question about silence) stops it after the write under way.
        if (dialog->HasEnded()) {
            break;
        }
    }
    const bool cancelled =
        dialog->HasEnded() && problem.isEmpty() && writes.size() < plan.writes.size();
    dialog.reset();  // enables the main window before any message
    const std::size_t written = writes.size();
    if (written != 0) {
        frame.Session().RecordStep(bq::ws::StepKind::Restore, std::move(writes), written);
    }
    const QString done = QString::number(written);
    if (!problem.isEmpty()) {
        bq::ShowMessage(
            bq::FormatText(bq::LoadString(bq::StringId::RestoreFailed), {problem, done, count}),
            bq::MB_ICONERROR);
        return Outcome::Failed;
    }
    if (cancelled) {
        bq::ShowMessage(
            bq::FormatText(bq::LoadString(bq::StringId::RestoreCancelled), {done, count}),
            bq::MB_OK | kInformation);
        return Outcome::Cancelled;
    }
    bq::ShowMessage(bq::FormatText(bq::LoadString(bq::StringId::RestoreWritten), {fileName, done}),
                    bq::MB_OK | kInformation);
    return Outcome::Written;
}
