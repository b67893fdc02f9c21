#include "workstation/WSSendPrograms.h"

#include <QPointer>
#include <QStringList>

#include <algorithm>

#include "messages/Messages.h"
#include "messages/StringTable.h"
#include "midi/KarmaBanks.h"
#include "midi/SysEx.h"
#include "model/ItemText.h"
#include "model/KarmaObject.h"
#include "model/Timbres.h"
#include "workstation/WSBackup.h"
#include "workstation/WSFrame.h"
#include "workstation/WSMemory.h"
#include "workstation/WSSession.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using Program = CWSSendPrograms::Program;

enum Answer : int { kWithPrograms = 0, kCombinationOnly = 1, kCancel = 2 };

QString ProgramRef(int bank, int slot) {
    return QString::fromStdString(
        bq::ProgramRefText({static_cast<std::uint8_t>(bank), static_cast<std::uint8_t>(slot)}));
}

// The name alone, as an item node shows it after "000 : ".
QString NameOf(const CKarmaObject* item) {
    return item != nullptr ? QString::fromLatin1(bq::ItemText(0, *item).substr(6)).trimmed()
                           : QString();
}

// The instrument's Combinations, other than the one being written over, whose Int or Both
// timbres play one of `programs`: "B 005 : Name".
QStringList Users(const CWSMemory& memory, const bq::ws::Place& target,
                  const std::vector<const Program*>& programs) {
    QStringList users;
    for (int bank = 0; bank < CWSMemory::kBanks; ++bank) {
        for (int slot = 0; slot < CWSMemory::kSlots; ++slot) {
            const CKarmaObject* combi = memory.Item(true, bank, slot);
            if (combi == nullptr || (bank == target.bank && slot == target.slot)) {
                continue;
            }
            const auto refs = bq::InternalPrograms(bq::ReadTimbres(*combi));
            const bool plays = std::any_of(refs.begin(), refs.end(), [&](bq::ProgramRef ref) {
                return std::any_of(programs.begin(), programs.end(), [&](const Program* p) {
                    return ref.bank == p->bank && ref.slot == p->slot;
                });
            });
            if (plays) {
                users << QStringLiteral("%1 %2 : %3")
                             .arg(QChar('A' + bank))
                             .arg(slot, 3, 10, QChar('0'))
                             .arg(NameOf(combi));
            }
        }
    }
    return users;
}

}  // namespace

bool CWSSendPrograms::Run(CWSFrame& frame, const bq::ws::Place& target, const Bytes& record,
                          const QString& name, const std::vector<Program>& programs) {
    CWSSession& session = frame.Session();
    QPointer<CWSFrame> self(&frame);
    // Only what the file holds can be compared, and written; and only a record of the size the
    // instrument's bank holds: a file's bank F of 804-byte Programs does not fit the MOSS bank.
    std::vector<const Program*> held;
    for (const Program& program : programs) {
        if (!program.record.empty() &&
            program.record.size() == bq::sysex::ProgramRecordSize(program.bank)) {
            held.push_back(&program);
        }
    }
    std::vector<int> missing;
    double bytes = 0;
    for (const Program* program : held) {
        const int index = bq::midi::BackupBankIndex(false, program->bank);
        if (!session.BankDownloaded(false, program->bank) &&
            std::find(missing.begin(), missing.end(), index) == missing.end()) {
            missing.push_back(index);
            bytes += static_cast<double>(bq::midi::BackupBankAt(index).dumpBytes);
        }
    }
    if (!missing.empty()) {
        QStringList banks;
        for (int index : missing) {
            banks << CWSBackup::BankTitle(index);
        }
        const int seconds = static_cast<int>(bytes / bq::midi::kMidiCableBytesPerSecond + 0.5);
        const QString question = bq::FormatText(
            bq::LoadString(bq::StringId::ProgramsDownloadQuestion),
            {name, banks.join(QStringLiteral(", ")),
             QStringLiteral("%1:%2").arg(seconds / 60).arg(seconds % 60, 2, 10, QChar('0'))});
        const int answer = bq::ShowMessage(question, bq::MB_YESNO);
        if (!self) {
            return false;
        }
        if (answer != bq::IDYES) {
            return session.SendCombi(target, record);
        }
        if (CWSBackup::DownloadBanks(frame, missing, false, [](int, int) {}) !=
                CWSBackup::Outcome::Written ||
            !self) {
            return false;  // the transfer said what went wrong, or the user gave up waiting
        }
    }

    std::vector<const Program*> differing;
    QStringList lines;
    const CWSMemory& memory = session.Memory();
    for (const Program* program : held) {
        if (memory.RecordNow(false, program->bank, program->slot) != program->record) {
            differing.push_back(program);
            lines << bq::FormatText(bq::LoadString(bq::StringId::ProgramDiffers),
                                    {ProgramRef(program->bank, program->slot), program->name,
                                     NameOf(memory.Item(false, program->bank, program->slot))});
        }
    }
    if (differing.empty()) {
        return session.SendCombi(target, record);
    }
    QString list = lines.join(QLatin1Char('\n'));
    const QStringList users = Users(memory, target, differing);
    if (!users.isEmpty()) {
        list = bq::FormatText(bq::LoadString(bq::StringId::ProgramsAlsoUsedBy),
                              {list, users.join(QLatin1Char('\n'))});
    }
    const int answer = bq::ShowChoice(
        bq::FormatText(bq::LoadString(bq::StringId::ProgramsDifferQuestion), {name, list}),
        bq::MB_ICONWARNING,
        {bq::LoadString(bq::StringId::WriteWithPrograms),
         bq::LoadString(bq::StringId::CombinationOnly), bq::LoadString(bq::StringId::Cancel)},
        kWithPrograms, kCancel);
    if (!self || answer == kCancel) {
        return false;
    }
    if (answer == kCombinationOnly) {
        return session.SendCombi(target, record);
    }

    // The Programs first, then the Combination that plays them: one step, undone together.
    std::vector<bq::ws::SlotWrite> writes;
    std::vector<bq::ws::SlotWrite> planned;
    for (const Program* program : differing) {
        const bq::ws::Place place{program->bank, program->slot, false};
        planned.push_back(
            {place, memory.RecordNow(false, program->bank, program->slot), program->record});
    }
    planned.push_back({target, memory.RecordNow(true, target.bank, target.slot), record});
    bool failed = false;
    for (bq::ws::SlotWrite& write : planned) {
        const CWSFrame::WriteEnd end = session.WriteSlot(write.place, write.after);
        if (!self) {
            return false;
        }
        if (end != CWSFrame::WriteEnd::Completed) {
            failed = true;
            break;
        }
        writes.push_back(std::move(write));
    }
    const std::size_t applied = writes.size();
    if (applied != 0) {
        session.RecordStep(bq::ws::StepKind::SendWithPrograms, std::move(writes), applied);
    }
    if (failed) {
        bq::ShowMessage(bq::StringId::TransferError, bq::MB_ICONERROR);
        return false;
    }
    return true;
}
