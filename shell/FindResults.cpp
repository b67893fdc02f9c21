#include "shell/FindResults.h"

#include <QHeaderView>
#include <QPointer>

#include "messages/Messages.h"
#include "messages/StringTable.h"
#include "model/KarmaObject.h"
#include "shell/ItemSources.h"

namespace {

constexpr int kColumnWidths[] = {170, 100, 80, 50};

}  // namespace

CFindResultsView::CFindResultsView(QWidget* parent) : CBankTreeView(parent) {
    setObjectName(QStringLiteral("findResults"));
    setAccessibleName(bq::LoadString(bq::StringId::FindResultsTitle));
    SetImageList(LoadBankImageList());
    setColumnCount(kColumns);
    setHeaderLabels(
        {bq::LoadString(bq::StringId::ColumnName), bq::LoadString(bq::StringId::ColumnKind),
         bq::LoadString(bq::StringId::ColumnBank), bq::LoadString(bq::StringId::ColumnSlot),
         bq::LoadString(bq::StringId::ColumnWindow)});
    header()->show();
    header()->setStretchLastSection(true);
    for (int c = 0; c < kWindow; ++c) {
        header()->resizeSection(c, kColumnWidths[c]);
    }
    connect(this, &QTreeWidget::itemActivated, this, [this](QTreeWidgetItem* row) {
        std::uint32_t source = 0;
        bq::ItemKind kind{};
        long bank = 0;
        long slot = 0;
        if (ResultOf(row, &source, &kind, &bank, &slot)) {
            // Queued: going there may start a new find, which refills this list.
            QMetaObject::invokeMethod(
                this,
                [this, source, kind, bank, slot] {
                    emit ResultActivated(source, kind, bank, slot);
                },
                Qt::QueuedConnection);
        }
    });
}

void CFindResultsView::ClearResults() {
    clear();
}

void CFindResultsView::SetResults(const std::vector<Group>& groups) {
    clear();
    QList<QTreeWidgetItem*> rows;
    for (const Group& g : groups) {
        if (g.catalog == nullptr || g.matches == nullptr || g.matches->empty()) {
            continue;
        }
        const std::size_t n = g.matches->size();
        const QString title =
            n == 1 ? bq::FormatText(bq::LoadString(bq::StringId::GroupOneMatch), {g.window})
                   : bq::FormatText(bq::LoadString(bq::StringId::GroupMatches),
                                    {g.window, QString::number(n)});
        // Filled while out of the tree and put in with the others: one insertion in all.
        QTreeWidgetItem* group = InsertItem(title, IMAGE_GROUP, g.source);
        takeTopLevelItem(indexOfTopLevelItem(group));
        for (const std::uint32_t m : *g.matches) {
            if (m >= g.catalog->Size()) {
                continue;
            }
            const bq::ItemCatalog::Entry& e = g.catalog->At(m);
            const int image =
                e.kind == bq::ItemKind::Combination ? IMAGE_COMBINATION : IMAGE_PROGRAM;
            QTreeWidgetItem* row = InsertItemNode(QString::fromLatin1(e.name, e.nameLength), image,
                                                  bq::Ref<CKarmaObject>::Share(&g.catalog->Item(m)),
                                                  e.bank, e.slot, group);
            row->setText(kKind, bq::KindText(e.kind));
            row->setText(kBank, CItemSources::BankText(e.kind, e.bank));
            row->setText(kSlot, QString::fromStdString(bq::SlotText(e.slot)));
            row->setText(kWindow, g.window);
        }
        rows.append(group);
    }
    addTopLevelItems(rows);
    for (QTreeWidgetItem* group : rows) {
        group->setFirstColumnSpanned(true);
        group->setExpanded(true);
    }
}

bool CFindResultsView::ResultOf(const QTreeWidgetItem* row, std::uint32_t* source,
                                bq::ItemKind* kind, long* bank, long* slot) const {
    int image = -1;
    const CBankItemData* record = GetItemRecord(row);
    if (record == nullptr || row->parent() == nullptr || !GetItemImage(row, &image)) {
        return false;
    }
    *source = static_cast<std::uint32_t>(GetItemData(row->parent()));
    *kind = image == IMAGE_COMBINATION ? bq::ItemKind::Combination : bq::ItemKind::Program;
    *bank = record->GetBank();
    *slot = record->GetSlot();
    return true;
}

bool CFindResultsView::CanDragItem(QTreeWidgetItem* item) {
    if (!CBankTreeView::CanDragItem(item)) {
        return false;
    }
    CBankItemData* record = GetItemRecord(item);
    return record != nullptr && (!m_beforeDrag || m_beforeDrag(item, record));
}

void CFindResultsView::NoteDragEnd(bool wasBusy) {
    if (wasBusy && !IsDragging() && !IsDropping()) {
        QMetaObject::invokeMethod(this, &CFindResultsView::DragEnded, Qt::QueuedConnection);
    }
}

bool CFindResultsView::eventFilter(QObject* watched, QEvent* event) {
    const bool busy = IsDragging();
    const bool result = CBankTreeView::eventFilter(watched, event);
    NoteDragEnd(busy);
    return result;
}

void CFindResultsView::mouseMoveEvent(QMouseEvent* event) {
    const bool busy = IsDragging();
    CBankTreeView::mouseMoveEvent(event);
    NoteDragEnd(busy);
}

void CFindResultsView::mouseReleaseEvent(QMouseEvent* event) {
    const bool busy = IsDragging();
    // The drop runs in here, waiting for the instrument; the list may go meanwhile.
    QPointer<CFindResultsView> self(this);
    CBankTreeView::mouseReleaseEvent(event);
    if (self != nullptr) {
        NoteDragEnd(busy);
    }
}
