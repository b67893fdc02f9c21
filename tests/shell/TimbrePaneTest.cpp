// A Combination's timbres and the Programs they play in its item pane, a Program's "Used by:",
// and the find's "Combinations using it", in PCG windows used through the main window's
// QWindow.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QScrollArea>

#include "UiTestSupport.h"
#include "banktree/ItemPane.h"
#include "shell/FindBar.h"
#include "shell/FindResults.h"
#include "shell/Finder.h"
#include "shell/PCGBankView.h"
#include "shell/PCGFrame.h"
#include "tests/support/PcgBuilder.h"
#include "tests/support/qt/WindowInput.h"

using namespace bq::test;

namespace {

// A timbre's key and velocity ranges, written where the record keeps them.
void PutRanges(Bytes& record, int timbre, unsigned char bottomKey, unsigned char topKey,
               unsigned char bottomVelocity, unsigned char topVelocity) {
    const std::size_t at = 772 + 28 * static_cast<std::size_t>(timbre - 1);
    record[at + 21] = topKey;
    record[at + 22] = bottomKey;
    record[at + 24] = topVelocity;
    record[at + 25] = bottomVelocity;
}

// Combination A 000 plays A 012 (in the file), B 001 (in the file, global channel), the GM
// Program GM6 003 and C 007, which the file does not hold; A 001 plays A 012 twice; A 002
// plays nothing of the file.
Bytes TimbreFile() {
    Bytes layer = CombiWithTimbres("Layer", {{1, 0, 12, kTimbreInt},
                                             {2, 1, 1, kTimbreBoth | 0x10},
                                             {3, 6, 3, kTimbreInt | 9},
                                             {4, 2, 7, kTimbreInt | 1}});
    PutRanges(layer, 1, 0, 127, 1, 127);
    PutRanges(layer, 2, 60, 72, 64, 100);
    const Bytes split =
        CombiWithTimbres("Split", {{1, 0, 12, kTimbreInt}, {3, 0, 12, kTimbreBoth}}, 1);
    const Bytes gm = CombiWithTimbres("Drums", {{1, 6, 0, kTimbreInt}}, 2);
    std::vector<std::string> bankA(13, "Init");
    bankA[12] = "Grand Piano";
    return PcgFile(
        Cat({Container("CMB1", {Leaf("CBK1", 3, 0, Cat({layer, split, gm}))}),
             Container("PRG1", {ProgramBank(0, bankA), ProgramBank(1, {"Strings", "Soft Pad"})})}));
}

class TimbrePane : public MainFrameTest {
protected:
    void SetUp() override {
        MainFrameTest::SetUp();
        window = frame->OpenPCGFile(QString::fromStdString(file.Path()));
        ASSERT_NE(window, nullptr);
        window->showMaximized();
        tree = window->BankView();
        tree->expandAll();
        pane = window->OtherView();
        Idle();
    }
    QWindow* Window() { return frame->window()->windowHandle(); }
    QTreeWidgetItem* Node(int group, int bank, int item) {
        return tree->topLevelItem(group)->child(bank)->child(item);
    }
    void ClickNode(QTreeWidgetItem* node) {
        tree->scrollToItem(node);
        WindowInput(frame.get()).Click(WindowInput::ItemCentre(tree, node));
    }
    // A click on a cell of the pane's timbre list, brought into sight first.
    void ClickTimbre(int row, int column) {
        CTimbreList* list = pane->TimbreList();
        pane->findChild<QScrollArea*>()->ensureWidgetVisible(list);
        const QModelIndex cell = list->model()->index(row, column);
        WindowInput(frame.get())
            .Click(list->viewport()->mapToGlobal(list->visualRect(cell).center()));
    }
    void ClickUser(int row) {
        QListWidget* users = pane->UsersList();
        pane->findChild<QScrollArea*>()->ensureWidgetVisible(users);
        WindowInput(frame.get())
            .Click(
                users->viewport()->mapToGlobal(users->visualItemRect(users->item(row)).center()));
    }

    TempFile file{TimbreFile(), "timbres.pcg"};
    CPCGFrame* window = nullptr;
    CPCGBankView* tree = nullptr;
    CItemPane* pane = nullptr;
};

TEST_F(TimbrePane, ACombinationListsItsTimbresWithTheFilesProgramNames) {
    ClickNode(Node(0, 0, 0));
    ASSERT_EQ(pane->NameText(), "Layer");
    const QStringList rows = pane->TimbreTexts();
    ASSERT_EQ(rows.size(), 8);
    EXPECT_EQ(rows[0], "1 | Int | A 012 : Grand Piano | 1 | C-1 – G9 | 1 – 127");
    EXPECT_EQ(rows[1], "2 | Both | B 001 : Soft Pad | Global | C4 – C5 | 64 – 100");
    EXPECT_TRUE(rows[2].startsWith("3 | Int | GM6 003 | 10 | ")) << rows[2].toStdString();
    EXPECT_TRUE(rows[3].startsWith("4 | Int | C 007 (not in the file) | 2 | "))
        << rows[3].toStdString();
    for (int r = 4; r < 8; ++r) {
        EXPECT_TRUE(rows[r].startsWith(QString::number(r + 1) + " | Off | ")) << r;
    }
    CTimbreList* list = pane->TimbreList();
    EXPECT_TRUE(list->isVisibleTo(pane));
    EXPECT_EQ(list->accessibleName(), "Timbres");
    EXPECT_TRUE(list->IsLinked(0));
    EXPECT_TRUE(list->IsLinked(1));
    EXPECT_FALSE(list->IsLinked(2));  // GM
    EXPECT_FALSE(list->IsLinked(3));  // not in the file
    // A Combination has no users; a Program no timbres.
    EXPECT_TRUE(pane->Users().isEmpty());
    EXPECT_TRUE(pane->NoUsersText().isEmpty());

    ClickNode(Node(1, 1, 0));
    EXPECT_EQ(pane->NameText(), "Strings");
    EXPECT_TRUE(pane->TimbreTexts().isEmpty());
    EXPECT_FALSE(list->isVisibleTo(pane));
    EXPECT_EQ(pane->NoUsersText(), "no Combination of this file plays it");
    EXPECT_TRUE(presenter.Messages().empty());
}

TEST_F(TimbrePane, AClickOnAProgramSelectsItAndAClickOnAUserSelectsTheCombination) {
    ClickNode(Node(0, 0, 0));
    ASSERT_EQ(pane->TimbreTexts().size(), 8);
    // The GM and the missing Program are no links: the Combination stays chosen.
    ClickTimbre(2, CTimbreList::kProgram);
    ClickTimbre(3, CTimbreList::kProgram);
    QApplication::processEvents();
    EXPECT_EQ(tree->currentItem(), Node(0, 0, 0));

    ClickTimbre(0, CTimbreList::kProgram);
    ASSERT_TRUE(QTest::qWaitFor([&] { return tree->currentItem() == Node(1, 0, 12); }, 5000));
    EXPECT_EQ(pane->NameText(), "Grand Piano");
    EXPECT_EQ(pane->Users(),
              QStringList({"A 000 : Layer (timbre 1)", "A 001 : Split (timbres 1, 3)"}));
    EXPECT_TRUE(pane->NoUsersText().isEmpty());

    ClickUser(1);
    ASSERT_TRUE(QTest::qWaitFor([&] { return tree->currentItem() == Node(0, 0, 1); }, 5000));
    EXPECT_EQ(pane->NameText(), "Split");
    EXPECT_TRUE(pane->TimbreTexts()[2].startsWith("3 | Both | A 012 : Grand Piano | "));
    EXPECT_TRUE(presenter.Messages().empty());
}

TEST_F(TimbrePane, TheFindOptionBringsAlongTheCombinationsPlayingAMatchedProgram) {
    QApplication::setActiveWindow(frame.get());
    ASSERT_TRUE(QTest::qWaitForWindowActive(frame.get()));
    QTest::keyClick(Window(), Qt::Key_F, Qt::ControlModifier);
    CFindBar* bar = frame->FindBar();
    ASSERT_NE(bar, nullptr);
    for (const QChar c : QStringLiteral("grand")) {
        QTest::sendKeyEvent(QTest::Press, Window(), Qt::Key_unknown, QString(c), Qt::NoModifier);
        QTest::sendKeyEvent(QTest::Release, Window(), Qt::Key_unknown, QString(c), Qt::NoModifier);
    }
    EXPECT_EQ(frame->Finder().Total(), 1u);
    QCheckBox* option = bar->UsersOption();
    EXPECT_EQ(option->text(), "Combinations using it");
    EXPECT_FALSE(option->isChecked());

    const QPoint centre = option->mapToGlobal(option->rect().center());
    WindowInput(frame.get()).Click(centre);
    ASSERT_TRUE(option->isChecked());
    EXPECT_EQ(frame->Finder().Total(), 3u);
    QStringList names;
    QTreeWidget* results = frame->FindResults();
    for (int i = 0; results->topLevelItemCount() == 1 && i < results->topLevelItem(0)->childCount();
         ++i) {
        names << results->topLevelItem(0)->child(i)->text(CFindResultsView::kName);
    }
    EXPECT_EQ(names, QStringList({"Layer", "Split", "Grand Piano"}));
    EXPECT_EQ(bar->CountsLabel()->accessibleName(), "3 matches: timbres.pcg 3");

    // Another text: of the Programs it matches only Soft Pad is played, by Layer. The click on
    // the option took the keyboard; a click puts it back into the field.
    QLineEdit* field = bar->Field();
    WindowInput(frame.get()).Click(field->mapToGlobal(field->rect().center()));
    ASSERT_TRUE(field->hasFocus());
    QTest::keyClick(Window(), Qt::Key_A, Qt::ControlModifier);
    for (const QChar c : QStringLiteral("s")) {
        QTest::sendKeyEvent(QTest::Press, Window(), Qt::Key_unknown, QString(c), Qt::NoModifier);
        QTest::sendKeyEvent(QTest::Release, Window(), Qt::Key_unknown, QString(c), Qt::NoModifier);
    }
    // "Split" and "Drums", "Strings" and "Soft Pad" by name, and Layer.
    EXPECT_EQ(frame->Finder().Total(), 5u);

    WindowInput(frame.get()).Click(centre);
    ASSERT_FALSE(option->isChecked());
    EXPECT_EQ(frame->Finder().Total(), 4u);
}

}  // namespace
