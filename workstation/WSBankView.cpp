#include "workstation/WSBankView.h"

#include <QAction>
#include <QContextMenuEvent>
#include <QFont>
#include <QMenu>
#include <QPalette>
#include <QPointer>

#include <array>
#include <utility>

#include "messages/Messages.h"
#include "messages/StringTable.h"
#include "model/ItemText.h"
#include "model/KarmaObject.h"
#include "model/Ref.h"
#include "model/Timbres.h"
#include "workstation/WSFrame.h"
#include "workstation/WSMemory.h"
#include "workstation/WSSendPrograms.h"
#include "workstation/WSSession.h"

namespace {

constexpr int kBanks = 6;
constexpr int kSlots = 128;

using Known = CWSMemory::Known;

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

void CWSBankView::ShowMemory(CWSMemory* memory) {
    if (m_memory != nullptr) {
        disconnect(m_memory, nullptr, this, nullptr);
    }
    m_memory = memory;
    if (memory == nullptr) {
        return;
    }
    connect(memory, &CWSMemory::BankChanged, this, &CWSBankView::ShowBank);
    connect(memory, &CWSMemory::SlotChanged, this, &CWSBankView::ShowSlot);
    for (int bank = 0; bank < kBanks; ++bank) {
        ShowBank(true, bank);
        ShowBank(false, bank);
    }
}

CWSFrame* CWSBankView::GetWSFrame() const {
    return CWSFrame::FromView(this);
}

QString CWSBankView::ItemLabel(long slot, const CKarmaObject& item) {
    return QString::fromLatin1(bq::ItemText(slot, item));
}

// ---- showing the memory ----

QTreeWidgetItem* CWSBankView::BankNode(bool combination, long bank) const {
    const std::uintptr_t data = BankNodeData(combination ? kCombiBankKind : kProgramBankKind, bank);
    for (int g = 0; g < topLevelItemCount(); ++g) {
        QTreeWidgetItem* group = topLevelItem(g);
        for (int b = 0; b < group->childCount(); ++b) {
            QTreeWidgetItem* node = group->child(b);
            int image = -1;
            if (GetItemImage(node, &image) && image == IMAGE_BANK && GetItemData(node) == data) {
                return node;
            }
        }
    }
    return nullptr;
}

QTreeWidgetItem* CWSBankView::ItemNode(bool combination, long bank, long slot) const {
    QTreeWidgetItem* node = BankNode(combination, bank);
    if (node == nullptr || slot < 0 || slot >= node->childCount()) {
        return nullptr;
    }
    QTreeWidgetItem* item = node->child(static_cast<int>(slot));
    const CBankItemData* record = GetItemRecord(item);
    return record != nullptr && record->GetSlot() == slot ? item : nullptr;
}

void CWSBankView::ShowItem(QTreeWidgetItem* node, bool combination, int bank, int slot) {
    CBankItemData* record = GetItemRecord(node);
    if (record == nullptr || m_memory == nullptr) {
        return;
    }
    CKarmaObject* item = m_memory->Item(combination, bank, slot);
    const Known known = m_memory->SlotKnown(combination, bank, slot);
    // Names from files and from the instrument are plain text.
    node->setText(0, item != nullptr ? ItemLabel(slot, *item)
                                     : QString::asprintf("%03d : ", slot) +
                                           bq::LoadString(bq::StringId::UnknownItemName));
    record->SetObject(bq::Ref<CKarmaObject>::Share(item));
    QFont font = node->font(0);
    font.setItalic(known == Known::No);
    node->setFont(0, font);
    node->setForeground(
        0, known == Known::Now ? QBrush() : palette().brush(QPalette::Disabled, QPalette::Text));
    const QString tip = known == Known::No        ? bq::LoadString(bq::StringId::UnknownItemTip)
                        : known == Known::Earlier ? bq::LoadString(bq::StringId::EarlierBankTip)
                                                  : QString();
    node->setToolTip(0, tip);
    node->setData(0, Qt::AccessibleDescriptionRole, tip.isEmpty() ? QVariant() : QVariant(tip));
}

void CWSBankView::ShowBankLook(QTreeWidgetItem* node, bool combination, int bank) {
    const bool now = m_memory == nullptr || !m_memory->HasBank(combination, bank) ||
                     m_memory->BankNow(combination, bank);
    node->setForeground(0, now ? QBrush() : palette().brush(QPalette::Disabled, QPalette::Text));
    const QString tip = now ? QString() : bq::LoadString(bq::StringId::EarlierBankTip);
    node->setToolTip(0, tip);
    node->setData(0, Qt::AccessibleDescriptionRole, tip.isEmpty() ? QVariant() : QVariant(tip));
}

void CWSBankView::ShowBank(bool combination, int bank) {
    QTreeWidgetItem* node = BankNode(combination, bank);
    if (node == nullptr || m_memory == nullptr) {
        return;
    }
    ShowBankLook(node, combination, bank);
    if (!m_memory->HasBank(combination, bank)) {
        return;
    }
    if (node->childCount() == kSlots) {
        for (int slot = 0; slot < kSlots; ++slot) {
            ShowItem(node->child(slot), combination, bank, slot);
        }
        return;
    }
    if (node->childCount() != 0) {
        return;
    }
    const int image = combination ? IMAGE_COMBINATION : IMAGE_PROGRAM;
    // Made out of the tree and put in whole: one insertion for the view instead of 128.
    QTreeWidgetItem items;
    for (long slot = 0; slot < kSlots; ++slot) {
        InsertItemNode(QString(), image, {}, bank, slot, &items);
    }
    node->addChildren(items.takeChildren());
    for (int slot = 0; slot < kSlots; ++slot) {
        ShowItem(node->child(slot), combination, bank, slot);
    }
}

void CWSBankView::ShowSlot(bool combination, int bank, int slot) {
    if (QTreeWidgetItem* node = ItemNode(combination, bank, slot)) {
        ShowItem(node, combination, bank, slot);
    }
    if (QTreeWidgetItem* node = BankNode(combination, bank)) {
        ShowBankLook(node, combination, bank);
    }
}

// ---- lazy loading ----

void CWSBankView::OnItemExpanding(QTreeWidgetItem* node) {
    int image = 0;
    if (!GetItemImage(node, &image) || image != IMAGE_BANK) {
        return;  // groups and items
    }
    const std::uintptr_t value = GetItemData(node);
    const bool combination = (value >> 16) == kCombiBankKind;
    const long bank = static_cast<long>(value & 0xFFFF);
    // A bank is downloaded the first time it opens; one shown from an earlier connection is
    // downloaded again from its context menu.
    if (node->childCount() != 0) {
        return;
    }
    // It opens only once its items are in: it is closed again before anything paints, for the
    // time of the download. A failed load leaves it closed and unloaded, so the next expansion
    // tries again.
    collapseItem(node);
    QPointer<CWSBankView> self(this);
    LoadBank(node, combination, bank);
    if (self && node->childCount() != 0) {
        expandItem(node);
    }
}

void CWSBankView::LoadCombiBank(QTreeWidgetItem* bankNode, long bank) {
    LoadBank(bankNode, true, bank);
}

void CWSBankView::LoadProgramBank(QTreeWidgetItem* bankNode, long bank) {
    LoadBank(bankNode, false, bank);
}

void CWSBankView::LoadBank(QTreeWidgetItem* bankNode, bool combination, long bank) {
    CWSFrame* frame = GetWSFrame();
    if (bankNode == nullptr || frame == nullptr || bank < 0 || bank >= kBanks ||
        !frame->IsConnected() || frame->IsBusy()) {
        return;
    }
    // The items come through the memory, which this view shows.
    frame->Session().DownloadBank(combination, static_cast<int>(bank));
}

// ---- send and swap ----

void CWSBankView::OnDrop(DRAGTREEINFO* info) {
    // While the instrument is being waited for, nothing is sent and nothing went wrong: the
    // drop is refused without a word.
    CWSFrame* frame = GetWSFrame();
    if (info == nullptr || frame == nullptr || frame->IsBusy() || m_memory == nullptr) {
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
    if (target == nullptr || source == nullptr || source->GetObject() == nullptr ||
        !GetItemImage(targetItem, &targetImage) || targetImage != IMAGE_COMBINATION ||
        !sourceView->GetItemImage(sourceItem, &sourceImage) || sourceImage != IMAGE_COMBINATION ||
        source == target) {
        return;
    }
    const bq::ws::Place targetPlace{static_cast<int>(target->GetBank()),
                                    static_cast<int>(target->GetSlot()), true};
    const bq::ws::Place sourcePlace{static_cast<int>(source->GetBank()),
                                    static_cast<int>(source->GetSlot()), true};
    // One of the instrument's own Combinations, wherever it was dragged from (this view, or a
    // row of the find's results), changes places with the target; any other is sent.
    const bool instruments =
        m_memory->Item(true, sourcePlace.bank, sourcePlace.slot) == source->GetObject();
    if (instruments) {
        frame->Session().SwapCombis(targetPlace, sourcePlace);
        return;
    }
    unsigned long size = 0;
    const unsigned char* data = source->GetObject()->GetData(&size);
    if (data == nullptr || size != CKarmaCombi::kRecordSize) {
        return;
    }
    // Taken now: what is written is exactly these bytes, whatever becomes of the source while
    // the write waits; and the Programs it plays, as its own file holds them.
    std::vector<CWSSendPrograms::Program> programs;
    for (const bq::ProgramRef ref : bq::InternalPrograms(bq::ReadTimbres(data, size))) {
        if (bq::BankKindOf(ref.bank) == bq::ProgramBankKind::Gm) {
            continue;  // not in the writable memory
        }
        CWSSendPrograms::Program program{ref.bank, ref.slot, {}, {}};
        if (const bq::Ref<CKarmaObject> item =
                sourceView->ProgramOf(sourceItem, ref.bank, ref.slot)) {
            unsigned long programSize = 0;
            const unsigned char* bytes = item->GetData(&programSize);
            if (bytes != nullptr) {
                program.record.assign(bytes, bytes + programSize);
            }
            program.name = QString::fromLatin1(bq::ItemText(0, *item).substr(6)).trimmed();
        }
        programs.push_back(std::move(program));
    }
    const QString name =
        QString::fromLatin1(bq::ItemText(0, *source->GetObject()).substr(6)).trimmed();
    CWSSendPrograms::Run(*frame, targetPlace, std::vector<std::uint8_t>(data, data + size), name,
                         programs);
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
            if (CWSFrame* frame = GetWSFrame()) {
                frame->Session().RoundTrip();
            }
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

void CWSBankView::contextMenuEvent(QContextMenuEvent* event) {
    // Shown without waiting for it, as a child of the view: it goes with the view, and its
    // command runs after the event that opened it has returned.
    auto* menu = new QMenu(this);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->addAction(m_roundTrip);
    // On a bank shown from an earlier connection (or with a slot not known): what the
    // instrument holds there now.
    QTreeWidgetItem* node = itemAt(viewport()->mapFromGlobal(event->globalPos()));
    int image = -1;
    if (node != nullptr && GetItemImage(node, &image) && image == IMAGE_BANK &&
        node->childCount() != 0 && m_memory != nullptr) {
        const std::uintptr_t value = GetItemData(node);
        const bool combination = (value >> 16) == kCombiBankKind;
        const long bank = static_cast<long>(value & 0xFFFF);
        if (!m_memory->BankNow(combination, static_cast<int>(bank))) {
            QAction* again = menu->addAction(bq::LoadString(bq::StringId::DownloadAgain));
            again->setObjectName(QStringLiteral("downloadAgainAction"));
            connect(again, &QAction::triggered, this, [this, combination, bank] {
                LoadBank(BankNode(combination, bank), combination, bank);
            });
        }
    }
    menu->popup(event->globalPos());
}
