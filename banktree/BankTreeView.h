#pragma once

#include <QIcon>
#include <QList>

#include <cstdint>

#include "banktree/DragTreeView.h"
#include "model/KarmaObject.h"
#include "model/Ref.h"

// The kinds of node, as indices into the image strip that both bank views show. The image is
// the only kind marker drag and drop looks at.
enum : int {
    IMAGE_PROGRAM = 0,
    IMAGE_COMBINATION = 1,
    IMAGE_BANK = 2,
    IMAGE_GROUP = 3,
};

// The four 16-pixel pictures of the image strip (white is transparent), in index order.
// Loaded once and shared by every view (see SharedIcon).
QList<QIcon> LoadBankImageList();

// The icon of an image resource, loaded once for the whole program. A picture loaded anew gets
// a key of its own in Qt's pixmap cache, where what is drawn from it stays after the window
// that loaded it has gone: a window opened and closed again and again would add to it each
// time. Needs a QApplication; the icons go with it. User-interface thread only.
QIcon SharedIcon(const QString& resource);

// The height of `view` (its frame included) that shows `rows` whole rows of its items, none
// scrolled sideways. Document windows open at the size that shows a bank's first rows.
int TreeHeightForRows(const QTreeView& view, int rows);

// What an item node shows and where it lives. Holds one counted reference to its item.
class CBankItemData {
public:
    CBankItemData(bq::Ref<CKarmaObject> object, long bank, long slot);
    CBankItemData(const CBankItemData&) = delete;
    CBankItemData& operator=(const CBankItemData&) = delete;

    CKarmaObject* GetObject() const { return m_object.get(); }
    long GetBank() const { return m_nBank; }
    long GetSlot() const { return m_nSlot; }
    // Stores `object` and hands back the previous one; no count changes on the way.
    bq::Ref<CKarmaObject> SetObject(bq::Ref<CKarmaObject> object);

private:
    bq::Ref<CKarmaObject> m_object;
    std::int32_t m_nBank;
    std::int32_t m_nSlot;
};

// A node that shows an item and carries its record. The tree owns the node, and the node its
// record; a node may make the record only when it is first asked for.
class CBankItemNode : public QTreeWidgetItem {
public:
    static constexpr int kType = QTreeWidgetItem::UserType + 1;

    explicit CBankItemNode(const QStringList& texts = {}) : QTreeWidgetItem(texts, kType) {}
    virtual CBankItemData* Record() = 0;
};

// A drag tree of group, bank and item nodes. Each item node carries its CBankItemData and
// goes with it. Only Combination items can be dragged.
class CBankTreeView : public CDragTreeView {
    Q_OBJECT
public:
    explicit CBankTreeView(QWidget* parent = nullptr);

    bool CanDragItem(QTreeWidgetItem* item) override;

    // Appends an item node after the last child of `parent` (at the root when null), with a
    // record of `object` (whose reference it takes over) at `bank` and `slot`.
    QTreeWidgetItem* InsertItemNode(const QString& text, int image, bq::Ref<CKarmaObject> object,
                                    long bank, long slot, QTreeWidgetItem* parent = nullptr);
    // The record of an item node of this view; null for groups, banks and nodes of other trees.
    CBankItemData* GetItemRecord(const QTreeWidgetItem* item) const;
    // The Program in bank 0..5, slot 0..127 of the same place as the item node `item` (its PCG
    // file, say): what a Combination dragged from here plays. None by default.
    virtual bq::Ref<CKarmaObject> ProgramOf(const QTreeWidgetItem* item, int bank, int slot) const;
};
