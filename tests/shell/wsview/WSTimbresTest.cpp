// The Workstation window's item pane names a Combination's Programs from what the session knows
// of the instrument: "not downloaded" until their bank comes, then their names, and a click
// selects one.
#include <QApplication>
#include <QScrollArea>

#include "WSViewRig.h"
#include "banktree/ItemPane.h"
#include "tests/support/PcgBuilder.h"

namespace bq::test {
namespace {

class WSTimbres : public WSViewRig {
protected:
    void Click(QTreeWidgetItem* item) {
        view->scrollToItem(item);
        WindowInput(main.get()).Click(WindowInput::ItemCentre(view, item));
    }
    CItemPane* Pane() { return ws->SecondView(); }
};

TEST_F(WSTimbres, ProgramsAreNamedFromTheDownloadedBankAndAClickSelectsOne) {
    const Bytes mine = CombiWithTimbres(
        "Mine", {{1, 0, 5, kTimbreInt}, {2, 7, 10, kTimbreInt | 9}, {3, 1, 2, kTimbreBoth}});
    ASSERT_TRUE(karma->SetCombiRecord(0, 0, mine.data(), mine.size()));
    ws->showMaximized();
    QApplication::processEvents();
    view->expandItem(view->topLevelItem(0));
    view->expandItem(Bank(0, 0));
    Click(Combi(0, 0));
    ASSERT_EQ(view->currentItem(), Combi(0, 0));
    ASSERT_EQ(Pane()->NameText(), "Mine");
    QStringList rows = Pane()->TimbreTexts();
    ASSERT_EQ(rows.size(), 8);
    EXPECT_TRUE(rows[0].startsWith("1 | Int | A 005 (not downloaded) | 1 | "))
        << rows[0].toStdString();
    EXPECT_TRUE(rows[1].startsWith("2 | Int | GM7 010 | 10 | ")) << rows[1].toStdString();
    EXPECT_TRUE(rows[2].startsWith("3 | Both | B 002 (not downloaded) | "))
        << rows[2].toStdString();
    EXPECT_FALSE(Pane()->TimbreList()->IsLinked(0));

    // Program bank A downloaded: its Program is named, and the pane follows without a click.
    view->expandItem(view->topLevelItem(1));
    view->expandItem(Bank(1, 0));
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            rows = Pane()->TimbreTexts();
            return rows.size() == 8 && rows[0].startsWith("1 | Int | A 005 : Prog A-005 | ");
        },
        5000))
        << rows.join('\n').toStdString();
    EXPECT_TRUE(rows[2].startsWith("3 | Both | B 002 (not downloaded) | "));

    CTimbreList* list = Pane()->TimbreList();
    Pane()->findChild<QScrollArea*>()->ensureWidgetVisible(list);
    const QModelIndex cell = list->model()->index(0, CTimbreList::kProgram);
    WindowInput(main.get()).Click(list->viewport()->mapToGlobal(list->visualRect(cell).center()));
    QTreeWidgetItem* program = view->ItemNode(false, 0, 5);
    ASSERT_NE(program, nullptr);
    ASSERT_TRUE(QTest::qWaitFor([&] { return view->currentItem() == program; }, 5000));
    EXPECT_EQ(Pane()->NameText(), "Prog A-005");
    ASSERT_FALSE(Pane()->Users().isEmpty());
    EXPECT_EQ(Pane()->Users().front(), "A 000 : Mine (timbre 1)");
    EXPECT_TRUE(presenter.Messages().empty());
}

}  // namespace
}  // namespace bq::test
