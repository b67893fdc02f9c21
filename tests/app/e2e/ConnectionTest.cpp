// The whole program over JACK: finding the virtual Karma, the real executable, and a server
// that stops during a write. Uses the server of the test command (scripts/run-tests.sh), and a
// private one where the server itself is the fault.

#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QRegularExpression>
#include <QString>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <set>
#include <string>

#include "AppRig.h"
#include "midi/JackMidiServices.h"
#include "midi/SysEx.h"
#include "shell/AboutDialog.h"
#include "tests/support/PrivateJackServer.h"
#include "tools/virtual-karma/VirtualKarma.h"
#include "workstation/WSBankView.h"

namespace bq::e2e {
namespace {

const auto* const kServerGuard =
    ::testing::AddGlobalTestEnvironment(new bq::test::PrivateJackServerGuard);

using Clock = std::chrono::steady_clock;

void ExpectServerAnswers() {
    ASSERT_TRUE(ListPorts().has_value())
        << "No JACK server answers. Run the tests with scripts/run-tests.sh (make test), which "
           "starts jackd with the dummy driver.";
}

TEST(EndToEndConnection, ViewWorkstationFindsTheVirtualKarmaAndShowsItsPorts) {
    ExpectServerAnswers();
    auto karma = StartVirtualKarma(BQ_VIRTUAL_KARMA, {"--rate", "0", "--channel", "6"});
    ASSERT_NE(karma, nullptr) << "bankquill-virtual-karma did not start";
    AppRig app;
    EXPECT_EQ(app.MIDIStatus(), "MIDI Status: Not Connected");

    ASSERT_TRUE(app.Connect());
    EXPECT_TRUE(app.Workstation()->isVisible());
    EXPECT_EQ(app.Workstation()->Transport().GlobalChannel(), 6) << "from its Identity Reply";
    ASSERT_TRUE(RunUntil([&] { return app.MIDIStatus().contains("Connected ["); }, 2000));
    EXPECT_EQ(app.MIDIStatus(),
              QStringLiteral("MIDI Status: Connected [In: %1, Out: %2]").arg(kKarmaOut, kKarmaIn));
    EXPECT_TRUE(app.presenter.Messages().empty()) << app.presenter.Texts().join("\n").toStdString();

    // Our ports are connected to the virtual Karma's, and closing the window lets them go.
    auto ports = ListPorts();
    ASSERT_TRUE(ports.has_value());
    EXPECT_TRUE(AnyPortStartsWith(*ports, "bankquill-e2e"));
    app.Workstation()->close();
    EXPECT_FALSE(app.Workstation()->isVisible());
    ASSERT_TRUE(RunUntil([&] { return app.MIDIStatus() == "MIDI Status: Not Connected"; }, 2000));
    ports = ListPorts();
    ASSERT_TRUE(ports.has_value());
    EXPECT_FALSE(AnyPortStartsWith(*ports, "bankquill-e2e")) << "no port left after closing";
    EXPECT_EQ(StopVirtualKarma(*karma), 0);
}

// The status text of the About box, shown through the Help menu's command.
QString AboutStatus(AppRig& app) {
    QString status = "(no About box)";
    QTimer::singleShot(0, [&] {
        if (auto* about = qobject_cast<CAboutDialog*>(QApplication::activeModalWidget())) {
            status = about->StatusText()->text();
            about->accept();
        }
    });
    app.frame->ExecuteCommand(ID_APP_ABOUT);
    return status;
}

TEST(EndToEndAbout, TheAboutBoxNamesTheServerAndItsVersionOrThatThereIsNone) {
    ExpectServerAnswers();
    {
        AppRig app;
        const QString status = AboutStatus(app);
        if (bq::test::TestServerIsPipeWire()) {
            EXPECT_TRUE(
                QRegularExpression(R"(^MIDI: PipeWire \d+\.\d+\.\d+$)").match(status).hasMatch())
                << status.toStdString();
        } else {
            EXPECT_EQ(status, QStringLiteral("MIDI: jackd (JACK %1), server %2")
                                  .arg(QString::fromStdString(midi::JackLibraryVersion()),
                                       qEnvironmentVariable("BQ_TEST_JACK_SERVER")));
        }
    }
    // Neither jackd's library nor PipeWire's finds a server under this name.
    const std::string nobody = "bankquill-nobody-" + std::to_string(::getpid());
    ScopedEnv jackd("JACK_DEFAULT_SERVER", nobody);
    ScopedEnv pipewire("PIPEWIRE_REMOTE", nobody);
    AppRig app;
    EXPECT_EQ(AboutStatus(app), "MIDI: No JACK server is running.");
}

// Descendants of `pid`, from /proc.
std::set<pid_t> Descendants(pid_t pid) {
    std::set<pid_t> found;
    bool grew = true;
    while (grew) {
        grew = false;
        DIR* proc = ::opendir("/proc");
        if (proc == nullptr) {
            return found;
        }
        while (dirent* entry = ::readdir(proc)) {
            const pid_t child = static_cast<pid_t>(std::atoi(entry->d_name));
            if (child <= 0 || found.count(child) != 0) {
                continue;
            }
            std::ifstream stat("/proc/" + std::string(entry->d_name) + "/stat");
            std::string line;
            std::getline(stat, line);
            // pid (comm) state ppid ...: comm may hold blanks, so read after the last ')'.
            const auto close = line.rfind(')');
            if (close == std::string::npos) {
                continue;
            }
            char state = 0;
            int parent = 0;
            if (std::sscanf(line.c_str() + close + 1, " %c %d", &state, &parent) == 2 &&
                (parent == pid || found.count(parent) != 0)) {
                found.insert(child);
                grew = true;
            }
        }
        ::closedir(proc);
    }
    return found;
}

TEST(EndToEndExecutable, StartsOffscreenStaysUpAndLeavesNothingWhenKilled) {
    ExpectServerAnswers();
    const auto portsBefore = ListPorts();
    ASSERT_TRUE(portsBefore.has_value());
    // Its own process, so that its pid is ours to watch; it inherits our offscreen platform.
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        ::execl(BQ_BANKQUILL, BQ_BANKQUILL, static_cast<char*>(nullptr));
        ::_exit(127);
    }
    // Up for good: the main window built, the event loop running, nothing ended it.
    int status = 0;
    pid_t ended = 0;
    for (int i = 0; i < 30 && ended == 0; ++i) {
        RunFor(100);
        ended = ::waitpid(pid, &status, WNOHANG);
    }
    EXPECT_EQ(ended, 0) << "ended early with status " << status;
    if (ended != 0) {
        return;
    }
    const std::set<pid_t> children = Descendants(pid);

    ASSERT_EQ(::kill(pid, SIGKILL), 0);
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFSIGNALED(status));
    // Nothing it started runs on, and the server answers and lists no port of it.
    for (pid_t child : children) {
        bool gone = false;
        for (int i = 0; i < 50 && !gone; ++i) {
            gone = ::kill(child, 0) != 0;
            if (!gone) {
                RunFor(100);
            }
        }
        EXPECT_TRUE(gone) << "process " << child << " outlived the program";
    }
    const auto portsAfter = ListPorts();
    ASSERT_TRUE(portsAfter.has_value()) << "the server must outlive a killed program";
    EXPECT_EQ(*portsAfter, *portsBefore);
    EXPECT_FALSE(AnyPortStartsWith(*portsAfter, "bankquill"));
}

// A server of its own: this test stops it.
TEST(EndToEndServerStops, AWriteFailsWithoutAHangAndTheProgramWorksAgainAfterwards) {
    if (bq::test::TestServerIsPipeWire()) {
        GTEST_SKIP() << "jackd only: this test pauses and stops a jackd of its own by name, "
                        "which PipeWire's JACK library cannot reach";
    }
    const std::string server = "bankquill-e2e-stop-" + std::to_string(::getpid());
    PrivateJackd jackd;
    ASSERT_TRUE(jackd.Start(server)) << "the private jackd did not come up";
    ScopedEnv env("JACK_DEFAULT_SERVER", server);
    auto karma = StartVirtualKarma(BQ_VIRTUAL_KARMA, {"--rate", "0", "--memory-out", "/dev/null"},
                                   {"JACK_DEFAULT_SERVER=" + server});
    ASSERT_NE(karma, nullptr);
    AppRig app;
    // A stalled server fails a send after this long (the program's default is 10 s).
    app.services->SetStallLimit(std::chrono::milliseconds(1500));
    ASSERT_TRUE(app.Connect());
    auto* view = qobject_cast<CWSBankView*>(app.Workstation()->BankView());
    ASSERT_NE(view, nullptr);
    QTreeWidgetItem* bank = view->topLevelItem(0)->child(0);
    view->expandItem(bank);
    ASSERT_EQ(bank->childCount(), 128);
    const QString first = bank->child(0)->text(0);
    const QString second = bank->child(1)->text(0);

    // A swap while the server does not run: its first write fails, and so the drop.
    app.presenter.Answer(IDOK);
    app.presenter.Answer(IDOK);
    ASSERT_TRUE(jackd.Pause());
    const auto start = Clock::now();
    ASSERT_TRUE(DragWithMouse(view, bank->child(0), view, bank->child(1)));
    const auto took = Clock::now() - start;
    jackd.Resume();
    // The stall limit or the reply bound, with room for a slow machine.
    EXPECT_LT(took, std::chrono::seconds(12));
    // The send itself fails (reported with the backend's text), unless the last cycle before
    // the stop took it; then the reply never comes. Either way the write failed.
    const auto& messages = app.presenter.Messages();
    ASSERT_FALSE(messages.empty());
    EXPECT_EQ(messages.back().text, "An error occurred during the MIDI transfer operation.");
    if (messages.size() == 2) {
        EXPECT_EQ(messages[0].text.toStdString(),
                  app.services->OutGetErrorText(midi::JACKERR_SERVER_GONE));
    }
    EXPECT_LE(messages.size(), 2u) << app.presenter.Texts().join("\n").toStdString();
    EXPECT_EQ(bank->child(0)->text(0), first);
    EXPECT_EQ(bank->child(1)->text(0), second);
    EXPECT_TRUE(app.frame->isEnabled());
    EXPECT_FALSE(app.Workstation()->IsWaiting());

    // Running again: showing the window again finds the instrument, the bank stays loaded,
    // and the swap goes through.
    app.presenter.Clear();
    app.Workstation()->close();
    ASSERT_TRUE(app.Connect());
    ASSERT_EQ(bank->childCount(), 128);
    ASSERT_TRUE(DragWithMouse(view, bank->child(0), view, bank->child(1)));
    EXPECT_TRUE(app.presenter.Messages().empty()) << app.presenter.Texts().join("\n").toStdString();
    EXPECT_EQ(bank->child(0)->text(0).mid(6), second.mid(6));
    EXPECT_EQ(bank->child(1)->text(0).mid(6), first.mid(6));

    // The server shuts down for good: the next write fails at once and says so.
    jackd.Stop();
    app.presenter.Clear();
    const auto again = Clock::now();
    ASSERT_TRUE(DragWithMouse(view, bank->child(0), view, bank->child(1)));
    EXPECT_LT(Clock::now() - again, std::chrono::seconds(12));
    ASSERT_FALSE(app.presenter.Messages().empty());
    EXPECT_EQ(app.presenter.Messages().back().text,
              "An error occurred during the MIDI transfer operation.");
    EXPECT_EQ(bank->child(0)->text(0).mid(6), second.mid(6));
    EXPECT_EQ(bank->child(1)->text(0).mid(6), first.mid(6));
    EXPECT_TRUE(app.frame->isEnabled());
    // The instrument's stand-in notices too, and ends (status 1) instead of lingering.
    EXPECT_EQ(karma->Wait(10000), 1);
}

}  // namespace
}  // namespace bq::e2e
