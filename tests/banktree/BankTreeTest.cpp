#include <gtest/gtest.h>

#include <QImage>

#include <cstring>

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
    keep->AddRef();  // the reference the record takes over
    {
        CBankItemData record(keep.get(), 3, 127);
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
    a->AddRef();
    b->AddRef();
    {
        CBankItemData record(a.get(), 0, 5);
        CKarmaObject* previous = record.SetObject(b.get());
        EXPECT_EQ(previous, a.get());
        EXPECT_EQ(record.GetObject(), b.get());
        EXPECT_EQ(a->RefCount(), 2);
        EXPECT_EQ(b->RefCount(), 2);
        previous->Release();  // the caller owns what came back
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
        for (int slot = 0; slot < 3; ++slot) {
            combi->AddRef();
            CBankItemData* record = view.AddItemData(combi.get(), 1, slot);
            view.InsertItem(QStringLiteral("item"), IMAGE_COMBINATION,
                            reinterpret_cast<std::uintptr_t>(record));
        }
        EXPECT_EQ(combi->RefCount(), 4);
        EXPECT_EQ(view.ItemRecords().size(), 3u);
    }
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
    CBankItemData* record = view.AddItemData(NewCombi("X"), 2, 9);
    auto data = reinterpret_cast<std::uintptr_t>(record);
    QTreeWidgetItem* item = view.InsertItem(QStringLiteral("009 : X"), IMAGE_COMBINATION, data);
    QTreeWidgetItem* bank = view.InsertItem(QStringLiteral("Bank C"), IMAGE_BANK, 2 + 0x10000);
    QTreeWidgetItem* stranger =
        other.InsertItem(QStringLiteral("009 : X"), IMAGE_COMBINATION, data);

    EXPECT_EQ(view.GetItemRecord(item), record);
    EXPECT_EQ(view.GetItemRecord(bank), nullptr);
    EXPECT_EQ(other.GetItemRecord(stranger), nullptr);
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
