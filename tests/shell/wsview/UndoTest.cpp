// Edit > Undo and Redo of the writes to the instrument, from the keyboard: what they write,
// what the menu calls them, what the tree shows after each, and what stays true when a write
// of theirs fails; the question before the history is lost.
#include "WSViewRig.h"
#include "messages/StringTable.h"
#include "tests/support/PcgBuilder.h"
#include "tests/support/qt/QtPrinters.h"

namespace bq::test {
namespace {

const QString kTransferError = "An error occurred during the MIDI transfer operation.";

class UndoRedo : public WSViewRig {};

QString Label(int slot, const Bytes& record) {
    return QString::asprintf("%03d : ", slot) +
           QString::fromLatin1(reinterpret_cast<const char*>(record.data()), 16).trimmed();
}

TEST_F(UndoRedo, ASendASwapAndARoundTripEachUndoAndRedoToTheExactRecords) {
    TempFile file(PcgFile(Container("CMB1", {CombiBank(0, {"Alpha", "Beta"})})));
    CPCGBankView* source = OpenFile(file.Path());
    ASSERT_NE(source, nullptr);
    view->expandItem(Bank(0, 0));
    EXPECT_EQ(UndoItem(), "(disabled) &Undo\tCtrl+Z");
    EXPECT_EQ(RedoItem(), "(disabled) &Redo\tCtrl+Shift+Z");
    const Bytes a1 = karma->CombiRecord(0, 1);
    const Bytes a4 = karma->CombiRecord(0, 4);
    const Bytes a5 = karma->CombiRecord(0, 5);
    const Bytes a0 = karma->CombiRecord(0, 0);
    const Bytes alpha = CombiRecord("Alpha");

    Drag(source, source->topLevelItem(0)->child(0)->child(0), Combi(0, 5));
    ASSERT_EQ(karma->CombiRecord(0, 5), alpha);
    EXPECT_EQ(UndoItem(), "&Undo Send to Bank A 005\tCtrl+Z");
    Drag(view, Combi(0, 4), Combi(0, 1));
    ASSERT_EQ(karma->CombiRecord(0, 1), a4);
    EXPECT_EQ(UndoItem(), "&Undo Swap of Bank A 004 and Bank A 001\tCtrl+Z");
    main->MdiArea()->setActiveSubWindow(ws);
    presenter.Answer(IDYES);
    ASSERT_TRUE(main->ExecuteCommand(ID_ROUND_TRIP));
    ASSERT_EQ(karma->CombiRecord(0, 0), karma->CurrentCombi());
    EXPECT_EQ(UndoItem(), "&Undo Round Trip to Bank A 000\tCtrl+Z");
    EXPECT_EQ(RedoItem(), "(disabled) &Redo\tCtrl+Shift+Z");
    const std::size_t sent = SentCount();

    // Back, one step a key, each to the bytes before it; the tree follows.
    Undo();
    EXPECT_EQ(karma->CombiRecord(0, 0), a0);
    EXPECT_EQ(Combi(0, 0)->text(0), Label(0, a0));
    EXPECT_EQ(RedoItem(), "&Redo Round Trip to Bank A 000\tCtrl+Shift+Z");
    Undo();
    EXPECT_EQ(karma->CombiRecord(0, 1), a1);
    EXPECT_EQ(karma->CombiRecord(0, 4), a4);
    EXPECT_EQ(Combi(0, 1)->text(0), Label(1, a1));
    EXPECT_EQ(Combi(0, 4)->text(0), Label(4, a4));
    Undo();
    EXPECT_EQ(karma->CombiRecord(0, 5), a5);
    EXPECT_EQ(Combi(0, 5)->text(0), "005 : Combi A-005");
    EXPECT_EQ(SentCount(), sent + 4);  // one write each, two for the swap
    EXPECT_EQ(UndoItem(), "(disabled) &Undo\tCtrl+Z");
    EXPECT_EQ(RedoItem(), "&Redo Send to Bank A 005\tCtrl+Shift+Z");
    Undo();  // nothing left: nothing is sent
    EXPECT_EQ(SentCount(), sent + 4);

    // And forward again, from whichever window is active.
    main->MdiArea()->setActiveSubWindow(qobject_cast<QMdiSubWindow*>(source->window()));
    Redo();
    EXPECT_EQ(karma->CombiRecord(0, 5), alpha);
    EXPECT_EQ(Combi(0, 5)->text(0), "005 : Alpha");
    Redo();
    Redo();
    EXPECT_EQ(karma->CombiRecord(0, 1), a4);
    EXPECT_EQ(karma->CombiRecord(0, 4), a1);
    EXPECT_EQ(karma->CombiRecord(0, 0), karma->CurrentCombi());
    EXPECT_EQ(Combi(0, 0)->text(0), Label(0, karma->CurrentCombi()));
    EXPECT_EQ(RedoItem(), "(disabled) &Redo\tCtrl+Shift+Z");
    EXPECT_EQ(presenter.Texts(),
              QStringList{
                  LoadString(StringId::RoundTripNamedQuestion).replace("%s", "000 : Combi A-000")});
}

TEST_F(UndoRedo, AFailedWriteOfASwapOrOfItsUndoIsRecordedAsTheInstrumentHoldsIt) {
    view->expandItem(Bank(0, 1));
    const Bytes b10 = karma->CombiRecord(1, 10);
    const Bytes b20 = karma->CombiRecord(1, 20);

    // The swap's second write is refused: B-020 holds B-010's Combination, B-010 its own.
    instrument->FailWrite(2);
    Drag(view, Combi(1, 10), Combi(1, 20));
    EXPECT_EQ(presenter.Texts(), QStringList{kTransferError});
    ASSERT_EQ(karma->CombiRecord(1, 20), b10);
    EXPECT_EQ(UndoItem(), "&Undo Swap of Bank B 010 and Bank B 020\tCtrl+Z");
    EXPECT_EQ(RedoItem(), "&Redo Swap of Bank B 010 and Bank B 020\tCtrl+Shift+Z");
    // Redo makes it whole.
    Redo();
    EXPECT_EQ(karma->CombiRecord(1, 10), b20);
    EXPECT_EQ(karma->CombiRecord(1, 20), b10);
    EXPECT_EQ(Combi(1, 10)->text(0), "010 : Combi B-020");

    // Its undo: B-010 goes back, B-020's write is refused. Half undone, and so shown.
    presenter.Clear();
    instrument->FailWrite(2);
    Undo();
    EXPECT_EQ(presenter.Texts(), QStringList{kTransferError});
    EXPECT_EQ(karma->CombiRecord(1, 10), b10);
    EXPECT_EQ(karma->CombiRecord(1, 20), b10);
    EXPECT_EQ(Combi(1, 10)->text(0), "010 : Combi B-010");
    EXPECT_EQ(Combi(1, 20)->text(0), "020 : Combi B-010");
    EXPECT_EQ(UndoItem(), "&Undo Swap of Bank B 010 and Bank B 020\tCtrl+Z");

    // A redo whose first write is refused changes nothing; an undo that goes through puts back
    // B-020's own Combination, which the history kept all along.
    presenter.Clear();
    instrument->FailWrite(1);
    Redo();
    EXPECT_EQ(presenter.Texts(), QStringList{kTransferError});
    EXPECT_EQ(karma->CombiRecord(1, 10), b10);
    Undo();
    EXPECT_EQ(karma->CombiRecord(1, 10), b10);
    EXPECT_EQ(karma->CombiRecord(1, 20), b20);
    EXPECT_EQ(Combi(1, 20)->text(0), "020 : Combi B-020");
    EXPECT_EQ(UndoItem(), "(disabled) &Undo\tCtrl+Z");
    EXPECT_EQ(presenter.Messages().size(), 1u);
}

TEST_F(UndoRedo, ARefusedWriteIsNoStepAndUndoSkipsIt) {
    view->expandItem(Bank(0, 2));
    const Bytes c3 = karma->CombiRecord(2, 3);
    const Bytes c7 = karma->CombiRecord(2, 7);
    Drag(view, Combi(2, 3), Combi(2, 7));
    instrument->FailWrite(1);
    Drag(view, Combi(2, 8), Combi(2, 9));
    EXPECT_EQ(presenter.Texts(), QStringList{kTransferError});
    EXPECT_EQ(UndoItem(), "&Undo Swap of Bank C 003 and Bank C 007\tCtrl+Z");
    Undo();
    EXPECT_EQ(karma->CombiRecord(2, 3), c3);
    EXPECT_EQ(karma->CombiRecord(2, 7), c7);
    EXPECT_EQ(karma->CombiRecord(2, 8), VirtualKarma::GeneratedCombi(2, 8));
    EXPECT_EQ(karma->CombiRecord(2, 9), VirtualKarma::GeneratedCombi(2, 9));
}

TEST_F(UndoRedo, ARoundTripBeforeBankAIsInSendsItsTwoMessagesAndCannotBeUndone) {
    ASSERT_EQ(Bank(0, 0)->childCount(), 0);
    loopback.ClearSentMessages();
    presenter.Answer(IDYES);
    ASSERT_TRUE(main->ExecuteCommand(ID_ROUND_TRIP));
    // The question said so; nothing but the Combination's dump and its write went out.
    EXPECT_EQ(presenter.Texts(), QStringList{bq::LoadString(bq::StringId::RoundTripUnknownQuestion)});
    ASSERT_EQ(SentCount(), 2u);
    EXPECT_EQ(loopback.SentMessages(0)[0],
              Bytes({0xF0, 0x42, 0x30, 0x5D, 0x1D, 0x20, 0x00, 0x00, 0xF7}));
    EXPECT_EQ(karma->CombiRecord(0, 0), karma->CurrentCombi());
    EXPECT_EQ(Bank(0, 0)->childCount(), 0);
    EXPECT_EQ(UndoItem(), "(disabled) &Can't Undo Round Trip to Bank A 000\tCtrl+Z");
}

TEST_F(UndoRedo, EndingTheConnectionAsksFirstAndClearsTheHistory) {
    view->expandItem(Bank(0, 0));
    Drag(view, Combi(0, 1), Combi(0, 2));
    const QString question = LoadString(StringId::EndConnectionQuestion);

    // The Workstation window's Close: No keeps it open, connected, with its history.
    presenter.Answer(IDNO);
    ws->close();
    EXPECT_EQ(presenter.Texts(), QStringList{question});
    EXPECT_EQ(presenter.Messages()[0].style, unsigned{MB_YESNO | MB_ICONWARNING | MB_DEFBUTTON2});
    EXPECT_TRUE(ws->isVisible());
    EXPECT_TRUE(ws->IsConnected());
    EXPECT_EQ(UndoItem(), "&Undo Swap of Bank A 001 and Bank A 002\tCtrl+Z");
    // Leaving the program: No keeps it running.
    presenter.Answer(IDNO);
    EXPECT_FALSE(main->close());
    EXPECT_TRUE(main->isVisible());
    EXPECT_TRUE(ws->IsConnected());

    // Yes: closed, and nothing left to undo, also once connected again.
    presenter.Answer(IDYES);
    ws->close();
    EXPECT_FALSE(ws->isVisible());
    EXPECT_FALSE(ws->IsConnected());
    EXPECT_EQ(UndoItem(), "(disabled) &Undo\tCtrl+Z");
    Connect();
    EXPECT_EQ(UndoItem(), "(disabled) &Undo\tCtrl+Z");
    EXPECT_EQ(RedoItem(), "(disabled) &Redo\tCtrl+Shift+Z");
    presenter.Clear();
    ws->close();
    EXPECT_TRUE(presenter.Messages().empty()) << "nothing to lose, nothing asked";

    // Leaving with a history: Yes leaves.
    Connect();
    Drag(view, Combi(0, 1), Combi(0, 2));
    presenter.Answer(IDYES);
    EXPECT_TRUE(main->close());
    EXPECT_EQ(presenter.Texts(), QStringList{question});
}

}  // namespace
}  // namespace bq::test
