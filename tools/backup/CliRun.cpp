#include "tools/backup/CliRun.h"

#include <pthread.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <utility>

#include "tools/backup/BackupCli.h"

namespace bq::backup {
namespace {

// SIGUSR1 only ends the watching thread.
sigset_t WatchedSignals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGUSR1);
    return set;
}

std::string FolderOf(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace

void BlockWatchedSignals() {
    const sigset_t watched = WatchedSignals();
    pthread_sigmask(SIG_BLOCK, &watched, nullptr);
}

SignalWatch::SignalWatch(const char* program, std::function<void()> cancel, std::string stopped)
    : m_thread([program, cancel = std::move(cancel), stopped = std::move(stopped)] {
          const sigset_t set = WatchedSignals();
          int cancels = 0;
          for (;;) {
              int signal = 0;
              if (sigwait(&set, &signal) != 0 || signal == SIGUSR1) {
                  return;
              }
              if (++cancels > 1) {
                  std::fprintf(stderr, "\n%s: stopped%s\n", program, stopped.c_str());
                  std::_Exit(1);
              }
              cancel();
          }
      }) {}

SignalWatch::~SignalWatch() {
    pthread_kill(m_thread.native_handle(), SIGUSR1);
    m_thread.join();
}

int TerminalWidth() {
    winsize size = {};
    if (::ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) {
        return size.ws_col;
    }
    return 80;
}

std::string TargetProblem(const std::string& path) {
    struct stat st = {};
    if (::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
        return path + " is a folder";
    }
    const std::string folder = FolderOf(path);
    if (::stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        return "there is no folder " + folder;
    }
    if (::access(folder.c_str(), W_OK | X_OK) != 0) {
        return "cannot write to the folder " + folder;
    }
    return {};
}

void ProgressView::Bar(bool now, const std::function<std::string(double, int)>& line) {
    if (m_quiet || !m_terminal) {
        return;
    }
    const Clock::time_point at = Clock::now();
    if (!now && at - m_drawn < std::chrono::milliseconds(100)) {
        return;
    }
    m_drawn = at;
    std::fprintf(stderr, "\r%s\x1b[K", line(Elapsed(), TerminalWidth()).c_str());
    m_open = true;
    std::fflush(stderr);
}

void ProgressView::Line(const std::string& text) {
    if (m_quiet) {
        return;
    }
    End();
    std::fprintf(stderr, "%s\n", text.c_str());
}

void ProgressView::End() {
    if (m_open) {
        std::fputc('\n', stderr);
        m_open = false;
    }
}

midi::BackupStatus FindKarma(midi::BackupDownload& download, const std::string& inPort,
                             const std::string& outPort, bool quiet) {
    const midi::BackupStatus found =
        inPort.empty() ? download.Find() : download.Connect(inPort, outPort);
    if (found.Succeeded() && !quiet) {
        // Channels as the Karma's display shows them, 1 to 16.
        std::fprintf(stderr, "Found the Karma: in %s, out %s, global MIDI channel %d\n",
                     download.InputName().c_str(), download.OutputName().c_str(),
                     download.Channel() + 1);
    }
    return found;
}

midi::BackupStatus DownloadShowing(midi::BackupDownload& download, const std::vector<int>& banks,
                                   bool quiet, pcg::KarmaMemory* memory, std::uint64_t* bytes,
                                   double* seconds) {
    ProgressView view(quiet, ::isatty(STDERR_FILENO) == 1);
    int step = 0;
    view.Begin();
    const midi::BackupStatus status =
        download.Download(banks, memory, [&](const midi::BackupProgress& p) {
            if (bytes != nullptr) {
                *bytes = p.bytes;
            }
            if (!p.again.empty()) {
                view.Line(p.again);
                return;
            }
            if (!view.Terminal()) {
                if (p.bankDone) {
                    view.Line(ProgressLogLine(p, view.Elapsed()));
                }
                return;
            }
            // Redrawn whenever a bank begins or ends.
            view.Bar(p.bankDone || p.step != step, [&p](double elapsed, int width) {
                return ProgressBarLine(p, elapsed, width);
            });
            step = p.step;
        });
    view.End();
    if (seconds != nullptr) {
        *seconds = view.Elapsed();
    }
    return status;
}

}  // namespace bq::backup
