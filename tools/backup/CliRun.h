#pragma once

// What the command-line programs that talk to the Karma (bankquill-backup, bankquill-restore)
// share around their run: Ctrl+C, the progress on standard error, the check of a file to be
// written.

#include <signal.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "midi/BackupDownload.h"
#include "model/PcgWriter.h"

namespace bq::backup {

// SIGINT and SIGTERM call `cancel`; a second one ends the program at once (status 1, after
// "PROGRAM: stopped" and `stopped` if given). Made after what it cancels and so ended before it
// goes. Block WatchedSignals() before any thread starts (BlockWatchedSignals), so that every
// thread inherits the mask and only the watching thread takes them.
class SignalWatch {
public:
    SignalWatch(const char* program, std::function<void()> cancel, std::string stopped = {});
    ~SignalWatch();
    SignalWatch(const SignalWatch&) = delete;
    SignalWatch& operator=(const SignalWatch&) = delete;

private:
    std::thread m_thread;
};
void BlockWatchedSignals();

// The columns of the terminal on standard error; 80 when it does not say.
int TerminalWidth();

// Why `path` cannot be written, before minutes of MIDI are spent on it: a folder, a missing or
// unwritable folder. Empty when it looks writable.
std::string TargetProblem(const std::string& path);

// Draws progress on standard error: a bar redrawn in place on a terminal, plain lines in a log.
// Nothing when quiet.
class ProgressView {
public:
    ProgressView(bool quiet, bool terminal) : m_quiet(quiet), m_terminal(terminal) {}

    bool Terminal() const { return m_terminal; }
    void Begin() { m_start = Clock::now(); }
    double Elapsed() const { return std::chrono::duration<double>(Clock::now() - m_start).count(); }
    // On a terminal: the bar made by `line(elapsed, width)`, redrawn ten times a second at most,
    // and at once when `now`.
    void Bar(bool now, const std::function<std::string(double elapsed, int width)>& line);
    // A line of its own, after the bar.
    void Line(const std::string& text);
    // Ends the bar's line, so that what follows starts on a line of its own.
    void End();

private:
    using Clock = std::chrono::steady_clock;
    bool m_quiet;
    bool m_terminal;
    bool m_open = false;
    Clock::time_point m_start{};
    Clock::time_point m_drawn{};
};

// Finds the Karma, or connects on the ports the options name, and says so on standard error
// unless quiet ("Found the Karma: in ..., out ..., global MIDI channel 1").
midi::BackupStatus FindKarma(midi::BackupDownload& download, const std::string& inPort,
                             const std::string& outPort, bool quiet);

// Downloads the banks into *memory with the progress on standard error (a bar on a terminal, a
// line for each bank in a log); *bytes and *seconds, if given, get what came and how long it
// took.
midi::BackupStatus DownloadShowing(midi::BackupDownload& download, const std::vector<int>& banks,
                                   bool quiet, pcg::KarmaMemory* memory,
                                   std::uint64_t* bytes = nullptr, double* seconds = nullptr);

}  // namespace bq::backup
