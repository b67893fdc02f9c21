#pragma once

// The set-up of the download benchmarks: a private jackd with the dummy driver (so a running
// JACK set-up is never disturbed), bankquill-virtual-karma on it at a given byte rate, and the
// desktop program's main window connected to it, offscreen. User-interface thread only.

#include <unistd.h>

#include <QApplication>
#include <QEventLoop>
#include <QTimer>
#include <QTreeWidget>

#include <chrono>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>

#include "messages/Messages.h"
#include "midi/JackMidiServices.h"
#include "shell/MainFrame.h"
#include "tests/support/JackRig.h"
#include "workstation/WSFrame.h"
#include "workstation/WSTransport.h"

namespace bq::bench {

using Clock = std::chrono::steady_clock;

inline double Seconds(Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

// Runs the event loop (blocking between events, as the program's own loop does) until `done`
// holds or `timeoutMs` passes.
template <typename F>
bool RunUntil(F&& done, int timeoutMs) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!done()) {
        if (Clock::now() >= deadline) {
            return false;
        }
        QEventLoop loop;
        QTimer::singleShot(5, &loop, &QEventLoop::quit);
        loop.exec();
    }
    return true;
}

// Answers every question No and every message OK, and counts them: a benchmark run that shows
// one has failed.
class CountingPresenter final : public IMessagePresenter {
public:
    CountingPresenter() { m_previous = SetMessagePresenter(this); }
    ~CountingPresenter() override { SetMessagePresenter(m_previous); }
    int Show(const QString& text, unsigned style) override {
        ++shown;
        std::fprintf(stderr, "message: %s\n", qPrintable(text));
        return (style & 0x0Fu) == MB_YESNO ? IDNO : IDOK;
    }
    void Withdraw(int) override {}
    int Choose(const QString&, unsigned, const QStringList&, int, int escapeIndex) override {
        ++shown;
        return escapeIndex;
    }
    int shown = 0;

private:
    IMessagePresenter* m_previous = nullptr;
};

class DownloadRig {
public:
    // A period of 256 frames at 48 kHz: a cycle every 5.3 ms, as a low-latency set-up runs.
    bool Start(const std::string& karmaProgram, std::uint32_t rate, int periodFrames = 256) {
        const std::string server = "bankquill-bench-" + std::to_string(::getpid());
        // Quiet: its farewell on stderr would come after the figure.
        if (!m_jackd.Start(server, periodFrames, true)) {
            std::fprintf(stderr, "bench: jackd with the dummy driver did not start\n");
            return false;
        }
        m_env.emplace("JACK_DEFAULT_SERVER", server);
        return StartOnServer(karmaProgram, rate);
    }
    // The same on the server this process reaches already (the caller has made sure it is a
    // private one).
    bool StartOnServer(const std::string& karmaProgram, std::uint32_t rate) {
        m_karma = e2e::StartVirtualKarma(karmaProgram, {"--rate", std::to_string(rate)});
        if (!m_karma) {
            std::fprintf(stderr, "bench: bankquill-virtual-karma did not start\n");
            return false;
        }
        m_services = std::make_unique<midi::JackMidiServices>("bankquill-bench");
        m_frame = std::make_unique<CMainFrame>(*m_services);
        SetMainWindow(m_frame.get());
        m_frame->resize(1000, 700);
        m_frame->show();
        if (!m_frame->ExecuteCommand(ID_VIEW_WORKSTATION) ||
            !RunUntil([this] { return Workstation()->IsConnected(); }, 20000)) {
            std::fprintf(stderr, "bench: the program did not find the virtual Karma\n");
            return false;
        }
        return true;
    }
    ~DownloadRig() {
        SetMainWindow(nullptr);
        m_frame.reset();
        m_services.reset();
        if (m_karma) {
            e2e::StopVirtualKarma(*m_karma);
        }
        m_karma.reset();
        m_env.reset();
        m_jackd.Stop();
    }

    CWSFrame* Workstation() const { return m_frame->WorkstationFrame(); }
    QTreeWidget* View() const { return Workstation()->BankView(); }
    // Bank node `bank` (0..5) of the Combinations (group 0) or Programs (group 1).
    QTreeWidgetItem* BankNode(int group, int bank) const {
        QTreeWidgetItem* top = View()->topLevelItem(group);
        return top != nullptr ? top->child(bank) : nullptr;
    }

    // Expands the bank node and returns the seconds until its 128 items are in the tree;
    // nullopt when they do not come.
    std::optional<double> Download(QTreeWidgetItem* node, int timeoutMs = 60000) {
        if (node == nullptr) {
            return std::nullopt;
        }
        const auto start = Clock::now();
        node->setExpanded(true);  // the download runs inside the expansion
        if (!RunUntil([node] { return node->childCount() >= 128; }, timeoutMs)) {
            return std::nullopt;
        }
        return Seconds(Clock::now() - start);
    }

    CountingPresenter presenter;

private:
    e2e::PrivateJackd m_jackd;
    std::optional<e2e::ScopedEnv> m_env;
    std::unique_ptr<e2e::ChildProcess> m_karma;
    std::unique_ptr<midi::JackMidiServices> m_services;
    std::unique_ptr<CMainFrame> m_frame;
};

}  // namespace bq::bench
