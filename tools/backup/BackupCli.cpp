#include "tools/backup/BackupCli.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace bq::backup {

namespace {

enum Id { kOutput, kIn, kOut, kBanks, kTimeout, kQuiet, kHelp };

}  // namespace

const cli::Program kCommandLine = {
    "bankquill-backup",
    "usage: bankquill-backup [-o FILE] [--in PORT --out PORT] [--banks LIST] [--timeout S] "
    "[--quiet]\n",
    "\n"
    "Backs up the whole memory of a Korg Karma (Combination banks A to F, Program banks A to\n"
    "E and the MOSS Program bank F) into a PCG file that Bankquill opens, over JACK MIDI.\n"
    "The Karma is found as the desktop program finds it: an Identity Request to each MIDI\n"
    "output in turn, half a second each, while listening on every input.\n"
    "\n",
    21,
    {
        {kOutput, "output", 'o', true, "FILE",
         "the file to write (default: karma-backup-YYYY-MM-DD-HHMM.pcg in\n"
         "the current folder, at the local time); a file of that name is\n"
         "replaced only once the new one is complete and checked",
         nullptr, cli::Complete::PcgFiles},
        {kIn, "in", 0, true, "PORT",
         "with --out: the JACK port the Karma's answers come from, such as\n"
         "virtual-karma:midi_out, instead of searching",
         "a JACK port name"},
        {kOut, "out", 0, true, "PORT", "with --in: the JACK port that goes to the Karma's MIDI IN",
         "a JACK port name"},
        {kBanks, "banks", 0, true, "LIST",
         "only these banks: C for every Combination bank, P for every\n"
         "Program bank, or C or P followed by bank letters (CA, cbd, PF),\n"
         "separated by commas; the file holds only those banks",
         "a list such as C, P, CA or CAB,PF"},
        {kTimeout, "timeout", 0, true, "SECONDS",
         "give up when the Karma sends nothing for this long (default 5)",
         "a number of seconds above 0, at most 3600"},
        {kQuiet, "quiet", 'q', false, nullptr, "print nothing but errors"},
        {kHelp, "help", 'h', false, nullptr, "this text"},
    },
    "\n"
    "On a terminal a progress bar shows the bank, the kilobytes, the rate and the time left;\n"
    "otherwise one line is printed for each bank. Ctrl+C cancels; nothing is written then.\n"
    "Exit status: 0 when the backup is written, 1 when it failed (the reason is printed on\n"
    "standard error, and no file is written or changed), 2 for wrong arguments.\n",
    cli::Complete::Nothing,
};

namespace {

bool ParseSeconds(const std::string& text, int* ms) {
    if (text.empty() || text[0] == '-') {
        return false;
    }
    char* end = nullptr;
    errno = 0;
    const double seconds = std::strtod(text.c_str(), &end);
    if (errno != 0 || *end != '\0' || !(seconds > 0) || seconds > 3600) {
        return false;
    }
    *ms = std::max(1, static_cast<int>(std::lround(seconds * 1000)));
    return true;
}

std::string Kilobytes(std::uint64_t bytes) {
    return std::to_string((bytes + 512) / 1024);
}

std::string Rate(double bytesPerSecond) {
    const double kb = bytesPerSecond / 1024;
    char text[32];
    std::snprintf(text, sizeof text, kb < 10 ? "%.1f KB/s" : "%.0f KB/s", kb);
    return text;
}

}  // namespace

bool ParseBanks(const std::string& text, std::vector<int>* banks) {
    bool wanted[midi::kBackupBanks] = {};
    std::size_t start = 0;
    for (;;) {
        const std::size_t comma = text.find(',', start);
        const std::string item = text.substr(start, comma - start);
        if (item.empty()) {
            return false;
        }
        const char kind = static_cast<char>(std::toupper(static_cast<unsigned char>(item[0])));
        if (kind != 'C' && kind != 'P') {
            return false;
        }
        const int first = kind == 'C' ? 0 : 6;
        if (item.size() == 1) {
            std::fill(wanted + first, wanted + first + 6, true);
        }
        for (std::size_t i = 1; i < item.size(); ++i) {
            const char letter =
                static_cast<char>(std::toupper(static_cast<unsigned char>(item[i])));
            if (letter < 'A' || letter > 'F') {
                return false;
            }
            wanted[first + (letter - 'A')] = true;
        }
        if (comma == std::string::npos) {
            break;
        }
        start = comma + 1;
    }
    banks->clear();
    for (int i = 0; i < midi::kBackupBanks; ++i) {
        if (wanted[i]) {
            banks->push_back(i);
        }
    }
    return true;
}

Parsed ParseOptions(int argc, const char* const* argv, Options* options, std::string* error) {
    *options = Options();
    cli::Parsed parsed;
    if (!cli::Parse(kCommandLine, argc, argv, &parsed)) {
        *error = parsed.error;
        return Parsed::BadUsage;
    }
    bool banksGiven = false;
    for (const cli::Given& given : parsed.options) {
        const std::string& value = given.value;
        const std::string needs = cli::Needs(kCommandLine, given.id, given.typed);
        switch (given.id) {
            case kHelp:
                return Parsed::Help;
            case kQuiet:
                options->quiet = true;
                break;
            case kOutput:
                if (value.empty()) {
                    *error = given.typed + " needs a file name";
                    return Parsed::BadUsage;
                }
                options->output = value;
                break;
            case kIn:
            case kOut:
                if (value.empty()) {
                    *error = needs;
                    return Parsed::BadUsage;
                }
                (given.id == kIn ? options->inPort : options->outPort) = value;
                break;
            case kBanks:
                if (!ParseBanks(value, &options->banks)) {
                    *error = needs;
                    return Parsed::BadUsage;
                }
                banksGiven = true;
                break;
            case kTimeout:
                if (!ParseSeconds(value, &options->silenceMs)) {
                    *error = needs;
                    return Parsed::BadUsage;
                }
                break;
        }
    }
    if (!parsed.operands.empty()) {
        *error = "unexpected argument " + parsed.operands.front();
        return Parsed::BadUsage;
    }
    if (options->inPort.empty() != options->outPort.empty()) {
        *error = "--in and --out go together";
        return Parsed::BadUsage;
    }
    if (!banksGiven) {
        for (int i = 0; i < midi::kBackupBanks; ++i) {
            options->banks.push_back(i);
        }
    }
    return Parsed::Run;
}

std::string DefaultFileName(std::time_t now) {
    std::tm local = {};
    localtime_r(&now, &local);
    char name[64];
    std::strftime(name, sizeof name, "karma-backup-%Y-%m-%d-%H%M.pcg", &local);
    return name;
}

std::string Duration(double seconds) {
    if (!std::isfinite(seconds) || seconds < 0 || seconds > 359999) {
        return "--:--";
    }
    const long whole = std::lround(seconds);
    char text[32];
    if (whole >= 3600) {
        std::snprintf(text, sizeof text, "%ld:%02ld:%02ld", whole / 3600, whole / 60 % 60,
                      whole % 60);
    } else {
        std::snprintf(text, sizeof text, "%ld:%02ld", whole / 60, whole % 60);
    }
    return text;
}

ProgressText DescribeProgress(const midi::BackupProgress& progress, double elapsed) {
    ProgressText text;
    text.bank = "Bank " + std::to_string(progress.step) + " of " + std::to_string(progress.steps) +
                ": " + midi::BackupBankTitle(progress.bank);
    // The expected sizes are those of the usual dumps; an instrument that sends more must not
    // make the figures run past the total.
    const std::uint64_t total = std::max(progress.expectedBytes, progress.bytes);
    text.amount = Kilobytes(progress.bytes) + " of " + Kilobytes(total) + " KB";
    text.percent = total == 0 ? 0 : static_cast<int>(progress.bytes * 100 / total);
    if (progress.bytes > 0 && elapsed > 0) {
        const double rate = static_cast<double>(progress.bytes) / elapsed;
        text.rate = Rate(rate);
        text.left = Duration(static_cast<double>(total - progress.bytes) / rate) + " left";
    }
    return text;
}

std::string ProgressBarLine(const midi::BackupProgress& progress, double elapsed, int width) {
    const ProgressText text = DescribeProgress(progress, elapsed);
    // Shorter than the log's words, so that a bar fits on an 80-column terminal.
    const std::uint64_t total = std::max(progress.expectedBytes, progress.bytes);
    const std::string bank = midi::BackupBankTitle(progress.bank) + " (" +
                             std::to_string(progress.step) + "/" + std::to_string(progress.steps) +
                             ")";
    char percent[8];
    std::snprintf(percent, sizeof percent, "%3d%%", text.percent);
    std::string figures =
        std::string(percent) + " " + Kilobytes(progress.bytes) + "/" + Kilobytes(total) + " KB";
    if (!text.rate.empty()) {
        figures += "  " + text.rate + "  " + text.left;
    }
    // One column is kept free: a line that fills the last one wraps on some terminals, and
    // the carriage return would then redraw only its second half.
    const int room = width - 1 - static_cast<int>(bank.size() + 1 + 1 + figures.size());
    std::string line = bank + " ";
    if (room >= 12) {
        const int inside = std::min(room, 42) - 2;
        const int done = inside * text.percent / 100;
        line += "[" + std::string(done, '#') + std::string(inside - done, '-') + "] ";
    }
    line += figures;
    if (width > 1 && static_cast<int>(line.size()) > width - 1) {
        line.resize(width - 1);
    }
    return line;
}

std::string ProgressLogLine(const midi::BackupProgress& progress, double elapsed) {
    const ProgressText text = DescribeProgress(progress, elapsed);
    std::string line = text.bank + ": " + text.amount;
    if (!text.rate.empty()) {
        line += ", " + text.rate + ", " + text.left;
    }
    return line;
}

}  // namespace bq::backup
