#include "workstation/WSSession.h"

#include <QPointer>

#include <set>
#include <utility>
#include <vector>

#include "messages/Messages.h"
#include "messages/StringTable.h"
#include "midi/KarmaBanks.h"
#include "midi/SysEx.h"
#include "model/ItemText.h"
#include "model/KarmaObject.h"
#include "workstation/WSMemory.h"

using bq::ws::PendingWrite;
using bq::ws::Place;
using bq::ws::StepKind;
using bq::ws::WriteStep;
using Bytes = std::vector<std::uint8_t>;

namespace {

constexpr std::uint32_t kCombiBankDumpSize = 146000;
constexpr std::uint32_t kProgramBankDumpSize = 118000;
constexpr std::uint32_t kSingleCombiDumpSize = 600;
// The place the round trip writes to: Combination A-000.
constexpr Place kRoundTripPlace{0, 0, true};

// "Bank A 005", as the tree names the bank, then the slot as it numbers it.
QString PlaceName(const Place& place) {
    QString bank;
    if (place.bank >= 0 && place.bank < 6) {
        bank = bq::LoadString(place.combination ? bq::kCombiBankNames[place.bank]
                                                : bq::kProgramBankNames[place.bank]);
    }
    return bank + QString::asprintf(" %03d", place.slot);
}

}  // namespace

CWSSession::CWSSession(CWSFrame& frame) : m_frame(frame), m_memory(std::make_unique<CWSMemory>()) {}

CWSSession::~CWSSession() = default;

// ---- downloads ----

bool CWSSession::DownloadBank(bool combination, int bank) {
    const auto request = combination ? bq::sysex::CombiBankDumpRequest(bank)
                                     : bq::sysex::ProgramBankDumpRequest(bank);
    if (!request) {
        return false;
    }
    const QString text = bq::FormatText(
        bq::LoadString(combination ? bq::StringId::LoadingCombination
                                   : bq::StringId::LoadingProgram),
        {bq::LoadString(combination ? bq::kCombiBankNames[bank] : bq::kProgramBankNames[bank])});
    auto bytes = *request;
    std::vector<std::uint8_t> data;
    QPointer<CWSFrame> frame(&m_frame);
    const std::uint64_t generation = m_generation;
    const bool received = m_frame.RequestDump(
        bytes.data(), bytes.size(), text, combination ? kCombiBankDumpSize : kProgramBankDumpSize,
        bq::sysex::kHeaderLength, &data);
    // The window (and this object with it) may have gone while it waited, or the connection
    // the dump came on may have ended.
    if (!frame || !received || generation != m_generation) {
        return false;
    }
    return m_memory->StoreBank(combination, bank, data);
}

bool CWSSession::DownloadBankWith(CMIDIProgressDlg* dialog, bool combination, int bank,
                                  CWSFrame::DumpEnd* end) {
    const int index = bq::midi::BackupBankIndex(combination, bank);
    auto request = bq::midi::BackupDumpRequest(index, 0);
    std::vector<std::uint8_t> data;
    QPointer<CWSFrame> frame(&m_frame);
    const std::uint64_t generation = m_generation;
    const bool received = m_frame.RequestDumpWith(dialog, request.data(), request.size(),
                                                  bq::sysex::kHeaderLength, &data, end);
    if (!frame || !received || generation != m_generation) {
        return false;
    }
    return m_memory->StoreBank(combination, bank, data);
}

bool CWSSession::BankDownloaded(bool combination, int bank) const {
    return m_memory->BankNow(combination, bank);
}

// ---- writes ----

CWSFrame::WriteEnd CWSSession::Write(const Place& place, const Bytes& record, bool store) {
    const auto header = place.combination ? bq::sysex::ItemWriteHeader(place.bank, place.slot)
                                          : bq::sysex::ProgramWriteHeader(place.bank, place.slot);
    CWSFrame::WriteEnd end = CWSFrame::WriteEnd::NotSent;
    if (!header || record.empty()) {
        return end;
    }
    QPointer<CWSFrame> frame(&m_frame);
    const std::uint64_t generation = m_generation;
    m_frame.SendPacked(record.data(), record.size(), header->data(), header->size(), &end);
    if (!frame || generation != m_generation) {
        return end;  // the connection, and what is known through it, is gone
    }
    if (end == CWSFrame::WriteEnd::Completed && store) {
        m_memory->StoreSlot(place.combination, place.bank, place.slot, record);
    } else if (end == CWSFrame::WriteEnd::Unanswered) {
        // It may have been stored or not: neither record is kept.
        m_memory->ForgetSlot(place.combination, place.bank, place.slot);
    }
    return end;
}

CWSFrame::WriteEnd CWSSession::WriteSlot(const Place& place, const Bytes& record) {
    return Write(place, record);
}

void CWSSession::RecordStep(StepKind kind, std::vector<bq::ws::SlotWrite> writes,
                            std::size_t applied) {
    bool known = true;
    for (std::size_t i = 0; i < applied && i < writes.size(); ++i) {
        known = known && !writes[i].before.empty();
    }
    AddStep(kind, std::move(writes), applied, known);
}

void CWSSession::AddStep(StepKind kind, std::vector<bq::ws::SlotWrite> writes, std::size_t applied,
                         bool undoable) {
    if (undoable) {
        m_history.Record(kind, std::move(writes), applied);
    } else {
        m_history.RecordFinal(kind, std::move(writes));
    }
    emit HistoryChanged();
}

bool CWSSession::SendCombi(const Place& target, const Bytes& record) {
    if (record.size() != CKarmaCombi::kRecordSize || !target.combination) {
        return false;
    }
    // Undo puts back only what the instrument is known to hold now.
    Bytes before = m_memory->RecordNow(true, target.bank, target.slot);
    QPointer<CWSFrame> frame(&m_frame);
    const std::uint64_t generation = m_generation;
    const CWSFrame::WriteEnd end = Write(target, record);
    if (!frame || generation != m_generation) {
        return false;
    }
    if (end == CWSFrame::WriteEnd::Completed || end == CWSFrame::WriteEnd::Unanswered) {
        const bool undoable = !before.empty() && end == CWSFrame::WriteEnd::Completed;
        AddStep(StepKind::Send, {{target, std::move(before), record}}, 1, undoable);
    }
    if (end != CWSFrame::WriteEnd::Completed) {
        bq::ShowMessage(bq::StringId::TransferError, bq::MB_ICONERROR);
        return false;
    }
    return true;
}

bool CWSSession::SwapCombis(const Place& target, const Place& source) {
    auto recordOf = [this](const Place& place) {
        unsigned long size = 0;
        const CKarmaObject* item = m_memory->Item(true, place.bank, place.slot);
        const unsigned char* data = item != nullptr ? item->GetData(&size) : nullptr;
        return data != nullptr && size == CKarmaCombi::kRecordSize ? Bytes(data, data + size)
                                                                   : Bytes();
    };
    // What the two places show; Undo needs them known in this connection.
    const Bytes targetRecord = recordOf(target);
    const Bytes sourceRecord = recordOf(source);
    if (targetRecord.empty() || sourceRecord.empty() || target == source) {
        return false;
    }
    const bool known = !m_memory->RecordNow(true, target.bank, target.slot).empty() &&
                       !m_memory->RecordNow(true, source.bank, source.slot).empty();
    QPointer<CWSFrame> frame(&m_frame);
    const std::uint64_t generation = m_generation;
    const CWSFrame::WriteEnd first = Write(target, sourceRecord, false);
    if (!frame || generation != m_generation) {
        return false;
    }
    if (first != CWSFrame::WriteEnd::Completed) {
        if (first == CWSFrame::WriteEnd::Unanswered) {
            // Named by both places, as a swap is; it cannot be undone.
            AddStep(StepKind::Swap,
                    {{target, targetRecord, sourceRecord}, {source, sourceRecord, targetRecord}}, 1,
                    false);
        }
        bq::ShowMessage(bq::StringId::TransferError, bq::MB_ICONERROR);
        return false;
    }
    const CWSFrame::WriteEnd second = Write(source, targetRecord, false);
    if (!frame || generation != m_generation) {
        return false;
    }
    // One step, even when only its first write went through: the target's Combination was
    // overwritten all the same. Nothing is rolled back: the instrument then holds the source
    // Combination in both places, and the target shows a copy of it.
    const bool done = second == CWSFrame::WriteEnd::Completed;
    if (done) {
        m_memory->SwapSlots(true, target.bank, target.slot, source.bank, source.slot);
    } else {
        m_memory->StoreSlot(true, target.bank, target.slot, sourceRecord);
    }
    AddStep(StepKind::Swap,
            {{target, targetRecord, sourceRecord}, {source, sourceRecord, targetRecord}},
            done ? 2 : 1, known && second != CWSFrame::WriteEnd::Unanswered);
    if (!done) {
        bq::ShowMessage(bq::StringId::TransferError, bq::MB_ICONERROR);
    }
    return done;
}

void CWSSession::RoundTrip() {
    if (m_frame.IsBusy() || !m_frame.IsConnected()) {
        return;
    }
    const Bytes before = m_memory->RecordNow(true, kRoundTripPlace.bank, kRoundTripPlace.slot);
    // It overwrites a place of the instrument's memory: ask first, naming it when it is known,
    // and saying that it cannot be undone when it is not.
    QString question;
    if (const CKarmaObject* item = m_memory->Item(true, kRoundTripPlace.bank, kRoundTripPlace.slot);
        item != nullptr && !before.empty()) {
        question = bq::FormatText(bq::LoadString(bq::StringId::RoundTripNamedQuestion),
                                  {QString::fromLatin1(bq::ItemText(0, *item))});
    } else {
        question = bq::LoadString(bq::StringId::RoundTripUnknownQuestion);
    }
    QPointer<CWSFrame> frame(&m_frame);
    const int answer =
        bq::ShowMessage(question, bq::MB_YESNO | bq::MB_ICONWARNING | bq::MB_DEFBUTTON2);
    if (!frame || answer != bq::IDYES) {
        return;
    }
    const std::uint64_t generation = m_generation;
    auto request = bq::sysex::SingleCombiDumpRequest();
    std::vector<std::uint8_t> data;
    // A failed download ends the command; the transport has reported what it had to.
    const bool received = m_frame.RequestDump(
        request.data(), request.size(), bq::LoadString(bq::StringId::RoundTripStatus),
        kSingleCombiDumpSize, bq::sysex::kHeaderLength, &data);
    // The last decoded byte is the closing F7 that a short last group takes in. Anything but
    // one whole Combination is not written back: it would corrupt the place it went to.
    if (!frame || generation != m_generation || !received ||
        data.size() != CKarmaCombi::kRecordSize + 1) {
        return;
    }
    data.resize(CKarmaCombi::kRecordSize);
    const CWSFrame::WriteEnd end = Write(kRoundTripPlace, data);
    // No message either way; the view shows what the instrument now holds.
    if (!frame || generation != m_generation) {
        return;
    }
    if (end == CWSFrame::WriteEnd::Completed || end == CWSFrame::WriteEnd::Unanswered) {
        AddStep(StepKind::RoundTrip, {{kRoundTripPlace, before, data}}, 1,
                !before.empty() && end == CWSFrame::WriteEnd::Completed);
    }
}

// ---- the connection and its history ----

void CWSSession::ConnectionEnded() {
    ++m_generation;
    m_memory->EndConnection();
    if (!m_history.Empty()) {
        m_history.Clear();
        emit HistoryChanged();
    }
}

bool CWSSession::ConfirmEnd() {
    if (m_history.Empty()) {
        return true;
    }
    QPointer<CWSFrame> frame(&m_frame);
    const int answer = bq::ShowMessage(bq::StringId::EndConnectionQuestion,
                                       bq::MB_YESNO | bq::MB_ICONWARNING | bq::MB_DEFBUTTON2);
    if (!frame) {
        return true;  // the window, and the history with it, went while the question was up
    }
    if (answer != bq::IDYES) {
        return false;
    }
    m_history.Clear();
    emit HistoryChanged();
    return true;
}

bool CWSSession::CanUndo() const {
    return m_history.CanUndo();
}

bool CWSSession::CanRedo() const {
    return m_history.CanRedo();
}

QString CWSSession::StepName(const WriteStep& step) {
    if (step.writes.empty()) {
        return {};
    }
    switch (step.kind) {
        case StepKind::Send:
            return bq::FormatText(bq::LoadString(bq::StringId::SendStep),
                                  {PlaceName(step.writes[0].place)});
        case StepKind::Swap:
            // The dragged Combination's place first: the first write went to the other one.
            return bq::FormatText(
                bq::LoadString(bq::StringId::SwapStep),
                {PlaceName(step.writes.back().place), PlaceName(step.writes.front().place)});
        case StepKind::RoundTrip:
            return bq::FormatText(bq::LoadString(bq::StringId::RoundTripStep),
                                  {PlaceName(step.writes[0].place)});
        case StepKind::SendWithPrograms:
            // Named by the Combination's place, its last write.
            return bq::FormatText(bq::LoadString(bq::StringId::SendWithProgramsStep),
                                  {PlaceName(step.writes.back().place)});
        case StepKind::Restore: {
            std::set<std::pair<bool, int>> banks;
            for (const bq::ws::SlotWrite& write : step.writes) {
                banks.insert({write.place.combination, write.place.bank});
            }
            return banks.size() == 1 ? bq::LoadString(bq::StringId::RestoreStepOne)
                                     : bq::FormatText(bq::LoadString(bq::StringId::RestoreStep),
                                                      {QString::number(banks.size())});
        }
    }
    return {};
}

QString CWSSession::UndoText() const {
    const WriteStep* step = m_history.UndoStep();
    if (step == nullptr) {
        return bq::LoadString(bq::StringId::Undo);
    }
    return bq::FormatText(
        bq::LoadString(step->undoable ? bq::StringId::UndoFormat : bq::StringId::CantUndoFormat),
        {StepName(*step)});
}

QString CWSSession::RedoText() const {
    const WriteStep* step = m_history.RedoStep();
    return step != nullptr
               ? bq::FormatText(bq::LoadString(bq::StringId::RedoFormat), {StepName(*step)})
               : bq::LoadString(bq::StringId::Redo);
}

bool CWSSession::Undo() {
    return Replay(true);
}

bool CWSSession::Redo() {
    return Replay(false);
}

bool CWSSession::Replay(bool undo) {
    // One request at a time, as for any write.
    if (m_frame.IsBusy() || !(undo ? CanUndo() : CanRedo())) {
        return false;
    }
    const WriteStep step = undo ? *m_history.UndoStep() : *m_history.RedoStep();
    const std::vector<PendingWrite> writes = undo ? m_history.UndoWrites() : m_history.RedoWrites();
    QPointer<CWSFrame> frame(&m_frame);
    const std::uint64_t generation = m_generation;
    std::size_t done = 0;
    CWSFrame::WriteEnd end = CWSFrame::WriteEnd::Completed;
    for (const PendingWrite& write : writes) {
        end = Write(write.place, write.record);
        if (!frame || generation != m_generation) {
            return false;  // the connection ended meanwhile, and the history with it
        }
        if (end != CWSFrame::WriteEnd::Completed) {
            break;
        }
        ++done;
    }
    if (end == CWSFrame::WriteEnd::Unanswered) {
        // What one place holds is not known any more: nothing before it can be undone.
        m_history.RecordFinal(step.kind, step.writes);
    } else if (undo) {
        m_history.Undone(done);
    } else {
        m_history.Redone(done);
    }
    emit HistoryChanged();
    if (end != CWSFrame::WriteEnd::Completed) {
        bq::ShowMessage(bq::StringId::TransferError, bq::MB_ICONERROR);
        return false;
    }
    return true;
}
