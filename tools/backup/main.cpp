// bankquill-backup: backs up the whole memory of a Korg Karma into a PCG file over JACK MIDI,
// for scripted and scheduled backups.
//
// Threads: the main thread finds the instrument, downloads and writes; the JACK services have
// their own threads; one more thread waits for SIGINT and SIGTERM (blocked everywhere else)
// and cancels the download.

#include <pthread.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <thread>

#include "midi/BackupDownload.h"
#include "midi/JackMidiServices.h"
#include "model/PcgWriter.h"
#include "tools/backup/BackupCli.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr const char* kProgram = "bankquill-backup";

int Failed(const std::string& reason) {
    std::fprintf(stderr, "%s: %s\n", kProgram, reason.c_str());
    return 1;
}

int TerminalWidth() {
    winsize size = {};
    if (::ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) {
        return size.ws_col;
    }
    return 80;
}

std::string FolderOf(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? "/" : path.substr(0, slash);
}

// Said before the download rather than after it: at MIDI speed the download takes minutes.
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

// SIGINT and SIGTERM cancel; a second one ends the program at once. SIGUSR1 only ends the
// watching thread. Blocked before any thread starts, so that every thread inherits the mask
// and only the watching thread takes them.
sigset_t WatchedSignals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGUSR1);
    return set;
}

// Made after the download and so ended before it goes: no signal can reach a download that
// is gone.
class SignalWatch {
public:
    explicit SignalWatch(bq::midi::BackupDownload& download)
        : m_thread([&download] {
              const sigset_t set = WatchedSignals();
              int cancels = 0;
              for (;;) {
                  int signal = 0;
                  if (sigwait(&set, &signal) != 0 || signal == SIGUSR1) {
                      return;
                  }
                  if (++cancels > 1) {
                      std::fprintf(stderr, "\n%s: stopped\n", kProgram);
                      std::_Exit(1);
                  }
                  download.Cancel();
              }
          }) {}
    ~SignalWatch() {
        pthread_kill(m_thread.native_handle(), SIGUSR1);
        m_thread.join();
    }
    SignalWatch(const SignalWatch&) = delete;
    SignalWatch& operator=(const SignalWatch&) = delete;

private:
    std::thread m_thread;
};

// Draws the progress on standard error: a bar redrawn in place on a terminal, a line for each
// bank in a log.
class ProgressView {
public:
    ProgressView(bool quiet, bool terminal) : m_quiet(quiet), m_terminal(terminal) {}

    void Begin() { m_start = Clock::now(); }
    void Show(const bq::midi::BackupProgress& progress) {
        m_bytes = progress.bytes;
        if (m_quiet) {
            return;
        }
        const auto now = Clock::now();
        const double elapsed = std::chrono::duration<double>(now - m_start).count();
        if (!m_terminal) {
            if (progress.bankDone) {
                std::fprintf(stderr, "%s\n",
                             bq::backup::ProgressLogLine(progress, elapsed).c_str());
            }
            return;
        }
        // Redrawn ten times a second at most, and whenever a bank begins or ends.
        const bool due = now - m_drawn >= std::chrono::milliseconds(100) || progress.bankDone ||
                         progress.step != m_step;
        if (!due) {
            return;
        }
        m_drawn = now;
        m_step = progress.step;
        std::fprintf(stderr, "\r%s\x1b[K",
                     bq::backup::ProgressBarLine(progress, elapsed, TerminalWidth()).c_str());
        m_open = true;
        std::fflush(stderr);
    }
    // Ends the bar's line, so that what follows starts on a line of its own.
    void End() {
        if (m_open) {
            std::fputc('\n', stderr);
            m_open = false;
        }
    }
    double Elapsed() const { return std::chrono::duration<double>(Clock::now() - m_start).count(); }
    std::uint64_t Bytes() const { return m_bytes; }

private:
    bool m_quiet;
    bool m_terminal;
    bool m_open = false;
    int m_step = 0;
    std::uint64_t m_bytes = 0;
    Clock::time_point m_start{};
    Clock::time_point m_drawn{};
};

}  // namespace

int main(int argc, char** argv) {
    if (bq::cli::PrintDocumentation(bq::backup::kCommandLine, argc, argv)) {
        return 0;
    }
    bq::backup::Options options;
    std::string error;
    switch (bq::backup::ParseOptions(argc, argv, &options, &error)) {
        case bq::backup::Parsed::Help:
            std::fputs(bq::cli::HelpText(bq::backup::kCommandLine).c_str(), stdout);
            return 0;
        case bq::backup::Parsed::BadUsage:
            std::fprintf(stderr, "%s: %s\n%s", kProgram, error.c_str(),
                         bq::backup::kCommandLine.usage);
            return 2;
        case bq::backup::Parsed::Run:
            break;
    }
    const std::string path =
        options.output.empty() ? bq::backup::DefaultFileName(std::time(nullptr)) : options.output;
    if (const std::string problem = TargetProblem(path); !problem.empty()) {
        return Failed(problem + "; nothing was downloaded");
    }

    const sigset_t watched = WatchedSignals();
    pthread_sigmask(SIG_BLOCK, &watched, nullptr);
    bq::midi::JackMidiServices services(kProgram);
    if (!services.Connected()) {
        return Failed("no JACK server is running");
    }
    bq::midi::BackupDownload download(services);
    download.SetSilenceMs(options.silenceMs);
    const SignalWatch signals(download);

    const bq::midi::BackupStatus found = options.inPort.empty()
                                             ? download.Find()
                                             : download.Connect(options.inPort, options.outPort);
    if (!found.Succeeded()) {
        return Failed(found.reason);
    }
    if (!options.quiet) {
        // Channels as the Karma's display shows them, 1 to 16.
        std::fprintf(stderr, "Found the Karma: in %s, out %s, global MIDI channel %d\n",
                     download.InputName().c_str(), download.OutputName().c_str(),
                     download.Channel() + 1);
    }

    ProgressView view(options.quiet, ::isatty(STDERR_FILENO) == 1);
    bq::pcg::KarmaMemory memory;
    view.Begin();
    const bq::midi::BackupStatus status = download.Download(
        options.banks, &memory, [&view](const bq::midi::BackupProgress& p) { view.Show(p); });
    view.End();
    const double seconds = view.Elapsed();
    download.Close();
    if (!status.Succeeded()) {
        return Failed(status.reason + "; nothing was written");
    }
    if (download.Cancelled()) {
        return Failed("cancelled; nothing was written");
    }

    const bq::pcg::PcgWriteResult written = bq::pcg::WritePcgFile(path, memory);
    if (!written.Succeeded()) {
        return Failed(written.reason);
    }
    if (!options.quiet) {
        const std::uint64_t bytes = view.Bytes();
        char took[32];
        if (seconds < 60) {
            std::snprintf(took, sizeof took, "%.1f s", seconds);
        } else {
            std::snprintf(took, sizeof took, "%s", bq::backup::Duration(seconds).c_str());
        }
        std::printf("Backed up %zu bank%s (%llu KB) to %s in %s\n", options.banks.size(),
                    options.banks.size() == 1 ? "" : "s",
                    static_cast<unsigned long long>((bytes + 512) / 1024), path.c_str(), took);
    }
    return 0;
}
