#include <gtest/gtest.h>

#include <QImage>

#include <cstring>
#include <memory>

#include "banktree/BankTreeView.h"
#include "model/KarmaObject.h"
#include "model/Ref.h"

namespace {

CKarmaCombi* NewCombi(const char* name) {
    unsigned char record[CKarmaCombi::kRecordSize];
    std::memset(record, ' ', sizeof record);
    std::memcpy(record, name, std::strlen(name));
    unsigned long size = 0;
    return CKarmaCombi::LoadCombi(record, &size);
}

class TestBankView : public CBankTreeView {};

}  // namespace

TEST(BankItemData, HoldsTheReferenceItWasGivenAndReleasesItOnce) {
    bq::Ref<CKarmaCombi> keep = bq::Ref<CKarmaCombi>::Adopt(NewCombi("Keep"));
    {
        CBankItemData record(bq::Ref<CKarmaObject>::Share(keep.get()), 3, 127);
        EXPECT_EQ(keep->RefCount(), 2);
        EXPECT_EQ(record.GetObject(), keep.get());
        EXPECT_EQ(record.GetBank(), 3);
        EXPECT_EQ(record.GetSlot(), 127);
    }
    EXPECT_EQ(keep->RefCount(), 1);
}

TEST(BankItemData, SetObjectSwapsWithoutTouchingCounts) {
    bq::Ref<CKarmaCombi> a = bq::Ref<CKarmaCombi>::Adopt(NewCombi("A"));
    bq::Ref<CKarmaCombi> b = bq::Ref<CKarmaCombi>::Adopt(NewCombi("B"));
    {
        CBankItemData record(bq::Ref<CKarmaObject>::Share(a.get()), 0, 5);
        bq::Ref<CKarmaObject> previous = record.SetObject(bq::Ref<CKarmaObject>::Share(b.get()));
        EXPECT_EQ(previous.get(), a.get());
        EXPECT_EQ(record.GetObject(), b.get());
        EXPECT_EQ(a->RefCount(), 2);
        EXPECT_EQ(b->RefCount(), 2);
        previous = {};  // the caller owns what came back
        EXPECT_EQ(a->RefCount(), 1);
        EXPECT_EQ(record.GetBank(), 0);
        EXPECT_EQ(record.GetSlot(), 5);
    }
    EXPECT_EQ(a->RefCount(), 1);
    EXPECT_EQ(b->RefCount(), 1);
}

TEST(BankTreeView, DestroyingTheViewReleasesEveryRecord) {
    bq::Ref<CKarmaCombi> combi = bq::Ref<CKarmaCombi>::Adopt(NewCombi("Pad"));
    {
        TestBankView view;
        QTreeWidgetItem* bank = view.InsertItem(QStringLiteral("Bank B"), IMAGE_BANK, 0);
        for (int slot = 0; slot < 3; ++slot) {
            QTreeWidgetItem* item =
                view.InsertItemNode(QStringLiteral("item"), IMAGE_COMBINATION,
                                    bq::Ref<CKarmaObject>::Share(combi.get()), 1, slot, bank);
            ASSERT_NE(view.GetItemRecord(item), nullptr);
            EXPECT_EQ(view.GetItemRecord(item)->GetSlot(), slot);
        }
        EXPECT_EQ(combi->RefCount(), 4);
    }
    EXPECT_EQ(combi->RefCount(), 1);
}

TEST(BankTreeView, ANodeTakesItsRecordAlongWhenItGoes) {
    bq::Ref<CKarmaCombi> combi = bq::Ref<CKarmaCombi>::Adopt(NewCombi("Pad"));
    TestBankView view;
    QTreeWidgetItem* item = view.InsertItemNode(QStringLiteral("000 : Pad"), IMAGE_COMBINATION,
                                                bq::Ref<CKarmaObject>::Share(combi.get()), 0, 0);
    EXPECT_EQ(combi->RefCount(), 2);
    std::unique_ptr<QTreeWidgetItem> taken(view.takeTopLevelItem(view.indexOfTopLevelItem(item)));
    EXPECT_EQ(combi->RefCount(), 2);  // out of the tree, still carrying its record
    taken.reset();
    EXPECT_EQ(combi->RefCount(), 1);
}

TEST(BankTreeView, OnlyCombinationItemsCanBeDragged) {
    TestBankView view;
    QTreeWidgetItem* group = view.InsertItem(QStringLiteral("Combinations"), IMAGE_GROUP, 0);
    QTreeWidgetItem* bank = view.InsertItem(QStringLiteral("Bank A"), IMAGE_BANK, 0, group);
    QTreeWidgetItem* combi = view.InsertItem(QStringLiteral("000 : C"), IMAGE_COMBINATION, 0, bank);
    QTreeWidgetItem* program = view.InsertItem(QStringLiteral("000 : P"), IMAGE_PROGRAM, 0, bank);
    auto* foreign = new QTreeWidgetItem(QStringList(QStringLiteral("no image")));
    view.addTopLevelItem(foreign);

    EXPECT_TRUE(view.CanDragItem(combi));
    EXPECT_FALSE(view.CanDragItem(program));
    EXPECT_FALSE(view.CanDragItem(bank));
    EXPECT_FALSE(view.CanDragItem(group));
    EXPECT_FALSE(view.CanDragItem(foreign));  // no image to read
    EXPECT_FALSE(view.CanDragItem(nullptr));
}

TEST(BankTreeView, ItemRecordIsFoundOnlyForOwnItemNodes) {
    TestBankView view;
    TestBankView other;
    QTreeWidgetItem* item = view.InsertItemNode(QStringLiteral("009 : X"), IMAGE_COMBINATION,
                                                bq::Ref<CKarmaObject>::Adopt(NewCombi("X")), 2, 9);
    QTreeWidgetItem* bank = view.InsertItem(QStringLiteral("Bank C"), IMAGE_BANK, 2 + 0x10000);
    // A node that looks like an item node but carries no record.
    QTreeWidgetItem* plain = view.InsertItem(QStringLiteral("010 : Y"), IMAGE_COMBINATION, 0);

    CBankItemData* record = view.GetItemRecord(item);
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(record->GetBank(), 2);
    EXPECT_EQ(record->GetSlot(), 9);
    char name[20] = {};
    record->GetObject()->GetName(name, 19);
    EXPECT_STREQ(name, "X");
    EXPECT_EQ(view.GetItemRecord(bank), nullptr);
    EXPECT_EQ(view.GetItemRecord(plain), nullptr);
    EXPECT_EQ(view.GetItemRecord(nullptr), nullptr);
    // Another view never hands out the record of a node that is not its own.
    EXPECT_EQ(other.GetItemRecord(item), nullptr);
    EXPECT_EQ(view.GetItemData(bank), 2u + 0x10000u);
}

TEST(BankImages, FourPicturesWithWhiteTransparent) {
    QList<QIcon> images = LoadBankImageList();
    ASSERT_EQ(images.size(), 4);
    for (const QIcon& icon : images) {
        QImage image = icon.pixmap(16, 16).toImage();
        ASSERT_EQ(image.size(), QSize(16, 16));
        // The top-left corner of every picture is background: it must show through.
        EXPECT_EQ(qAlpha(image.pixel(0, 0)), 0);
    }
    // Each picture is distinct.
    for (int i = 0; i < 4; ++i) {
        for (int j = i + 1; j < 4; ++j) {
            EXPECT_NE(images[i].pixmap(16, 16).toImage(), images[j].pixmap(16, 16).toImage());
        }
    }
}
