#include "banktree/BankTreeView.h"

#include <QBitmap>
#include <QPixmap>
#include <QTreeView>

#include <algorithm>
#include <utility>

#include "model/KarmaObject.h"

int TreeHeightForRows(const QTreeView& view, int rows) {
    int row = view.model() != nullptr && view.model()->rowCount() > 0 ? view.sizeHintForRow(0) : 0;
    if (row <= 0) {
        row = std::max(view.iconSize().height(), view.fontMetrics().height()) + 2;
    }
    return rows * row + 2 * view.frameWidth();
}

QList<QIcon> LoadBankImageList() {
    QPixmap strip(QStringLiteral(":/res/images/banktree.xpm"));
    QList<QIcon> images;
    if (strip.isNull()) {
        return images;
    }
    strip.setMask(strip.createMaskFromColor(Qt::white));
    for (int x = 0; x + 16 <= strip.width(); x += 16) {
        images.append(QIcon(strip.copy(x, 0, 16, strip.height())));
    }
    return images;
}

CBankItemData::CBankItemData(CKarmaObject* object, long bank, long slot)
    : m_pObject(object),
      m_nBank(static_cast<std::int32_t>(bank)),
      m_nSlot(static_cast<std::int32_t>(slot)) {}

CBankItemData::~CBankItemData() {
    if (m_pObject != nullptr) {
        m_pObject->Release();
    }
}

CKarmaObject* CBankItemData::SetObject(CKarmaObject* object) {
    return std::exchange(m_pObject, object);
}

CBankTreeView::CBankTreeView(QWidget* parent) : CDragTreeView(parent) {}

// The records go before the tree items; items only hold their addresses as numbers.
CBankTreeView::~CBankTreeView() = default;

bool CBankTreeView::CanDragItem(QTreeWidgetItem* item) {
    int image = 0;
    return GetItemImage(item, &image) && image == IMAGE_COMBINATION;
}

CBankItemData* CBankTreeView::AddItemData(CKarmaObject* object, long bank, long slot) {
    m_items.push_back(std::make_unique<CBankItemData>(object, bank, slot));
    return m_items.back().get();
}

void CBankTreeView::RemoveAllItems() {
    // The nodes first: they hold the records' addresses.
    clear();
    m_items.clear();
}

CBankItemData* CBankTreeView::GetItemRecord(const QTreeWidgetItem* item) const {
    int image = 0;
    if (!GetItemImage(item, &image) || (image != IMAGE_PROGRAM && image != IMAGE_COMBINATION)) {
        return nullptr;
    }
    auto* record = reinterpret_cast<CBankItemData*>(GetItemData(item));
    // Only records this view owns: a node of another view never passes for one of ours.
    for (const auto& owned : m_items) {
        if (owned.get() == record) {
            return record;
        }
    }
    return nullptr;
}
