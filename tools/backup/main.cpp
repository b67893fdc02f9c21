// bankquill-backup: backs up the whole memory of a Korg Karma into a PCG file over JACK MIDI,
// for scripted and scheduled backups.
//
// Threads: the main thread finds the instrument, downloads and writes; the JACK services have
// their own threads; one more thread waits for SIGINT and SIGTERM (blocked everywhere else)
// and cancels the download.

#include <cstdint>
#include <cstdio>
#include <ctime>
#include <string>

#include "midi/BackupDownload.h"
#include "midi/JackMidiServices.h"
#include "model/PcgWriter.h"
#include "tools/backup/BackupCli.h"
#include "tools/backup/CliRun.h"

namespace {

constexpr const char* kProgram = "bankquill-backup";

int Failed(const std::string& reason) {
    std::fprintf(stderr, "%s: %s\n", kProgram, reason.c_str());
    return 1;
}

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
    if (const std::string problem = bq::backup::TargetProblem(path); !problem.empty()) {
        return Failed(problem + "; nothing was downloaded");
    }

    bq::backup::BlockWatchedSignals();
    bq::midi::JackMidiServices services(kProgram);
    if (!services.Connected()) {
        return Failed("no JACK server is running");
    }
    bq::midi::BackupDownload download(services);
    download.SetSilenceMs(options.silenceMs);
    const bq::backup::SignalWatch signals(kProgram, [&download] { download.Cancel(); });

    const bq::midi::BackupStatus found =
        bq::backup::FindKarma(download, options.inPort, options.outPort, options.quiet);
    if (!found.Succeeded()) {
        return Failed(found.reason);
    }

    bq::pcg::KarmaMemory memory;
    std::uint64_t bytes = 0;
    double seconds = 0;
    const bq::midi::BackupStatus status = bq::backup::DownloadShowing(
        download, options.banks, options.quiet, &memory, &bytes, &seconds);
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
        std::printf("Backed up %zu bank%s (%llu KB) to %s in %s\n", options.banks.size(),
                    options.banks.size() == 1 ? "" : "s",
                    static_cast<unsigned long long>((bytes + 512) / 1024), path.c_str(),
                    bq::backup::Took(seconds).c_str());
    }
    return 0;
}
