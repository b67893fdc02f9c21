#pragma once

// A program started by a test, with its stdout read line by line. The destructor ends what is
// still running, so a failing test leaves no process behind.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

extern char** environ;

namespace bq::midi::test {

// The virtual Karma's ports.
inline constexpr const char* kKarmaIn = "virtual-karma:midi_in";
inline constexpr const char* kKarmaOut = "virtual-karma:midi_out";

// Sets an environment variable for the life of the object (libjack reads
// JACK_DEFAULT_SERVER at each client open).
class ScopedEnv {
public:
    ScopedEnv(const char* name, const std::string& value) : m_name(name) {
        if (const char* old = std::getenv(name)) {
            m_old = old;
        }
        ::setenv(name, value.c_str(), 1);
    }
    ~ScopedEnv() {
        if (m_old) {
            ::setenv(m_name, m_old->c_str(), 1);
        } else {
            ::unsetenv(m_name);
        }
    }

private:
    const char* m_name;
    std::optional<std::string> m_old;
};

class ChildProcess {
public:
    ChildProcess() = default;
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;
    ~ChildProcess() {
        if (m_pid > 0) {
            // Politely first: a JACK client killed outright stalls a synchronous server until
            // its client time-out.
            ::kill(m_pid, SIGTERM);
            Wait(3000);
        }
        if (m_out >= 0) {
            ::close(m_out);
        }
    }

    // Starts `argv[0]` (looked up in PATH) with `extraEnv` ("NAME=value") over ours. A
    // quiet child writes to /dev/null instead: a pipe nobody reads would block it when full.
    bool Start(const std::vector<std::string>& argv, const std::vector<std::string>& extraEnv = {},
               bool quiet = false) {
        int pipeFds[2];
        if (::pipe(pipeFds) != 0) {
            return false;
        }
        std::vector<char*> args;
        for (const auto& arg : argv) {
            args.push_back(const_cast<char*>(arg.c_str()));
        }
        args.push_back(nullptr);
        // The extra variables replace ours of the same name (the first of a name would win).
        std::vector<std::string> envStrings = extraEnv;
        for (char** e = environ; *e != nullptr; ++e) {
            const std::string variable = *e;
            const std::string name = variable.substr(0, variable.find('=') + 1);
            bool replaced = false;
            for (const auto& extra : extraEnv) {
                replaced = replaced || extra.rfind(name, 0) == 0;
            }
            if (!replaced) {
                envStrings.push_back(variable);
            }
        }
        std::vector<char*> env;
        for (auto& e : envStrings) {
            env.push_back(e.data());
        }
        env.push_back(nullptr);
        const int devNull = quiet ? ::open("/dev/null", O_WRONLY | O_CLOEXEC) : -1;
        const pid_t parent = ::getpid();
        m_pid = ::fork();
        if (m_pid == 0) {
            // The child ends with the test program, also one that crashed or was killed: a
            // virtual Karma left running keeps its JACK client name from every test after it.
            // Only calls that are safe between fork and exec in a program with threads.
            ::prctl(PR_SET_PDEATHSIG, SIGTERM);
            if (::getppid() != parent) {
                ::_exit(127);
            }
            ::dup2(quiet ? devNull : pipeFds[1], STDOUT_FILENO);
            if (quiet) {
                ::dup2(devNull, STDERR_FILENO);
            }
            ::close(pipeFds[0]);
            ::close(pipeFds[1]);
            ::execvpe(args[0], args.data(), env.data());
            ::_exit(127);
        }
        if (devNull >= 0) {
            ::close(devNull);
        }
        ::close(pipeFds[1]);
        m_out = pipeFds[0];
        return m_pid > 0;
    }

    // The next line of its stdout; false at the end of output or after the time-out.
    bool ReadLine(std::string* line, int timeoutMs) {
        const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        for (;;) {
            const auto newline = m_buffer.find('\n');
            if (newline != std::string::npos) {
                *line = m_buffer.substr(0, newline);
                m_buffer.erase(0, newline + 1);
                return true;
            }
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                                  deadline - std::chrono::steady_clock::now())
                                  .count();
            if (left <= 0 || m_out < 0) {
                return false;
            }
            pollfd fd{m_out, POLLIN, 0};
            if (::poll(&fd, 1, static_cast<int>(left)) <= 0) {
                continue;
            }
            char chunk[4096];
            const ssize_t n = ::read(m_out, chunk, sizeof chunk);
            if (n <= 0) {
                return false;
            }
            m_buffer.append(chunk, static_cast<std::size_t>(n));
        }
    }

    // Reads lines until one contains `text`; false after the time-out or at the end.
    bool WaitForLine(const std::string& text, int timeoutMs, std::string* line = nullptr) {
        const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        std::string read;
        while (std::chrono::steady_clock::now() < deadline) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                                  deadline - std::chrono::steady_clock::now())
                                  .count();
            if (!ReadLine(&read, static_cast<int>(left))) {
                return false;
            }
            if (read.find(text) != std::string::npos) {
                if (line != nullptr) {
                    *line = read;
                }
                return true;
            }
        }
        return false;
    }

    bool Signal(int signal) { return m_pid > 0 && ::kill(m_pid, signal) == 0; }

    // Waits for it to end; its exit status, or -1 (killed by a signal, or still running after
    // the time-out, when it is killed).
    int Wait(int timeoutMs) {
        if (m_pid <= 0) {
            return -1;
        }
        const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        int status = 0;
        for (;;) {
            const pid_t done = ::waitpid(m_pid, &status, WNOHANG);
            if (done == m_pid) {
                m_pid = -1;
                return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            }
            if (std::chrono::steady_clock::now() >= deadline) {
                ::kill(m_pid, SIGKILL);
                ::waitpid(m_pid, &status, 0);
                m_pid = -1;
                return -1;
            }
            ::usleep(10000);
        }
    }

    bool Running() const { return m_pid > 0; }
    pid_t Pid() const { return m_pid; }

private:
    pid_t m_pid = -1;
    int m_out = -1;
    std::string m_buffer;
};

}  // namespace bq::midi::test
