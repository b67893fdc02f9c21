#pragma once

// A desktop of the benchmark's own, as a musician's machine has one: an X server (Xvfb), a
// D-Bus session bus and the accessibility bus on it, in a temporary runtime folder. Every
// process started here is in one process group, which the destructor ends (and reaps); should
// the benchmark end without it (killed, crashed), a watchdog that waits for the benchmark's end
// ends the group, so that nothing outlives the benchmark. Made before the QApplication, whose
// environment it sets.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

extern char** environ;

namespace bench {

class PrivateDesktop {
public:
    PrivateDesktop() {
        std::string dir = (std::filesystem::temp_directory_path() / "bq-desktop-XXXXXX").string();
        if (::mkdtemp(dir.data()) == nullptr) {
            std::perror("mkdtemp");
            return;
        }
        m_dir = dir;
        ::setenv("XDG_RUNTIME_DIR", dir.c_str(), 1);
        const std::string display = FirstLine({"Xvfb", "-displayfd", "1", "-screen", "0",
                                               "1600x1000x24", "-nolisten", "tcp", "-noreset"});
        if (display.empty()) {
            std::fprintf(stderr, "Xvfb did not start\n");
            return;
        }
        ::setenv("DISPLAY", (":" + display).c_str(), 1);
        const std::string bus =
            FirstLine({"dbus-daemon", "--session", "--nofork", "--nosyslog", "--address",
                       "unix:path=" + dir + "/bus", "--print-address=1"});
        if (bus.empty()) {
            std::fprintf(stderr, "dbus-daemon did not start\n");
            return;
        }
        ::setenv("DBUS_SESSION_BUS_ADDRESS", bus.c_str(), 1);
        // Started here rather than activated by the bus, so that it is in our group.
        if (!Start({"/usr/libexec/at-spi-bus-launcher", "--launch-immediately", "--a11y=1"}, -1)) {
            std::fprintf(stderr, "at-spi-bus-launcher did not start\n");
            return;
        }
        m_ok = true;
    }

    ~PrivateDesktop() {
        if (m_watchdogInput >= 0) {
            ::close(m_watchdogInput);  // the watchdog ends the group too, and then itself
        }
        if (m_group > 0) {
            ::kill(-m_group, SIGTERM);
            Reap(std::chrono::seconds(5));
            ::kill(-m_group, SIGKILL);
            Reap(std::chrono::seconds(5));
        }
        if (m_watchdog > 0) {
            ::waitpid(m_watchdog, nullptr, 0);
        }
        std::error_code ignored;
        if (!m_dir.empty()) {
            std::filesystem::remove_all(m_dir, ignored);
        }
    }

    PrivateDesktop(const PrivateDesktop&) = delete;
    PrivateDesktop& operator=(const PrivateDesktop&) = delete;

    bool Ok() const { return m_ok; }

private:
    // Starts `argv` in process group `group` (0: a new one of its own) with its stdin on `in`
    // and its stdout on `out` (-1: /dev/null); its id, or 0.
    static pid_t Spawn(const std::vector<std::string>& argv, int in, int out, pid_t group) {
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        if (in >= 0) {
            posix_spawn_file_actions_adddup2(&actions, in, STDIN_FILENO);
        } else {
            posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
        }
        if (out >= 0) {
            posix_spawn_file_actions_adddup2(&actions, out, STDOUT_FILENO);
        } else {
            posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
        }
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
        posix_spawnattr_t attributes;
        posix_spawnattr_init(&attributes);
        posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
        posix_spawnattr_setpgroup(&attributes, group);
        std::vector<char*> args;
        for (const auto& arg : argv) {
            args.push_back(const_cast<char*>(arg.c_str()));
        }
        args.push_back(nullptr);
        pid_t pid = 0;
        const int rc = ::posix_spawnp(&pid, args[0], &actions, &attributes, args.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        posix_spawnattr_destroy(&attributes);
        return rc == 0 ? pid : 0;
    }

    // Starts `argv` in the desktop's group with its stdout on `out` (-1: /dev/null); the first
    // process makes the group, and the watchdog is started for it.
    bool Start(const std::vector<std::string>& argv, int out) {
        const pid_t pid = Spawn(argv, -1, out, m_group);
        if (pid == 0) {
            return false;
        }
        if (m_group == 0) {
            m_group = pid;
            StartWatchdog();
        }
        return true;
    }

    // A shell in a group of its own that waits for the end of its input, which comes when this
    // process ends however it ends, and then ends the desktop's group.
    void StartWatchdog() {
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC) != 0) {
            return;
        }
        const std::string group = std::to_string(m_group);
        m_watchdog = Spawn({"/bin/sh", "-c",
                            "cat >/dev/null; kill -s TERM -- -$0 2>/dev/null; sleep 1; "
                            "kill -s KILL -- -$0 2>/dev/null",
                            group},
                           fds[0], -1, 0);
        ::close(fds[0]);
        m_watchdogInput = fds[1];
    }

    // Starts `argv` and returns the first line it writes (within 30 s), or "".
    std::string FirstLine(const std::vector<std::string>& argv) {
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC) != 0) {
            return {};
        }
        const bool started = Start(argv, fds[1]);
        ::close(fds[1]);
        std::string text;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (started && text.find('\n') == std::string::npos &&
               std::chrono::steady_clock::now() < deadline) {
            pollfd fd{fds[0], POLLIN, 0};
            if (::poll(&fd, 1, 100) <= 0) {
                continue;
            }
            char chunk[256];
            const ssize_t n = ::read(fds[0], chunk, sizeof chunk);
            if (n <= 0) {
                break;
            }
            text.append(chunk, static_cast<std::size_t>(n));
        }
        ::close(fds[0]);
        const auto end = text.find('\n');
        return end == std::string::npos ? std::string() : text.substr(0, end);
    }

    void Reap(std::chrono::seconds bound) {
        const auto deadline = std::chrono::steady_clock::now() + bound;
        while (std::chrono::steady_clock::now() < deadline) {
            const pid_t pid = ::waitpid(-m_group, nullptr, WNOHANG);
            if (pid < 0) {
                return;  // none of the group is left to wait for
            }
            if (pid == 0) {
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            }
        }
    }

    std::string m_dir;
    pid_t m_group = 0;
    pid_t m_watchdog = 0;
    int m_watchdogInput = -1;  // its stdin's write end, closed only at our end
    bool m_ok = false;
};

}  // namespace bench
