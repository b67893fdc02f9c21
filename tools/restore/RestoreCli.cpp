#include "tools/restore/RestoreCli.h"

#include <cstdio>

namespace bq::restore {

namespace {

enum Id { kBackupTo, kNoBackup, kDryRun };

// A MIDI cable carries 3125 bytes a second.
constexpr double kMidiBytesPerSecond = 3125;

std::string Plural(std::size_t n, const char* one, const char* many) {
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

// The writes' share of the total, and the time left at the rate so far ("" before any).
struct Figures {
    int percent = 0;
    std::string left;
};

Figures Measure(const midi::RestoreProgress& progress, double elapsed) {
    Figures figures;
    const std::uint64_t total = progress.totalBytes;
    figures.percent = total == 0 ? 0 : static_cast<int>(progress.bytes * 100 / total);
    if (progress.bytes > 0 && elapsed > 0 && total >= progress.bytes) {
        const double rate = static_cast<double>(progress.bytes) / elapsed;
        figures.left =
            backup::Duration(static_cast<double>(total - progress.bytes) / rate) + " left";
    }
    return figures;
}

}  // namespace

const cli::Program kCommandLine = {
    "bankquill-restore",
    "usage: bankquill-restore [--in PORT --out PORT] [--banks LIST] [--timeout S]\n"
    "                         [--backup-to FILE | --no-backup] [--dry-run] [--quiet] FILE\n",
    "\n"
    "Puts a PCG file (a backup, or any Karma PCG file) back onto a Korg Karma over JACK MIDI:\n"
    "downloads the Karma's banks that the file holds, says how many slots of each differ,\n"
    "saves those banks as they were, and writes only the slots that differ. The Karma is found\n"
    "as bankquill-backup finds it. The MOSS Program bank F is restored only from a file that\n"
    "carries its records, as the backups do.\n"
    "\n",
    21,
    backup::WithLinkOptions(
        {}, "only these banks of the file are restored",
        {
            {kBackupTo, "backup-to", 0, true, "FILE",
             "save the Karma's banks as they were, before writing, into FILE\n"
             "(default: karma-before-restore-YYYY-MM-DD-HHMM.pcg in the\n"
             "current folder, at the local time)",
             "a file name", cli::Complete::PcgFiles},
            {kNoBackup, "no-backup", 0, false, nullptr, "write without saving them first"},
            {kDryRun, "dry-run", 'n', false, nullptr,
             "download and say what differs, and write nothing"},
        }),
    "\n"
    "On a terminal a progress bar shows the slot being written, the slots and kilobytes of the\n"
    "total and the time left; otherwise one line is printed for each bank once it is written.\n"
    "Ctrl+C stops after the slot being written.\n"
    "Exit status: 0 when the Karma holds the file's records in every bank chosen (also when\n"
    "nothing differed), 1 when it failed (the reason, and how many slots were written, are\n"
    "printed on standard error), 2 for wrong arguments.\n",
    cli::Complete::PcgFiles,
};

backup::Parsed ParseOptions(int argc, const char* const* argv, Options* options,
                            std::string* error) {
    *options = Options();
    cli::Parsed parsed;
    if (!cli::Parse(kCommandLine, argc, argv, &parsed)) {
        *error = parsed.error;
        return backup::Parsed::BadUsage;
    }
    for (const cli::Given& given : parsed.options) {
        switch (backup::ApplyLinkOption(kCommandLine, given, options, error)) {
            case backup::Applied::Help:
                return backup::Parsed::Help;
            case backup::Applied::Wrong:
                return backup::Parsed::BadUsage;
            case backup::Applied::Done:
                continue;
            case backup::Applied::Other:
                break;
        }
        switch (given.id) {
            case kBackupTo:
                if (given.value.empty()) {
                    *error = cli::Needs(kCommandLine, given.id, given.typed);
                    return backup::Parsed::BadUsage;
                }
                options->backupTo = given.value;
                break;
            case kNoBackup:
                options->noBackup = true;
                break;
            case kDryRun:
                options->dryRun = true;
                break;
        }
    }
    if (parsed.operands.size() != 1) {
        *error = parsed.operands.empty() ? "name the PCG file to restore"
                                         : "unexpected argument " + parsed.operands[1];
        return backup::Parsed::BadUsage;
    }
    options->file = parsed.operands.front();
    if (options->noBackup && !options->backupTo.empty()) {
        *error = "--backup-to and --no-backup exclude each other";
        return backup::Parsed::BadUsage;
    }
    return backup::FinishLinkOptions(options, error) ? backup::Parsed::Run
                                                     : backup::Parsed::BadUsage;
}

std::string FreeBackupName(std::time_t now, const std::function<bool(const std::string&)>& exists) {
    const std::string name = backup::DefaultFileName(now, "karma-before-restore");
    std::string candidate = name;
    const std::string stem = name.substr(0, name.size() - 4);  // without ".pcg"
    for (int n = 2; exists(candidate); ++n) {
        candidate = stem + "-" + std::to_string(n) + ".pcg";
    }
    return candidate;
}

std::string ReadFailure(const std::string& path, HRESULT code) {
    std::string why = code == E_INVALIDARG ? "Triton format PCG files are not currently supported."
                                           : ResultText(code);
    if (why.empty()) {
        why = "An unknown error occurred.";
    }
    return "cannot read " + path + ": " + why;
}

std::string BankLine(const midi::RestoreBankPlan& bank) {
    const std::string title = midi::BackupBankTitle(bank.bank) + ": ";
    if (bank.Same()) {
        return title + (bank.held == 1
                            ? "its 1 slot is the same"
                            : "all " + std::to_string(bank.held) + " slots are the same");
    }
    const std::size_t differ = bank.differing.size();
    return title + std::to_string(differ) + " of " + Plural(bank.held, "slot", "slots") +
           (differ == 1 ? " differs" : " differ");
}

std::string MissingBankLine(int bank) {
    return midi::BackupBankTitle(bank) + ": not in the file";
}

std::string PlanTotal(const midi::RestorePlan& plan) {
    if (plan.writes.empty()) {
        return "In all: nothing to write";
    }
    return "In all: " + Plural(plan.writes.size(), "slot", "slots") + " to write, " +
           backup::Kilobytes(plan.sendBytes) + " KB (" +
           backup::Duration(static_cast<double>(plan.WireBytes()) / kMidiBytesPerSecond) +
           " over a MIDI cable)";
}

std::string WriteBarLine(const midi::RestoreProgress& progress, double elapsed, int width) {
    const Figures figures = Measure(progress, elapsed);
    const std::string label = midi::RestoreSlotName(progress.slot) + " (" +
                              std::to_string(progress.item) + "/" + std::to_string(progress.items) +
                              ")";
    char percent[8];
    std::snprintf(percent, sizeof percent, "%3d%%", figures.percent);
    std::string text = std::string(percent) + " " + backup::Kilobytes(progress.bytes) + "/" +
                       backup::Kilobytes(progress.totalBytes) + " KB";
    if (!figures.left.empty()) {
        text += "  " + figures.left;
    }
    return backup::BarLine(label, figures.percent, text, width);
}

std::string WriteLogLine(const midi::RestoreProgress& progress, double elapsed) {
    const Figures figures = Measure(progress, elapsed);
    std::string line =
        midi::BackupBankTitle(progress.slot.bank) + " written: " + std::to_string(progress.item) +
        " of " + Plural(progress.items, "slot", "slots") + ", " +
        backup::Kilobytes(progress.bytes) + " of " + backup::Kilobytes(progress.totalBytes) + " KB";
    if (!figures.left.empty()) {
        line += ", " + figures.left;
    }
    return line;
}

}  // namespace bq::restore
