#include "banktree/BankTreeView.h"

#include <QApplication>
#include <QBitmap>
#include <QHash>
#include <QPixmap>
#include <QPointer>
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

namespace {

// The program's shared pictures, a child of the application so that they go before it.
class SharedImages : public QObject {
public:
    using QObject::QObject;

    static SharedImages& Get() {
        static QPointer<SharedImages> images;
        if (images == nullptr) {
            images = new SharedImages(QCoreApplication::instance());
        }
        return *images;
    }

    QHash<QString, QIcon> icons;
    QList<QIcon> bankImages;
    bool bankImagesLoaded = false;
};

}  // namespace

QIcon SharedIcon(const QString& resource) {
    QHash<QString, QIcon>& icons = SharedImages::Get().icons;
    auto it = icons.find(resource);
    if (it == icons.end()) {
        it = icons.insert(resource, QIcon(resource));
    }
    return *it;
}

QList<QIcon> LoadBankImageList() {
    SharedImages& shared = SharedImages::Get();
    if (shared.bankImagesLoaded) {
        return shared.bankImages;
    }
    shared.bankImagesLoaded = true;
    QPixmap strip(QStringLiteral(":/res/images/banktree.xpm"));
    if (strip.isNull()) {
        return shared.bankImages;
    }
    strip.setMask(strip.createMaskFromColor(Qt::white));
    for (int x = 0; x + 16 <= strip.width(); x += 16) {
        shared.bankImages.append(QIcon(strip.copy(x, 0, 16, strip.height())));
    }
    return shared.bankImages;
}

CBankItemData::CBankItemData(bq::Ref<CKarmaObject> object, long bank, long slot)
    : m_object(std::move(object)),
      m_nBank(static_cast<std::int32_t>(bank)),
      m_nSlot(static_cast<std::int32_t>(slot)) {}

bq::Ref<CKarmaObject> CBankItemData::SetObject(bq::Ref<CKarmaObject> object) {
    return std::exchange(m_object, std::move(object));
}

namespace {

// An item node that holds its text and record from the start.
class CStoredItemNode final : public CBankItemNode {
public:
    CStoredItemNode(const QString& text, bq::Ref<CKarmaObject> object, long bank, long slot)
        : CBankItemNode(QStringList(text)), m_record(std::move(object), bank, slot) {}

    CBankItemData* Record() override { return &m_record; }

private:
    CBankItemData m_record;
};

}  // namespace

CBankTreeView::CBankTreeView(QWidget* parent) : CDragTreeView(parent) {}

bool CBankTreeView::CanDragItem(QTreeWidgetItem* item) {
    int image = 0;
    // A slot whose item is not known has nothing to carry.
    const CBankItemData* record = GetItemRecord(item);
    return GetItemImage(item, &image) && image == IMAGE_COMBINATION &&
           (record == nullptr || record->GetObject() != nullptr);
}

QTreeWidgetItem* CBankTreeView::InsertItemNode(const QString& text, int image,
                                               bq::Ref<CKarmaObject> object, long bank, long slot,
                                               QTreeWidgetItem* parent) {
    return AddNode(new CStoredItemNode(text, std::move(object), bank, slot), image, 0, parent);
}

CBankItemData* CBankTreeView::GetItemRecord(const QTreeWidgetItem* item) const {
    // A node of another view never passes for one of ours.
    if (item == nullptr || item->type() != CBankItemNode::kType || item->treeWidget() != this) {
        return nullptr;
    }
    // The view hands out the records of its own nodes for change.
    return static_cast<CBankItemNode*>(const_cast<QTreeWidgetItem*>(item))->Record();
}

bq::Ref<CKarmaObject> CBankTreeView::ProgramOf(const QTreeWidgetItem*, int, int) const {
    return {};
}
