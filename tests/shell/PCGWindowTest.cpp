#include <gtest/gtest.h>

#include <QApplication>
#include <QEventLoop>
#include <QFileDialog>
#include <QFileInfo>
#include <QIcon>
#include <QImage>
#include <QLineEdit>
#include <QMdiArea>
#include <QPointer>
#include <QSplitter>
#include <QTimer>
#include <QTreeWidget>

#include <cerrno>
#include <cstring>
#include <vector>

#include "UiTestSupport.h"
#include "banktree/CommandTarget.h"
#include "banktree/ItemPane.h"
#include "model/KarmaObject.h"
#include "model/KorgPCGFile.h"
#include "model/Ref.h"
#include "shell/PCGBankView.h"
#include "shell/PCGFrame.h"
#include "tests/support/PcgBuilder.h"
#include "tests/support/qt/WindowInput.h"
#include "workstation/WSFrame.h"

using namespace bq::test;

namespace {

// Children of a node as their texts.
QStringList Texts(QTreeWidgetItem* parent) {
    QStringList texts;
    for (int i = 0; i < parent->childCount(); ++i) {
        texts << parent->child(i)->text(0);
    }
    return texts;
}

QStringList RootTexts(QTreeWidget* tree) {
    QStringList texts;
    for (int i = 0; i < tree->topLevelItemCount(); ++i) {
        texts << tree->topLevelItem(i)->text(0);
    }
    return texts;
}

// The records that the item nodes of a view carry, in tree order.
std::vector<CBankItemData*> ItemRecords(CBankTreeView* view) {
    std::vector<CBankItemData*> records;
    for (QTreeWidgetItemIterator it(view); *it != nullptr; ++it) {
        if (CBankItemData* record = view->GetItemRecord(*it)) {
            records.push_back(record);
        }
    }
    return records;
}

int Image(CDragTreeView* view, QTreeWidgetItem* item) {
    int image = -1;
    EXPECT_TRUE(view->GetItemImage(item, &image));
    return image;
}

class PCGWindow : public MainFrameTest {
protected:
    CPCGFrame* Open(const TempFile& file) {
        return frame->OpenPCGFile(QString::fromStdString(file.Path()));
    }
    int DocumentWindows() {
        int n = 0;
        for (QMdiSubWindow* w : frame->MdiArea()->subWindowList()) {
            n += qobject_cast<CPCGFrame*>(w) != nullptr;
        }
        return n;
    }
    void CloseAndFlush(CPCGFrame* window) {
        window->close();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
};

}  // namespace

TEST_F(PCGWindow, TritonFileShowsOnlyMessage129) {
    TempFile triton(PcgFile(Bytes{}, 0x50));
    EXPECT_EQ(Open(triton), nullptr);
    ASSERT_EQ(presenter.Messages().size(), 1u);
    EXPECT_EQ(presenter.Messages()[0].text, "Triton format PCG files are not currently supported.");
    EXPECT_EQ(presenter.Messages()[0].style, unsigned{bq::MB_ICONERROR});
    EXPECT_EQ(DocumentWindows(), 0);
}

TEST_F(PCGWindow, MalformedFileIsReportedWithTheLoadContext) {
    Bytes bytes = PcgFile(Bytes{});
    bytes.push_back(0);  // the root size no longer fits the file
    TempFile broken(bytes);
    EXPECT_EQ(Open(broken), nullptr);
    ASSERT_EQ(presenter.Messages().size(), 1u);
    EXPECT_TRUE(presenter.Messages()[0].text.startsWith("Load PCG File. "));
    EXPECT_EQ(DocumentWindows(), 0);
}

// The title a PCG window has when it first paints, and the main window's title then.
class FirstPaintTitles : public QObject {
public:
    explicit FirstPaintTitles(QWidget* mainWindow) : m_mainWindow(mainWindow) {}
    bool painted = false;
    QString window;
    QString mainWindow;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Paint && !painted) {
            if (auto* frame = qobject_cast<CPCGFrame*>(watched)) {
                painted = true;
                window = frame->windowTitle();
                mainWindow = m_mainWindow->windowTitle();
            }
        }
        return QObject::eventFilter(watched, event);
    }

private:
    QWidget* m_mainWindow;
};

TEST_F(PCGWindow, TheTitlesAreInPlaceWhenTheWindowFirstPaints) {
    TempFile good(PcgFile(CombiBank(0, {"Strings"})));
    FirstPaintTitles titles(frame.get());
    qApp->installEventFilter(&titles);
    CPCGFrame* window = Open(good);
    ASSERT_NE(window, nullptr);
    const bool painted = QTest::qWaitFor([&] { return titles.painted; }, 5000);
    qApp->removeEventFilter(&titles);
    ASSERT_TRUE(painted);
    const QString title =
        QStringLiteral("PCG File - [%1]").arg(QString::fromStdString(good.Path()));
    EXPECT_EQ(titles.window, title);
    EXPECT_EQ(titles.mainWindow, "Bankquill - " + title);
}

TEST_F(PCGWindow, GoodFileOpensATitledWindowWithTwoPanes) {
    TempFile good(PcgFile(Container("CMB1", {CombiBank(0, {"Strings"})})), "Live 100%s.pcg");
    CPCGFrame* window = Open(good);
    ASSERT_NE(window, nullptr);
    EXPECT_TRUE(presenter.Messages().empty());
    QString title = QStringLiteral("PCG File - [%1]").arg(QString::fromStdString(good.Path()));
    EXPECT_EQ(window->windowTitle(), title);
    EXPECT_TRUE(window->isVisible());
    Idle();
    EXPECT_EQ(frame->windowTitle(), "Bankquill - " + title);

    QSplitter* splitter = window->Splitter();
    ASSERT_EQ(splitter->count(), 2);
    EXPECT_EQ(splitter->widget(0), window->BankView());
    EXPECT_EQ(splitter->widget(1), window->OtherView());
    EXPECT_EQ(splitter->sizes().value(0), 250);
    EXPECT_FALSE(window->OtherView()->HasItem());
    EXPECT_STREQ(window->GetFile()->GetPath(), good.c_str());
}

TEST_F(PCGWindow, EmptyFileShowsOnlyTheTwoGroups) {
    TempFile empty(PcgFile(Bytes{}));
    CPCGFrame* window = Open(empty);
    ASSERT_NE(window, nullptr);
    CPCGBankView* view = window->BankView();
    EXPECT_EQ(RootTexts(view), QStringList({"Combinations", "Programs"}));
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(view->topLevelItem(i)->childCount(), 0);
        EXPECT_EQ(Image(view, view->topLevelItem(i)), IMAGE_GROUP);
    }
    EXPECT_TRUE(ItemRecords(view).empty());
}

TEST_F(PCGWindow, OnlyBanksWithItemsAppearInBankOrderAllCollapsed) {
    TempFile file(
        PcgFile(Cat({Container("CMB1", {CombiBank(2, {"Choir", "Organ"})}),
                     Container("PRG1", {ProgramBank(4, {"Bass"}), ProgramBank(0, {"Piano", "EP"}),
                                        ProgramBank(5, {"Moss Lead"})})})));
    CPCGFrame* window = Open(file);
    ASSERT_NE(window, nullptr);
    CPCGBankView* view = window->BankView();
    ASSERT_EQ(RootTexts(view), QStringList({"Combinations", "Programs"}));
    QTreeWidgetItem* combis = view->topLevelItem(0);
    QTreeWidgetItem* programs = view->topLevelItem(1);

    EXPECT_EQ(Texts(combis), QStringList({"Bank C"}));
    EXPECT_EQ(Texts(combis->child(0)), QStringList({"000 : Choir", "001 : Organ"}));
    EXPECT_EQ(Texts(programs), QStringList({"Bank A", "Bank E", "Bank F (MOSS)"}));
    EXPECT_EQ(Texts(programs->child(0)), QStringList({"000 : Piano", "001 : EP"}));
    EXPECT_EQ(Texts(programs->child(2)), QStringList({"000 : Moss Lead"}));

    EXPECT_EQ(Image(view, combis->child(0)), IMAGE_BANK);
    EXPECT_EQ(Image(view, combis->child(0)->child(1)), IMAGE_COMBINATION);
    EXPECT_EQ(Image(view, programs->child(1)->child(0)), IMAGE_PROGRAM);

    // Every node starts collapsed.
    QTreeWidgetItemIterator it(view);
    for (; *it != nullptr; ++it) {
        EXPECT_FALSE((*it)->isExpanded()) << (*it)->text(0).toStdString();
    }

    // Each item node's record tells its object, bank and slot.
    CBankItemData* organ = view->GetItemRecord(combis->child(0)->child(1));
    ASSERT_NE(organ, nullptr);
    EXPECT_EQ(organ->GetBank(), 2);
    EXPECT_EQ(organ->GetSlot(), 1);
    char name[20] = {};
    organ->GetObject()->GetName(name, 19);
    EXPECT_STREQ(name, "Organ");
    CBankItemData* moss = view->GetItemRecord(programs->child(2)->child(0));
    ASSERT_NE(moss, nullptr);
    EXPECT_EQ(moss->GetBank(), 5);
    EXPECT_EQ(ItemRecords(view).size(), 6u);
}

TEST_F(PCGWindow, NamesLoseTrailingBlanksButKeepTheirFirstCharacter) {
    TempFile file(PcgFile(Container(
        "CMB1", {CombiBank(0, {"Pad   ", "                ", "Full Sixteen Chr", " Lead"})})));
    CPCGFrame* window = Open(file);
    ASSERT_NE(window, nullptr);
    QTreeWidgetItem* bank = window->BankView()->topLevelItem(0)->child(0);
    EXPECT_EQ(Texts(bank),
              QStringList({"000 : Pad", "001 :  ", "002 : Full Sixteen Chr", "003 :  Lead"}));
}

TEST_F(PCGWindow, TwoWindowsOnOneFileAreIndependent) {
    TempFile file(PcgFile(Container("CMB1", {CombiBank(1, {"Brass"})})));
    CPCGFrame* first = Open(file);
    CPCGFrame* second = Open(file);
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    ASSERT_NE(first, second);
    EXPECT_NE(first->GetFile(), second->GetFile());
    QTreeWidgetItem* item2 = second->BankView()->topLevelItem(0)->child(0)->child(0);
    CBankItemData* record1 =
        first->BankView()->GetItemRecord(first->BankView()->topLevelItem(0)->child(0)->child(0));
    CBankItemData* record2 = second->BankView()->GetItemRecord(item2);
    ASSERT_NE(record1, nullptr);
    ASSERT_NE(record2, nullptr);
    EXPECT_NE(record1->GetObject(), record2->GetObject());

    bq::Ref<CKarmaObject> kept = bq::Ref<CKarmaObject>::Share(record2->GetObject());
    CloseAndFlush(first);
    EXPECT_EQ(DocumentWindows(), 1);
    EXPECT_EQ(item2->text(0), "000 : Brass");
    EXPECT_EQ(kept->RefCount(), 3);  // second window's bank and record, and ours
}

TEST_F(PCGWindow, ClosingAWindowReleasesEveryItem) {
    TempFile file(PcgFile(Cat({Container("CMB1", {CombiBank(0, {"A", "B"})}),
                               Container("PRG1", {ProgramBank(3, {"C"})})})));
    QPointer<CPCGFrame> window = Open(file);
    ASSERT_FALSE(window.isNull());
    std::vector<bq::Ref<CKarmaObject>> kept;
    for (CBankItemData* record : ItemRecords(window->BankView())) {
        kept.push_back(bq::Ref<CKarmaObject>::Share(record->GetObject()));
        EXPECT_EQ(kept.back()->RefCount(), 3);  // bank, record, ours
    }
    ASSERT_EQ(kept.size(), 3u);
    CloseAndFlush(window);
    EXPECT_TRUE(window.isNull());
    for (const auto& item : kept) {
        EXPECT_EQ(item->RefCount(), 1);
    }
}

TEST_F(PCGWindow, DocumentWindowsOpenShowing24RowsEachWithItsOwnIcon) {
    // Rows that fit whole in a tree's viewport.
    auto rows = [](QTreeWidget* tree) {
        const int row = tree->visualItemRect(tree->topLevelItem(0)).height();
        return row > 0 ? tree->viewport()->height() / row : 0;
    };
    TempFile file(PcgFile(Container("CMB1", {CombiBank(0, {"Alpha"})})));
    CPCGFrame* pcg = Open(file);
    ASSERT_NE(pcg, nullptr);
    EXPECT_GE(rows(pcg->BankView()), 24);

    // The Workstation window as View Workstation shows it, before its search (which finds no
    // ports on this computer) hides it again.
    presenter.Answer(bq::IDOK);
    presenter.Answer(bq::IDNO);
    CWSFrame* ws = frame->WorkstationFrame();
    ASSERT_TRUE(frame->ExecuteCommand(ID_VIEW_WORKSTATION));
    ASSERT_TRUE(ws->isVisible());
    EXPECT_GE(rows(ws->BankView()), 24);

    const QImage wsIcon = ws->windowIcon().pixmap(16, 16).toImage();
    EXPECT_FALSE(wsIcon.isNull());
    EXPECT_EQ(wsIcon,
              QIcon(QStringLiteral(":/res/images/workstation.xpm")).pixmap(16, 16).toImage());
    EXPECT_NE(wsIcon, pcg->windowIcon().pixmap(16, 16).toImage());
    EXPECT_NE(wsIcon, frame->windowIcon().pixmap(16, 16).toImage());
    ASSERT_TRUE(QTest::qWaitFor([&] { return !ws->isVisible(); }, 5000));
}

// The Workstation window is made on first use; a PCG window opened before that still finds
// it the first document window, placed and sized as if nothing had opened before it.
TEST_F(PCGWindow, AFileOpenedFirstLeavesTheWorkstationWindowFirstAndWhereItOpens) {
    TempFile file(PcgFile(Container("CMB1", {CombiBank(0, {"Alpha"})})));
    CPCGFrame* pcg = Open(file);
    ASSERT_NE(pcg, nullptr);
    const QList<QMdiSubWindow*> windows = frame->MdiArea()->subWindowList(QMdiArea::CreationOrder);
    ASSERT_EQ(windows.size(), 2);
    CWSFrame* ws = frame->WorkstationFrame();
    EXPECT_EQ(windows[0], ws);
    EXPECT_EQ(windows[1], pcg);
    EXPECT_FALSE(ws->isVisible());
    EXPECT_EQ(ws->pos(), QPoint(0, 0));
    EXPECT_EQ(ws->size(), ws->sizeHint());
    EXPECT_EQ(frame->MdiArea()->subWindowList().size(), 2) << "one Workstation window only";
}

TEST_F(PCGWindow, F6MovesTheFocusBetweenThePanes) {
    TempFile file(PcgFile(Bytes{}));
    CPCGFrame* window = Open(file);
    ASSERT_NE(window, nullptr);
    QApplication::setActiveWindow(frame.get());
    ASSERT_TRUE(QTest::qWaitForWindowActive(frame.get()));
    window->BankView()->setFocus();
    Idle();
    ASSERT_TRUE(window->BankView()->hasFocus());

    QTest::keyClick(QApplication::focusWidget(), Qt::Key_F6);
    EXPECT_TRUE(window->OtherView()->hasFocus());
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_F6);
    EXPECT_TRUE(window->BankView()->hasFocus());
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_F6, Qt::ShiftModifier);
    EXPECT_TRUE(window->OtherView()->hasFocus());
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_F6, Qt::ShiftModifier);
    EXPECT_TRUE(window->BankView()->hasFocus());
}

TEST_F(PCGWindow, InitialiseCommandsStayOffWhileAPCGWindowIsActive) {
    TempFile file(PcgFile(Container("CMB1", {CombiBank(0, {"A"})})));
    CPCGFrame* window = Open(file);
    ASSERT_NE(window, nullptr);
    QTreeWidgetItem* item = window->BankView()->topLevelItem(0)->child(0)->child(0);
    window->BankView()->setCurrentItem(item);
    Idle();
    for (int id : {ID_BANK_INITIALISE, ID_PROGRAM_INITIALISE, ID_COMBINATION_INITIALISE}) {
        EXPECT_FALSE(frame->CommandAction(id)->isEnabled());
        EXPECT_FALSE(frame->ExecuteCommand(id));
    }
    EXPECT_TRUE(frame->CommandAction(ID_NEXT_PANE)->isEnabled());
    EXPECT_TRUE(presenter.Messages().empty());
}

TEST_F(PCGWindow, DragBetweenTwoPCGViewsHighlightsAndChangesNothing) {
    TempFile file(PcgFile(Cat({Container("CMB1", {CombiBank(0, {"Alpha", "Beta"})}),
                               Container("PRG1", {ProgramBank(0, {"Piano"})})})));
    CPCGFrame* first = Open(file);
    CPCGFrame* second = Open(file);
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    frame->MdiArea()->tileSubWindows();
    CPCGBankView* source = first->BankView();
    CPCGBankView* target = second->BankView();
    source->expandAll();
    target->expandAll();
    Idle();

    auto at = &WindowInput::ItemCentre;
    QTreeWidgetItem* alpha = source->topLevelItem(0)->child(0)->child(0);
    QTreeWidgetItem* piano = source->topLevelItem(1)->child(0)->child(0);
    QTreeWidgetItem* targetBeta = target->topLevelItem(0)->child(0)->child(1);
    QTreeWidgetItem* targetPiano = target->topLevelItem(1)->child(0)->child(0);
    CBankItemData* targetRecord = target->GetItemRecord(targetBeta);
    CKarmaObject* targetObject = targetRecord->GetObject();
    WindowInput input(frame.get());

    // A Program starts no drag.
    input.Press(at(source, piano));
    input.Move(at(target, targetBeta));
    EXPECT_FALSE(source->IsDragging());
    input.Release(at(target, targetBeta));
    EXPECT_EQ(target->GetDropHilightItem(), nullptr);

    // A Combination does: hand over a Combination of the other window, forbidden over a Program.
    input.Press(at(source, alpha));
    input.Move(at(target, targetPiano));
    ASSERT_TRUE(source->IsDragging());
    EXPECT_TRUE(alpha->font(0).bold());
    EXPECT_EQ(QGuiApplication::overrideCursor()->shape(), Qt::ForbiddenCursor);
    input.Move(at(target, targetBeta));
    EXPECT_EQ(QGuiApplication::overrideCursor()->shape(), Qt::PointingHandCursor);
    input.Release(at(target, targetBeta));

    EXPECT_EQ(target->GetDropHilightItem(), targetBeta);
    EXPECT_EQ(targetBeta->text(0), "001 : Beta");
    EXPECT_EQ(alpha->text(0), "000 : Alpha");
    EXPECT_EQ(targetRecord->GetObject(), targetObject);
    EXPECT_FALSE(alpha->font(0).bold());
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
    EXPECT_TRUE(presenter.Messages().empty());
}

namespace {

// A target whose drop runs a nested event loop, as a write to the instrument does, during
// which the user tries to close the window the Combination came from.
class SlowTargetView : public CBankTreeView {
public:
    QPointer<QMdiSubWindow> sourceWindow;
    bool sourceSurvived = false;

protected:
    void OnDrop(DRAGTREEINFO* info) override {
        sourceWindow->close();
        QEventLoop loop;
        QTimer::singleShot(30, &loop, &QEventLoop::quit);
        loop.exec();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        sourceSurvived = !sourceWindow.isNull() && info->hSourceItem->text(0) == "000 : Alpha";
    }
};

}  // namespace

TEST_F(PCGWindow, SourceWindowStaysOpenWhileItsDropRuns) {
    TempFile file(PcgFile(Container("CMB1", {CombiBank(0, {"Alpha"})})));
    QPointer<CPCGFrame> source = Open(file);
    ASSERT_FALSE(source.isNull());
    auto* targetWindow = new QMdiSubWindow;
    targetWindow->setAttribute(Qt::WA_DeleteOnClose);
    auto* target = new SlowTargetView;
    target->SetImageList(LoadBankImageList());
    QTreeWidgetItem* slot = target->InsertItem("000 : Slot", IMAGE_COMBINATION, 0);
    targetWindow->setWidget(target);
    frame->MdiArea()->addSubWindow(targetWindow);
    targetWindow->show();
    frame->MdiArea()->tileSubWindows();
    target->sourceWindow = source.data();

    CPCGBankView* view = source->BankView();
    view->expandAll();
    Idle();
    QTreeWidgetItem* alpha = view->topLevelItem(0)->child(0)->child(0);
    WindowInput input(frame.get());
    input.Press(WindowInput::ItemCentre(view, alpha));
    input.Move(WindowInput::ItemCentre(target, slot));
    input.Release(WindowInput::ItemCentre(target, slot));

    EXPECT_TRUE(target->sourceSurvived);
    ASSERT_FALSE(source.isNull());
    EXPECT_FALSE(view->IsDropping());
    // Once the drop is over the window closes as usual.
    CloseAndFlush(source);
    EXPECT_TRUE(source.isNull());
}

namespace {

// A bank tree in an MDI window of its own that remembers the drops it takes.
class DropRecorderView : public CBankTreeView {
public:
    std::vector<DRAGTREEINFO> drops;

protected:
    void OnDrop(DRAGTREEINFO* info) override { drops.push_back(*info); }
};

// The widget drawn over all others of `window`.
QWidget* TopChild(QWidget* window) {
    const QObjectList& children = window->children();
    for (auto it = children.crbegin(); it != children.crend(); ++it) {
        if ((*it)->isWidgetType() && static_cast<QWidget*>(*it)->isVisible()) {
            return static_cast<QWidget*>(*it);
        }
    }
    return nullptr;
}

}  // namespace

TEST_F(PCGWindow, ADragGoesFromOneMDIWindowToAnotherAndTheWindowOnTopIsAsked) {
    TempFile file(PcgFile(Container("CMB1", {CombiBank(0, {"Alpha", "Beta", "Gamma"})})));
    CPCGFrame* pcg = Open(file);
    ASSERT_NE(pcg, nullptr);
    auto* targetWindow = new QMdiSubWindow;
    targetWindow->setAttribute(Qt::WA_DeleteOnClose);
    auto* target = new DropRecorderView;
    target->SetImageList(LoadBankImageList());
    target->InsertItem("000 : Slot", IMAGE_COMBINATION, 0);
    QTreeWidgetItem* slot = target->InsertItem("001 : Slot", IMAGE_COMBINATION, 0);
    targetWindow->setWidget(target);
    frame->MdiArea()->addSubWindow(targetWindow);
    targetWindow->show();
    CPCGBankView* source = pcg->BankView();
    source->expandAll();
    QTreeWidgetItem* alpha = source->topLevelItem(0)->child(0)->child(0);
    QTreeWidgetItem* beta = source->topLevelItem(0)->child(0)->child(1);
    QTreeWidgetItem* gamma = source->topLevelItem(0)->child(0)->child(2);
    // The PCG window, active and on top, covers the left part of the other window, whose
    // slot lines up with Beta.
    pcg->setGeometry(0, 0, 420, 400);
    pcg->Splitter()->setSizes({400, 20});
    targetWindow->setGeometry(300, 0, 400, 300);
    Idle();
    auto rowTop = [](QTreeWidget* tree, QTreeWidgetItem* item) {
        return tree->viewport()->mapToGlobal(tree->visualItemRect(item).topLeft()).y();
    };
    targetWindow->move(300, rowTop(source, beta) - rowTop(target, slot));
    frame->MdiArea()->setActiveSubWindow(pcg);
    Idle();
    const QRect slotRect = target->visualItemRect(slot);
    const QPoint underPCG =
        target->viewport()->mapToGlobal(QPoint(slotRect.left() + 4, slotRect.center().y()));
    const QPoint inSight =
        target->viewport()->mapToGlobal(QPoint(slotRect.right() - 10, slotRect.center().y()));
    ASSERT_EQ(source->itemAt(source->viewport()->mapFromGlobal(underPCG)), beta);
    ASSERT_FALSE(
        pcg->frameGeometry().contains(frame->MdiArea()->viewport()->mapFromGlobal(inSight)));

    WindowInput input(frame.get());
    input.Press(WindowInput::ItemCentre(source, alpha));
    input.Move(WindowInput::ItemCentre(source, gamma));
    ASSERT_TRUE(source->IsDragging());
    // One image over the main window, drawn on top of both MDI windows, at the pointer.
    QWidget* image = source->DragImage();
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(image->parentWidget(), frame.get());
    EXPECT_EQ(TopChild(frame.get()), image);
    EXPECT_EQ(image->pos(), frame->mapFromGlobal(WindowInput::ItemCentre(source, gamma)) -
                                CDragTreeView::kDragHotSpot);

    // Where the windows overlap, the tree the user sees is asked.
    input.Move(underPCG);
    EXPECT_EQ(source->GetDropHilightItem(), beta);
    EXPECT_EQ(target->GetDropHilightItem(), nullptr);

    input.Move(inSight);
    EXPECT_EQ(image->pos(), frame->mapFromGlobal(inSight) - CDragTreeView::kDragHotSpot);
    EXPECT_EQ(TopChild(frame.get()), image);
    EXPECT_EQ(target->GetDropHilightItem(), slot);
    EXPECT_EQ(QGuiApplication::overrideCursor()->shape(), Qt::PointingHandCursor);
    input.Release(inSight);

    ASSERT_EQ(target->drops.size(), 1u);
    EXPECT_EQ(target->drops[0].pSourceView, source);
    EXPECT_EQ(target->drops[0].hSourceItem, alpha);
    EXPECT_EQ(target->drops[0].hTargetItem, slot);
    EXPECT_EQ(source->DragImage(), nullptr);
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
}

namespace {

// Answers the open dialog that File Open is about to show by typing `name` into it.
void TypeIntoOpenDialog(const QString& name, bool* shown) {
    QTimer::singleShot(0, [name, shown] {
        auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        *shown = dialog != nullptr;
        if (dialog != nullptr) {
            dialog->selectFile(name);
            static_cast<QDialog*>(dialog)->accept();  // as the Open button does
        }
    });
}

}  // namespace

TEST_F(PCGWindow, FileOpenLoadsTheTypedNameWithTheDefaultSuffix) {
    TempFile file(PcgFile(Container("CMB1", {CombiBank(0, {"Typed"})})), "bank.PCG");
    QString typed = QString::fromStdString(file.Path()).chopped(4);  // without ".PCG"
    bool shown = false;
    TypeIntoOpenDialog(typed, &shown);
    frame->CommandAction(ID_FILE_OPEN)->trigger();
    EXPECT_TRUE(shown);
    EXPECT_TRUE(presenter.Messages().empty());
    ASSERT_EQ(DocumentWindows(), 1);
    auto* window = qobject_cast<CPCGFrame*>(frame->MdiArea()->currentSubWindow());
    ASSERT_NE(window, nullptr);
    EXPECT_STREQ(window->GetFile()->GetPath(), file.c_str());
}

TEST_F(PCGWindow, FileOpenComesBackInTheFolderOfTheLastFileWithAnEmptyName) {
    TempFile file(PcgFile(Container("CMB1", {CombiBank(0, {"Again"})})), "set.pcg");
    const QFileInfo info(QString::fromStdString(file.Path()));
    bool shown = false;
    TypeIntoOpenDialog(info.absoluteFilePath(), &shown);
    frame->CommandAction(ID_FILE_OPEN)->trigger();
    ASSERT_TRUE(shown);
    ASSERT_EQ(DocumentWindows(), 1);

    // The next File Open: the name typed alone is enough.
    QString folder;
    QString name = "(no field)";
    QTimer::singleShot(0, [&] {
        auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        if (dialog == nullptr) {
            return;
        }
        folder = dialog->directory().absolutePath();
        if (auto* field = qobject_cast<QLineEdit*>(dialog->focusWidget())) {
            name = field->text();
        }
        for (const QChar c : info.fileName()) {
            QTest::keyClick(dialog->windowHandle(), c.toLatin1());
        }
        QTest::keyClick(dialog->windowHandle(), Qt::Key_Return);
    });
    frame->CommandAction(ID_FILE_OPEN)->trigger();
    EXPECT_EQ(folder, info.absolutePath());
    EXPECT_EQ(name, "");
    ASSERT_EQ(DocumentWindows(), 2);
    auto* window = qobject_cast<CPCGFrame*>(frame->MdiArea()->currentSubWindow());
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(QFileInfo(QFile::decodeName(window->GetFile()->GetPath())), info);
    EXPECT_TRUE(presenter.Messages().empty());
}

TEST_F(PCGWindow, FileOpenOfANameThatDoesNotExistReportsTheLoadFailure) {
    TempFile file(PcgFile(Bytes{}));
    QString missing = QString::fromStdString(file.Path()) + QStringLiteral("-gone.pcg");
    bool shown = false;
    TypeIntoOpenDialog(missing, &shown);
    frame->CommandAction(ID_FILE_OPEN)->trigger();
    EXPECT_TRUE(shown);
    ASSERT_EQ(presenter.Messages().size(), 1u);
    EXPECT_EQ(presenter.Messages()[0].text,
              QStringLiteral("Load PCG File. ") + QString::fromLocal8Bit(std::strerror(ENOENT)));
    EXPECT_EQ(presenter.Messages()[0].style, unsigned{bq::MB_ICONERROR});
    EXPECT_EQ(DocumentWindows(), 0);
}
