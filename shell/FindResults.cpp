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

// A result row: where its match is kept, and nothing else until it is asked.
class CFindResultsView::ResultNode final : public CBankItemNode {
public:
    ResultNode(const Shown* shown, std::uint32_t index) : m_shown(shown), m_index(index) {
        // The view then never looks for children of a result, nor a place in its set of open
        // rows.
        setFlags(flags() | Qt::ItemNeverHasChildren);
    }

    const bq::ItemCatalog::Entry& Entry() const { return m_shown->entries[m_index]; }
    int Image() const {
        return Entry().kind == bq::ItemKind::Combination ? IMAGE_COMBINATION : IMAGE_PROGRAM;
    }

    QVariant data(int column, int role) const override {
        if (role == Qt::DisplayRole) {
            return Text(column);
        }
        if (column == 0 && role == CDragTreeView::kImageRole) {
            return Image();
        }
        if (column == 0 && role == Qt::DecorationRole) {
            const auto* view = static_cast<const CFindResultsView*>(treeWidget());
            if (view != nullptr && Image() < view->ImageList().size()) {
                return view->ImageList()[Image()];
            }
        }
        return CBankItemNode::data(column, role);
    }

    CBankItemData* Record() override {
        if (m_record == nullptr) {
            const bq::ItemCatalog::Entry& e = Entry();
            m_record = std::make_unique<CBankItemData>(m_shown->items[m_index], e.bank, e.slot);
        }
        return m_record.get();
    }

private:
    QVariant Text(int column) const {
        const bq::ItemCatalog::Entry& e = Entry();
        switch (column) {
            case kName:
                return QString::fromLatin1(e.name, e.nameLength);
            case kKind: {
                const auto* view = static_cast<const CFindResultsView*>(treeWidget());
                return view != nullptr ? view->m_kindTexts[static_cast<std::size_t>(e.kind)]
                                       : bq::KindText(e.kind);
            }
            case kBank:
                return CItemSources::BankText(e.kind, e.bank);
            case kSlot:
                return QString::fromStdString(bq::SlotText(e.slot));
            case kWindow:
                return m_shown->window;
            default:
                return {};
        }
    }

    const Shown* m_shown;
    std::uint32_t m_index;
    std::unique_ptr<CBankItemData> m_record;  // made when first asked for
};

CFindResultsView::CFindResultsView(QWidget* parent) : CBankTreeView(parent) {
    setObjectName(QStringLiteral("findResults"));
    setAccessibleName(bq::LoadString(bq::StringId::FindResultsTitle));
    SetImageList(LoadBankImageList());
    m_kindTexts = {bq::KindText(bq::ItemKind::Combination), bq::KindText(bq::ItemKind::Program)};
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

CFindResultsView::~CFindResultsView() {
    // The rows read what m_shown keeps.
    clear();
}

void CFindResultsView::ClearResults() {
    clear();
    m_shown.clear();
}

void CFindResultsView::SetResults(const std::vector<Group>& groups) {
    ClearResults();
    QList<QTreeWidgetItem*> rows;
    for (const Group& g : groups) {
        if (g.catalog == nullptr || g.matches == nullptr || g.matches->empty()) {
            continue;
        }
        auto shown = std::make_unique<Shown>();
        shown->source = g.source;
        shown->window = g.window;
        shown->entries.reserve(g.matches->size());
        shown->items.reserve(g.matches->size());
        for (const std::uint32_t m : *g.matches) {
            if (m < g.catalog->Size()) {
                shown->entries.push_back(g.catalog->At(m));
                shown->items.push_back(bq::Ref<CKarmaObject>::Share(&g.catalog->Item(m)));
            }
        }
        const std::size_t n = shown->entries.size();
        const QString title =
            n == 1 ? bq::FormatText(bq::LoadString(bq::StringId::GroupOneMatch), {g.window})
                   : bq::FormatText(bq::LoadString(bq::StringId::GroupMatches),
                                    {g.window, QString::number(n)});
        // Filled while out of the tree and put in with the others: one insertion in all.
        QTreeWidgetItem* group = InsertItem(title, IMAGE_GROUP, g.source);
        takeTopLevelItem(indexOfTopLevelItem(group));
        QList<QTreeWidgetItem*> results;
        results.reserve(static_cast<qsizetype>(n));
        for (std::size_t i = 0; i < n; ++i) {
            results.append(new ResultNode(shown.get(), static_cast<std::uint32_t>(i)));
        }
        group->addChildren(results);
        rows.append(group);
        m_shown.push_back(std::move(shown));
    }
    addTopLevelItems(rows);
    for (QTreeWidgetItem* group : rows) {
        group->setFirstColumnSpanned(true);
        group->setExpanded(true);
    }
}

bool CFindResultsView::ResultOf(const QTreeWidgetItem* row, std::uint32_t* source,
                                bq::ItemKind* kind, long* bank, long* slot) const {
    // Every item node of this list is a result.
    if (row == nullptr || row->type() != CBankItemNode::kType || row->treeWidget() != this ||
        row->parent() == nullptr) {
        return false;
    }
    const auto* result = static_cast<const ResultNode*>(row);
    const bq::ItemCatalog::Entry& e = result->Entry();
    *source = static_cast<std::uint32_t>(GetItemData(row->parent()));
    *kind = e.kind;
    *bank = e.bank;
    *slot = e.slot;
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

bq::Ref<CKarmaObject> CFindResultsView::ProgramOf(const QTreeWidgetItem* item, int bank,
                                                  int slot) const {
    std::uint32_t source = 0;
    bq::ItemKind kind = bq::ItemKind::Combination;
    long resultBank = 0;
    long resultSlot = 0;
    if (!m_programLookup || !ResultOf(item, &source, &kind, &resultBank, &resultSlot)) {
        return {};
    }
    return m_programLookup(source, bank, slot);
}
