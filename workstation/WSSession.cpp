#include "workstation/WSSession.h"

#include <QPointer>

#include <vector>

#include "messages/Messages.h"
#include "messages/StringTable.h"
#include "midi/SysEx.h"
#include "workstation/WSBankView.h"
#include "workstation/WSFrame.h"

using bq::ws::PendingWrite;
using bq::ws::StepKind;
using bq::ws::WriteStep;

namespace {

constexpr std::size_t kCombiRecordSize = 996;

int BankIndex(bool combination, int bank) {
    return bank < 0 || bank >= 6 ? -1 : (combination ? bank : 6 + bank);
}

// "Bank A 005", as the tree names the bank, then the slot as it numbers it.
QString PlaceName(const bq::ws::Place& place) {
    const QString bank = place.bank >= 0 && place.bank < 6
                             ? bq::LoadString(bq::kCombiBankNames[place.bank])
                             : QString();
    return bank + QString::asprintf(" %03d", place.slot);
}

}  // namespace

CWSSession::CWSSession(CWSFrame& frame) : m_frame(frame) {}

void CWSSession::NoteBankDownloaded(bool combination, int bank) {
    if (const int index = BankIndex(combination, bank); index >= 0) {
        m_downloaded[index] = true;
    }
}

bool CWSSession::BankDownloaded(bool combination, int bank) const {
    const int index = BankIndex(combination, bank);
    return index >= 0 && m_downloaded[index];
}

void CWSSession::Reset() {
    m_downloaded.fill(false);
    m_history.Clear();
    ++m_generation;
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
    return true;
}

bool CWSSession::CanUndo() const {
    return m_history.UndoStep() != nullptr;
}

bool CWSSession::CanRedo() const {
    return m_history.RedoStep() != nullptr;
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
    }
    return {};
}

QString CWSSession::UndoText() const {
    const WriteStep* step = m_history.UndoStep();
    return step != nullptr
               ? bq::FormatText(bq::LoadString(bq::StringId::UndoFormat), {StepName(*step)})
               : bq::LoadString(bq::StringId::Undo);
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
    const std::vector<PendingWrite> writes = undo ? m_history.UndoWrites() : m_history.RedoWrites();
    QPointer<CWSFrame> frame(&m_frame);
    const std::uint64_t generation = m_generation;
    std::size_t done = 0;
    bool failed = false;
    for (const PendingWrite& write : writes) {
        const auto header = bq::sysex::ItemWriteHeader(write.place.bank, write.place.slot);
        const bool written = header && write.record.size() == kCombiRecordSize &&
                             m_frame.SendPacked(write.record.data(), write.record.size(),
                                                header->data(), header->size());
        if (!frame) {
            return false;  // this object went with the window
        }
        if (generation != m_generation) {
            return false;  // the connection ended meanwhile, and the history with it
        }
        if (!written) {
            failed = true;
            break;
        }
        ++done;
        if (auto* view = qobject_cast<CWSBankView*>(m_frame.BankView())) {
            view->ShowStoredCombi(write.place.bank, write.place.slot, write.record);
        }
    }
    if (undo) {
        m_history.Undone(done);
    } else {
        m_history.Redone(done);
    }
    if (failed) {
        bq::ShowMessage(bq::StringId::TransferError, bq::MB_ICONERROR);
    }
    return !failed;
}
