// Never losing a sound, against the virtual Karma over JACK: a backup through the File menu is
// the instrument's memory byte for byte, and a Combination dragged back from it restores it;
// a cancelled backup and a folder that cannot be written leave no file; Undo and Redo of a
// send, a swap and a round trip return the memory to the exact bytes before and after.

#include <gtest/gtest.h>
#include <linux/capability.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <QDir>
#include <QFileDialog>
#include <QMdiArea>
#include <QPushButton>
#include <QTemporaryDir>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "AppRig.h"
#include "model/PcgWriter.h"
#include "shell/PCGBankView.h"
#include "shell/PCGFrame.h"
#include "tests/support/PrivateJackServer.h"
#include "tools/virtual-karma/VirtualKarma.h"
#include "workstation/MIDIProgressDlg.h"
#include "workstation/WSBankView.h"
#include "workstation/WSSession.h"

namespace bq::e2e {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes ReadFile(const QString& path) {
    std::ifstream file(path.toStdString(), std::ios::binary);
    return Bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
}

// The PCG file that holds a memory as the virtual Karma writes it with --memory-out: Program
// banks A to E, the MOSS bank F, Combination banks A to F, the current Combination.
Bytes PcgOfMemory(const Bytes& memory) {
    pcg::KarmaMemory banks;
    std::size_t at = 0;
    auto take = [&](std::size_t size) {
        Bytes part(
            memory.begin() + static_cast<std::ptrdiff_t>(std::min(at, memory.size())),
            memory.begin() + static_cast<std::ptrdiff_t>(std::min(at + size, memory.size())));
        at += size;
        return part;
    };
    for (int bank = 0; bank < 6; ++bank) {
        banks.programs[bank] = take(128 * pcg::ProgramRecordSize(bank));
    }
    for (int bank = 0; bank < 6; ++bank) {
        banks.combis[bank] = take(128 * pcg::kCombiRecordSize);
    }
    Bytes file;
    EXPECT_TRUE(pcg::BuildPcg(banks, &file));
    return file;
}

// As the superuser, a folder without write permission can still be written to: the test's own
// thread gives up the capabilities that allow it for as long as the object lives.
class WithoutFileOverrides {
public:
    WithoutFileOverrides() {
        m_header.version = _LINUX_CAPABILITY_VERSION_3;
        m_header.pid = 0;  // this thread
        if (::syscall(SYS_capget, &m_header, m_saved) != 0) {
            return;
        }
        __user_cap_data_struct reduced[2] = {m_saved[0], m_saved[1]};
        reduced[0].effective &=
            ~((1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH) | (1u << CAP_FOWNER));
        m_active = ::syscall(SYS_capset, &m_header, reduced) == 0;
    }
    ~WithoutFileOverrides() {
        if (m_active) {
            ::syscall(SYS_capset, &m_header, m_saved);
        }
    }
    WithoutFileOverrides(const WithoutFileOverrides&) = delete;
    WithoutFileOverrides& operator=(const WithoutFileOverrides&) = delete;

private:
    __user_cap_header_struct m_header{};
    __user_cap_data_struct m_saved[2]{};
    bool m_active = false;
};

class NeverLose : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(ListPorts().has_value())
            << "No JACK server answers. Run the tests with scripts/run-tests.sh (make test).";
        memoryFile = folder.filePath("karma-memory.bin").toStdString();
    }
    void StartInstrument(std::vector<std::string> options) {
        karma = StartVirtualKarma(BQ_VIRTUAL_KARMA, std::move(options));
        ASSERT_NE(karma, nullptr) << "bankquill-virtual-karma did not start";
    }
    void Connect() {
        if (!app) {
            app = std::make_unique<AppRig>();
            app->frame->activateWindow();
            ASSERT_TRUE(QTest::qWaitForWindowActive(app->frame.get()));
        }
        ASSERT_TRUE(app->Connect());
        view = qobject_cast<CWSBankView*>(app->Workstation()->BankView());
        ASSERT_NE(view, nullptr);
    }
    QTreeWidgetItem* Combi(int bank, int slot) const {
        return view->topLevelItem(0)->child(bank)->child(slot);
    }
    CPCGBankView* Open(const QString& path) {
        CPCGFrame* pcg = app->frame->OpenPCGFile(path);
        if (pcg == nullptr) {
            return nullptr;
        }
        app->frame->MdiArea()->tileSubWindows();
        pcg->BankView()->expandItem(pcg->BankView()->topLevelItem(0));
        pcg->BankView()->expandItem(pcg->BankView()->topLevelItem(0)->child(0));
        RunFor(50);
        return pcg->BankView();
    }
    // Ctrl+Z or Ctrl+Shift+Z as a person gives it: to the active main window, once the event
    // loop has gone idle after the last write (which is when the commands are brought up to
    // date). The offscreen platform may not give the activation back after a question.
    void Key(Qt::KeyboardModifiers modifiers) {
        if (!app->frame->isActiveWindow()) {
            app->frame->activateWindow();
            ASSERT_TRUE(QTest::qWaitForWindowActive(app->frame.get()));
        }
        app->frame->UpdateCommandUI();
        QTest::keyClick(app->frame->windowHandle(), Qt::Key_Z, modifiers);
    }
    // The instrument's memory, written as it stops.
    Bytes StopAndReadMemory() {
        EXPECT_EQ(StopVirtualKarma(*karma), 0);
        return ReadFile(QString::fromStdString(memoryFile));
    }

    QTemporaryDir folder;
    std::string memoryFile;
    std::unique_ptr<ChildProcess> karma;
    std::unique_ptr<AppRig> app;
    CWSBankView* view = nullptr;
};

TEST_F(NeverLose, ABackupIsTheMemoryByteForByteAndACombinationDraggedBackRestoresIt) {
    if (bq::test::TestServerIsPipeWire()) {
        // The whole memory (1.3 MB) spans many cycles even at unlimited rate; a cycle that
        // PipeWire runs without a late client loses that cycle's bytes, and the backup then
        // (rightly) says it was not written. The undo and cancel cases run on both servers.
        GTEST_SKIP() << bq::test::kPacedStreamJackdOnly;
    }
    StartInstrument({"--rate", "0", "--memory-out", memoryFile});
    Connect();
    const QString backup = folder.filePath("before-the-gig.pcg");

    // File > Back Up Workstation..., the name typed into its dialog.
    bool asked = false;
    QTimer answer;
    QObject::connect(&answer, &QTimer::timeout, [&] {
        if (auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget())) {
            asked = true;
            dialog->selectFile(backup);
            static_cast<QDialog*>(dialog)->accept();
        }
    });
    answer.start(10);
    app->frame->CommandAction(ID_FILE_BACKUP)->trigger();
    answer.stop();
    ASSERT_TRUE(asked);
    ASSERT_EQ(app->presenter.Texts(),
              QStringList{"The whole memory of the Karma was saved in " + backup + "."});
    const Bytes file = ReadFile(backup);
    ASSERT_FALSE(file.empty());
    EXPECT_EQ(view->topLevelItem(1)->child(5)->childCount(), 128) << "the banks are shown";

    // A-010 overwritten from another file, then put back from the backup.
    CPCGBankView* demo = Open(BQ_DEMO_PCG);
    ASSERT_NE(demo, nullptr);
    view->expandItem(view->topLevelItem(0)->child(0));
    QTreeWidgetItem* demoA3 = demo->topLevelItem(0)->child(0)->child(3);
    // Its Programs are not the instrument's (all known since the backup): the Combination only.
    app->presenter.Answer(1);
    ASSERT_TRUE(DragWithMouse(demo, demoA3, view, Combi(0, 10)));
    ASSERT_EQ(Combi(0, 10)->text(0), QString(demoA3->text(0)).replace(0, 3, "010"));
    CPCGBankView* saved = Open(backup);
    ASSERT_NE(saved, nullptr);
    ASSERT_EQ(saved->topLevelItemCount(), 2);
    EXPECT_EQ(saved->topLevelItem(0)->childCount(), 6);
    EXPECT_EQ(saved->topLevelItem(1)->childCount(), 5) << "MOSS Programs are not read";
    EXPECT_EQ(saved->topLevelItem(1)->child(4)->childCount(), 128);
    QTreeWidgetItem* savedA10 = saved->topLevelItem(0)->child(0)->child(10);
    EXPECT_EQ(savedA10->text(0), "010 : Combi A-010");
    ASSERT_TRUE(DragWithMouse(saved, savedA10, view, Combi(0, 10)));
    EXPECT_EQ(Combi(0, 10)->text(0), "010 : Combi A-010");
    ASSERT_EQ(app->presenter.Messages().size(), 2u)
        << app->presenter.Texts().join("\n").toStdString();
    EXPECT_EQ(app->presenter.Messages()[1].answers.size(), 3);

    // The instrument holds what it held at the backup, and the backup is that memory.
    const Bytes memory = StopAndReadMemory();
    ASSERT_EQ(memory.size(), VirtualKarma::kMemorySize);
    EXPECT_TRUE(memory == VirtualKarma().SerializeMemory());
    EXPECT_TRUE(file == PcgOfMemory(memory));
}

TEST_F(NeverLose, ACancelledBackupAndAFolderThatCannotBeWrittenLeaveNoFile) {
    // A folder the backup cannot write into, holding an earlier backup of the same name.
    StartInstrument({"--rate", "0"});
    Connect();
    QTemporaryDir locked;
    const QString earlierPath = locked.filePath("karma.pcg");
    { std::ofstream(earlierPath.toStdString()) << "an earlier backup"; }
    ASSERT_EQ(::chmod(QFile::encodeName(locked.path()).constData(), 0555), 0);
    bool written = true;
    {
        WithoutFileOverrides unprivileged;
        written = app->frame->BackUpWorkstation(earlierPath);
    }
    ::chmod(QFile::encodeName(locked.path()).constData(), 0700);
    EXPECT_FALSE(written);
    ASSERT_EQ(app->presenter.Messages().size(), 1u);
    EXPECT_EQ(app->presenter.Messages()[0].text,
              "The backup was not written: cannot create a file in " + locked.path() +
                  ": Permission denied.");
    EXPECT_EQ(app->presenter.Messages()[0].style, unsigned(MB_ICONERROR));
    EXPECT_EQ(QDir(locked.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"karma.pcg"});
    const Bytes earlier = ReadFile(earlierPath);
    EXPECT_EQ(std::string(earlier.begin(), earlier.end()), "an earlier backup");

    // Cancelled while a dump has paused, in a new connection to a new instrument: the banks
    // of the earlier connection are asked for again, and nothing is written.
    EXPECT_EQ(StopVirtualKarma(*karma), 0);
    StartInstrument({"--rate", "0", "--pause-after", "20000:4000"});
    app->Workstation()->close();
    Connect();
    app->presenter.Clear();
    const QString target = folder.filePath("cancelled.pcg");
    bool clicked = false;
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        CMIDIProgressDlg* dialog = app->Workstation()->ProgressDialog();
        if (!clicked && dialog != nullptr && dialog->Received() >= 20000) {
            clicked = true;
            auto* cancel = dialog->findChild<QPushButton*>("cancelButton");
            test::WindowInput(cancel).Click(cancel->mapToGlobal(cancel->rect().center()));
        }
    });
    watch.start(10);
    EXPECT_FALSE(app->frame->BackUpWorkstation(target));
    watch.stop();
    EXPECT_TRUE(clicked);
    EXPECT_TRUE(app->presenter.Messages().empty())
        << app->presenter.Texts().join("\n").toStdString();
    EXPECT_EQ(QDir(folder.path()).entryList(QDir::Files | QDir::Hidden), QStringList{});
    EXPECT_TRUE(app->frame->isEnabled());
    std::string line;
    ASSERT_TRUE(karma->WaitForLine("dump", 2000, &line));
    EXPECT_NE(line.find("Combination bank A dump"), std::string::npos) << line;
}

TEST_F(NeverLose, UndoAndRedoReturnTheMemoryToTheExactBytesBeforeAndAfter) {
    VirtualKarma demoFile;
    ASSERT_EQ(demoFile.LoadPCG(BQ_DEMO_PCG), S_OK);
    const VirtualKarma generated;
    // What a send of the file's, a swap of A-004 onto A-001 and a round trip
    // leave in the instrument.
    VirtualKarma after;
    const Bytes sent = demoFile.CombiRecord(0, 3);
    ASSERT_TRUE(after.SetCombiRecord(0, 10, sent.data(), sent.size()));
    ASSERT_TRUE(after.SetCombiRecord(0, 1, generated.CombiRecord(0, 4).data(), 996));
    ASSERT_TRUE(after.SetCombiRecord(0, 4, generated.CombiRecord(0, 1).data(), 996));
    ASSERT_TRUE(after.SetCombiRecord(0, 0, generated.CurrentCombi().data(), 996));

    auto writeThree = [&] {
        CPCGBankView* demo = Open(BQ_DEMO_PCG);
        ASSERT_NE(demo, nullptr);
        view->expandItem(view->topLevelItem(0)->child(0));
        ASSERT_TRUE(
            DragWithMouse(demo, demo->topLevelItem(0)->child(0)->child(3), view, Combi(0, 10)));
        ASSERT_TRUE(DragWithMouse(view, Combi(0, 4), view, Combi(0, 1)));
        app->frame->MdiArea()->setActiveSubWindow(app->Workstation());
        app->presenter.Answer(IDYES);
        ASSERT_TRUE(app->frame->ExecuteCommand(ID_ROUND_TRIP));
        ASSERT_EQ(Combi(0, 0)->text(0),
                  CWSBankView::ItemLabel(0, *view->GetItemRecord(Combi(0, 0))->GetObject()));
    };

    // All three, then all three undone: the memory as it was.
    std::string line;
    StartInstrument({"--rate", "0", "--memory-out", memoryFile});
    Connect();
    writeThree();
    for (int i = 0; i < 3; ++i) {
        Key(Qt::ControlModifier);
    }
    for (int slot : {0, 1, 4, 10}) {
        EXPECT_EQ(Combi(0, slot)->text(0), QString::asprintf("%03d : Combi A-%03d", slot, slot));
    }
    Bytes memory = StopAndReadMemory();
    ASSERT_EQ(memory.size(), VirtualKarma::kMemorySize);
    EXPECT_TRUE(memory == generated.SerializeMemory());

    // A new instrument: closing the window asks first, since there is something to redo.
    app->presenter.Clear();
    app->presenter.Answer(IDYES);
    app->Workstation()->close();
    ASSERT_EQ(app->presenter.Messages().size(), 1u);
    EXPECT_TRUE(app->presenter.Messages()[0].text.startsWith("Ending the connection"));
    StartInstrument({"--rate", "0", "--memory-out", memoryFile});
    Connect();
    // Bank A shows what the earlier instrument held: it is downloaded again first, so that the
    // writes into it can be undone.
    ASSERT_FALSE(app->Workstation()->Session().BankDownloaded(true, 0));
    view->LoadCombiBank(view->topLevelItem(0)->child(0), 0);
    ASSERT_TRUE(app->Workstation()->Session().BankDownloaded(true, 0));
    ASSERT_TRUE(karma->WaitForLine("dump", 2000, &line));
    writeThree();
    for (int i = 0; i < 3; ++i) {
        Key(Qt::ControlModifier);
    }
    for (int i = 0; i < 3; ++i) {
        Key(Qt::ControlModifier | Qt::ShiftModifier);
    }
    const std::vector<std::string> expectedWrites = {
        "A-010", "A-001", "A-004", "A-000",   // the three steps
        "A-000", "A-004", "A-001", "A-010",   // undone, latest first
        "A-010", "A-001", "A-004", "A-000"};  // redone
    std::vector<std::string> writes;
    while (karma->ReadLine(&line, 300)) {
        const std::size_t at = line.find("item write Combination ");
        if (at != std::string::npos) {
            EXPECT_NE(line.find(": stored"), std::string::npos) << line;
            writes.push_back(line.substr(at + 23, 5));
        }
    }
    EXPECT_EQ(writes, expectedWrites);
    memory = StopAndReadMemory();
    ASSERT_EQ(memory.size(), VirtualKarma::kMemorySize);
    EXPECT_TRUE(memory == after.SerializeMemory());
    EXPECT_FALSE(
        app->presenter.Texts().contains("An error occurred during the MIDI transfer "
                                        "operation."));
}

}  // namespace
}  // namespace bq::e2e
