// Find across the open windows, the item panes and the list export, used through the main
// window as a person does: keys and clicks go to its QWindow.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDockWidget>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMdiArea>
#include <QPlainTextEdit>
#include <QPointer>
#include <QTimer>
#include <QTreeWidget>

#include <string>

#include "UiTestSupport.h"
#include "banktree/ItemPane.h"
#include "shell/FindBar.h"
#include "shell/FindResults.h"
#include "shell/PCGBankView.h"
#include "shell/PCGFrame.h"
#include "tests/support/PcgBuilder.h"
#include "tests/support/qt/WindowInput.h"

using namespace bq::test;

namespace {

// The item nodes of a tree that are in sight, as their texts.
QStringList ShownItems(QTreeWidget* tree) {
    QStringList texts;
    for (int g = 0; g < tree->topLevelItemCount(); ++g) {
        QTreeWidgetItem* group = tree->topLevelItem(g);
        for (int b = 0; b < group->childCount(); ++b) {
            QTreeWidgetItem* bank = group->child(b);
            for (int i = 0; i < bank->childCount(); ++i) {
                if (!group->isHidden() && !bank->isHidden() && !bank->child(i)->isHidden()) {
                    texts << bank->child(i)->text(0);
                }
            }
        }
    }
    return texts;
}

QTreeWidgetItem* Node(QTreeWidget* tree, int group, int bank, int item) {
    return tree->topLevelItem(group)->child(bank)->child(item);
}

// The rows of the results list: "window|kind|bank|slot|name".
QStringList ResultRows(QTreeWidget* results) {
    QStringList rows;
    for (int g = 0; g < results->topLevelItemCount(); ++g) {
        QTreeWidgetItem* group = results->topLevelItem(g);
        for (int i = 0; i < group->childCount(); ++i) {
            QTreeWidgetItem* r = group->child(i);
            rows << QStringList{r->text(CFindResultsView::kWindow),
                                r->text(CFindResultsView::kKind), r->text(CFindResultsView::kBank),
                                r->text(CFindResultsView::kSlot), r->text(CFindResultsView::kName)}
                        .join('|');
        }
    }
    return rows;
}

class Find : public MainFrameTest {
protected:
    CPCGFrame* Open(const TempFile& file) {
        return frame->OpenPCGFile(QString::fromStdString(file.Path()));
    }
    QWindow* Window() { return frame->window()->windowHandle(); }
    void Type(const QString& text) {
        for (const QChar c : text) {
            const QString one(c);
            QTest::sendKeyEvent(QTest::Press, Window(), Qt::Key_unknown, one, Qt::NoModifier);
            QTest::sendKeyEvent(QTest::Release, Window(), Qt::Key_unknown, one, Qt::NoModifier);
        }
    }
    void Press(Qt::Key key, Qt::KeyboardModifiers modifiers = {}) {
        QTest::keyClick(Window(), key, modifiers);
    }
    void DoubleClick(QTreeWidget* tree, QTreeWidgetItem* item) {
        tree->scrollToItem(item);
        const QPoint at = Window()->mapFromGlobal(WindowInput::ItemCentre(tree, item));
        QTest::mouseDClick(Window(), Qt::LeftButton, {}, at);
    }
    void Click(QWidget* widget, QPoint local) {
        const QPoint at = Window()->mapFromGlobal(widget->mapToGlobal(local));
        QTest::mouseClick(Window(), Qt::LeftButton, {}, at);
    }
    void StartFind() {
        QApplication::setActiveWindow(frame.get());
        ASSERT_TRUE(QTest::qWaitForWindowActive(frame.get()));
        Press(Qt::Key_F, Qt::ControlModifier);
        ASSERT_NE(frame->FindBar(), nullptr);
        ASSERT_TRUE(frame->FindBar()->isVisible());
        ASSERT_TRUE(frame->FindBar()->Field()->hasFocus());
    }
};

}  // namespace

TEST_F(Find, TypingFiltersEveryOpenTreeWithoutCaseAndEscapeRestoresThem) {
    TempFile a(PcgFile(Cat({Container("CMB1", {CombiBank(0, {"Strings", "Piano", "BRASS Stack"})}),
                            Container("PRG1", {ProgramBank(1, {"Steel Gtr", "Organ"})})})),
               "a.pcg");
    TempFile b(PcgFile(Container("CMB1", {CombiBank(2, {"Pad", "Choir"})})), "b.pcg");
    CPCGFrame* first = Open(a);
    CPCGFrame* second = Open(b);
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    // The first window as the user left it: bank A open, Piano chosen; the second untouched.
    CPCGBankView* tree = first->BankView();
    tree->expandItem(tree->topLevelItem(0));
    tree->expandItem(tree->topLevelItem(0)->child(0));
    QTreeWidgetItem* piano = Node(tree, 0, 0, 1);
    tree->setCurrentItem(piano);

    StartFind();
    Type("s");
    Type("T");
    EXPECT_EQ(ShownItems(tree),
              QStringList({"000 : Strings", "002 : BRASS Stack", "000 : Steel Gtr"}));
    EXPECT_TRUE(tree->topLevelItem(1)->child(0)->isExpanded());  // Programs' bank B opened
    EXPECT_TRUE(ShownItems(second->BankView()).isEmpty());
    EXPECT_TRUE(second->BankView()->topLevelItem(0)->isHidden());
    EXPECT_EQ(frame->FindBar()->CountsLabel()->accessibleName(), "3 matches: a.pcg 3");
    ASSERT_TRUE(frame->FindResultsDock()->isVisible());
    EXPECT_EQ(ResultRows(frame->FindResults()),
              QStringList({"a.pcg|Combination|A|000|Strings", "a.pcg|Combination|A|002|BRASS Stack",
                           "a.pcg|Program|B|000|Steel Gtr"}));

    // A new text: the other window's item, the first window's trees out of sight.
    Press(Qt::Key_A, Qt::ControlModifier);
    Type("OI");
    EXPECT_TRUE(ShownItems(tree).isEmpty());
    EXPECT_EQ(ShownItems(second->BankView()), QStringList({"001 : Choir"}));
    EXPECT_EQ(frame->FindBar()->CountsLabel()->accessibleName(), "1 match: b.pcg 1");
    EXPECT_EQ(ResultRows(frame->FindResults()), QStringList({"b.pcg|Combination|C|001|Choir"}));

    // Nothing matches a character no name can hold.
    Type(QString(QChar(0x263A)));
    EXPECT_EQ(frame->FindBar()->CountsLabel()->accessibleName(), "No matches");
    EXPECT_EQ(frame->FindResults()->topLevelItemCount(), 0);

    Press(Qt::Key_Escape);
    EXPECT_FALSE(frame->FindBar()->isVisible());
    EXPECT_FALSE(frame->FindResultsDock()->isVisible());
    EXPECT_EQ(ShownItems(tree).size(), 5);
    EXPECT_TRUE(tree->topLevelItem(0)->isExpanded());
    EXPECT_TRUE(tree->topLevelItem(0)->child(0)->isExpanded());
    EXPECT_FALSE(tree->topLevelItem(1)->isExpanded());
    EXPECT_FALSE(tree->topLevelItem(1)->child(0)->isExpanded());
    EXPECT_EQ(tree->currentItem(), piano);
    EXPECT_EQ(tree->selectedItems(), QList<QTreeWidgetItem*>({piano}));
    EXPECT_FALSE(second->BankView()->topLevelItem(0)->isHidden());
    EXPECT_FALSE(second->BankView()->topLevelItem(0)->isExpanded());

    // Each window counts its own matches; closing one takes it out of the find.
    StartFind();
    Type("a");
    EXPECT_EQ(frame->FindBar()->CountsLabel()->accessibleName(), "4 matches: a.pcg 3, b.pcg 1");
    first->close();
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return frame->FindBar()->CountsLabel()->accessibleName() == "1 match: b.pcg 1"; },
        5000))
        << frame->FindBar()->CountsLabel()->accessibleName().toStdString();
    EXPECT_EQ(ResultRows(frame->FindResults()), QStringList({"b.pcg|Combination|C|000|Pad"}));
    EXPECT_TRUE(presenter.Messages().empty());
}

TEST_F(Find, DoubleClickingAResultSelectsTheItemInItsWindowWhichKeepsItAfterEscape) {
    TempFile a(PcgFile(Container("PRG1", {ProgramBank(0, {"Organ 1"})})), "a.pcg");
    TempFile b(PcgFile(Cat({Container("CMB1", {CombiBank(0, {"Pad"})}),
                            Container("PRG1", {ProgramBank(5, {"Bass", "Church Organ"})})})),
               "b.pcg");
    CPCGFrame* first = Open(a);
    CPCGFrame* second = Open(b);
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    frame->MdiArea()->setActiveSubWindow(first);

    StartFind();
    Type("organ");
    CFindResultsView* results = frame->FindResults();
    ASSERT_EQ(ResultRows(results), QStringList({"a.pcg|Program|A|000|Organ 1",
                                                "b.pcg|Program|F (MOSS)|001|Church Organ"}));
    QTreeWidgetItem* church = results->topLevelItem(1)->child(0);
    DoubleClick(results, church);
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return frame->MdiArea()->activeSubWindow() == second; }, 5000));
    QTreeWidgetItem* node = Node(second->BankView(), 1, 0, 1);
    EXPECT_EQ(second->BankView()->currentItem(), node);
    EXPECT_TRUE(second->BankView()->hasFocus());
    EXPECT_EQ(second->OtherView()->NameText(), "Church Organ");

    // The user went there: Escape keeps that choice in sight.
    Press(Qt::Key_Escape);
    EXPECT_EQ(second->BankView()->currentItem(), node);
    EXPECT_TRUE(node->parent()->isExpanded());
    EXPECT_FALSE(node->isHidden());
    EXPECT_TRUE(presenter.Messages().empty());
}

TEST_F(Find, AWindowOutOfSightShowsTheFindOnceItComesIntoSight) {
    TempFile a(PcgFile(Container("CMB1", {CombiBank(0, {"Strings", "Piano", "Steel"})})), "a.pcg");
    TempFile b(PcgFile(Container("CMB1", {CombiBank(1, {"Pad", "Sitar"})})), "b.pcg");
    CPCGFrame* first = Open(a);
    CPCGFrame* second = Open(b);
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    CPCGBankView* tree = first->BankView();
    const QRect place = first->geometry();
    auto cover = [&] {
        second->setGeometry(place.adjusted(-10, -10, 10, 10));
        frame->MdiArea()->setActiveSubWindow(second);
        Idle();
    };
    cover();

    // The counts and the list count the window nobody can see.
    StartFind();
    Type("s");
    EXPECT_EQ(frame->FindBar()->CountsLabel()->accessibleName(), "3 matches: a.pcg 2, b.pcg 1");
    EXPECT_EQ(ResultRows(frame->FindResults()),
              QStringList({"a.pcg|Combination|A|000|Strings", "a.pcg|Combination|A|002|Steel",
                           "b.pcg|Combination|B|001|Sitar"}));
    // Uncovered, it shows the matches.
    second->move(place.right() + 20, place.top());
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            return ShownItems(tree) == QStringList({"000 : Strings", "002 : Steel"});
        },
        5000))
        << ShownItems(tree).join(", ").toStdString();

    // Covered again while the text changes, then brought forward by its result.
    cover();
    Type("t");
    QTreeWidgetItem* steel = frame->FindResults()->topLevelItem(0)->child(1);
    ASSERT_EQ(steel->text(CFindResultsView::kName), "Steel");
    DoubleClick(frame->FindResults(), steel);
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return frame->MdiArea()->activeSubWindow() == first; }, 5000));
    EXPECT_EQ(ShownItems(tree), QStringList({"000 : Strings", "002 : Steel"}));
    EXPECT_EQ(tree->currentItem(), Node(tree, 0, 0, 2));

    // The list keeps what it shows until the find runs again: a window closed meanwhile
    // leaves its rows readable, then takes them away.
    second->close();
    EXPECT_EQ(ResultRows(frame->FindResults()).size(), 2);
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return frame->FindBar()->CountsLabel()->accessibleName() == "2 matches: a.pcg 2"; },
        5000));

    // Every item again, the one the user went to still chosen.
    Press(Qt::Key_Escape);
    EXPECT_EQ(ShownItems(tree).size(), 3);
    EXPECT_EQ(tree->currentItem(), Node(tree, 0, 0, 2));
    EXPECT_TRUE(presenter.Messages().empty());
}

TEST_F(Find, TheItemPaneSaysWhatTheItemIsAndWhereElseItIsOpen) {
    // Records are the same when name and seed are: Strings and Piano sit in both files.
    TempFile a(PcgFile(Container("CMB1", {CombiBank(0, {"Strings", "Piano"})})), "a.pcg");
    TempFile b(
        PcgFile(Container("CMB1", {CombiBank(0, {"Other", "Piano"}), CombiBank(2, {"Strings"})})),
        "b.pcg");
    CPCGFrame* first = Open(a);
    CPCGFrame* second = Open(b);
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    CItemPane* pane = first->OtherView();
    EXPECT_FALSE(pane->HasItem());

    frame->MdiArea()->setActiveSubWindow(first);
    CPCGBankView* tree = first->BankView();
    tree->expandAll();
    Idle();
    QTest::mouseClick(Window(), Qt::LeftButton, {},
                      Window()->mapFromGlobal(WindowInput::ItemCentre(tree, Node(tree, 0, 0, 1))));
    ASSERT_TRUE(pane->HasItem());
    EXPECT_EQ(pane->NameText(), "Piano");
    EXPECT_EQ(pane->DetailsText(), "Combination, Bank A, Slot 001, 996 bytes");
    EXPECT_EQ(pane->Places(), QStringList({"b.pcg: Combination A 001"}));
    const QStringList hex = pane->HexView()->toPlainText().split('\n');
    EXPECT_EQ(hex.size(), 63);  // 996 bytes, 16 a line
    EXPECT_TRUE(hex[0].startsWith("0000  50 69 61 6E 6F 20 20 20  20 20 20 20 20 20 20 20  "))
        << hex[0].toStdString();
    EXPECT_TRUE(hex[0].endsWith("  Piano           ")) << hex[0].toStdString();
    EXPECT_TRUE(hex[62].startsWith("03E0  ")) << hex[62].toStdString();
    EXPECT_TRUE(pane->HexView()->isReadOnly());

    tree->setCurrentItem(Node(tree, 0, 0, 0));
    ASSERT_EQ(pane->Places(), QStringList({"b.pcg: Combination C 000"}));
    // A click on the place goes there.
    QListWidget* places = pane->PlacesList();
    Click(places->viewport(), places->visualItemRect(places->item(0)).center());
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return frame->MdiArea()->activeSubWindow() == second; }, 5000));
    EXPECT_EQ(second->BankView()->currentItem(), Node(second->BankView(), 0, 1, 0));
    EXPECT_EQ(second->OtherView()->Places(), QStringList({"a.pcg: Combination A 000"}));

    // With the other file closed, the sound is nowhere else open; a bank node shows nothing.
    second->close();
    ASSERT_TRUE(QTest::qWaitFor([&] { return pane->Places().isEmpty(); }, 5000));
    EXPECT_TRUE(pane->findChild<QLabel*>("nowhere")->isVisibleTo(pane));
    tree->setCurrentItem(tree->topLevelItem(0)->child(0));
    EXPECT_FALSE(pane->HasItem());
}

namespace {

// Answers the save dialog File Export List is about to show with `name`, as the file type
// `filter`.
void AnswerExportDialog(const QString& name, const QString& filter, QString* offered) {
    QTimer::singleShot(0, [=] {
        auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        if (dialog == nullptr) {
            return;
        }
        *offered = dialog->selectedFiles().value(0);
        dialog->selectNameFilter(filter);
        emit dialog->filterSelected(filter);
        dialog->selectFile(name);
        static_cast<QDialog*>(dialog)->accept();
    });
}

QByteArray ReadAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(unreadable)");
}

}  // namespace

TEST_F(Find, ExportListWritesCsvOrTheTreesTextByFileType) {
    TempFile pcg(PcgFile(Cat({Container("CMB1", {CombiBank(1, {"Pad, \"Warm\"", "Caf\xe9"})}),
                              Container("PRG1", {ProgramBank(5, {"Moss"})})})),
                 "set.pcg");
    CPCGFrame* window = Open(pcg);
    ASSERT_NE(window, nullptr);
    frame->UpdateCommandUI();
    EXPECT_TRUE(frame->CommandAction(ID_FILE_EXPORT_LIST)->isEnabled());
    const QString dir = QFileInfo(QString::fromStdString(pcg.Path())).absolutePath();

    QString offered;
    AnswerExportDialog(dir + "/list", "CSV Files (*.csv)", &offered);
    ASSERT_TRUE(frame->ExecuteCommand(ID_FILE_EXPORT_LIST));
    EXPECT_EQ(QFileInfo(offered).fileName(), "set.csv");
    EXPECT_EQ(ReadAll(dir + "/list.csv"),
              "kind,bank,slot,name\n"
              "Combination,B,000,\"Pad, \"\"Warm\"\"\"\n"
              "Combination,B,001,Caf\xc3\xa9\n"
              "Program,F,000,Moss\n");

    // The typed suffix decides over the type chosen.
    AnswerExportDialog(dir + "/list.TXT", "CSV Files (*.csv)", &offered);
    ASSERT_TRUE(frame->ExecuteCommand(ID_FILE_EXPORT_LIST));
    EXPECT_EQ(ReadAll(dir + "/list.TXT"),
              "Combinations\n  Bank B\n    000 : Pad, \"Warm\"\n    001 : Caf\xc3\xa9\n"
              "Programs\n  Bank F (MOSS)\n    000 : Moss\n");
    EXPECT_TRUE(presenter.Messages().empty());

    // A file that cannot be written is reported, and an earlier one stays as it was.
    AnswerExportDialog(dir + "/missing/list.csv", "CSV Files (*.csv)", &offered);
    ASSERT_TRUE(frame->ExecuteCommand(ID_FILE_EXPORT_LIST));
    ASSERT_EQ(presenter.Messages().size(), 1u);
    EXPECT_TRUE(presenter.Messages()[0].text.startsWith("Export List. "));
    EXPECT_EQ(presenter.Messages()[0].style, unsigned{bq::MB_ICONERROR});
    EXPECT_FALSE(QFile::exists(dir + "/missing"));
}
