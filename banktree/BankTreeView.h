#pragma once

#include <QIcon>
#include <QList>

#include <cstdint>
#include <memory>
#include <vector>

#include "banktree/DragTreeView.h"

class CKarmaObject;

// The kinds of node, as indices into the image strip that both bank views show. The image is
// the only kind marker drag and drop looks at.
enum : int {
    IMAGE_PROGRAM = 0,
    IMAGE_COMBINATION = 1,
    IMAGE_BANK = 2,
    IMAGE_GROUP = 3,
};

// The four 16-pixel pictures of the image strip (white is transparent), in index order.
QList<QIcon> LoadBankImageList();

// The height of `view` (its frame included) that shows `rows` whole rows of its items, none
// scrolled sideways. Document windows open at the size that shows a bank's first rows.
int TreeHeightForRows(const QTreeView& view, int rows);

// What an item node shows and where it lives. Holds one counted reference to its item.
class CBankItemData {
public:
    // Takes over the reference the caller passes in.
    CBankItemData(CKarmaObject* object, long bank, long slot);
    CBankItemData(const CBankItemData&) = delete;
    CBankItemData& operator=(const CBankItemData&) = delete;
    ~CBankItemData();

    CKarmaObject* GetObject() const { return m_pObject; }
    long GetBank() const { return m_nBank; }
    long GetSlot() const { return m_nSlot; }
    // Stores `object` and returns the previous one, counts untouched: the record takes over
    // the reference passed in and the caller the one returned.
    CKarmaObject* SetObject(CKarmaObject* object);

private:
    CKarmaObject* m_pObject;
    std::int32_t m_nBank;
    std::int32_t m_nSlot;
};

// A drag tree of group, bank and item nodes. It owns one CBankItemData per item node; the
// nodes refer to them through their data value. Only Combination items can be dragged.
class CBankTreeView : public CDragTreeView {
    Q_OBJECT
public:
    explicit CBankTreeView(QWidget* parent = nullptr);
    ~CBankTreeView() override;

    bool CanDragItem(QTreeWidgetItem* item) override;

    // Adds a record that takes over the caller's reference to `object`; the view owns it.
    CBankItemData* AddItemData(CKarmaObject* object, long bank, long slot);
    // The record of an item node (null for groups, banks and foreign items).
    CBankItemData* GetItemRecord(const QTreeWidgetItem* item) const;
    const std::vector<std::unique_ptr<CBankItemData>>& ItemRecords() const { return m_items; }
    // Removes every node, then every record: for views that show passing results.
    void RemoveAllItems();

private:
    std::vector<std::unique_ptr<CBankItemData>> m_items;
};
