// The Workstation view against the virtual Karma over JACK: bank downloads through the
// progress dialog, a drag from a PCG window and a swap checked against the instrument's
// memory, and the faults of a dump and of a write.

#include <gtest/gtest.h>
#include <unistd.h>

#include <QLabel>
#include <QMdiArea>
#include <QTest>

#include <csignal>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "AppRig.h"
#include "model/ItemText.h"
#include "model/KarmaObject.h"
#include "model/Ref.h"
#include "shell/PCGBankView.h"
#include "shell/PCGFrame.h"
#include "tests/support/PrivateJackServer.h"
#include "tools/virtual-karma/VirtualKarma.h"
#include "workstation/MIDIProgressDlg.h"
#include "workstation/WSBankView.h"

namespace bq::e2e {
namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr int kCombinations = 0;  // the view's groups, top to bottom
constexpr int kPrograms = 1;

// A file name for the virtual Karma's memory, removed with the object.
class TempPath {
public:
    TempPath() {
        char path[] = "/tmp/bankquill-e2e-memory-XXXXXX";
        const int fd = ::mkstemp(path);
        if (fd >= 0) {
            ::close(fd);
            m_path = path;
        }
    }
    ~TempPath() {
        if (!m_path.empty()) {
            ::unlink(m_path.c_str());
        }
    }
    const std::string& Path() const { return m_path; }

private:
    std::string m_path;
};

Bytes ReadFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return Bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
}

// The label the view must show for a record: its slot, then the name the record carries.
QString ExpectedLabel(long slot, Bytes record) {
    unsigned long used = 0;
    Ref<CKarmaObject> item;
    if (record.size() == CKarmaMOSSProgram::kRecordSize) {
        item = Ref<CKarmaObject>::Adopt(CKarmaMOSSProgram::LoadProgram(record.data(), &used));
    } else if (record.size() == CKarmaCombi::kRecordSize) {
        item = Ref<CKarmaObject>::Adopt(CKarmaCombi::LoadCombi(record.data(), &used));
    } else {
        item = Ref<CKarmaObject>::Adopt(CKarmaPCMProgram::LoadProgram(record.data(), &used));
    }
    return QString::fromLatin1(ItemText(slot, *item));
}

// The record a view's item node holds.
Bytes RecordOf(CBankTreeView* view, QTreeWidgetItem* item) {
    CBankItemData* data = view->GetItemRecord(item);
    if (data == nullptr || data->GetObject() == nullptr) {
        return {};
    }
    unsigned long size = 0;
    const unsigned char* bytes = data->GetObject()->GetData(&size);
    return Bytes(bytes, bytes + size);
}

// The name an item node shows after "000 : ".
QString NameOf(QTreeWidgetItem* item) {
    return item->text(0).mid(6).trimmed();
}

class EndToEndView : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(ListPorts().has_value())
            << "No JACK server answers. Run the tests with scripts/run-tests.sh (make test).";
    }

    void StartInstrument(std::vector<std::string> options) {
        karma = StartVirtualKarma(BQ_VIRTUAL_KARMA, std::move(options));
        ASSERT_NE(karma, nullptr) << "bankquill-virtual-karma did not start";
    }
    void Connect() {
        app = std::make_unique<AppRig>();
        ASSERT_TRUE(app->Connect());
        view = qobject_cast<CWSBankView*>(app->Workstation()->BankView());
        ASSERT_NE(view, nullptr);
    }
    QTreeWidgetItem* Bank(int group, int bank) const {
        return view->topLevelItem(group)->child(bank);
    }
    // Expands a bank node; the download runs inside. Whether its 128 items came.
    bool Download(QTreeWidgetItem* node) {
        view->expandItem(node);
        return node->childCount() == 128 && node->isExpanded();
    }
    // The requests the virtual Karma answered since the last call, waiting up to `ms` for
    // more; the search's Identity Requests are left out.
    std::vector<std::string> KarmaLines(int ms = 300) {
        std::vector<std::string> lines;
        std::string line;
        while (karma->ReadLine(&line, ms)) {
            if (line.rfind("identity request", 0) != 0) {
                lines.push_back(line);
            }
        }
        return lines;
    }
    // The demo file's bank view, in a window beside the Workstation window; null if it did not
    // open.
    CPCGBankView* OpenDemoFile() {
        CPCGFrame* pcg = app->frame->OpenPCGFile(BQ_DEMO_PCG);
        if (pcg == nullptr) {
            return nullptr;
        }
        // Side by side, so that a drag can go from one to the other.
        app->frame->MdiArea()->tileSubWindows();
        RunFor(50);
        return pcg->BankView();
    }
    // The file's Combination bank `bank`, expanded so that its slots can be dragged.
    static QTreeWidgetItem* ExpandedBank(CPCGBankView* pcgView, int bank) {
        QTreeWidgetItem* item = pcgView->topLevelItem(0)->child(bank);
        pcgView->expandItem(item);
        return item;
    }

    std::unique_ptr<ChildProcess> karma;
    std::unique_ptr<AppRig> app;
    CWSBankView* view = nullptr;
};

TEST_F(EndToEndView, BanksDownloadThroughTheProgressDialogWithTheInstrumentsNames) {
    if (bq::test::TestServerIsPipeWire()) {
        GTEST_SKIP() << bq::test::kPacedStreamJackdOnly;
    }
    StartInstrument({"--pcg", BQ_DEMO_PCG, "--rate", "312500"});
    Connect();
    VirtualKarma instrument;
    ASSERT_EQ(instrument.LoadPCG(BQ_DEMO_PCG), S_OK);

    // Watched from inside the download's own event loop.
    std::set<QString> statusTexts;
    bool mainWindowDisabled = false;
    std::uint32_t largestReceived = 0;
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        if (CMIDIProgressDlg* dialog = app->Workstation()->ProgressDialog()) {
            for (QLabel* label : dialog->findChildren<QLabel*>()) {
                if (label->text().startsWith("Loading")) {
                    statusTexts.insert(label->text());
                }
            }
            mainWindowDisabled = mainWindowDisabled || !app->frame->isEnabled();
            largestReceived = std::max(largestReceived, dialog->Received());
        }
    });
    watch.start(20);

    struct Case {
        int group, bank;
        const char* status;
    };
    for (const Case c : {Case{kCombinations, 1, "Loading Combination Bank B."},
                         Case{kPrograms, 0, "Loading Program Bank A."},
                         Case{kPrograms, 5, "Loading Program Bank F (MOSS)."}}) {
        SCOPED_TRACE(c.status);
        statusTexts.clear();
        mainWindowDisabled = false;
        largestReceived = 0;
        QTreeWidgetItem* node = Bank(c.group, c.bank);
        ASSERT_TRUE(Download(node));
        EXPECT_EQ(statusTexts, std::set<QString>{c.status});
        EXPECT_TRUE(mainWindowDisabled) << "the dialog keeps the main window disabled";
        EXPECT_GT(largestReceived, 0u) << "the dialog counts what arrives";
        EXPECT_EQ(app->Workstation()->ProgressDialog(), nullptr);
        EXPECT_TRUE(app->frame->isEnabled());
        for (long slot = 0; slot < 128; ++slot) {
            const Bytes record = c.group == kCombinations
                                     ? instrument.CombiRecord(c.bank, static_cast<int>(slot))
                                     : instrument.ProgramRecord(c.bank, static_cast<int>(slot));
            ASSERT_EQ(node->child(slot)->text(0), ExpectedLabel(slot, record)) << "slot " << slot;
            ASSERT_EQ(RecordOf(view, node->child(slot)), record) << "slot " << slot;
        }
        const auto lines = KarmaLines();
        ASSERT_EQ(lines.size(), 1u);
        EXPECT_NE(lines[0].find("dump:"), std::string::npos) << lines[0];
    }
    // The demo file's names, not the ones an empty instrument makes up.
    EXPECT_NE(Bank(kCombinations, 1)->child(0)->text(0), "000 : Combi B-000");

    // Loaded once: closing and opening the node again asks the instrument nothing.
    view->collapseItem(Bank(kCombinations, 1));
    view->expandItem(Bank(kCombinations, 1));
    EXPECT_EQ(Bank(kCombinations, 1)->childCount(), 128);
    EXPECT_TRUE(KarmaLines().empty());
    EXPECT_TRUE(app->presenter.Messages().empty())
        << app->presenter.Texts().join("\n").toStdString();
}

// As fast as the server takes it, a bank dump is far more than one cycle's buffer: it goes out
// in many events a cycle, which must all arrive (PipeWire's JACK library included).
TEST_F(EndToEndView, AllTwelveBanksAtUnlimitedRateArriveByteForByte) {
    StartInstrument({"--pcg", BQ_DEMO_PCG, "--rate", "0"});
    Connect();
    VirtualKarma instrument;
    ASSERT_EQ(instrument.LoadPCG(BQ_DEMO_PCG), S_OK);
    for (int group : {kCombinations, kPrograms}) {
        for (int bank = 0; bank < 6; ++bank) {
            SCOPED_TRACE(testing::Message() << "group " << group << " bank " << bank);
            QTreeWidgetItem* node = Bank(group, bank);
            ASSERT_TRUE(Download(node));
            for (int slot = 0; slot < 128; ++slot) {
                ASSERT_EQ(RecordOf(view, node->child(slot)),
                          group == kCombinations ? instrument.CombiRecord(bank, slot)
                                                 : instrument.ProgramRecord(bank, slot))
                    << "slot " << slot;
            }
        }
    }
    EXPECT_TRUE(app->presenter.Messages().empty())
        << app->presenter.Texts().join("\n").toStdString();
}

TEST_F(EndToEndView, ADragFromAPCGWindowAndASwapWriteExactlyTheirRecords) {
    TempPath memoryFile;
    ASSERT_FALSE(memoryFile.Path().empty());
    // An instrument with its own (made-up) memory, so that what comes from the file differs.
    StartInstrument({"--rate", "312500", "--channel", "2", "--memory-out", memoryFile.Path()});
    Connect();
    CPCGBankView* pcgView = OpenDemoFile();
    ASSERT_NE(pcgView, nullptr);
    QTreeWidgetItem* pcgBankA = ExpandedBank(pcgView, 0);
    ASSERT_GT(pcgBankA->childCount(), 5);
    QTreeWidgetItem* wsBankB = Bank(kCombinations, 1);
    ASSERT_TRUE(Download(wsBankB));

    VirtualKarma expected;  // what the instrument must hold afterwards
    VirtualKarma demo;
    ASSERT_EQ(demo.LoadPCG(BQ_DEMO_PCG), S_OK);
    const Bytes fromFile = demo.CombiRecord(0, 5);
    ASSERT_EQ(RecordOf(pcgView, pcgBankA->child(5)), fromFile);
    const QString pcgLabel = pcgBankA->child(5)->text(0);

    // Send: PCG A-005 onto Workstation B-012. Its Programs are not known of the instrument:
    // No to downloading them writes the Combination alone.
    app->presenter.Answer(IDNO);
    ASSERT_TRUE(DragWithMouse(pcgView, pcgBankA->child(5), view, wsBankB->child(12)));
    ASSERT_EQ(app->presenter.Messages().size(), 1u);
    EXPECT_TRUE(app->presenter.Messages()[0].text.startsWith("'" + NameOf(pcgBankA->child(5)) +
                                                             "' plays Programs of Program Bank A"))
        << app->presenter.Messages()[0].text.toStdString();
    app->presenter.Clear();
    EXPECT_EQ(wsBankB->child(12)->text(0), ExpectedLabel(12, fromFile));
    EXPECT_EQ(RecordOf(view, wsBankB->child(12)), fromFile);
    EXPECT_NE(view->GetItemRecord(wsBankB->child(12))->GetObject(),
              pcgView->GetItemRecord(pcgBankA->child(5))->GetObject())
        << "the Workstation item holds a copy of its own";
    EXPECT_EQ(pcgBankA->child(5)->text(0), pcgLabel);
    ASSERT_TRUE(expected.SetCombiRecord(1, 12, fromFile.data(), fromFile.size()));

    // Swap: Workstation B-003 onto B-020.
    const Bytes b3 = expected.CombiRecord(1, 3);
    const Bytes b20 = expected.CombiRecord(1, 20);
    ASSERT_TRUE(DragWithMouse(view, wsBankB->child(3), view, wsBankB->child(20)));
    EXPECT_EQ(wsBankB->child(20)->text(0), ExpectedLabel(20, b3));
    EXPECT_EQ(wsBankB->child(3)->text(0), ExpectedLabel(3, b20));
    EXPECT_EQ(RecordOf(view, wsBankB->child(20)), b3);
    EXPECT_EQ(RecordOf(view, wsBankB->child(3)), b20);
    ASSERT_TRUE(expected.SetCombiRecord(1, 20, b3.data(), b3.size()));
    ASSERT_TRUE(expected.SetCombiRecord(1, 3, b20.data(), b20.size()));
    EXPECT_TRUE(app->presenter.Messages().empty())
        << app->presenter.Texts().join("\n").toStdString();

    const auto lines = KarmaLines();
    ASSERT_EQ(lines.size(), 4u);  // the dump and three writes, in this order
    EXPECT_NE(lines[1].find("item write Combination B-012: stored"), std::string::npos);
    EXPECT_NE(lines[2].find("item write Combination B-020: stored"), std::string::npos);
    EXPECT_NE(lines[3].find("item write Combination B-003: stored"), std::string::npos);

    // Byte for byte, and nothing else changed.
    ASSERT_EQ(StopVirtualKarma(*karma), 0);
    const Bytes memory = ReadFile(memoryFile.Path());
    ASSERT_EQ(memory.size(), VirtualKarma::kMemorySize);
    EXPECT_TRUE(memory == expected.SerializeMemory());
}

// A Combination from a file plays the file's Programs; on an instrument that holds others in
// those slots it is written with them when the user says so, and undone with them.
TEST_F(EndToEndView, ACombinationWrittenWithItsProgramsIsUndoneWithThem) {
    TempPath memoryFile;
    ASSERT_FALSE(memoryFile.Path().empty());
    StartInstrument({"--rate", "0", "--memory-out", memoryFile.Path()});
    Connect();
    CPCGBankView* pcgView = OpenDemoFile();
    ASSERT_NE(pcgView, nullptr);
    QTreeWidgetItem* pcgBankA = ExpandedBank(pcgView, 0);
    QTreeWidgetItem* wsBankB = Bank(kCombinations, 1);
    ASSERT_TRUE(Download(wsBankB));
    VirtualKarma demo;
    ASSERT_EQ(demo.LoadPCG(BQ_DEMO_PCG), S_OK);
    VirtualKarma expected;
    const QString combi = NameOf(pcgBankA->child(5));
    // The demo's A-005 plays Program A-005 (Int) and D-028 (Both).
    const QString programA = ExpectedLabel(5, demo.ProgramRecord(0, 5)).mid(6).trimmed();
    const QString onKarma = ExpectedLabel(5, expected.ProgramRecord(0, 5)).mid(6).trimmed();
    KarmaLines();

    // Yes downloads Program banks A and D; Combination Only then writes one record.
    app->presenter.Answer(IDYES);
    app->presenter.Answer(1);
    ASSERT_TRUE(DragWithMouse(pcgView, pcgBankA->child(5), view, wsBankB->child(12)));
    ASSERT_EQ(app->presenter.Messages().size(), 2u)
        << app->presenter.Texts().join("\n").toStdString();
    EXPECT_TRUE(app->presenter.Messages()[0].text.contains("Program Bank A, Program Bank D"))
        << app->presenter.Messages()[0].text.toStdString();
    EXPECT_EQ(app->presenter.Messages()[1].answers,
              QStringList({"Write With Programs", "Combination Only", "Cancel"}));
    auto lines = KarmaLines();
    ASSERT_EQ(lines.size(), 3u);  // two dumps, one write
    EXPECT_NE(lines[2].find("item write Combination B-012: stored"), std::string::npos);
    const Bytes record = demo.CombiRecord(0, 5);
    ASSERT_TRUE(expected.SetCombiRecord(1, 12, record.data(), record.size()));
    const Bytes beforeWith = expected.SerializeMemory();

    // The same Combination onto B-013: B-012 now plays those slots too, and says so.
    app->presenter.Clear();
    app->presenter.Answer(0);
    ASSERT_TRUE(DragWithMouse(pcgView, pcgBankA->child(5), view, wsBankB->child(13)));
    ASSERT_EQ(app->presenter.Messages().size(), 1u)
        << app->presenter.Texts().join("\n").toStdString();
    const QString question = app->presenter.Messages()[0].text;
    EXPECT_TRUE(question.contains("A 005 : " + programA + ", on the Karma: " + onKarma))
        << question.toStdString();
    EXPECT_TRUE(question.contains("D 028 : ")) << question.toStdString();
    EXPECT_TRUE(question.contains("B 012 : " + combi)) << question.toStdString();
    lines = KarmaLines();
    ASSERT_EQ(lines.size(), 3u);  // the Programs first, then the Combination that plays them
    EXPECT_NE(lines[0].find("item write Program A-005: stored"), std::string::npos);
    EXPECT_NE(lines[1].find("item write Program D-028: stored"), std::string::npos);
    EXPECT_NE(lines[2].find("item write Combination B-013: stored"), std::string::npos);
    EXPECT_EQ(Bank(kPrograms, 0)->child(5)->text(0), ExpectedLabel(5, demo.ProgramRecord(0, 5)));

    // One Ctrl+Z gives back all three.
    app->frame->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(app->frame.get()));
    QTest::keyClick(app->frame->windowHandle(), Qt::Key_Z, Qt::ControlModifier);
    ASSERT_TRUE(RunUntil([&] { return KarmaLines(50).size() == 3; }, 10000));
    EXPECT_EQ(Bank(kPrograms, 0)->child(5)->text(0),
              ExpectedLabel(5, expected.ProgramRecord(0, 5)));
    ASSERT_EQ(StopVirtualKarma(*karma), 0);
    EXPECT_TRUE(ReadFile(memoryFile.Path()) == beforeWith);
}

// The demo's E-000 plays E-000 and F-003, which the file holds as an 804-byte Program: the
// instrument's MOSS bank F holds 416-byte ones, so F-003 is neither asked about nor written.
TEST_F(EndToEndView, AProgramTheInstrumentsBankCannotHoldIsNeitherOfferedNorWritten) {
    StartInstrument({"--rate", "0"});
    Connect();
    CPCGBankView* pcgView = OpenDemoFile();
    ASSERT_NE(pcgView, nullptr);
    QTreeWidgetItem* pcgBankE = ExpandedBank(pcgView, 4);
    QTreeWidgetItem* wsBankA = Bank(kCombinations, 0);
    ASSERT_TRUE(Download(wsBankA));
    KarmaLines();

    app->presenter.Answer(IDYES);
    app->presenter.Answer(0);
    ASSERT_TRUE(DragWithMouse(pcgView, pcgBankE->child(0), view, wsBankA->child(7)));
    const QStringList texts = app->presenter.Texts();
    ASSERT_EQ(texts.size(), 2) << texts.join("\n").toStdString();
    EXPECT_TRUE(texts[0].contains("Program Bank E")) << texts[0].toStdString();
    EXPECT_FALSE(texts[0].contains("Program Bank F")) << texts[0].toStdString();
    EXPECT_TRUE(texts[1].contains("E 000 : ")) << texts[1].toStdString();
    EXPECT_FALSE(texts[1].contains("F 003")) << texts[1].toStdString();
    const auto lines = KarmaLines();
    ASSERT_EQ(lines.size(), 3u);  // Program bank E's dump, then the two writes
    EXPECT_NE(lines[1].find("item write Program E-000: stored"), std::string::npos);
    EXPECT_NE(lines[2].find("item write Combination A-007: stored"), std::string::npos);
}

TEST_F(EndToEndView, AnInstrumentKilledInADumpRaisesTheQuestionAndNoEndsIt) {
    // 146 KB at 20,000 bytes per second: about 7 seconds, killed after the first 10 KB.
    StartInstrument({"--rate", "20000"});
    Connect();
    app->Workstation()->SetProgressTimerPeriodMs(400);
    app->presenter.Answer(IDNO);
    bool killed = false;
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        CMIDIProgressDlg* dialog = app->Workstation()->ProgressDialog();
        if (!killed && dialog != nullptr && dialog->Received() >= 10000) {
            killed = karma->Signal(SIGKILL);
        }
    });
    watch.start(10);
    QTreeWidgetItem* node = Bank(kCombinations, 2);
    EXPECT_FALSE(Download(node));
    watch.stop();
    ASSERT_TRUE(killed);
    karma->Wait(5000);

    ASSERT_EQ(app->presenter.Messages().size(), 1u)
        << app->presenter.Texts().join("\n").toStdString();
    EXPECT_TRUE(app->presenter.Messages()[0].text.startsWith(
        "No MIDI communication has occurred for the last 5 seconds."));
    EXPECT_EQ(app->presenter.Messages()[0].answer, IDNO);
    EXPECT_EQ(node->childCount(), 0);
    EXPECT_FALSE(node->isExpanded());
    EXPECT_EQ(app->Workstation()->ProgressDialog(), nullptr);
    EXPECT_FALSE(app->Workstation()->IsWaiting());
    EXPECT_TRUE(app->frame->isEnabled());

    // Still usable: a new instrument is found again, and the same bank now loads.
    app->presenter.Clear();
    StartInstrument({"--rate", "0"});
    app->Workstation()->close();
    ASSERT_TRUE(app->Connect());
    EXPECT_TRUE(Download(node));
    EXPECT_EQ(node->child(127)->text(0), ExpectedLabel(127, VirtualKarma().CombiRecord(2, 127)));
    EXPECT_TRUE(app->presenter.Messages().empty())
        << app->presenter.Texts().join("\n").toStdString();
}

TEST_F(EndToEndView, AWriteTheInstrumentRefusesGivesMessage163AndChangesNothing) {
    TempPath memoryFile;
    ASSERT_FALSE(memoryFile.Path().empty());
    StartInstrument({"--rate", "0", "--fail-writes", "--memory-out", memoryFile.Path()});
    Connect();
    CPCGBankView* pcgView = OpenDemoFile();
    ASSERT_NE(pcgView, nullptr);
    QTreeWidgetItem* pcgBankA = ExpandedBank(pcgView, 0);
    QTreeWidgetItem* wsBankA = Bank(kCombinations, 0);
    ASSERT_TRUE(Download(wsBankA));
    const QString label2 = wsBankA->child(2)->text(0);
    const QString label0 = wsBankA->child(0)->text(0);
    const QString label1 = wsBankA->child(1)->text(0);
    CKarmaObject* object2 = view->GetItemRecord(wsBankA->child(2))->GetObject();
    KarmaLines();

    // A send (its Programs not checked).
    app->presenter.Answer(IDNO);
    ASSERT_TRUE(DragWithMouse(pcgView, pcgBankA->child(1), view, wsBankA->child(2)));
    ASSERT_EQ(app->presenter.Messages().size(), 2u);
    EXPECT_EQ(app->presenter.Messages()[1].text,
              "An error occurred during the MIDI transfer operation.");
    EXPECT_EQ(app->presenter.Messages()[1].style, unsigned(MB_ICONERROR));
    app->presenter.Clear();
    EXPECT_EQ(wsBankA->child(2)->text(0), label2);
    EXPECT_EQ(view->GetItemRecord(wsBankA->child(2))->GetObject(), object2);

    // A swap: the first write is refused, so no second one is sent.
    ASSERT_TRUE(DragWithMouse(view, wsBankA->child(0), view, wsBankA->child(1)));
    ASSERT_EQ(app->presenter.Messages().size(), 1u);
    EXPECT_EQ(app->presenter.Messages()[0].text,
              "An error occurred during the MIDI transfer operation.");
    EXPECT_EQ(wsBankA->child(0)->text(0), label0);
    EXPECT_EQ(wsBankA->child(1)->text(0), label1);
    const auto lines = KarmaLines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_NE(lines[0].find("item write Combination A-002: failed"), std::string::npos);
    EXPECT_NE(lines[1].find("item write Combination A-001: failed"), std::string::npos);

    ASSERT_EQ(StopVirtualKarma(*karma), 0);
    EXPECT_TRUE(ReadFile(memoryFile.Path()) == VirtualKarma().SerializeMemory());
}

}  // namespace
}  // namespace bq::e2e
