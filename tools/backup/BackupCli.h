#pragma once

// The parts of bankquill-backup that need no MIDI: its options, the default file name and the
// progress texts. Pure functions, so that they are tested without a JACK server.

#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

#include "midi/BackupDownload.h"
#include "tools/cli/CommandLine.h"

namespace bq::backup {

// The options, from which --help, the parsing, the completion and the manual page are made.
extern const cli::Program kCommandLine;

struct Options {
    std::string output;  // empty: DefaultFileName in the current folder
    std::string inPort;  // both or neither: the ports to use instead of searching
    std::string outPort;
    std::vector<int> banks;  // indexes 0..11 in the trees' order; all twelve by default
    int silenceMs = midi::BackupDownload::kDefaultSilenceMs;
    bool quiet = false;
};

enum class Parsed { Run, Help, BadUsage };

// On BadUsage, *error says what is wrong.
Parsed ParseOptions(int argc, const char* const* argv, Options* options, std::string* error);

// "C" (every Combination bank), "CA", "cabd", "P", "PF" ..., separated by commas; the banks in
// the trees' order, each once. False for anything else.
bool ParseBanks(const std::string& text, std::vector<int>* banks);

// karma-backup-YYYY-MM-DD-HHMM.pcg at the local time `now`.
std::string DefaultFileName(std::time_t now);

// "3:05"; "--:--" for an unknown time.
std::string Duration(double seconds);

// What a progress line says: which bank, kilobytes of the total, the rate and the time left,
// all measured from `elapsed` seconds since the download began.
struct ProgressText {
    std::string bank;    // "Bank 4 of 12: Combination Bank D"
    std::string amount;  // "680 of 1488 KB"
    std::string rate;    // "3.1 KB/s", "" before anything came
    std::string left;    // "4:20 left", "" before anything came
    int percent = 0;
};
ProgressText DescribeProgress(const midi::BackupProgress& progress, double elapsed);

// One line for a terminal, at most `width` columns: the bank, a bar and the figures.
std::string ProgressBarLine(const midi::BackupProgress& progress, double elapsed, int width);
// One line for a log, when a bank is in.
std::string ProgressLogLine(const midi::BackupProgress& progress, double elapsed);

}  // namespace bq::backup
