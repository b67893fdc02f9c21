#pragma once

// What the end-to-end tests and the download benchmarks run against: a JACK server (the one
// the test command started, or a private one with the dummy driver) and the
// bankquill-virtual-karma program on it. No GoogleTest here, so that benchmarks can use it.
//
// Main thread only. libjack reads JACK_DEFAULT_SERVER each time a client opens, so a private
// server is chosen by setting it for as long as the server is used.

#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/ChildProcess.h"

namespace bq::e2e {

using midi::test::ChildProcess;

using midi::test::kKarmaIn;
using midi::test::kKarmaOut;
using midi::test::ScopedEnv;

// The ports of the server named by JACK_DEFAULT_SERVER (or `server`), one a line; nullopt when
// no server answers within `timeoutMs`.
inline std::optional<std::vector<std::string>> ListPorts(const std::string& server = {},
                                                         int timeoutMs = 5000) {
    ChildProcess lsp;
    std::vector<std::string> env = {"JACK_NO_START_SERVER=1"};
    if (!server.empty()) {
        env.push_back("JACK_DEFAULT_SERVER=" + server);
    }
    if (!lsp.Start({"jack_lsp"}, env)) {
        return std::nullopt;
    }
    std::vector<std::string> ports;
    std::string line;
    while (lsp.ReadLine(&line, timeoutMs)) {
        ports.push_back(line);
    }
    if (lsp.Wait(timeoutMs) != 0) {
        return std::nullopt;
    }
    return ports;
}

inline bool AnyPortStartsWith(const std::vector<std::string>& ports, const std::string& prefix) {
    for (const auto& port : ports) {
        if (port.rfind(prefix, 0) == 0) {
            return true;
        }
    }
    return false;
}

// A jackd of our own with the dummy driver, in synchronous mode like the test command's, and
// stopped properly (SIGTERM) so that it leaves nothing in JACK's registry of servers.
class PrivateJackd {
public:
    PrivateJackd() = default;
    PrivateJackd(const PrivateJackd&) = delete;
    PrivateJackd& operator=(const PrivateJackd&) = delete;
    ~PrivateJackd() { Stop(); }

    // Starts it and waits until it answers; false when it does not within 10 s. Unless quiet,
    // its messages go to our stderr, where a failing test shows them (JACK holds only a few
    // servers at once).
    bool Start(const std::string& name, int periodFrames = 256, bool quiet = false) {
        m_name = name;
        m_process = std::make_unique<ChildProcess>();
        if (!m_process->Start({"jackd", "-n", name, "-S", "--no-realtime", "-d", "dummy", "-r",
                               "48000", "-p", std::to_string(periodFrames)},
                              {"JACK_NO_AUDIO_RESERVATION=1"}, quiet)) {
            return false;
        }
        for (int i = 0; i < 100; ++i) {
            if (!m_process->Running()) {
                return false;
            }
            if (ListPorts(name, 2000)) {
                return true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        return false;
    }
    // SIGSTOP: the server stops running cycles without shutting down.
    bool Pause() { return m_process && m_process->Signal(SIGSTOP); }
    bool Resume() { return m_process && m_process->Signal(SIGCONT); }
    void Stop() {
        if (!m_process) {
            return;
        }
        End(*m_process);
        // A server stopped while clients are connected does not always give back its entry in
        // JACK's shared registry, which holds only eight servers; a server of the same name
        // reclaims the entry, and one without clients gives it back when it stops.
        for (int attempt = 0; attempt < 3 && Registered(m_name); ++attempt) {
            ChildProcess reclaim;
            if (!reclaim.Start({"jackd", "-n", m_name, "--no-realtime", "-d", "dummy"},
                               {"JACK_NO_AUDIO_RESERVATION=1"}, true)) {
                break;
            }
            for (int i = 0; i < 50 && !ListPorts(m_name, 2000); ++i) {
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
            }
            End(reclaim);
        }
        // The clients' semaphores outlive the server; they carry its name.
        std::error_code error;
        for (const auto& entry : std::filesystem::directory_iterator("/dev/shm", error)) {
            if (entry.path().filename().string().find("_" + m_name + "_") != std::string::npos) {
                std::filesystem::remove(entry.path(), error);
            }
        }
        m_process.reset();
    }
    const std::string& Name() const { return m_name; }

private:
    static void End(ChildProcess& server) {
        if (server.Running()) {
            server.Signal(SIGCONT);
            server.Signal(SIGTERM);
            server.Wait(10000);
        }
    }
    // Whether the registry still names the server (a stopped one's entry is cleared).
    static bool Registered(const std::string& name) {
        std::ifstream registry("/dev/shm/jack-shm-registry", std::ios::binary);
        const std::string content((std::istreambuf_iterator<char>(registry)),
                                  std::istreambuf_iterator<char>());
        return content.find(":" + name + ":") != std::string::npos;
    }

    std::string m_name;
    std::unique_ptr<ChildProcess> m_process;
};

// Starts bankquill-virtual-karma with `options` and waits for its ready line; null when it
// does not come up. A killed virtual Karma keeps its client name until the server has dropped
// it, so a taken name is retried for a few seconds.
inline std::unique_ptr<ChildProcess> StartVirtualKarma(const std::string& program,
                                                       std::vector<std::string> options,
                                                       const std::vector<std::string>& env = {}) {
    options.insert(options.begin(), program);
    for (int attempt = 0; attempt < 20; ++attempt) {
        auto karma = std::make_unique<ChildProcess>();
        if (!karma->Start(options, env)) {
            return nullptr;
        }
        std::string line;
        if (karma->WaitForLine("ready:", 10000, &line)) {
            if (line.find(kKarmaIn) == std::string::npos ||
                line.find(kKarmaOut) == std::string::npos) {
                return nullptr;
            }
            return karma;
        }
        // Ended by itself (the name is still taken): try again; silent for 10 s: give up.
        if (karma->Wait(2000) != 1) {
            return nullptr;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(250));
    }
    return nullptr;
}

// A command-line program, its standard error joined to its output, run in `folder` (the
// current one when empty); false when it cannot start.
inline bool StartJoined(ChildProcess& process, const std::string& program,
                        const std::vector<std::string>& args, const std::string& folder = {}) {
    std::vector<std::string> argv = {"/bin/sh", "-c",
                                     "cd \"${BQ_FOLDER:-.}\" && exec \"$0\" \"$@\" 2>&1", program};
    argv.insert(argv.end(), args.begin(), args.end());
    return process.Start(argv, {"BQ_FOLDER=" + folder});
}

// What a program run to its end said, and its exit status (-1 when it did not start or end).
struct Outcome {
    int status = -1;
    std::string output;
};

// Reads the rest of its output, each line within `lineTimeoutMs`, and waits for its end.
inline Outcome Finish(ChildProcess& process, int lineTimeoutMs = 60000) {
    Outcome run;
    std::string line;
    while (process.ReadLine(&line, lineTimeoutMs)) {
        run.output += line + "\n";
    }
    run.status = process.Wait(10000);
    return run;
}

inline Outcome Run(const std::string& program, const std::vector<std::string>& args,
                   const std::string& folder = {}) {
    ChildProcess process;
    return StartJoined(process, program, args, folder) ? Finish(process) : Outcome{};
}

// Ends it with SIGINT, so that it writes its memory file; its exit status.
inline int StopVirtualKarma(ChildProcess& karma) {
    karma.Signal(SIGINT);
    return karma.Wait(10000);
}

}  // namespace bq::e2e
