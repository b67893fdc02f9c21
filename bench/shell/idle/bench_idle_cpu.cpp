// bench_idle_cpu: the desktop program as it starts (CBankquillApp and its main window, on the
// JACK MIDI services), connected through View Workstation to bankquill-virtual-karma on a
// private jackd with the dummy driver (256 frames at 48 kHz, a cycle every 5.3 ms), then left
// alone: the processor time of this process (user and system, every thread) over the wall-clock
// time of the idle stretch, in percent of one core, printed last. The virtual Karma's own share
// and this process's context switches are printed above it.
//
//   bench_idle_cpu [SECONDS]     (default 30)
#include <sys/resource.h>
#include <unistd.h>

#include <QApplication>
#include <QEventLoop>
#include <QLabel>
#include <QTimer>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <optional>
#include <sstream>
#include <string>

#include "messages/Messages.h"
#include "midi/JackMidiServices.h"
#include "shell/BankquillApp.h"
#include "shell/MainFrame.h"
#include "tests/support/JackRig.h"
#include "workstation/WSFrame.h"
#include "workstation/WSTransport.h"

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

struct Usage {
    double cpuSeconds = 0;
    long switches = 0;  // voluntary and involuntary, every thread
};

Usage OwnUsage() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    auto seconds = [](const timeval& t) { return t.tv_sec + t.tv_usec / 1e6; };
    return {seconds(usage.ru_utime) + seconds(usage.ru_stime), usage.ru_nvcsw + usage.ru_nivcsw};
}

// User and system time of another process, from /proc; nullopt when it cannot be read.
std::optional<double> ProcessCpuSeconds(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    if (!std::getline(stat, line)) {
        return std::nullopt;
    }
    // pid (comm) state ppid ...: comm may hold blanks, so count fields after the last ')'.
    const auto close = line.rfind(')');
    if (close == std::string::npos) {
        return std::nullopt;
    }
    std::istringstream fields(line.substr(close + 2));
    std::string field;
    unsigned long long utime = 0, stime = 0;
    for (int i = 3; i <= 15 && fields >> field; ++i) {
        if (i == 14) {
            utime = std::stoull(field);
        } else if (i == 15) {
            stime = std::stoull(field);
        }
    }
    return static_cast<double>(utime + stime) / static_cast<double>(::sysconf(_SC_CLK_TCK));
}

// The event loop as the program runs it, blocking between events, for `ms`.
void RunFor(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, Qt::PreciseTimer, &loop, &QEventLoop::quit);
    loop.exec();
}

template <typename F>
bool RunUntil(F&& done, int timeoutMs) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!done()) {
        if (Clock::now() >= deadline) {
            return false;
        }
        RunFor(10);
    }
    return true;
}

// Answers every question No and every message OK, and counts them: a run that shows one has
// failed.
class CountingPresenter final : public bq::IMessagePresenter {
public:
    CountingPresenter() { m_previous = bq::SetMessagePresenter(this); }
    ~CountingPresenter() override { bq::SetMessagePresenter(m_previous); }
    int Show(const QString& text, unsigned style) override {
        ++shown;
        std::fprintf(stderr, "message: %s\n", qPrintable(text));
        return (style & 0x0Fu) == bq::MB_YESNO ? bq::IDNO : bq::IDOK;
    }
    void Withdraw(int) override {}
    int Choose(const QString&, unsigned, const QStringList&, int, int escapeIndex) override {
        ++shown;
        return escapeIndex;
    }
    int shown = 0;

private:
    bq::IMessagePresenter* m_previous = nullptr;
};

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    const int idleSeconds = argc > 1 ? std::atoi(argv[1]) : 30;
    if (idleSeconds <= 0) {
        std::fprintf(stderr, "usage: bench_idle_cpu [SECONDS]\n");
        return 2;
    }
    QApplication qtApp(argc, argv);

    const std::string server = "bankquill-bench-idle-" + std::to_string(::getpid());
    bq::e2e::PrivateJackd jackd;
    if (!jackd.Start(server, 256, true)) {
        std::fprintf(stderr, "bench: jackd with the dummy driver did not start\n");
        return 1;
    }
    bq::e2e::ScopedEnv env("JACK_DEFAULT_SERVER", server);
    auto karma = bq::e2e::StartVirtualKarma(BQ_VIRTUAL_KARMA, {});
    if (!karma) {
        std::fprintf(stderr, "bench: bankquill-virtual-karma did not start\n");
        return 1;
    }

    CountingPresenter presenter;
    int result = 0;
    {
        bq::midi::JackMidiServices services;
        CBankquillApp app(services);
        if (!app.InitInstance()) {
            return 1;
        }
        CMainFrame* frame = app.MainFrame();
        CWSFrame* workstation = frame->WorkstationFrame();
        auto connected = [&] {
            return workstation->IsConnected() &&
                   frame->MIDIStatusPane()->text().contains(QStringLiteral("Connected ["));
        };
        if (!frame->ExecuteCommand(ID_VIEW_WORKSTATION) || !RunUntil(connected, 20000)) {
            std::fprintf(stderr, "bench: the program did not find the virtual Karma\n");
            return 1;
        }
        std::printf("%s\n", qPrintable(frame->MIDIStatusPane()->text()));
        RunFor(2000);  // the search's last echoes, the first paints

        const Usage before = OwnUsage();
        const std::optional<double> karmaBefore = ProcessCpuSeconds(karma->Pid());
        const auto start = Clock::now();
        RunFor(idleSeconds * 1000);
        const double wall = Seconds(Clock::now() - start);
        const Usage after = OwnUsage();
        const std::optional<double> karmaAfter = ProcessCpuSeconds(karma->Pid());

        if (!connected() || presenter.shown != 0) {
            std::fprintf(stderr, "bench: the connection did not stay up while idle\n");
            result = 1;
        }
        const double cpu = after.cpuSeconds - before.cpuSeconds;
        std::printf("idle for %.1f s: %.3f s of processor time, %.0f context switches a second\n",
                    wall, cpu, static_cast<double>(after.switches - before.switches) / wall);
        if (karmaBefore && karmaAfter) {
            std::printf("virtual Karma, idle: %.2f %% of one core\n",
                        100.0 * (*karmaAfter - *karmaBefore) / wall);
        }
        std::printf("idle_cpu_percent: %.3f\n", 100.0 * cpu / wall);
    }
    bq::e2e::StopVirtualKarma(*karma);
    return result;
}
