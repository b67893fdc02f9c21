// bankquill-restore: puts a PCG file back onto a Korg Karma over JACK MIDI, writing only the
// slots that differ, after saving what they held.
//
// Threads: the main thread reads the file, finds the instrument, downloads, plans and writes;
// the JACK services have their own threads; one more thread waits for SIGINT and SIGTERM
// (blocked everywhere else): during the download it cancels at once, during the writes after
// the slot being written.

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

#include "midi/BackupDownload.h"
#include "midi/JackMidiServices.h"
#include "midi/RestorePlan.h"
#include "midi/RestoreWrite.h"
#include "model/PcgMemory.h"
#include "model/PcgWriter.h"
#include "tools/backup/BackupCli.h"
#include "tools/backup/CliRun.h"
#include "tools/restore/RestoreCli.h"

namespace {

constexpr const char* kProgram = "bankquill-restore";

int Failed(const std::string& reason) {
    std::fprintf(stderr, "%s: %s\n", kProgram, reason.c_str());
    return 1;
}

bool Exists(const std::string& path) {
    struct stat st = {};
    return ::lstat(path.c_str(), &st) == 0;
}

bool SameFile(const std::string& a, const std::string& b) {
    struct stat first = {};
    struct stat second = {};
    return ::stat(a.c_str(), &first) == 0 && ::stat(b.c_str(), &second) == 0 &&
           first.st_dev == second.st_dev && first.st_ino == second.st_ino;
}

// The chosen banks that the file holds, in the trees' order; a line for each bank chosen by
// name that it does not hold.
std::vector<int> BanksToRestore(const bq::restore::Options& options,
                                const bq::pcg::KarmaMemory& file) {
    const std::vector<int> held = bq::midi::RestoreBanksHeld(file);
    std::vector<int> banks;
    for (int bank : options.banks) {
        if (std::find(held.begin(), held.end(), bank) != held.end()) {
            banks.push_back(bank);
        } else if (options.banksGiven && !options.quiet) {
            std::printf("%s\n", bq::restore::MissingBankLine(bank).c_str());
        }
    }
    return banks;
}

bq::midi::RestoreStatus Write(bq::midi::RestoreWrite& writer, const bq::midi::RestorePlan& plan,
                              const bq::pcg::KarmaMemory& file, bool quiet) {
    bq::backup::ProgressView view(quiet, ::isatty(STDERR_FILENO) == 1);
    view.Begin();
    const bq::midi::RestoreStatus status =
        writer.Write(plan, file, [&view](const bq::midi::RestoreProgress& p) {
            if (!p.again.empty()) {
                view.Line(p.again);
                return;
            }
            if (!view.Terminal()) {
                if (p.bankDone) {
                    view.Line(bq::restore::WriteLogLine(p, view.Elapsed()));
                }
                return;
            }
            view.Bar(!p.done, [&p](double elapsed, int width) {
                return bq::restore::WriteBarLine(p, elapsed, width);
            });
        });
    view.End();
    return status;
}

}  // namespace

int main(int argc, char** argv) {
    using bq::restore::kCommandLine;
    if (bq::cli::PrintDocumentation(kCommandLine, argc, argv)) {
        return 0;
    }
    bq::restore::Options options;
    std::string error;
    switch (bq::restore::ParseOptions(argc, argv, &options, &error)) {
        case bq::backup::Parsed::Help:
            std::fputs(bq::cli::HelpText(kCommandLine).c_str(), stdout);
            return 0;
        case bq::backup::Parsed::BadUsage:
            std::fprintf(stderr, "%s: %s\n%s", kProgram, error.c_str(), kCommandLine.usage);
            return 2;
        case bq::backup::Parsed::Run:
            break;
    }
    const bool say = !options.quiet;

    bq::pcg::KarmaMemory file;
    if (const HRESULT hr = bq::pcg::ReadPcgMemory(options.file, &file); FAILED(hr)) {
        return Failed(bq::restore::ReadFailure(options.file, hr));
    }
    const std::vector<int> banks = BanksToRestore(options, file);
    if (banks.empty()) {
        return Failed(options.file + " holds none of the banks chosen; nothing was written");
    }
    const bool saving = !options.dryRun && !options.noBackup;
    const std::string backupPath = !options.backupTo.empty()
                                       ? options.backupTo
                                       : bq::restore::FreeBackupName(std::time(nullptr), Exists);
    if (saving && SameFile(backupPath, options.file)) {
        // The safety backup would replace the very file being put back.
        std::fprintf(stderr, "%s: --backup-to names the file to restore, %s\n%s", kProgram,
                     options.file.c_str(), kCommandLine.usage);
        return 2;
    }
    if (saving) {
        if (const std::string problem = bq::backup::TargetProblem(backupPath); !problem.empty()) {
            return Failed("the Karma's banks cannot be saved before writing: " + problem +
                          "; nothing was written");
        }
    }

    bq::backup::BlockWatchedSignals();
    bq::midi::JackMidiServices services(kProgram);
    if (!services.Connected()) {
        return Failed("no JACK server is running");
    }
    bq::midi::BackupDownload download(services);
    download.SetSilenceMs(options.silenceMs);
    bq::midi::RestoreWrite writer(download.Link());
    writer.SetSilenceMs(options.silenceMs);
    // Until the writes begin a cancel ends what runs at once; from then on the writer finishes
    // the slot under way. Each side stores before it looks at the other's flag, so a cancel
    // that comes as the writes begin is seen by one of them.
    std::atomic<bool> writing{false};
    const bq::backup::SignalWatch signals(kProgram, [&] {
        writer.Cancel();
        if (!writing.load()) {
            download.Cancel();
        }
    });

    const bq::midi::BackupStatus found =
        bq::backup::FindKarma(download, options.inPort, options.outPort, options.quiet);
    if (!found.Succeeded()) {
        return Failed(found.reason + "; nothing was written");
    }

    bq::pcg::KarmaMemory instrument;
    const bq::midi::BackupStatus downloaded =
        bq::backup::DownloadShowing(download, banks, options.quiet, &instrument);
    if (!downloaded.Succeeded()) {
        return Failed(downloaded.reason + "; nothing was written");
    }
    const bq::midi::RestorePlan plan = bq::midi::PlanRestore(file, instrument, banks);
    if (say) {
        for (const bq::midi::RestoreBankPlan& bank : plan.banks) {
            std::printf("%s\n", bq::restore::BankLine(bank).c_str());
        }
        std::printf("%s\n", bq::restore::PlanTotal(plan).c_str());
        std::fflush(stdout);
    }
    if (options.dryRun || plan.writes.empty()) {
        download.Close();
        if (say) {
            std::printf(options.dryRun ? "Nothing was written (--dry-run).\n"
                                       : "The Karma holds the file's records already.\n");
        }
        return 0;
    }

    if (saving) {
        const bq::pcg::PcgWriteResult saved = bq::pcg::WritePcgFile(backupPath, instrument);
        if (!saved.Succeeded()) {
            return Failed("the Karma's banks were not saved before writing: " + saved.reason +
                          "; nothing was written");
        }
        if (say) {
            std::printf("Saved the Karma's banks as they were to %s\n", backupPath.c_str());
            std::fflush(stdout);
        }
    }
    writing.store(true);
    if (writer.Cancelled()) {
        return Failed("cancelled; nothing was written");
    }
    const std::string kept = saving ? "; the banks as they were are in " + backupPath : "";
    bq::backup::ProgressView clock(true, false);
    clock.Begin();
    const bq::midi::RestoreStatus status = Write(writer, plan, file, options.quiet);
    download.Close();
    if (!status.Succeeded()) {
        return Failed(status.reason + kept);
    }
    if (say) {
        std::size_t changed = 0;
        for (const bq::midi::RestoreBankPlan& bank : plan.banks) {
            changed += bank.Same() ? 0 : 1;
        }
        std::printf("Restored %zu slot%s in %zu bank%s from %s in %s\n", plan.writes.size(),
                    plan.writes.size() == 1 ? "" : "s", changed, changed == 1 ? "" : "s",
                    options.file.c_str(), bq::backup::Took(clock.Elapsed()).c_str());
    }
    return 0;
}
