#include "banktree/TimbreList.h"

#include <QHeaderView>

#include <algorithm>

#include "messages/Messages.h"
#include "messages/StringTable.h"

CTimbreList::CTimbreList(QWidget* parent) : QTreeWidget(parent) {
    setObjectName(QStringLiteral("timbres"));
    setAccessibleName(bq::LoadString(bq::StringId::TimbresName));
    setColumnCount(kColumns);
    setHeaderLabels({bq::LoadString(bq::StringId::TimbreColumnNumber),
                     bq::LoadString(bq::StringId::TimbreColumnStatus),
                     bq::LoadString(bq::StringId::TimbreColumnProgram),
                     bq::LoadString(bq::StringId::TimbreColumnChannel),
                     bq::LoadString(bq::StringId::TimbreColumnKeys),
                     bq::LoadString(bq::StringId::TimbreColumnVelocity)});
    setRootIsDecorated(false);
    setUniformRowHeights(true);
    setItemsExpandable(false);
    setAllColumnsShowFocus(true);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    // All eight rows in sight: the pane scrolls, not the list.
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    header()->setStretchLastSection(false);
    header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    // Queued: selecting the Program changes the pane, which refills this list, and it must not
    // be refilled inside its own signal.
    connect(this, &QTreeWidget::itemClicked, this,
            [this](QTreeWidgetItem* item) { Activate(item); });
    connect(this, &QTreeWidget::itemActivated, this,
            [this](QTreeWidgetItem* item) { Activate(item); });
}

void CTimbreList::SetRows(const std::vector<Row>& rows) {
    // Refilled for the same Combination when anything changes: the row chosen stays.
    const int current = currentIndex().row();
    clear();
    m_linked.clear();
    const QColor dim = palette().color(QPalette::PlaceholderText);
    const QColor link = palette().color(QPalette::Link);
    const QString tip = bq::LoadString(bq::StringId::TimbreProgramTip);
    QList<QTreeWidgetItem*> items;
    for (const Row& row : rows) {
        auto* item = new QTreeWidgetItem(
            QStringList{row.number, row.status, row.program, row.channel, row.keys, row.velocity});
        if (row.dim) {
            for (int c = 0; c < kColumns; ++c) {
                item->setForeground(c, dim);
            }
        }
        if (row.linked) {
            QFont font = item->font(kProgram);
            font.setUnderline(true);
            item->setFont(kProgram, font);
            item->setForeground(kProgram, link);
            item->setToolTip(kProgram, tip);
        }
        items << item;
        m_linked.push_back(row.linked);
    }
    addTopLevelItems(items);
    if (current >= 0 && current < topLevelItemCount()) {
        setCurrentItem(topLevelItem(current));
    }
    updateGeometry();
}

QStringList CTimbreList::Texts() const {
    QStringList texts;
    for (int r = 0; r < topLevelItemCount(); ++r) {
        QStringList cells;
        for (int c = 0; c < kColumns; ++c) {
            cells << topLevelItem(r)->text(c);
        }
        texts << cells.join(QStringLiteral(" | "));
    }
    return texts;
}

bool CTimbreList::IsLinked(int row) const {
    return row >= 0 && row < static_cast<int>(m_linked.size()) &&
           m_linked[static_cast<std::size_t>(row)];
}

QSize CTimbreList::sizeHint() const {
    const int rows = std::max(topLevelItemCount(), 1);
    const int line = topLevelItemCount() > 0 ? rowHeight(indexFromItem(topLevelItem(0)))
                                             : fontMetrics().height() + 4;
    const int height = header()->sizeHint().height() + rows * line + 2 * frameWidth();
    int width = 2 * frameWidth();
    for (int c = 0; c < kColumns; ++c) {
        width += std::max(sizeHintForColumn(c), header()->sectionSizeHint(c));
    }
    return {width, height};
}

QSize CTimbreList::minimumSizeHint() const {
    return {QTreeWidget::minimumSizeHint().width(), sizeHint().height()};
}

void CTimbreList::Activate(QTreeWidgetItem* item) {
    const int row = indexOfTopLevelItem(item);
    if (!IsLinked(row)) {
        return;
    }
    QMetaObject::invokeMethod(
        this, [this, row] { emit ProgramActivated(row); }, Qt::QueuedConnection);
}
