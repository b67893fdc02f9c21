#include "tools/backup/BackupCli.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <list>

namespace bq::backup {

namespace {

enum Id { kOutput };

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
    WithLinkOptions({{kOutput, "output", 'o', true, "FILE",
                      "the file to write (default: karma-backup-YYYY-MM-DD-HHMM.pcg in\n"
                      "the current folder, at the local time); a file of that name is\n"
                      "replaced only once the new one is complete and checked",
                      nullptr, cli::Complete::PcgFiles}},
                    "the file holds only those banks"),
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

std::string Rate(double bytesPerSecond) {
    const double kb = bytesPerSecond / 1024;
    char text[32];
    std::snprintf(text, sizeof text, kb < 10 ? "%.1f KB/s" : "%.0f KB/s", kb);
    return text;
}

}  // namespace

std::string Kilobytes(std::uint64_t bytes) {
    return std::to_string((bytes + 512) / 1024);
}

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

std::vector<cli::Option> WithLinkOptions(std::vector<cli::Option> before, const char* banksEnd,
                                         const std::vector<cli::Option>& after) {
    // Made at start-up, for each table once: the help's words live as long as the program (a
    // list moves none of them).
    static std::list<std::string> banksHelp;
    banksHelp.push_back(
        "only these banks: C for every Combination bank, P for every\n"
        "Program bank, or C or P followed by bank letters (CA, cbd, PF),\n"
        "separated by commas; " +
        std::string(banksEnd));
    std::vector<cli::Option> options = {
        {kOptionIn, "in", 0, true, "PORT",
         "with --out: the JACK port the Karma's answers come from, such as\n"
         "virtual-karma:midi_out, instead of searching",
         "a JACK port name"},
        {kOptionOut, "out", 0, true, "PORT",
         "with --in: the JACK port that goes to the Karma's MIDI IN", "a JACK port name"},
        {kOptionBanks, "banks", 0, true, "LIST", banksHelp.back().c_str(),
         "a list such as C, P, CA or CAB,PF"},
        {kOptionTimeout, "timeout", 0, true, "SECONDS",
         "give up when the Karma sends nothing for this long (default 5)",
         "a number of seconds above 0, at most 3600"},
    };
    before.insert(before.end(), options.begin(), options.end());
    before.insert(before.end(), after.begin(), after.end());
    before.push_back({kOptionQuiet, "quiet", 'q', false, nullptr, "print nothing but errors"});
    before.push_back({kOptionHelp, "help", 'h', false, nullptr, "this text"});
    return before;
}

Applied ApplyLinkOption(const cli::Program& program, const cli::Given& given, LinkOptions* options,
                        std::string* error) {
    const std::string& value = given.value;
    *error = cli::Needs(program, given.id, given.typed);
    switch (given.id) {
        case kOptionHelp:
            return Applied::Help;
        case kOptionQuiet:
            options->quiet = true;
            return Applied::Done;
        case kOptionIn:
        case kOptionOut:
            if (value.empty()) {
                return Applied::Wrong;
            }
            (given.id == kOptionIn ? options->inPort : options->outPort) = value;
            return Applied::Done;
        case kOptionBanks:
            if (!ParseBanks(value, &options->banks)) {
                return Applied::Wrong;
            }
            options->banksGiven = true;
            return Applied::Done;
        case kOptionTimeout:
            return ParseSeconds(value, &options->silenceMs) ? Applied::Done : Applied::Wrong;
        default:
            error->clear();
            return Applied::Other;
    }
}

bool FinishLinkOptions(LinkOptions* options, std::string* error) {
    if (options->inPort.empty() != options->outPort.empty()) {
        *error = "--in and --out go together";
        return false;
    }
    if (!options->banksGiven) {
        options->banks.clear();
        for (int i = 0; i < midi::kBackupBanks; ++i) {
            options->banks.push_back(i);
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
    for (const cli::Given& given : parsed.options) {
        switch (ApplyLinkOption(kCommandLine, given, options, error)) {
            case Applied::Help:
                return Parsed::Help;
            case Applied::Wrong:
                return Parsed::BadUsage;
            case Applied::Done:
                continue;
            case Applied::Other:
                break;
        }
        if (given.value.empty()) {  // -o, the only option of its own
            *error = given.typed + " needs a file name";
            return Parsed::BadUsage;
        }
        options->output = given.value;
    }
    if (!parsed.operands.empty()) {
        *error = "unexpected argument " + parsed.operands.front();
        return Parsed::BadUsage;
    }
    return FinishLinkOptions(options, error) ? Parsed::Run : Parsed::BadUsage;
}

std::string DefaultFileName(std::time_t now, const char* stem) {
    std::tm local = {};
    localtime_r(&now, &local);
    char name[96];
    const std::string format = std::string(stem) + "-%Y-%m-%d-%H%M.pcg";
    std::strftime(name, sizeof name, format.c_str(), &local);
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

std::string Took(double seconds) {
    if (seconds < 60) {
        char text[32];
        std::snprintf(text, sizeof text, "%.1f s", seconds);
        return text;
    }
    return Duration(seconds);
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
    return BarLine(bank, text.percent, figures, width);
}

std::string BarLine(const std::string& label, int percent, const std::string& figures, int width) {
    // One column is kept free: a line that fills the last one wraps on some terminals, and
    // the carriage return would then redraw only its second half.
    const int room = width - 1 - static_cast<int>(label.size() + 1 + 1 + figures.size());
    std::string line = label + " ";
    if (room >= 12) {
        const int inside = std::min(room, 42) - 2;
        const int done = inside * std::clamp(percent, 0, 100) / 100;
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
