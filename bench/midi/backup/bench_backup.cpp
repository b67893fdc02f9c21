// bench_backup: bankquill-backup against bankquill-virtual-karma over a private jackd with the
// dummy driver, timed from the start of the process to its end (finding the Karma, the
// download, writing, syncing and checking the file).
//  1. At unlimited rate: the whole memory (twelve banks), median of three runs, as a multiple
//     of MIDI speed (3125 bytes per second).
//  2. At MIDI speed: one Combination bank (--banks CA), the whole run over the dump's time on
//     the wire (bytes / 3125), printed last. The time until the Karma is found is printed too.
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/JackRig.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr double kMidiBytesPerSecond = 3125;
// The dumps as the virtual Karma sends them: 8 header bytes, the packed records, F7.
constexpr double kCombiBankDump = 145710;
constexpr double kAllBanks = 6 * 145710 + 5 * 117623 + 60864;

struct Timed {
    double seconds = 0;
    double found = 0;  // until "Found the Karma" came
};

double Since(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

std::optional<Timed> RunBackup(const std::vector<std::string>& args) {
    std::vector<std::string> argv = {"/bin/sh", "-c", "exec \"$0\" \"$@\" 2>&1", BQ_BACKUP};
    argv.insert(argv.end(), args.begin(), args.end());
    bq::e2e::ChildProcess backup;
    const auto start = Clock::now();
    if (!backup.Start(argv)) {
        return std::nullopt;
    }
    Timed timed;
    std::string line;
    while (backup.ReadLine(&line, 120000)) {
        if (line.rfind("Found the Karma", 0) == 0) {
            timed.found = Since(start);
        }
    }
    const int status = backup.Wait(10000);
    timed.seconds = Since(start);
    if (status != 0) {
        std::fprintf(stderr, "bench: bankquill-backup ended with %d\n", status);
        return std::nullopt;
    }
    return timed;
}

}  // namespace

int main() {
    const std::string server = "bankquill-bench-backup-" + std::to_string(::getpid());
    bq::e2e::PrivateJackd jackd;
    if (!jackd.Start(server, 256, true)) {
        std::fprintf(stderr, "bench: jackd with the dummy driver did not start\n");
        return 1;
    }
    const bq::e2e::ScopedEnv env("JACK_DEFAULT_SERVER", server);
    const std::filesystem::path dir =
        std::filesystem::temp_directory_path() / ("bench-backup-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    const std::string file = (dir / "backup.pcg").string();
    int result = 0;

    {
        auto karma = bq::e2e::StartVirtualKarma(BQ_VIRTUAL_KARMA, {"--rate", "0"});
        std::vector<double> runs;
        for (int i = 0; karma && i < 3; ++i) {
            const auto timed = RunBackup({"-o", file});
            if (!timed) {
                break;
            }
            runs.push_back(timed->seconds);
            std::printf(
                "unlimited rate: 12 banks, %.0f bytes, whole backup %.3f s (found after "
                "%.3f s)\n",
                kAllBanks, timed->seconds, timed->found);
        }
        if (runs.size() != 3) {
            std::fprintf(stderr, "bench: the backups at unlimited rate failed\n");
            return 1;
        }
        std::sort(runs.begin(), runs.end());
        std::printf("whole backup at unlimited rate, as a multiple of MIDI speed: %.0f\n",
                    kAllBanks / kMidiBytesPerSecond / runs[1]);
        bq::e2e::StopVirtualKarma(*karma);
    }

    auto karma = bq::e2e::StartVirtualKarma(BQ_VIRTUAL_KARMA, {"--rate", "3125"});
    const auto timed = karma ? RunBackup({"--banks", "CA", "-o", file}) : std::nullopt;
    if (!timed) {
        std::fprintf(stderr, "bench: the backup at MIDI speed failed\n");
        result = 1;
    } else {
        const double wire = kCombiBankDump / kMidiBytesPerSecond;
        std::printf(
            "3125 bytes/s: Combination bank A, %.0f bytes, %.3f s on the wire, whole "
            "backup %.3f s (found after %.3f s)\n",
            kCombiBankDump, wire, timed->seconds, timed->found);
        std::printf("backup_vs_wire_ratio: %.4f\n", timed->seconds / wire);
    }
    if (karma) {
        bq::e2e::StopVirtualKarma(*karma);
    }
    std::filesystem::remove_all(dir);
    return result;
}
