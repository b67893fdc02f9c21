// The Workstation view in the program's own main window, over the loopback MIDI services and
// the virtual Karma: lazy bank loading, send and swap, the Initialise commands and the round
// trip.
#include <gtest/gtest.h>
#include <QApplication>
#include <QContextMenuEvent>
#include <QLabel>
#include <QMdiArea>
#include <QMenu>
#include <QPointer>
#include <QSplitter>
#include <QTest>
#include <QTimer>
#include <QWindow>

#include <atomic>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "banktree/ItemPane.h"
#include "messages/StringTable.h"
#include "midi/SysEx.h"
#include "midi/loopback/LoopbackMidiServices.h"
#include "model/KarmaObject.h"
#include "shell/Comparison.h"
#include "shell/FindBar.h"
#include "shell/FindResults.h"
#include "shell/MainFrame.h"
#include "shell/PCGBankView.h"
#include "shell/PCGFrame.h"
#include "tests/support/PcgBuilder.h"
#include "tests/support/qt/QtPrinters.h"
#include "tests/support/qt/ScriptedPresenter.h"
#include "tests/support/qt/WindowInput.h"
#include "tools/virtual-karma/VirtualKarma.h"
#include "workstation/MIDIProgressDlg.h"
#include "workstation/WSBankView.h"
#include "workstation/WSFrame.h"
#include "workstation/WSMemory.h"
#include "workstation/WSMessages.h"
#include "workstation/WSSession.h"
#include "workstation/WSTransport.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
constexpr std::uint8_t kChannel = 5;
constexpr std::size_t kItemWriteSize = 8 + bq::sysex::PackedLength(996) + 1;

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

// The virtual Karma, with three faults of its own: the n-th Item Write answered with a Failed
// Reply (and not stored), answers to Item Writes coming late, and one fixed answer to every
// dump request. Runs on the loopback's thread.
class Instrument final : public bq::midi::IMidiDevice {
public:
    explicit Instrument(std::shared_ptr<bq::VirtualKarma> karma) : m_karma(std::move(karma)) {}

    void HandleMessage(const std::uint8_t* message, std::size_t length,
                       std::vector<bq::midi::MidiTimedBytes>* reply) override {
        const bool write = length > 4 && message[4] == bq::sysex::kFuncItemWrite;
        const bool dumpRequest = length == 9 && (message[4] == 0x1C || message[4] == 0x1D);
        const std::size_t first = reply->size();
        if (write && ++m_writes == m_failAt.load()) {
            reply->push_back({0, {0xF0, 0x42, 0x30 | kChannel, 0x5D, 0x24, 0xF7}});
        } else {
            std::unique_lock lock(m_mutex);
            if (dumpRequest && m_dump) {
                reply->push_back({0, *m_dump});
                return;
            }
            lock.unlock();
            m_karma->HandleMessage(message, length, reply);
        }
        if (write && reply->size() > first) {
            (*reply)[first].delayMs += m_writeDelayMs.load();
        }
    }
    // Answers to Item Writes come this much later (the write itself is stored at once).
    void DelayWrites(std::uint32_t ms) { m_writeDelayMs = ms; }
    void SetDumpAnswer(std::optional<Bytes> dump) {
        std::lock_guard lock(m_mutex);
        m_dump = std::move(dump);
    }

    // The n-th Item Write from now on fails.
    void FailWrite(int n) { m_failAt = m_writes.load() + n; }

private:
    std::shared_ptr<bq::VirtualKarma> m_karma;
    std::atomic<int> m_writes{0};
    std::atomic<int> m_failAt{0};
    std::atomic<std::uint32_t> m_writeDelayMs{0};
    std::mutex m_mutex;
    std::optional<Bytes> m_dump;
};

// What the window shows when a complete dump reaches it, inside the request's wait.
struct AtDumpArrival : QObject {
    AtDumpArrival(CWSFrame* frame, QTreeWidgetItem* node) : frame(frame), node(node) {
        connect(&frame->Transport(), &CWSTransport::ExchangeEnded, this, [this] { Arrived(); });
    }
    void Arrived() {
        {
            ++dumps;
            CMIDIProgressDlg* dialog = frame->ProgressDialog();
            status = dialog != nullptr && dialog->isVisible()
                         ? dialog->findChild<QLabel*>("statusText")->text()
                         : QStringLiteral("no dialog");
            nodeOpen = node != nullptr && node->isExpanded();
            mainEnabled = bq::MainWindow()->isEnabled();
        }
    }
    CWSFrame* frame;
    QTreeWidgetItem* node;
    int dumps = 0;
    QString status;
    bool nodeOpen = true;
    bool mainEnabled = true;
};

QStringList Texts(QTreeWidgetItem* parent) {
    QStringList texts;
    for (int i = 0; i < parent->childCount(); ++i) {
        texts << parent->child(i)->text(0);
    }
    return texts;
}

Bytes RecordOf(const CKarmaObject* object) {
    unsigned long size = 0;
    const unsigned char* data = object->GetData(&size);
    return Bytes(data, data + size);
}

class WSView : public ::testing::Test {
protected:
    void SetUp() override {
        karma->SetChannel(kChannel);
        loopback.AttachDevice(0, 0, instrument);
        main = std::make_unique<CMainFrame>(loopback);
        bq::SetMainWindow(main.get());
        main->resize(1000, 700);
        main->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(main.get()));
        main->activateWindow();
        ws = main->WorkstationFrame();
        ASSERT_TRUE(main->ExecuteCommand(ID_VIEW_WORKSTATION));
        ASSERT_TRUE(QTest::qWaitFor([&] { return ws->IsConnected(); }, 5000));
        ws->resize(700, 600);
        view = qobject_cast<CWSBankView*>(ws->BankView());
        ASSERT_NE(view, nullptr);
        loopback.ClearSentMessages();
        presenter.Clear();
    }
    void TearDown() override {
        bq::SetMainWindow(nullptr);
        main.reset();
    }

    QTreeWidgetItem* Bank(int group, int bank) { return view->topLevelItem(group)->child(bank); }
    QTreeWidgetItem* Combi(int bank, int slot) { return Bank(0, bank)->child(slot); }
    Bytes Sent(std::size_t i) { return loopback.SentMessages(0).at(i); }
    std::size_t SentCount() { return loopback.SentMessages(0).size(); }
    // The instrument's place a sent Item Write names: its bank and slot bytes.
    static std::pair<int, int> Place(const Bytes& write) { return {write.at(6), write.at(7)}; }

    // The drop protocol as a source view runs it at the release over `target`.
    void Drop(CDragTreeView* source, QTreeWidgetItem* sourceItem, QTreeWidgetItem* target) {
        view->scrollToItem(target);
        const QPoint at = view->viewport()->mapToGlobal(view->visualItemRect(target).center());
        DRAGTREEINFO info{source, sourceItem, nullptr};
        CDragTreeEvent query(WM_DRAGTREE_QUERY, &info, at);
        QCoreApplication::sendEvent(view, &query);
        ASSERT_NE(query.Result(), 0);
        ASSERT_EQ(info.hTargetItem, target);
        CDragTreeEvent drop(WM_DRAGTREE_DROP, &info, at);
        QCoreApplication::sendEvent(view, &drop);
    }
    void Idle() {
        QEventLoop loop;
        QTimer::singleShot(20, &loop, &QEventLoop::quit);
        loop.exec();
    }
    int Image(QTreeWidgetItem* item) {
        int image = -1;
        EXPECT_TRUE(view->GetItemImage(item, &image));
        return image;
    }

    bq::test::ScriptedPresenter presenter;
    bq::midi::LoopbackMidiServices loopback{{"Karma In"}, {"Karma Out"}};
    std::shared_ptr<bq::VirtualKarma> karma = std::make_shared<bq::VirtualKarma>();
    std::shared_ptr<Instrument> instrument = std::make_shared<Instrument>(karma);
    std::unique_ptr<CMainFrame> main;
    QPointer<CWSFrame> ws;
    CWSBankView* view = nullptr;
};

}  // namespace

// ---- the tree and its loading ----

TEST_F(WSView, ANewViewHasTwoGroupsOfSixEmptyBanksAndExpandingGroupsSendsNothing) {
    EXPECT_EQ(ws->Splitter()->widget(0), view);
    EXPECT_EQ(view->GetWSFrame(), ws.data());
    ASSERT_EQ(view->topLevelItemCount(), 2);
    const QStringList groups{"Combinations", "Programs"};
    const QStringList banks{"Bank A", "Bank B", "Bank C", "Bank D", "Bank E"};
    for (int g = 0; g < 2; ++g) {
        QTreeWidgetItem* group = view->topLevelItem(g);
        EXPECT_EQ(group->text(0), groups[g]);
        EXPECT_EQ(Image(group), IMAGE_GROUP);
        EXPECT_EQ(view->GetItemData(group), 0u);
        EXPECT_EQ(Texts(group), banks + QStringList(g == 0 ? "Bank F" : "Bank F (MOSS)"));
        for (int b = 0; b < group->childCount(); ++b) {
            QTreeWidgetItem* bank = group->child(b);
            EXPECT_EQ(Image(bank), IMAGE_BANK);
            EXPECT_EQ(view->GetItemData(bank), std::uintptr_t(b + (g == 0 ? 0x10000 : 0)));
            EXPECT_EQ(bank->childIndicatorPolicy(), QTreeWidgetItem::ShowIndicator);
            EXPECT_EQ(bank->childCount(), 0);
        }
        view->expandItem(group);
        EXPECT_TRUE(group->isExpanded());
    }
    EXPECT_EQ(SentCount(), 0u);
    EXPECT_TRUE(ItemRecords(view).empty());
}

TEST_F(WSView, CombinationBankCLoadsBeforeItsNodeOpensAndOnlyOnce) {
    QTreeWidgetItem* bankC = Bank(0, 2);
    AtDumpArrival during(ws, bankC);
    view->expandItem(bankC);
    ASSERT_EQ(SentCount(), 1u);
    EXPECT_EQ(Sent(0), Bytes({0xF0, 0x42, 0x35, 0x5D, 0x1D, 0x12, 0x00, 0x00, 0xF7}));
    EXPECT_EQ(during.dumps, 1);
    EXPECT_EQ(during.status, "Loading Combination Bank C.");
    EXPECT_FALSE(during.nodeOpen);
    EXPECT_FALSE(during.mainEnabled);
    EXPECT_TRUE(main->isEnabled());
    EXPECT_EQ(main->focusWidget(), view);  // the window gives the focus back to the view

    EXPECT_TRUE(bankC->isExpanded());
    ASSERT_EQ(bankC->childCount(), 128);
    for (int slot = 0; slot < 128; ++slot) {
        QTreeWidgetItem* item = bankC->child(slot);
        EXPECT_EQ(item->text(0), QString::asprintf("%03d : Combi C-%03d", slot, slot));
        EXPECT_EQ(Image(item), IMAGE_COMBINATION);
        CBankItemData* record = view->GetItemRecord(item);
        ASSERT_NE(record, nullptr);
        EXPECT_EQ(record->GetBank(), 2);
        EXPECT_EQ(record->GetSlot(), slot);
        // Held by its node and by the session's memory of the instrument, and by nothing else.
        EXPECT_EQ(record->GetObject()->RefCount(), 2);
        EXPECT_EQ(record->GetObject(), ws->Session().Memory().Item(true, 2, slot));
        ASSERT_EQ(RecordOf(record->GetObject()), karma->CombiRecord(2, slot)) << slot;
    }

    // Not loaded again: neither at the next expansion nor after the window was closed and
    // shown again, which searches for the instrument afresh; the bank is then greyed as shown
    // from an earlier connection.
    const QTreeWidgetItem* first = bankC->child(0);
    view->collapseItem(bankC);
    view->expandItem(bankC);
    EXPECT_EQ(SentCount(), 1u);
    ws->close();
    EXPECT_FALSE(ws->IsConnected());
    ASSERT_TRUE(main->ExecuteCommand(ID_VIEW_WORKSTATION));
    ASSERT_TRUE(QTest::qWaitFor([&] { return ws->IsConnected(); }, 5000));
    loopback.ClearSentMessages();
    EXPECT_EQ(ws->BankView(), view);
    view->collapseItem(bankC);
    view->expandItem(bankC);
    EXPECT_EQ(SentCount(), 0u);
    EXPECT_EQ(bankC->child(0), first);
    EXPECT_EQ(ItemRecords(view).size(), 128u);
    EXPECT_EQ(bankC->toolTip(0), bq::LoadString(bq::StringId::EarlierBankTip));
    EXPECT_EQ(bankC->child(5)->toolTip(0), bq::LoadString(bq::StringId::EarlierBankTip));
    EXPECT_TRUE(presenter.Messages().empty());
}

TEST_F(WSView, ProgramBanksBuildPcmProgramsAndMossProgramsInBankF) {
    // Bank F with the keyboard, bank A with a click on its button, as the user opens them.
    QTreeWidgetItem* bankF = Bank(1, 5);
    view->expandItem(view->topLevelItem(1));
    view->setCurrentItem(bankF);
    AtDumpArrival during(ws, bankF);
    QTest::keyClick(view, Qt::Key_Right);
    ASSERT_EQ(SentCount(), 1u);
    EXPECT_EQ(Sent(0), Bytes({0xF0, 0x42, 0x35, 0x5D, 0x1C, 0x15, 0x00, 0x00, 0xF7}));
    EXPECT_EQ(during.status, "Loading Program Bank F (MOSS).");
    ASSERT_EQ(bankF->childCount(), 128);
    for (int slot = 0; slot < 128; ++slot) {
        CBankItemData* record = view->GetItemRecord(bankF->child(slot));
        ASSERT_NE(record, nullptr);
        EXPECT_NE(dynamic_cast<CKarmaMOSSProgram*>(record->GetObject()), nullptr);
        EXPECT_EQ(RecordOf(record->GetObject()), karma->ProgramRecord(5, slot));
        EXPECT_EQ(bankF->child(slot)->text(0), QString::asprintf("%03d : To Do!", slot));
    }

    QTreeWidgetItem* bankA = Bank(1, 0);
    view->collapseItem(bankF);
    const QRect row = view->visualItemRect(bankA);
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {},
                      QPoint(row.left() - view->indentation() / 2, row.center().y()));
    ASSERT_EQ(SentCount(), 2u);
    EXPECT_EQ(Sent(1), Bytes({0xF0, 0x42, 0x35, 0x5D, 0x1C, 0x10, 0x00, 0x00, 0xF7}));
    ASSERT_EQ(bankA->childCount(), 128);
    EXPECT_EQ(Image(bankA->child(127)), IMAGE_PROGRAM);
    EXPECT_EQ(bankA->child(127)->text(0), "127 : Prog A-127");
    CKarmaObject* last = view->GetItemRecord(bankA->child(127))->GetObject();
    EXPECT_NE(dynamic_cast<CKarmaPCMProgram*>(last), nullptr);
    EXPECT_EQ(RecordOf(last), karma->ProgramRecord(0, 127));
}

TEST_F(WSView, FailedAndShortDumpsInsertNothingAndTheNextExpansionTriesAgain) {
    QTreeWidgetItem* bankB = Bank(0, 1);
    bq::VirtualKarma::Faults refuse;
    refuse.refuseDumps = true;
    karma->SetFaults(refuse);
    view->expandItem(bankB);
    EXPECT_EQ(SentCount(), 1u);
    EXPECT_EQ(bankB->childCount(), 0);
    EXPECT_FALSE(bankB->isExpanded());

    // 127 whole records and half of the last one.
    karma->SetFaults({});
    const Bytes whole = karma->CombiBankDump(1);
    Bytes records = karma->CombiBank(1);
    records.resize(127 * 996 + 498);
    Bytes shortDump(whole.begin(), whole.begin() + 8);
    shortDump.resize(8 + bq::sysex::PackedLength(records.size()));
    bq::sysex::Pack(records.data(), records.size(), shortDump.data() + 8);
    shortDump.push_back(0xF7);
    instrument->SetDumpAnswer(shortDump);
    view->expandItem(bankB);
    EXPECT_EQ(SentCount(), 2u);
    EXPECT_EQ(bankB->childCount(), 0);
    EXPECT_FALSE(bankB->isExpanded());
    EXPECT_TRUE(ItemRecords(view).empty());
    EXPECT_TRUE(presenter.Messages().empty());

    instrument->SetDumpAnswer(std::nullopt);
    view->expandItem(bankB);
    EXPECT_EQ(SentCount(), 3u);
    EXPECT_EQ(bankB->childCount(), 128);
    EXPECT_TRUE(bankB->isExpanded());
}

// ---- send and swap ----

TEST_F(WSView, SwapExchangesBothPlacesAndAFailedWriteShowsWhatTheInstrumentHolds) {
    view->expandItem(Bank(0, 0));
    view->expandItem(Bank(0, 2));
    loopback.ClearSentMessages();
    QTreeWidgetItem* a5 = Combi(0, 5);
    QTreeWidgetItem* c17 = Combi(2, 17);
    CBankItemData* a5Record = view->GetItemRecord(a5);
    CBankItemData* c17Record = view->GetItemRecord(c17);
    CKarmaObject* a = a5Record->GetObject();
    CKarmaObject* c = c17Record->GetObject();
    const CKarmaObject* untouched = view->GetItemRecord(Combi(0, 6))->GetObject();
    const Bytes aBytes = karma->CombiRecord(0, 5);
    const Bytes cBytes = karma->CombiRecord(2, 17);

    Drop(view, a5, c17);
    ASSERT_EQ(SentCount(), 2u);
    EXPECT_EQ(Place(Sent(0)), std::make_pair(0x22, 0x11));
    EXPECT_EQ(Place(Sent(1)), std::make_pair(0x20, 0x05));
    EXPECT_EQ(Sent(0).size(), kItemWriteSize);
    EXPECT_EQ(karma->CombiRecord(2, 17), aBytes);
    EXPECT_EQ(karma->CombiRecord(0, 5), cBytes);
    EXPECT_EQ(c17->text(0), "017 : Combi A-005");
    EXPECT_EQ(a5->text(0), "005 : Combi C-017");
    EXPECT_EQ(c17Record->GetObject(), a);
    EXPECT_EQ(a5Record->GetObject(), c);
    // Moved, not copied: each held as often as an item nobody touched (by its record, and
    // by the find's catalogue once that has caught up).
    Idle();
    EXPECT_EQ(a->RefCount(), untouched->RefCount());
    EXPECT_EQ(c->RefCount(), untouched->RefCount());
    EXPECT_EQ(c17Record->GetSlot(), 17);
    EXPECT_EQ(view->GetDropHilightItem(), c17);
    EXPECT_EQ(Combi(0, 5), a5);  // labels change, not positions
    EXPECT_TRUE(presenter.Messages().empty());

    Drop(view, a5, c17);
    ASSERT_EQ(SentCount(), 4u);
    EXPECT_EQ(karma->CombiRecord(0, 5), aBytes);
    EXPECT_EQ(karma->CombiRecord(2, 17), cBytes);
    EXPECT_EQ(a5->text(0), "005 : Combi A-005");
    EXPECT_EQ(c17->text(0), "017 : Combi C-017");
    EXPECT_EQ(a5Record->GetObject(), a);
    EXPECT_EQ(c17Record->GetObject(), c);

    // A refused first write: no second one, nothing changes.
    bq::VirtualKarma::Faults fail;
    fail.failWrites = true;
    karma->SetFaults(fail);
    Drop(view, a5, c17);
    ASSERT_EQ(SentCount(), 5u);
    EXPECT_EQ(karma->CombiRecord(2, 17), cBytes);
    EXPECT_EQ(c17->text(0), "017 : Combi C-017");
    EXPECT_EQ(c17Record->GetObject(), c);
    EXPECT_EQ(presenter.Texts(),
              QStringList{"An error occurred during the MIDI transfer operation."});
    EXPECT_EQ(presenter.Messages()[0].style, unsigned{bq::MB_ICONERROR});

    // A refused second write: the source Combination is in both places, and so it shows.
    karma->SetFaults({});
    instrument->FailWrite(2);
    presenter.Clear();
    Drop(view, a5, c17);
    ASSERT_EQ(SentCount(), 7u);
    EXPECT_EQ(karma->CombiRecord(2, 17), aBytes);
    EXPECT_EQ(karma->CombiRecord(0, 5), aBytes);
    EXPECT_EQ(c17->text(0), "017 : Combi A-005");
    EXPECT_EQ(a5->text(0), "005 : Combi A-005");
    EXPECT_EQ(a5Record->GetObject(), a);
    Idle();
    EXPECT_EQ(a->RefCount(), untouched->RefCount());
    EXPECT_NE(c17Record->GetObject(), a);  // its own copy
    EXPECT_EQ(RecordOf(c17Record->GetObject()), aBytes);
    EXPECT_EQ(presenter.Texts(),
              QStringList{"An error occurred during the MIDI transfer operation."});
}

TEST_F(WSView, ACombinationDraggedFromAPCGWindowIsWrittenAndTheViewKeepsItsOwnCopy) {
    namespace t = bq::test;
    t::TempFile file(t::PcgFile(t::Container("CMB1", {t::CombiBank(0, {"Alpha", "Beta"})})));
    QPointer<CPCGFrame> pcg = main->OpenPCGFile(QString::fromStdString(file.Path()));
    ASSERT_NE(pcg, nullptr);
    main->MdiArea()->tileSubWindows();
    CPCGBankView* source = pcg->BankView();
    source->expandAll();
    view->expandItem(Bank(0, 5));
    loopback.ClearSentMessages();
    QTreeWidgetItem* alpha = source->topLevelItem(0)->child(0)->child(0);
    QTreeWidgetItem* f0 = Combi(5, 0);
    view->scrollToItem(f0);
    CKarmaObject* pcgObject = source->GetItemRecord(alpha)->GetObject();
    const CKarmaObject* beta = source->GetItemRecord(alpha->parent()->child(1))->GetObject();
    const CKarmaObject* f1 = view->GetItemRecord(Combi(5, 1))->GetObject();
    const Bytes pcgBytes = RecordOf(pcgObject);
    Idle();

    // The whole drag, with the mouse, through the main window.
    bq::test::WindowInput input(main.get());
    input.Press(bq::test::WindowInput::ItemCentre(source, alpha));
    input.Move(bq::test::WindowInput::ItemCentre(view, f0));
    ASSERT_TRUE(source->IsDragging());
    input.Release(bq::test::WindowInput::ItemCentre(view, f0));

    ASSERT_EQ(SentCount(), 1u);
    const Bytes write = Sent(0);
    EXPECT_EQ(Bytes(write.begin(), write.begin() + 8),
              Bytes({0xF0, 0x42, 0x35, 0x5D, 0x4D, 0x00, 0x25, 0x00}));
    EXPECT_EQ(write.size(), kItemWriteSize);
    EXPECT_EQ(karma->CombiRecord(5, 0), t::CombiRecord("Alpha"));
    EXPECT_EQ(f0->text(0), "000 : Alpha");
    EXPECT_EQ(view->GetDropHilightItem(), f0);
    CKarmaObject* copy = view->GetItemRecord(f0)->GetObject();
    EXPECT_NE(copy, pcgObject);
    // Each held as often as its untouched neighbour: no reference gained or lost.
    Idle();
    EXPECT_EQ(copy->RefCount(), f1->RefCount());
    EXPECT_EQ(pcgObject->RefCount(), beta->RefCount());
    EXPECT_EQ(source->GetItemRecord(alpha)->GetObject(), pcgObject);
    EXPECT_TRUE(presenter.Messages().empty());

    // The PCG window and its file go; the Workstation item is untouched.
    pcg->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    ASSERT_TRUE(pcg.isNull());
    EXPECT_EQ(RecordOf(view->GetItemRecord(f0)->GetObject()), pcgBytes);
}

// ---- one request at a time, and no stale answers ----

TEST_F(WSView, ADumpThatComesAfterTheUserGaveUpIsNotShownInTheNextBank) {
    // Bank A goes quiet after 20 KB and the user answers No; the rest of it comes while bank B
    // is asked for, ahead of bank B's own dump.
    ws->SetProgressTimerPeriodMs(100);
    bq::VirtualKarma::Faults pause;
    pause.pauseDumps = true;
    pause.pauseAfterBytes = 20000;
    pause.pauseMs = 1500;
    karma->SetFaults(pause);
    presenter.Answer(bq::IDNO);
    view->expandItem(Bank(0, 0));
    ASSERT_EQ(presenter.Texts(), QStringList{bq::LoadString(bq::StringId::NoTrafficQuestion)});
    EXPECT_EQ(Bank(0, 0)->childCount(), 0);
    EXPECT_TRUE(main->isEnabled());

    karma->SetFaults({});
    ws->SetProgressTimerPeriodMs(5000);
    view->expandItem(Bank(0, 1));
    EXPECT_EQ(SentCount(), 2u);
    ASSERT_EQ(Bank(0, 1)->childCount(), 128);
    QStringList bankB;
    int sameRecords = 0;
    for (int slot = 0; slot < 128; ++slot) {
        bankB << QString::asprintf("%03d : Combi B-%03d", slot, slot);
        sameRecords += RecordOf(view->GetItemRecord(Combi(1, slot))->GetObject()) ==
                       karma->CombiRecord(1, slot);
    }
    EXPECT_EQ(Texts(Bank(0, 1)), bankB);
    EXPECT_EQ(sameRecords, 128);
    EXPECT_EQ(presenter.Messages().size(), 1u);
}

TEST_F(WSView, ADropWhileAWriteWaitsIsRefusedSilentlyAndSendsNothing) {
    namespace t = bq::test;
    t::TempFile file(t::PcgFile(t::Container("CMB1", {t::CombiBank(0, {"Alpha", "Beta"})})));
    QPointer<CPCGFrame> pcg = main->OpenPCGFile(QString::fromStdString(file.Path()));
    ASSERT_NE(pcg, nullptr);
    main->MdiArea()->tileSubWindows();
    CPCGBankView* source = pcg->BankView();
    source->expandAll();
    view->expandItem(Bank(0, 0));
    loopback.ClearSentMessages();
    QTreeWidgetItem* alpha = source->topLevelItem(0)->child(0)->child(0);
    QTreeWidgetItem* beta = source->topLevelItem(0)->child(0)->child(1);
    Idle();

    instrument->DelayWrites(400);
    bool tried = false;
    bool enabledDuring = true;
    std::size_t sentDuring = 0;
    QTimer::singleShot(100, main.get(), [&] {
        tried = true;
        enabledDuring = main->isEnabled();
        // A second drag with the mouse: the windows take no input while the write waits.
        QWindow* window = main->windowHandle();
        auto at = [this](QTreeWidget* tree, QTreeWidgetItem* item) {
            return main->mapFromGlobal(
                tree->viewport()->mapToGlobal(tree->visualItemRect(item).center()));
        };
        view->scrollToItem(Combi(0, 6));
        QTest::mousePress(window, Qt::LeftButton, {}, at(source, beta));
        QTest::mouseMove(window, at(view, Combi(0, 6)));
        QTest::mouseRelease(window, Qt::LeftButton, {}, at(view, Combi(0, 6)));
        EXPECT_FALSE(source->IsDragging());
        // A drop that reaches the view all the same is refused: nothing sent, nothing said.
        Drop(source, beta, Combi(0, 6));
        sentDuring = SentCount();
    });
    Drop(source, alpha, Combi(0, 5));
    ASSERT_TRUE(tried);
    EXPECT_FALSE(enabledDuring);
    EXPECT_EQ(sentDuring, 1u);
    EXPECT_EQ(SentCount(), 1u);
    EXPECT_TRUE(presenter.Messages().empty());
    EXPECT_EQ(Combi(0, 5)->text(0), "005 : Alpha");
    EXPECT_EQ(Combi(0, 6)->text(0), "006 : Combi A-006");
    EXPECT_EQ(karma->CombiRecord(0, 6), bq::VirtualKarma::GeneratedCombi(0, 6));
    EXPECT_TRUE(main->isEnabled());
}

TEST_F(WSView, ACompletedReplyThatCameTooLateIsNotCreditedToTheNextWrite) {
    view->expandItem(Bank(0, 0));
    loopback.ClearSentMessages();
    QTreeWidgetItem* a5 = Combi(0, 5);
    QTreeWidgetItem* a9 = Combi(0, 9);
    // The first write's Completed Reply comes after the wait has given up on it...
    ws->SetReplySilenceMs(200);
    instrument->DelayWrites(600);
    Drop(view, a5, a9);
    ASSERT_EQ(SentCount(), 1u);
    EXPECT_EQ(presenter.Texts(),
              QStringList{"An error occurred during the MIDI transfer operation."});
    // The instrument may have stored it after all: A-009 is not known any more, and the step
    // cannot be undone.
    EXPECT_EQ(a9->text(0), "009 : (not known)");
    EXPECT_EQ(a9->toolTip(0), bq::LoadString(bq::StringId::UnknownItemTip));
    main->UpdateCommandUI();
    EXPECT_EQ(main->CommandAction(ID_EDIT_UNDO)->text(),
              "&Can't Undo Swap of Bank A 005 and Bank A 009\tCtrl+Z");
    EXPECT_FALSE(main->CommandAction(ID_EDIT_UNDO)->isEnabled());
    // ... and the late reply is in the program's hands, not yet looked at, when the next swap
    // is dropped, whose first write the instrument refuses.
    ASSERT_TRUE(loopback.WaitIdle());
    instrument->DelayWrites(0);
    instrument->FailWrite(1);
    QTreeWidgetItem* a6 = Combi(0, 6);
    Drop(view, a5, a6);
    EXPECT_EQ(SentCount(), 2u);  // no second write: the first one failed
    EXPECT_EQ(presenter.Texts(),
              QStringList({"An error occurred during the MIDI transfer operation.",
                           "An error occurred during the MIDI transfer operation."}));
    EXPECT_EQ(a5->text(0), "005 : Combi A-005");
    EXPECT_EQ(a6->text(0), "006 : Combi A-006");
}

// ---- commands ----

TEST_F(WSView, InitialiseCommandsFollowTheSelectionAndOnlyAsk) {
    view->expandItem(Bank(0, 0));
    view->expandItem(Bank(1, 0));
    const std::size_t loads = SentCount();
    const int ids[3] = {ID_BANK_INITIALISE, ID_PROGRAM_INITIALISE, ID_COMBINATION_INITIALISE};
    const std::pair<QTreeWidgetItem*, int> enabling[] = {
        {view->topLevelItem(0), 0},
        {view->topLevelItem(1), 0},
        {Bank(1, 0), ID_BANK_INITIALISE},
        {Bank(1, 0)->child(0), ID_PROGRAM_INITIALISE},
        {Combi(0, 5), ID_COMBINATION_INITIALISE}};
    view->setFocus();
    for (auto [item, enabled] : enabling) {
        view->setCurrentItem(item);
        Idle();
        for (int id : ids) {
            EXPECT_EQ(main->CommandAction(id)->isEnabled(), id == enabled) << id;
        }
    }
    // With the second pane active no view of this window handles them: the commands follow
    // the keyboard focus as it moves within the active window.
    QApplication::setActiveWindow(main.get());
    ASSERT_TRUE(QTest::qWaitForWindowActive(main.get()));
    ws->SecondView()->setFocus();
    Idle();
    for (int id : ids) {
        EXPECT_FALSE(main->CommandAction(id)->isEnabled());
        EXPECT_FALSE(main->ExecuteCommand(id));
    }
    EXPECT_TRUE(presenter.Messages().empty());
    view->setFocus();

    const QString bank =
        "This operation will overwrite all data in the selected bank.\n"
        "Are you sure you want to initialise ";
    const std::tuple<QTreeWidgetItem*, int, QString> questions[] = {
        {Bank(1, 0), ID_BANK_INITIALISE, bank + "Programs Bank A?"},
        {Bank(0, 0), ID_BANK_INITIALISE, bank + "Combinations Bank A?"},
        {Bank(1, 0)->child(0), ID_PROGRAM_INITIALISE,
         "This operation will overwrite all data in the selected Program.\n"
         "Are you sure you want to initialise Program '000 : Prog A-000'?"},
        {Combi(0, 5), ID_COMBINATION_INITIALISE,
         "This operation will overwrite all data in the selected Combination.\n"
         "Are you sure you want to initialise Combination '005 : Combi A-005'?"}};
    for (const auto& [item, id, text] : questions) {
        view->setCurrentItem(item);
        presenter.Clear();
        presenter.Answer(bq::IDNO);
        EXPECT_TRUE(main->ExecuteCommand(id));
        EXPECT_EQ(presenter.Texts(), QStringList{text});
        EXPECT_EQ(presenter.Messages()[0].style, unsigned{bq::MB_YESNO | bq::MB_ICONWARNING});

        presenter.Clear();
        presenter.Answer(bq::IDYES);
        presenter.Answer(bq::IDOK);
        EXPECT_TRUE(main->ExecuteCommand(id));
        EXPECT_EQ(presenter.Texts(), QStringList({text, "Feature not yet implemented!"}));
        EXPECT_EQ(presenter.Messages().back().style, unsigned{bq::MB_ICONERROR});
    }
    EXPECT_EQ(presenter.Unscripted(), 0);
    EXPECT_EQ(SentCount(), loads);
}

TEST_F(WSView, RoundTripAsksFirstThenWritesAndShowsWhatTheInstrumentHolds) {
    const QString overwrites =
        "Round Trip copies the instrument's current Combination into Combination A-000 and "
        "overwrites what is stored there.\n";
    // Before bank A is in, the question names the place only and says the write cannot be
    // undone; No sends nothing.
    presenter.Answer(bq::IDNO);
    EXPECT_TRUE(main->ExecuteCommand(ID_ROUND_TRIP));
    EXPECT_EQ(presenter.Texts(),
              QStringList{bq::LoadString(bq::StringId::RoundTripUnknownQuestion)});
    EXPECT_EQ(presenter.Messages()[0].style,
              unsigned{bq::MB_YESNO | bq::MB_ICONWARNING | bq::MB_DEFBUTTON2});
    EXPECT_EQ(SentCount(), 0u);

    view->expandItem(Bank(0, 0));
    loopback.ClearSentMessages();
    presenter.Clear();
    ASSERT_NE(karma->CombiRecord(0, 0), karma->CurrentCombi());
    const QStringList before = Texts(Bank(0, 0));
    QList<QAction*> menuActions;
    QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(10, 10),
                            view->viewport()->mapToGlobal(QPoint(10, 10)));
    QCoreApplication::sendEvent(view->viewport(), &event);
    if (auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget())) {
        menuActions = menu->actions();
        menu->close();
    }
    ASSERT_EQ(menuActions.size(), 1);
    EXPECT_EQ(menuActions[0]->text(), "Round Trip");
    EXPECT_EQ(SentCount(), 0u);  // closing the menu runs nothing

    AtDumpArrival during(ws, nullptr);
    presenter.Answer(bq::IDYES);
    menuActions[0]->trigger();
    EXPECT_EQ(presenter.Texts(),
              QStringList{overwrites + "Are you sure you want to overwrite Combination "
                                       "'000 : Combi A-000' of Bank A?"});
    EXPECT_EQ(during.status, "no dialog");
    EXPECT_FALSE(during.mainEnabled);
    ASSERT_EQ(SentCount(), 2u);
    EXPECT_EQ(Sent(0), Bytes({0xF0, 0x42, 0x35, 0x5D, 0x1D, 0x20, 0x00, 0x00, 0xF7}));
    const Bytes write = Sent(1);
    EXPECT_EQ(Bytes(write.begin(), write.begin() + 8),
              Bytes({0xF0, 0x42, 0x35, 0x5D, 0x4D, 0x00, 0x20, 0x00}));
    EXPECT_EQ(write.size(), kItemWriteSize);  // the 996 bytes of the record, not the F7
    EXPECT_EQ(karma->CombiRecord(0, 0), karma->CurrentCombi());

    // Slot 000 shows, and holds a copy of, what the instrument now has there; the rest stays.
    CKarmaObject* copy = view->GetItemRecord(Combi(0, 0))->GetObject();
    EXPECT_EQ(RecordOf(copy), karma->CurrentCombi());
    EXPECT_EQ(copy->RefCount(), 2);  // its node and the memory
    EXPECT_EQ(Combi(0, 0)->text(0), CWSBankView::ItemLabel(0, *copy));
    EXPECT_NE(Combi(0, 0)->text(0), before[0]);
    EXPECT_EQ(Texts(Bank(0, 0)).mid(1), before.mid(1));
    EXPECT_EQ(presenter.Messages().size(), 1u);

    // The main window's command set reaches it too, though no menu, key or button carries it.
    presenter.Answer(bq::IDYES);
    EXPECT_TRUE(main->ExecuteCommand(ID_ROUND_TRIP));
    EXPECT_EQ(SentCount(), 4u);
}

// ---- find and comparison over the instrument's banks ----

TEST_F(WSView, FindCoversTheDownloadedBanksAndAResultDragsOntoTheInstrument) {
    namespace t = bq::test;
    t::TempFile file(t::PcgFile(t::Container("CMB1", {t::CombiBank(0, {"Alpha", "Arc-010"})})));
    view->expandItem(Bank(0, 2));
    QPointer<CPCGFrame> pcg = main->OpenPCGFile(QString::fromStdString(file.Path()));
    ASSERT_NE(pcg, nullptr);
    main->MdiArea()->tileSubWindows();
    loopback.ClearSentMessages();
    QWindow* window = main->windowHandle();
    QApplication::setActiveWindow(main.get());
    ASSERT_TRUE(QTest::qWaitForWindowActive(main.get()));

    QTest::keyClick(window, Qt::Key_F, Qt::ControlModifier);
    ASSERT_NE(main->FindBar(), nullptr);
    for (const char c : std::string("c-01")) {
        QTest::keyClick(window, c);
    }
    EXPECT_EQ(main->FindBar()->CountsLabel()->accessibleName(),
              "11 matches: Workstation 10, test.pcg 1");
    // Only bank C is in sight; the banks not downloaded stay closed and ask for nothing.
    EXPECT_FALSE(Bank(0, 2)->isHidden());
    EXPECT_TRUE(Bank(0, 0)->isHidden());
    EXPECT_FALSE(Bank(0, 0)->isExpanded());
    EXPECT_FALSE(Combi(2, 10)->isHidden());
    EXPECT_TRUE(Combi(2, 20)->isHidden());
    EXPECT_EQ(SentCount(), 0u);

    // The file's result, dragged with the mouse onto slot C-015 of the Workstation window.
    CFindResultsView* results = main->FindResults();
    ASSERT_EQ(results->topLevelItemCount(), 2);
    QTreeWidgetItem* arc = results->topLevelItem(1)->child(0);
    ASSERT_EQ(arc->text(CFindResultsView::kName), "Arc-010");
    QTreeWidgetItem* c15 = Combi(2, 15);
    view->scrollToItem(c15);
    results->scrollToItem(arc);
    Idle();
    bq::test::WindowInput input(main.get());
    input.Press(bq::test::WindowInput::ItemCentre(results, arc));
    input.Move(bq::test::WindowInput::ItemCentre(view, c15));
    ASSERT_TRUE(results->IsDragging());
    input.Release(bq::test::WindowInput::ItemCentre(view, c15));
    ASSERT_EQ(SentCount(), 1u);
    EXPECT_EQ(karma->CombiRecord(2, 15), t::CombiRecord("Arc-010", 1));
    EXPECT_EQ(c15->text(0), "015 : Arc-010");
    // The list follows what the instrument now holds.
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            return main->FindBar()->CountsLabel()->accessibleName() ==
                   "11 matches: Workstation 10, test.pcg 1";
        },
        5000));

    // One of the instrument's own results, dragged onto another of its slots, swaps the two as
    // a drag within the Workstation window does.
    const Bytes c11 = karma->CombiRecord(2, 11);
    QTreeWidgetItem* own = nullptr;
    for (int i = 0; i < results->topLevelItem(0)->childCount(); ++i) {
        if (results->topLevelItem(0)->child(i)->text(CFindResultsView::kName) == "Combi C-011") {
            own = results->topLevelItem(0)->child(i);
        }
    }
    ASSERT_NE(own, nullptr);
    results->scrollToItem(own);
    Idle();
    input.Press(bq::test::WindowInput::ItemCentre(results, own));
    input.Move(bq::test::WindowInput::ItemCentre(view, c15));
    ASSERT_TRUE(results->IsDragging());
    input.Release(bq::test::WindowInput::ItemCentre(view, c15));
    ASSERT_EQ(SentCount(), 3u);
    EXPECT_EQ(karma->CombiRecord(2, 15), c11);
    EXPECT_EQ(karma->CombiRecord(2, 11), t::CombiRecord("Arc-010", 1));
    EXPECT_EQ(c15->text(0), "015 : Combi C-011");
    EXPECT_EQ(Combi(2, 11)->text(0), "011 : Arc-010");

    QTest::keyClick(window, Qt::Key_Escape);
    EXPECT_FALSE(Bank(0, 0)->isHidden());
    EXPECT_FALSE(Combi(2, 20)->isHidden());
    EXPECT_TRUE(Bank(0, 2)->isExpanded());
    EXPECT_EQ(SentCount(), 3u);
    EXPECT_TRUE(presenter.Messages().empty());
}

TEST_F(WSView, CompareWithWorkstationAsksDownloadsAndMarksEveryItem) {
    namespace t = bq::test;
    const Bytes same = karma->CombiRecord(0, 0);
    const Bytes moved = karma->CombiRecord(0, 5);
    const Bytes own = t::CombiRecord("Alpha");
    t::TempFile file(
        t::PcgFile(t::Container("CMB1", {t::Leaf("CBK1", 3, 0, t::Cat({same, moved, own}))})));
    QPointer<CPCGFrame> pcg = main->OpenPCGFile(QString::fromStdString(file.Path()));
    ASSERT_NE(pcg, nullptr);
    main->MdiArea()->setActiveSubWindow(pcg);
    main->UpdateCommandUI();
    ASSERT_TRUE(main->CommandAction(ID_TOOLS_COMPARE_WORKSTATION)->isEnabled());
    ASSERT_FALSE(main->CommandAction(ID_TOOLS_CLEAR_COMPARISON)->isEnabled());

    // No: nothing is downloaded or marked.
    presenter.Answer(bq::IDNO);
    EXPECT_TRUE(main->ExecuteCommand(ID_TOOLS_COMPARE_WORKSTATION));
    ASSERT_EQ(presenter.Texts(),
              QStringList{"Comparing this file with the Workstation downloads Combination Bank A "
                          "from the instrument (146 KB, about 47 seconds over a MIDI cable).\n\n"
                          "Do you want to download it now?"});
    EXPECT_EQ(SentCount(), 0u);
    EXPECT_FALSE(main->Comparisons().Has(pcg));

    presenter.Clear();
    presenter.Answer(bq::IDYES);
    EXPECT_TRUE(main->ExecuteCommand(ID_TOOLS_COMPARE_WORKSTATION));
    ASSERT_EQ(SentCount(), 1u);  // bank A only
    EXPECT_EQ(Bank(0, 0)->childCount(), 128);
    QTreeWidgetItem* bankA = pcg->BankView()->topLevelItem(0)->child(0);
    const auto tip = [&](int slot) { return bankA->child(slot)->toolTip(0); };
    EXPECT_EQ(tip(0), "On the instrument: the same sound in the same slot");
    EXPECT_EQ(tip(1), "On the instrument at Combination A 005");
    EXPECT_EQ(tip(2), "Not on the instrument");
    EXPECT_NE(bankA->child(0)->background(0), bankA->child(1)->background(0));
    EXPECT_NE(bankA->child(1)->background(0), bankA->child(2)->background(0));
    const QString legend = pcg->OtherView()->NoteText();
    EXPECT_TRUE(legend.contains("the same sound in the same slot: 1")) << legend.toStdString();
    EXPECT_TRUE(legend.contains("not on the instrument: 1")) << legend.toStdString();
    pcg->BankView()->setCurrentItem(bankA->child(1));
    EXPECT_EQ(pcg->OtherView()->StatusText(), "On the instrument at Combination A 005");
    EXPECT_EQ(pcg->OtherView()->Places(), QStringList({"Workstation: Combination A 005"}));

    // The instrument's A-005 changes: the mark follows.
    presenter.Clear();
    Drop(pcg->BankView(), bankA->child(2), Combi(0, 5));
    ASSERT_TRUE(QTest::qWaitFor([&] { return tip(1) == "Not on the instrument"; }, 5000))
        << tip(1).toStdString();
    EXPECT_EQ(tip(2), "On the instrument at Combination A 005");

    // Clear Comparison takes marks and legend away; a second comparison asks nothing.
    main->UpdateCommandUI();
    ASSERT_TRUE(main->CommandAction(ID_TOOLS_CLEAR_COMPARISON)->isEnabled());
    EXPECT_TRUE(main->ExecuteCommand(ID_TOOLS_CLEAR_COMPARISON));
    EXPECT_TRUE(tip(0).isEmpty());
    EXPECT_EQ(bankA->child(0)->background(0), QBrush());
    EXPECT_TRUE(pcg->OtherView()->NoteText().isEmpty());
    const std::size_t sent = SentCount();
    EXPECT_TRUE(main->ExecuteCommand(ID_TOOLS_COMPARE_WORKSTATION));
    EXPECT_EQ(SentCount(), sent);
    EXPECT_FALSE(tip(0).isEmpty());

    // Closing the window takes its marks along; the instrument's banks changing later finds
    // nothing to mark.
    pcg->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    ASSERT_TRUE(pcg.isNull());
    view->expandItem(Bank(0, 1));
    Idle();
    EXPECT_TRUE(presenter.Messages().empty());
}

// The same Combination in the same slot sounds the same only with the same Programs there.
TEST_F(WSView, CompareMarksACombinationWhoseProgramsDifferOnTheInstrument) {
    namespace t = bq::test;
    const Bytes pads = t::CombiWithTimbres(
        "Pads", {{1, 0, 0, t::kTimbreInt}, {2, 0, 1, t::kTimbreBoth}, {3, 0, 9, t::kTimbreOff}});
    const Bytes keys = t::CombiWithTimbres("Keys", {{1, 0, 2, t::kTimbreInt}, {2, 6, 1, 0}});
    // Its bank F Program is an 804-byte one in the file, a 416-byte MOSS one on the Karma: two
    // kinds of Program, neither of which says how the other sounds.
    const Bytes moss = t::CombiWithTimbres("Moss", {{1, 5, 0, t::kTimbreInt}});
    ASSERT_TRUE(karma->SetCombiRecord(0, 0, pads.data(), pads.size()));
    ASSERT_TRUE(karma->SetCombiRecord(0, 1, keys.data(), keys.size()));
    ASSERT_TRUE(karma->SetCombiRecord(0, 2, moss.data(), moss.size()));
    const Bytes piano = t::ProgramRecord("Grand Piano");
    const Bytes onKarma = karma->ProgramRecord(0, 1);
    t::TempFile file(t::PcgFile(
        t::Cat({t::Container("CMB1", {t::Leaf("CBK1", 3, 0, t::Cat({pads, keys, moss}))}),
                t::Container("PRG1", {t::Leaf("PBK1", 3, 0,
                                              t::Cat({karma->ProgramRecord(0, 0), piano,
                                                      karma->ProgramRecord(0, 2)})),
                                      t::Leaf("PBK1", 1, 5, t::ProgramRecord("Wide Pad"))})})));
    QPointer<CPCGFrame> pcg = main->OpenPCGFile(QString::fromStdString(file.Path()));
    ASSERT_NE(pcg, nullptr);
    main->MdiArea()->setActiveSubWindow(pcg);
    presenter.Answer(bq::IDYES);
    EXPECT_TRUE(main->ExecuteCommand(ID_TOOLS_COMPARE_WORKSTATION));
    ASSERT_EQ(SentCount(), 3u);  // Combination bank A, Program banks A and F

    QTreeWidgetItem* combis = pcg->BankView()->topLevelItem(0)->child(0);
    const QString karmaName =
        QString::fromLatin1(reinterpret_cast<const char*>(onKarma.data()), 16).trimmed();
    // Timbre 3 is Off and the GM Program is on no instrument bank: neither counts.
    EXPECT_EQ(combis->child(0)->toolTip(0),
              "On the instrument: the same Combination in the same slot, but its Programs "
              "differ there: A 001 : Grand Piano, on the Karma: " +
                  karmaName);
    EXPECT_EQ(combis->child(1)->toolTip(0), "On the instrument: the same sound in the same slot");
    EXPECT_EQ(combis->child(2)->toolTip(0), "On the instrument: the same sound in the same slot");
    EXPECT_NE(combis->child(0)->background(0), combis->child(1)->background(0));
    const QString legend = pcg->OtherView()->NoteText();
    EXPECT_TRUE(legend.contains("the same sound in the same slot: 4")) << legend.toStdString();
    EXPECT_TRUE(legend.contains("differ on the instrument (the tip names them): 1"))
        << legend.toStdString();

    // The instrument's Program changes to the file's: the Combination is the same sound again.
    karma->SetProgramRecord(0, 1, piano.data(), piano.size());
    ASSERT_TRUE(ws->Session().DownloadBank(false, 0));
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            return combis->child(0)->toolTip(0) ==
                   "On the instrument: the same sound in the same slot";
        },
        5000))
        << combis->child(0)->toolTip(0).toStdString();
}
