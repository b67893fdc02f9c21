#include "workstation/WSBankView.h"

#include <QAction>
#include <QContextMenuEvent>
#include <QMenu>
#include <QPointer>

#include <array>
#include <utility>
#include <vector>

#include "messages/Messages.h"
#include "messages/StringTable.h"
#include "midi/SysEx.h"
#include "model/ItemText.h"
#include "model/KarmaObject.h"
#include "model/Ref.h"
#include "workstation/WSFrame.h"
#include "workstation/WSSession.h"

namespace {

constexpr int kBanks = 6;
constexpr int kSlots = 128;
constexpr int kMossBank = 5;

// The place the round trip writes to: Combination A-000.
constexpr long kRoundTripBank = 0;
constexpr long kRoundTripSlot = 0;

// A copy of a Combination's record; empty for anything that is not one, which could not be
// written as a Combination (and would be read past its end by LoadCombi).
std::vector<std::uint8_t> CombiBytes(const CKarmaObject* object) {
    unsigned long size = 0;
    const unsigned char* data = object != nullptr ? object->GetData(&size) : nullptr;
    if (data == nullptr || size != CKarmaCombi::kRecordSize) {
        return {};
    }
    return std::vector<std::uint8_t>(data, data + size);
}

bq::ws::Place PlaceOf(const CBankItemData& record) {
    return {static_cast<int>(record.GetBank()), static_cast<int>(record.GetSlot())};
}

}  // namespace

CWSBankView::CWSBankView(QWidget* parent) : CBankTreeView(parent) {
    setObjectName(QStringLiteral("CWSBankView"));
    SetImageList(LoadBankImageList());

    m_roundTrip = new QAction(bq::LoadString(bq::StringId::RoundTripCommand), this);
    m_roundTrip->setObjectName(QStringLiteral("roundTripAction"));
    connect(m_roundTrip, &QAction::triggered, this, [this] { OnCommand(ID_ROUND_TRIP); });
    connect(this, &QTreeWidget::itemExpanded, this, &CWSBankView::OnItemExpanding);

    auto addGroup = [this](bq::StringId text, const std::array<bq::StringId, kBanks>& names,
                           std::uintptr_t kind) {
        QTreeWidgetItem* group = InsertItem(bq::LoadString(text), IMAGE_GROUP, 0);
        for (long bank = 0; bank < kBanks; ++bank) {
            QTreeWidgetItem* node = InsertItem(bq::LoadString(names[bank]), IMAGE_BANK,
                                               BankNodeData(kind, bank), group);
            // An expand button before there are children: the first expansion loads them.
            node->setChildIndicatorPolicy(QTreeWidgetItem::ShowIndicator);
        }
    };
    addGroup(bq::StringId::Combinations, bq::kCombiBankNames, kCombiBankKind);
    addGroup(bq::StringId::Programs, bq::kProgramBankNames, kProgramBankKind);
}

CWSBankView::~CWSBankView() = default;

CWSFrame* CWSBankView::GetWSFrame() const {
    return CWSFrame::FromView(this);
}

QString CWSBankView::ItemLabel(long slot, const CKarmaObject& item) {
    return QString::fromLatin1(bq::ItemText(slot, item));
}

// ---- lazy loading ----

void CWSBankView::OnItemExpanding(QTreeWidgetItem* node) {
    int image = 0;
    if (!GetItemImage(node, &image) || image != IMAGE_BANK || node->childCount() != 0) {
        return;  // groups, items, and banks whose items are in
    }
    // The node opens only once its items are in: it is closed again before anything paints,
    // for the time of the download. A failed load leaves it closed and unloaded, so the next
    // expansion tries again.
    collapseItem(node);
    const std::uintptr_t value = GetItemData(node);
    const long bank = static_cast<long>(value & 0xFFFF);
    QPointer<CWSBankView> self(this);
    switch (value >> 16) {
        case kProgramBankKind:
            LoadProgramBank(node, bank);
            break;
        case kCombiBankKind:
            LoadCombiBank(node, bank);
            break;
        default:
            return;
    }
    if (self && node->childCount() != 0) {
        expandItem(node);
    }
}

void CWSBankView::LoadCombiBank(QTreeWidgetItem* bankNode, long bank) {
    auto request = bq::sysex::CombiBankDumpRequest(static_cast<int>(bank));
    if (!request) {
        return;
    }
    const QString text = bq::FormatText(bq::LoadString(bq::StringId::LoadingCombination),
                                        {bq::LoadString(bq::kCombiBankNames[bank])});
    LoadBank(bankNode, bank, Kind::Combi, request->data(), text, kCombiBankDumpSize);
}

void CWSBankView::LoadProgramBank(QTreeWidgetItem* bankNode, long bank) {
    auto request = bq::sysex::ProgramBankDumpRequest(static_cast<int>(bank));
    if (!request) {
        return;
    }
    const QString text = bq::FormatText(bq::LoadString(bq::StringId::LoadingProgram),
                                        {bq::LoadString(bq::kProgramBankNames[bank])});
    LoadBank(bankNode, bank, bank == kMossBank ? Kind::MossProgram : Kind::PcmProgram,
             request->data(), text, kProgramBankDumpSize);
}

void CWSBankView::LoadBank(QTreeWidgetItem* bankNode, long bank, Kind kind, std::uint8_t* request,
                           const QString& statusText, std::uint32_t expected) {
    CWSFrame* frame = GetWSFrame();
    if (bankNode == nullptr || frame == nullptr || bankNode->childCount() != 0) {
        return;
    }
    QPointer<CWSBankView> self(this);
    std::vector<std::uint8_t> data;
    const bool received = frame->RequestDump(request, bq::sysex::kDumpRequestLength, statusText,
                                             expected, bq::sysex::kHeaderLength, &data);
    // The window (and this view with it) may have gone while it waited.
    if (!self || !received) {
        return;
    }

    if (PutBankItems(bankNode, bank, kind, data.data(), data.size())) {
        if (CWSFrame* now = GetWSFrame()) {
            now->Session().NoteBankDownloaded(kind == Kind::Combi, static_cast<int>(bank));
        }
    }
}

bool CWSBankView::PutBankItems(QTreeWidgetItem* bankNode, long bank, Kind kind, std::uint8_t* data,
                               std::size_t size) {
    const unsigned long recordSize = kind == Kind::Combi         ? CKarmaCombi::kRecordSize
                                     : kind == Kind::MossProgram ? CKarmaMOSSProgram::kRecordSize
                                                                 : CKarmaPCMProgram::kRecordSize;
    // Never read past the decoded bytes: a dump without 128 whole records is a failed load,
    // and a bank is shown whole or not at all.
    if (size / recordSize < static_cast<std::size_t>(kSlots)) {
        return false;
    }
    std::vector<bq::Ref<CKarmaObject>> objects;
    objects.reserve(kSlots);
    unsigned char* position = data;
    for (int slot = 0; slot < kSlots; ++slot) {
        unsigned long consumed = 0;
        CKarmaObject* object = nullptr;
        switch (kind) {
            case Kind::Combi:
                object = CKarmaCombi::LoadCombi(position, &consumed);
                break;
            case Kind::PcmProgram:
                object = CKarmaPCMProgram::LoadProgram(position, &consumed);
                break;
            case Kind::MossProgram:
                object = CKarmaMOSSProgram::LoadProgram(position, &consumed);
                break;
        }
        if (object == nullptr) {
            return false;  // out of memory: the ones built so far go with `objects`
        }
        objects.push_back(bq::Ref<CKarmaObject>::Adopt(object));
        position += consumed;
    }

    // A bank that shows its items already (from an earlier connection) gets the new records in
    // the same nodes, so that what is selected or open stays so.
    if (bankNode->childCount() == kSlots) {
        for (int slot = 0; slot < kSlots; ++slot) {
            if (GetItemRecord(bankNode->child(slot)) == nullptr) {
                return false;
            }
        }
        for (long slot = 0; slot < kSlots; ++slot) {
            QTreeWidgetItem* item = bankNode->child(static_cast<int>(slot));
            CBankItemData* record = GetItemRecord(item);
            item->setText(0, ItemLabel(slot, *objects[slot]));
            record->SetObject(std::move(objects[slot]));
        }
        return true;
    }
    if (bankNode->childCount() != 0) {
        return false;
    }

    const int image = kind == Kind::Combi ? IMAGE_COMBINATION : IMAGE_PROGRAM;
    // Made out of the tree and put in whole: one insertion for the view instead of 128.
    QTreeWidgetItem items;
    for (long slot = 0; slot < kSlots; ++slot) {
        const QString label = ItemLabel(slot, *objects[slot]);
        // The node's record takes over the builder's reference.
        InsertItemNode(label, image, std::move(objects[slot]), bank, slot, &items);
    }
    bankNode->addChildren(items.takeChildren());
    return true;
}

QTreeWidgetItem* CWSBankView::BankNode(std::uintptr_t kind, long bank) const {
    for (int g = 0; g < topLevelItemCount(); ++g) {
        QTreeWidgetItem* group = topLevelItem(g);
        for (int b = 0; b < group->childCount(); ++b) {
            QTreeWidgetItem* node = group->child(b);
            int image = -1;
            if (GetItemImage(node, &image) && image == IMAGE_BANK &&
                GetItemData(node) == BankNodeData(kind, bank)) {
                return node;
            }
        }
    }
    return nullptr;
}

bool CWSBankView::BankRecords(bool combination, long bank,
                              std::vector<std::uint8_t>* records) const {
    QTreeWidgetItem* node = BankNode(combination ? kCombiBankKind : kProgramBankKind, bank);
    if (node == nullptr || node->childCount() != kSlots || records == nullptr) {
        return false;
    }
    records->clear();
    for (int slot = 0; slot < kSlots; ++slot) {
        const CBankItemData* record = GetItemRecord(node->child(slot));
        unsigned long size = 0;
        const unsigned char* data = record != nullptr && record->GetObject() != nullptr
                                        ? record->GetObject()->GetData(&size)
                                        : nullptr;
        if (data == nullptr) {
            return false;
        }
        records->insert(records->end(), data, data + size);
    }
    return true;
}

bool CWSBankView::ShowDownloadedBank(bool combination, long bank,
                                     std::vector<std::uint8_t>& records) {
    QTreeWidgetItem* node = BankNode(combination ? kCombiBankKind : kProgramBankKind, bank);
    const Kind kind = combination         ? Kind::Combi
                      : bank == kMossBank ? Kind::MossProgram
                                          : Kind::PcmProgram;
    return node != nullptr && PutBankItems(node, bank, kind, records.data(), records.size());
}

void CWSBankView::ShowStoredCombi(long bank, long slot, const std::vector<std::uint8_t>& record) {
    QTreeWidgetItem* item = LoadedCombiItem(bank, slot);
    if (item == nullptr || record.size() != CKarmaCombi::kRecordSize) {
        return;
    }
    std::vector<std::uint8_t> copy = record;
    ReplaceWithCopy(item, GetItemRecord(item), copy.data());
}

// ---- send and swap ----

void CWSBankView::OnDrop(DRAGTREEINFO* info) {
    // While the instrument is being waited for, nothing is sent and nothing went wrong: the
    // drop is refused without a word.
    CWSFrame* frame = GetWSFrame();
    if (info == nullptr || frame == nullptr || frame->IsBusy()) {
        return;
    }
    auto* sourceView = qobject_cast<CBankTreeView*>(info->pSourceView);
    QTreeWidgetItem* targetItem = info->hTargetItem;
    QTreeWidgetItem* sourceItem = info->hSourceItem;
    CBankItemData* target = GetItemRecord(targetItem);
    CBankItemData* source = sourceView != nullptr ? sourceView->GetItemRecord(sourceItem) : nullptr;
    int targetImage = -1;
    int sourceImage = -1;
    // Only a Combination onto a Combination: the write is a Combination Item Write.
    if (target == nullptr || source == nullptr || !GetItemImage(targetItem, &targetImage) ||
        targetImage != IMAGE_COMBINATION || !sourceView->GetItemImage(sourceItem, &sourceImage) ||
        sourceImage != IMAGE_COMBINATION || source == target) {
        return;
    }
    if (sourceView == this) {
        Swap(targetItem, target, sourceItem, source);
    } else {
        Send(targetItem, target, source);
    }
}

void CWSBankView::RecordStep(bq::ws::StepKind kind, std::vector<bq::ws::SlotWrite> writes,
                             std::size_t applied) {
    if (CWSFrame* frame = GetWSFrame()) {
        frame->Session().History().Record(kind, std::move(writes), applied);
    }
}

bool CWSBankView::WriteCombi(std::uint8_t* record, std::size_t size, long bank, long slot) {
    const auto header = bq::sysex::ItemWriteHeader(static_cast<int>(bank), static_cast<int>(slot));
    CWSFrame* frame = GetWSFrame();
    if (!header || frame == nullptr || size == 0) {
        return false;
    }
    return frame->SendPacked(record, size, header->data(), header->size());
}

bool CWSBankView::ReplaceWithCopy(QTreeWidgetItem* item, CBankItemData* data,
                                  std::uint8_t* record) {
    unsigned long consumed = 0;
    CKarmaCombi* copy = CKarmaCombi::LoadCombi(record, &consumed);
    if (copy == nullptr) {
        return false;
    }
    item->setText(0, ItemLabel(data->GetSlot(), *copy));
    // The record takes over the new item's reference; the one it held goes.
    data->SetObject(bq::Ref<CKarmaObject>::Adopt(copy));
    return true;
}

void CWSBankView::Send(QTreeWidgetItem* targetItem, CBankItemData* target, CBankItemData* source) {
    // Taken now: the new item is made of exactly the bytes written, whatever becomes of the
    // source while the write waits.
    std::vector<std::uint8_t> record = CombiBytes(source->GetObject());
    std::vector<std::uint8_t> before = CombiBytes(target->GetObject());
    if (record.empty()) {
        return;
    }
    QPointer<CWSBankView> self(this);
    const bool written =
        WriteCombi(record.data(), record.size(), target->GetBank(), target->GetSlot());
    if (!self) {
        return;
    }
    if (written) {
        RecordStep(bq::ws::StepKind::Send, {{PlaceOf(*target), std::move(before), record}}, 1);
    }
    if (!written || !ReplaceWithCopy(targetItem, target, record.data())) {
        bq::ShowMessage(bq::StringId::TransferError, bq::MB_ICONERROR);
    }
}

void CWSBankView::Swap(QTreeWidgetItem* targetItem, CBankItemData* target,
                       QTreeWidgetItem* sourceItem, CBankItemData* source) {
    std::vector<std::uint8_t> sourceRecord = CombiBytes(source->GetObject());
    std::vector<std::uint8_t> targetRecord = CombiBytes(target->GetObject());
    if (sourceRecord.empty() || targetRecord.empty()) {
        return;
    }
    QPointer<CWSBankView> self(this);
    const bool first =
        WriteCombi(sourceRecord.data(), sourceRecord.size(), target->GetBank(), target->GetSlot());
    if (!self) {
        return;
    }
    if (!first) {
        bq::ShowMessage(bq::StringId::TransferError, bq::MB_ICONERROR);
        return;
    }
    const bool second =
        WriteCombi(targetRecord.data(), targetRecord.size(), source->GetBank(), source->GetSlot());
    if (!self) {
        return;
    }
    // One step, even when only its first write went through: the target's Combination was
    // overwritten all the same.
    RecordStep(bq::ws::StepKind::Swap,
               {{PlaceOf(*target), targetRecord, sourceRecord},
                {PlaceOf(*source), sourceRecord, targetRecord}},
               second ? 2 : 1);
    if (!second) {
        // Nothing is rolled back: the instrument now holds the source Combination in both
        // places, so the target shows (a copy of) it; the source place is unchanged.
        ReplaceWithCopy(targetItem, target, sourceRecord.data());
        bq::ShowMessage(bq::StringId::TransferError, bq::MB_ICONERROR);
        return;
    }
    CKarmaObject* sourceObject = source->GetObject();
    CKarmaObject* targetObject = target->GetObject();
    targetItem->setText(0, ItemLabel(target->GetSlot(), *sourceObject));
    sourceItem->setText(0, ItemLabel(source->GetSlot(), *targetObject));
    // Places stay with the records; the two Combinations change records, counts untouched.
    bq::Ref<CKarmaObject> moving = source->SetObject({});
    source->SetObject(target->SetObject(std::move(moving)));
}

// ---- commands ----

bool CWSBankView::SelectedImageIs(int image) const {
    int selected = -1;
    return GetItemImage(currentItem(), &selected) && selected == image;
}

bool CWSBankView::OnUpdateCommand(int id, bool* enabled) {
    switch (id) {
        case ID_BANK_INITIALISE:
            *enabled = SelectedImageIs(IMAGE_BANK);
            return true;
        case ID_PROGRAM_INITIALISE:
            *enabled = SelectedImageIs(IMAGE_PROGRAM);
            return true;
        case ID_COMBINATION_INITIALISE:
            *enabled = SelectedImageIs(IMAGE_COMBINATION);
            return true;
        case ID_ROUND_TRIP:
            *enabled = true;
            return true;
        default:
            return false;
    }
}

bool CWSBankView::OnCommand(int id) {
    bool enabled = false;
    if (!OnUpdateCommand(id, &enabled) || !enabled) {
        return false;
    }
    switch (id) {
        case ID_BANK_INITIALISE:
            OnBankInitialise();
            break;
        case ID_PROGRAM_INITIALISE:
            OnItemInitialise(bq::StringId::InitialiseProgramQuestion);
            break;
        case ID_COMBINATION_INITIALISE:
            OnItemInitialise(bq::StringId::InitialiseCombinationQuestion);
            break;
        case ID_ROUND_TRIP:
            OnRoundTrip();
            break;
        default:
            return false;
    }
    return true;
}

void CWSBankView::OnBankInitialise() {
    QTreeWidgetItem* bank = currentItem();
    QTreeWidgetItem* group = bank->parent();
    const QString question =
        bq::FormatText(bq::LoadString(bq::StringId::InitialiseBankQuestion),
                       {group != nullptr ? group->text(0) : QString(), bank->text(0)});
    if (bq::ShowMessage(question, bq::MB_YESNO | bq::MB_ICONWARNING) == bq::IDYES) {
        bq::ShowMessage(bq::StringId::NotImplemented, bq::MB_ICONERROR);
    }
}

void CWSBankView::OnItemInitialise(bq::StringId questionId) {
    const QString question = bq::FormatText(bq::LoadString(questionId), {currentItem()->text(0)});
    if (bq::ShowMessage(question, bq::MB_YESNO | bq::MB_ICONWARNING) == bq::IDYES) {
        bq::ShowMessage(bq::StringId::NotImplemented, bq::MB_ICONERROR);
    }
}

QTreeWidgetItem* CWSBankView::LoadedCombiItem(long bank, long slot) const {
    for (int g = 0; g < topLevelItemCount(); ++g) {
        QTreeWidgetItem* group = topLevelItem(g);
        for (int b = 0; b < group->childCount(); ++b) {
            QTreeWidgetItem* node = group->child(b);
            int image = -1;
            if (!GetItemImage(node, &image) || image != IMAGE_BANK ||
                GetItemData(node) != BankNodeData(kCombiBankKind, bank)) {
                continue;
            }
            QTreeWidgetItem* item = node->child(static_cast<int>(slot));
            const CBankItemData* record = GetItemRecord(item);
            return record != nullptr && record->GetSlot() == slot ? item : nullptr;
        }
    }
    return nullptr;
}

void CWSBankView::OnRoundTrip() {
    CWSFrame* frame = GetWSFrame();
    if (frame == nullptr || frame->IsBusy()) {
        return;
    }
    // It overwrites a place of the instrument's memory: ask first, naming it as the tree
    // shows it when its bank is in.
    QTreeWidgetItem* shown = LoadedCombiItem(kRoundTripBank, kRoundTripSlot);
    const QString question =
        shown != nullptr
            ? bq::FormatText(bq::LoadString(bq::StringId::RoundTripNamedQuestion), {shown->text(0)})
            : bq::LoadString(bq::StringId::RoundTripQuestion);
    QPointer<CWSBankView> self(this);
    const int answer =
        bq::ShowMessage(question, bq::MB_YESNO | bq::MB_ICONWARNING | bq::MB_DEFBUTTON2);
    if (!self || answer != bq::IDYES || (frame = GetWSFrame()) == nullptr) {
        return;
    }
    // What A-000 holds now is kept for Undo, so it must be known: bank A is downloaded first
    // when it is not in, and shows in the tree as when its node is opened. Without it nothing
    // is written.
    QTreeWidgetItem* place = LoadedCombiItem(kRoundTripBank, kRoundTripSlot);
    if (place == nullptr) {
        QTreeWidgetItem* node = BankNode(kCombiBankKind, kRoundTripBank);
        if (node == nullptr || node->childCount() != 0) {
            return;
        }
        LoadCombiBank(node, kRoundTripBank);
        if (!self || (place = LoadedCombiItem(kRoundTripBank, kRoundTripSlot)) == nullptr ||
            (frame = GetWSFrame()) == nullptr) {
            return;
        }
        expandItem(node);
    }
    std::vector<std::uint8_t> before = CombiBytes(GetItemRecord(place)->GetObject());
    if (before.empty()) {
        return;
    }
    auto request = bq::sysex::SingleCombiDumpRequest();
    std::vector<std::uint8_t> data;
    // A failed download ends the command; the transport has reported what it had to.
    const bool received = frame->RequestDump(request.data(), request.size(),
                                             bq::LoadString(bq::StringId::RoundTripStatus),
                                             kSingleCombiDumpSize, bq::sysex::kHeaderLength, &data);
    // The last decoded byte is the closing F7 that a short last group takes in. Anything but
    // one whole Combination is not written back: it would corrupt the place it went to.
    if (!self || !received || data.size() != CKarmaCombi::kRecordSize + 1) {
        return;
    }
    const auto header = bq::sysex::ItemWriteHeader(kRoundTripBank, kRoundTripSlot);
    const bool written =
        frame->SendPacked(data.data(), CKarmaCombi::kRecordSize, header->data(), header->size());
    // No message either way; the tree shows what the instrument now holds.
    if (!self || !written) {
        return;
    }
    RecordStep(bq::ws::StepKind::RoundTrip,
               {{bq::ws::Place{kRoundTripBank, kRoundTripSlot}, std::move(before),
                 std::vector<std::uint8_t>(data.begin(), data.begin() + CKarmaCombi::kRecordSize)}},
               1);
    if (QTreeWidgetItem* item = LoadedCombiItem(kRoundTripBank, kRoundTripSlot)) {
        ReplaceWithCopy(item, GetItemRecord(item), data.data());
    }
}

void CWSBankView::contextMenuEvent(QContextMenuEvent* event) {
    // No parent: the view may go while the menu (and the command it runs) is up.
    QMenu menu;
    menu.addAction(m_roundTrip);
    menu.exec(event->globalPos());
}
