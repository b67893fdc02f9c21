#include <gtest/gtest.h>

#include <QApplication>
#include <QGuiApplication>
#include <QLabel>
#include <QScrollBar>
#include <QTest>

#include <cstring>
#include <memory>
#include <vector>

#include "banktree/BankTreeView.h"
#include "model/KarmaObject.h"
#include "model/Ref.h"
#include "tests/support/qt/WindowInput.h"

namespace {

// A bank view that remembers the drops it is given.
class RecordingBankView : public CBankTreeView {
public:
    struct Drop {
        CDragTreeView* source;
        QTreeWidgetItem* sourceItem;
        QTreeWidgetItem* target;
    };
    std::vector<Drop> drops;

protected:
    void OnDrop(DRAGTREEINFO* info) override {
        drops.push_back({info->pSourceView, info->hSourceItem, info->hTargetItem});
    }
};

// A widget that is not a tree but answers the drag messages as it is told.
class ProbeWidget : public QLabel {
public:
    bool accept = false;
    int queries = 0;
    int drops = 0;
    DRAGTREEINFO last;

protected:
    bool event(QEvent* event) override {
        if (event->type() == WM_DRAGTREE_QUERY) {
            auto* e = static_cast<CDragTreeEvent*>(event);
            ++queries;
            last = *e->Info();
            e->SetResult(accept ? 1 : 0);
            return true;
        }
        if (event->type() == WM_DRAGTREE_DROP) {
            ++drops;
            return true;
        }
        return QLabel::event(event);
    }
};

CKarmaCombi* NewCombi(const char* name) {
    unsigned char record[CKarmaCombi::kRecordSize];
    std::memset(record, ' ', sizeof record);
    std::memcpy(record, name, std::strlen(name));
    unsigned long size = 0;
    return CKarmaCombi::LoadCombi(record, &size);
}

struct Nodes {
    QTreeWidgetItem* combiGroup;
    QTreeWidgetItem* combiBank;
    QTreeWidgetItem* alpha;
    QTreeWidgetItem* beta;
    QTreeWidgetItem* programGroup;
    QTreeWidgetItem* programBank;
    QTreeWidgetItem* piano;
};

Nodes Fill(RecordingBankView& view) {
    view.SetImageList(LoadBankImageList());
    Nodes n{};
    n.combiGroup = view.InsertItem(QStringLiteral("Combinations"), IMAGE_GROUP, 0);
    n.combiBank = view.InsertItem(QStringLiteral("Bank A"), IMAGE_BANK, 0, n.combiGroup);
    auto addCombi = [&](const char* name, long slot) {
        return view.InsertItemNode(QString::asprintf("%.3ld : %s", slot, name), IMAGE_COMBINATION,
                                   bq::Ref<CKarmaObject>::Adopt(NewCombi(name)), 0, slot,
                                   n.combiBank);
    };
    n.alpha = addCombi("Alpha", 0);
    n.beta = addCombi("Beta", 1);
    n.programGroup = view.InsertItem(QStringLiteral("Programs"), IMAGE_GROUP, 0);
    n.programBank = view.InsertItem(QStringLiteral("Bank A"), IMAGE_BANK, 0, n.programGroup);
    n.piano = view.InsertItem(QStringLiteral("000 : Piano"), IMAGE_PROGRAM, 0, n.programBank);
    view.expandAll();
    return n;
}

class DragTree : public ::testing::Test {
protected:
    void SetUp() override {
        host.setGeometry(50, 50, 520, 400);
        left = new RecordingBankView;
        right = new RecordingBankView;
        probe = new ProbeWidget;
        left->setParent(&host);
        right->setParent(&host);
        probe->setParent(&host);
        left->setGeometry(0, 0, 250, 300);
        right->setGeometry(260, 0, 250, 300);
        probe->setGeometry(0, 310, 510, 80);
        right->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
        a = Fill(*left);
        b = Fill(*right);
        host.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&host));
        input = std::make_unique<bq::test::WindowInput>(&host);
    }
    void TearDown() override {
        input.reset();  // lets go of a button a failed expectation left held
        while (QGuiApplication::overrideCursor() != nullptr) {
            QGuiApplication::restoreOverrideCursor();
        }
    }

    static QPoint Center(CDragTreeView* view, QTreeWidgetItem* item) {
        return view->visualItemRect(item).center();
    }
    static QPoint Global(CDragTreeView* view, QTreeWidgetItem* item) {
        return view->viewport()->mapToGlobal(Center(view, item));
    }
    // All input goes through the host's window; Qt decides which widget gets it.
    void Press(CDragTreeView* view, QTreeWidgetItem* item) { input->Press(Global(view, item)); }
    void MoveTo(QPoint global) { input->Move(global); }
    void ReleaseAt(QPoint global) { input->Release(global); }
    // Presses on the item and moves far enough to start a drag.
    void StartDrag(CDragTreeView* source, QTreeWidgetItem* item) {
        Press(source, item);
        MoveTo(Global(source, item) + QPoint(QApplication::startDragDistance() + 4, 0));
    }
    static Qt::CursorShape Cursor() {
        const QCursor* cursor = QGuiApplication::overrideCursor();
        return cursor != nullptr ? cursor->shape() : Qt::ArrowCursor;
    }
    QPoint EmptySpace(CDragTreeView* view) {
        return view->viewport()->mapToGlobal(QPoint(100, view->viewport()->height() - 5));
    }
    QPoint Outside() { return host.geometry().bottomRight() + QPoint(100, 100); }

    QWidget host;
    RecordingBankView* left = nullptr;
    RecordingBankView* right = nullptr;
    ProbeWidget* probe = nullptr;
    Nodes a{};
    Nodes b{};
    std::unique_ptr<bq::test::WindowInput> input;
};

bool IsBold(QTreeWidgetItem* item) {
    return item->font(0).bold();
}

}  // namespace

TEST_F(DragTree, ProgramBankAndGroupNodesStartNoDrag) {
    for (QTreeWidgetItem* item : {a.piano, a.programBank, a.combiBank, a.combiGroup}) {
        SCOPED_TRACE(item->text(0).toStdString());
        StartDrag(left, item);
        MoveTo(Global(right, b.beta));
        EXPECT_FALSE(left->IsDragging());
        EXPECT_FALSE(IsBold(item));
        EXPECT_EQ(left->DragImage(), nullptr);
        EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
        EXPECT_EQ(QWidget::mouseGrabber(), nullptr);
        ReleaseAt(Global(right, b.beta));
        EXPECT_TRUE(right->drops.empty());
        EXPECT_EQ(right->GetDropHilightItem(), nullptr);
    }
}

TEST_F(DragTree, CombinationIsBoldAndItsImageFollowsThePointerUntilTheRelease) {
    StartDrag(left, a.alpha);
    ASSERT_TRUE(left->IsDragging());
    EXPECT_EQ(left->DragItem(), a.alpha);
    EXPECT_TRUE(IsBold(a.alpha));
    EXPECT_FALSE(IsBold(a.beta));
    // The pressed viewport has the pointer while the button is held; a widget grab on the
    // tree would take every later event away from it.
    EXPECT_EQ(QWidget::mouseGrabber(), nullptr);

    // The drag image hangs at the cursor by its hot spot, over the main window.
    QPoint global = Global(right, b.piano);
    MoveTo(global);
    QWidget* image = left->DragImage();
    ASSERT_NE(image, nullptr);
    EXPECT_TRUE(image->isVisible());
    EXPECT_EQ(image->parentWidget(), &host);
    EXPECT_EQ(image->pos(), host.mapFromGlobal(global) - CDragTreeView::kDragHotSpot);

    ReleaseAt(global);
    EXPECT_FALSE(left->IsDragging());
    EXPECT_FALSE(IsBold(a.alpha));
    EXPECT_EQ(left->DragImage(), nullptr);
    EXPECT_EQ(QWidget::mouseGrabber(), nullptr);
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
}

TEST_F(DragTree, CursorAndHighlightOverEachKindOfTarget) {
    StartDrag(left, a.alpha);
    ASSERT_TRUE(left->IsDragging());

    MoveTo(Global(left, a.beta));  // another Combination of the same view
    EXPECT_EQ(Cursor(), Qt::PointingHandCursor);
    EXPECT_EQ(left->GetDropHilightItem(), a.beta);

    MoveTo(Global(left, a.alpha));  // the dragged item itself
    EXPECT_EQ(Cursor(), Qt::ForbiddenCursor);
    EXPECT_EQ(left->GetDropHilightItem(), nullptr);

    MoveTo(Global(right, b.alpha));  // a Combination of the other view
    EXPECT_EQ(Cursor(), Qt::PointingHandCursor);
    EXPECT_EQ(right->GetDropHilightItem(), b.alpha);

    struct Case {
        const char* what;
        QPoint where;
    };
    for (const Case& c :
         {Case{"program", Global(right, b.piano)},
          Case{"combination bank", Global(right, b.combiBank)},
          Case{"program bank", Global(right, b.programBank)},
          Case{"scroll bar", right->verticalScrollBar()->mapToGlobal(QPoint(5, 20))},
          Case{"group", Global(right, b.combiGroup)}, Case{"empty tree space", EmptySpace(right)},
          Case{"outside every window", Outside()}}) {
        SCOPED_TRACE(c.what);
        MoveTo(Global(right, b.beta));
        ASSERT_EQ(Cursor(), Qt::PointingHandCursor);
        MoveTo(c.where);
        EXPECT_EQ(Cursor(), Qt::ForbiddenCursor);
        if (std::strcmp(c.what, "outside every window") != 0) {
            // The refusing tree took its highlight away; outside, no tree was asked.
            EXPECT_EQ(right->GetDropHilightItem(), nullptr);
        }
    }

    // A widget that is not a tree hears the query with the drag's source.
    MoveTo(probe->mapToGlobal(probe->rect().center()));
    EXPECT_EQ(Cursor(), Qt::ForbiddenCursor);
    EXPECT_GT(probe->queries, 0);
    EXPECT_EQ(probe->last.pSourceView, left);
    EXPECT_EQ(probe->last.hSourceItem, a.alpha);
    probe->accept = true;
    MoveTo(probe->mapToGlobal(probe->rect().center() + QPoint(1, 0)));
    EXPECT_EQ(Cursor(), Qt::PointingHandCursor);

    ReleaseAt(Outside());
    EXPECT_EQ(probe->drops, 0);
}

TEST_F(DragTree, ReleaseOnAcceptedCombinationDropsSynchronouslyAndKeepsTheHighlight) {
    StartDrag(left, a.beta);
    MoveTo(Global(right, b.alpha));
    ReleaseAt(Global(right, b.alpha));

    ASSERT_EQ(right->drops.size(), 1u);
    EXPECT_EQ(right->drops[0].source, left);
    EXPECT_EQ(right->drops[0].sourceItem, a.beta);
    EXPECT_EQ(right->drops[0].target, b.alpha);
    EXPECT_TRUE(left->drops.empty());
    EXPECT_FALSE(IsBold(a.beta));

    // The highlight stays through later activity until the next press in that tree.
    MoveTo(Global(right, b.piano));
    EXPECT_EQ(right->GetDropHilightItem(), b.alpha);
    input->Click(Global(left, a.piano));
    EXPECT_EQ(right->GetDropHilightItem(), b.alpha);
    input->Click(Global(right, b.piano));
    EXPECT_EQ(right->GetDropHilightItem(), nullptr);
}

TEST_F(DragTree, DropWithinTheSameViewNamesBothItemsOfThatView) {
    StartDrag(left, a.alpha);
    ReleaseAt(Global(left, a.beta));
    ASSERT_EQ(left->drops.size(), 1u);
    EXPECT_EQ(left->drops[0].source, left);
    EXPECT_EQ(left->drops[0].sourceItem, a.alpha);
    EXPECT_EQ(left->drops[0].target, a.beta);
    EXPECT_EQ(left->GetDropHilightItem(), a.beta);
}

TEST_F(DragTree, ReleaseOverNothingAcceptableChangesNothing) {
    struct Case {
        const char* what;
        QPoint where;
    };
    for (const Case& c :
         {Case{"the dragged item", Global(left, a.alpha)},
          Case{"a program", Global(right, b.piano)}, Case{"empty tree space", EmptySpace(right)},
          Case{"a refusing widget", probe->mapToGlobal(QPoint(5, 5))},
          Case{"outside every window", Outside()}}) {
        SCOPED_TRACE(c.what);
        StartDrag(left, a.alpha);
        ASSERT_TRUE(left->IsDragging());
        ReleaseAt(c.where);
        EXPECT_FALSE(left->IsDragging());
        EXPECT_FALSE(IsBold(a.alpha));
        EXPECT_TRUE(left->drops.empty());
        EXPECT_TRUE(right->drops.empty());
        EXPECT_EQ(probe->drops, 0);
        EXPECT_EQ(left->GetDropHilightItem(), nullptr);
        EXPECT_EQ(right->GetDropHilightItem(), nullptr);
        EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
        EXPECT_EQ(a.alpha->text(0), QStringLiteral("000 : Alpha"));
    }
}

TEST_F(DragTree, AcceptingWidgetGetsTheDropWithTheSameRecord) {
    probe->accept = true;
    StartDrag(left, a.beta);
    ReleaseAt(probe->mapToGlobal(QPoint(20, 20)));
    EXPECT_EQ(probe->drops, 1);
    EXPECT_EQ(probe->last.pSourceView, left);
    EXPECT_EQ(probe->last.hSourceItem, a.beta);
}

TEST_F(DragTree, ClosingTheSourceMidDragLeavesNoGrabOrCursor) {
    StartDrag(left, a.alpha);
    MoveTo(Global(right, b.alpha));
    ASSERT_EQ(right->GetDropHilightItem(), b.alpha);
    ASSERT_NE(QGuiApplication::overrideCursor(), nullptr);
    left->deleteLater();  // what closing its window does
    left = nullptr;
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(QWidget::mouseGrabber(), nullptr);
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
    // The rest of the gesture reaches no drag.
    MoveTo(Global(right, b.beta));
    input->Key(Qt::Key_Escape);
    ReleaseAt(Global(right, b.beta));
    EXPECT_TRUE(right->drops.empty());
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
}

namespace {

// What a drag that ended without a drop leaves: nothing of the drag, and no tree that looks as
// if it took the drop.
void ExpectNoDragLeft(CDragTreeView* source, QTreeWidgetItem* item,
                      std::initializer_list<RecordingBankView*> views) {
    EXPECT_FALSE(source->IsDragging());
    EXPECT_EQ(source->DragImage(), nullptr);
    EXPECT_FALSE(IsBold(item));
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
    for (RecordingBankView* view : views) {
        EXPECT_TRUE(view->drops.empty());
        EXPECT_EQ(view->GetDropHilightItem(), nullptr);
    }
}

}  // namespace

TEST_F(DragTree, AMoveWithoutTheButtonEndsTheDragWithoutADrop) {
    struct Case {
        const char* what;
        QPoint where;
    };
    for (const Case& c : {Case{"over the source tree", Global(left, a.beta)},
                          Case{"over the other tree", Global(right, b.alpha)},
                          Case{"outside the window", Outside()}}) {
        SCOPED_TRACE(c.what);
        StartDrag(left, a.alpha);
        MoveTo(Global(right, b.beta));
        ASSERT_EQ(right->GetDropHilightItem(), b.beta);
        input->MoveWithoutButtons(c.where);
        ExpectNoDragLeft(left, a.alpha, {left, right});
        // The release that was missed, arriving late, drops nothing either.
        ReleaseAt(Global(right, b.beta));
        EXPECT_TRUE(right->drops.empty());
        EXPECT_EQ(right->GetDropHilightItem(), nullptr);
    }
}

TEST_F(DragTree, EscapeCancelsTheDragAndTheNextDragDropsAsUsual) {
    StartDrag(left, a.alpha);
    MoveTo(Global(right, b.beta));
    ASSERT_EQ(Cursor(), Qt::PointingHandCursor);
    input->Key(Qt::Key_Escape);
    ExpectNoDragLeft(left, a.alpha, {left, right});
    // The button is still down: moving on and letting go over a Combination does nothing.
    MoveTo(Global(right, b.alpha));
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
    ReleaseAt(Global(right, b.alpha));
    EXPECT_TRUE(right->drops.empty());

    StartDrag(left, a.beta);
    ReleaseAt(Global(right, b.alpha));
    ASSERT_EQ(right->drops.size(), 1u);
    EXPECT_EQ(right->drops[0].sourceItem, a.beta);
    EXPECT_EQ(right->drops[0].target, b.alpha);
}

TEST_F(DragTree, HoldingTheDragAtAnEdgeScrollsTheTreeUnderIt) {
    // A full bank on the right: slot 100 is far out of sight.
    std::vector<QTreeWidgetItem*> rows{b.alpha, b.beta};
    for (long slot = 2; slot < 128; ++slot) {
        rows.push_back(right->InsertItemNode(
            QString::asprintf("%.3ld : Gamma", slot), IMAGE_COMBINATION,
            bq::Ref<CKarmaObject>::Adopt(NewCombi("Gamma")), 0, slot, b.combiBank));
    }
    QWidget* viewport = right->viewport();
    const int margin = right->autoScrollMargin();
    ASSERT_LT(3 * margin, viewport->height());
    ASSERT_TRUE(viewport->rect().contains(right->visualItemRect(b.alpha)));
    ASSERT_FALSE(viewport->rect().intersects(right->visualItemRect(rows[100])));
    // Shown where the pointer can rest on it without scrolling the tree.
    auto clearOfTheEdges = [&](QTreeWidgetItem* item) {
        QRect rect = right->visualItemRect(item);
        return rect.top() >= margin && rect.bottom() < viewport->height() - margin;
    };

    StartDrag(left, a.alpha);
    MoveTo(viewport->mapToGlobal(QPoint(60, viewport->height() - margin / 2)));
    ASSERT_TRUE(QTest::qWaitFor([&] { return clearOfTheEdges(rows[100]); }, 10000));
    // Items under the resting pointer were asked about as they went by.
    EXPECT_NE(right->GetDropHilightItem(), nullptr);
    EXPECT_EQ(Cursor(), Qt::PointingHandCursor);
    MoveTo(Global(right, rows[100]));
    EXPECT_EQ(right->GetDropHilightItem(), rows[100]);
    ReleaseAt(Global(right, rows[100]));
    ASSERT_EQ(right->drops.size(), 1u);
    EXPECT_EQ(right->drops[0].target, rows[100]);

    // And back up to the first slot from the top edge.
    StartDrag(left, a.beta);
    MoveTo(viewport->mapToGlobal(QPoint(60, margin / 2)));
    ASSERT_TRUE(QTest::qWaitFor([&] { return clearOfTheEdges(b.alpha); }, 10000));
    ReleaseAt(Global(right, b.alpha));
    ASSERT_EQ(right->drops.size(), 2u);
    EXPECT_EQ(right->drops[1].sourceItem, a.beta);
    EXPECT_EQ(right->drops[1].target, b.alpha);
}
