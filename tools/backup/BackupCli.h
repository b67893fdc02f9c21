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

// The options of every program that talks to the Karma (bankquill-backup, bankquill-restore).
struct LinkOptions {
    std::string inPort;  // both or neither: the ports to use instead of searching
    std::string outPort;
    std::vector<int> banks;  // indexes 0..11 in the trees' order; all twelve by default
    bool banksGiven = false;
    int silenceMs = midi::BackupDownload::kDefaultSilenceMs;
    bool quiet = false;
};
// Their ids in a program's table; the program's own options take others.
enum LinkOptionId {
    kOptionIn = 100,
    kOptionOut,
    kOptionBanks,
    kOptionTimeout,
    kOptionQuiet,
    kOptionHelp
};
// A program's table lines: `before`, --in, --out, --banks (its help ending with `banksEnd`),
// --timeout, `after`, --quiet and --help.
std::vector<cli::Option> WithLinkOptions(std::vector<cli::Option> before, const char* banksEnd,
                                         const std::vector<cli::Option>& after = {});
enum class Applied { Done, Help, Wrong, Other };
// Applies `given` when it is one of those options: Wrong with *error saying what it needs;
// Other when it is the program's own.
Applied ApplyLinkOption(const cli::Program& program, const cli::Given& given, LinkOptions* options,
                        std::string* error);
// After every option: --in and --out go together; every bank unless --banks chose.
bool FinishLinkOptions(LinkOptions* options, std::string* error);

struct Options : LinkOptions {
    std::string output;  // empty: DefaultFileName in the current folder
};

enum class Parsed { Run, Help, BadUsage };

// On BadUsage, *error says what is wrong.
Parsed ParseOptions(int argc, const char* const* argv, Options* options, std::string* error);

// "C" (every Combination bank), "CA", "cabd", "P", "PF" ..., separated by commas; the banks in
// the trees' order, each once. False for anything else.
bool ParseBanks(const std::string& text, std::vector<int>* banks);

// STEM-YYYY-MM-DD-HHMM.pcg at the local time `now`: karma-backup-... by default.
std::string DefaultFileName(std::time_t now, const char* stem = "karma-backup");

// "3:05"; "--:--" for an unknown time.
std::string Duration(double seconds);
// How long a run took: "48.3 s" under a minute, else as Duration.
std::string Took(double seconds);
// Kilobytes, rounded: "1488".
std::string Kilobytes(std::uint64_t bytes);

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
// A progress bar line of at most `width` columns: the label, a bar of `percent` when there is
// room for one, and the figures.
std::string BarLine(const std::string& label, int percent, const std::string& figures, int width);
// One line for a log, when a bank is in.
std::string ProgressLogLine(const midi::BackupProgress& progress, double elapsed);

}  // namespace bq::backup
