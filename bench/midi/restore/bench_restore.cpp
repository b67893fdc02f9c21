// bench_restore: bankquill-restore against bankquill-virtual-karma over a private jackd with the
// dummy driver (256 frames at 48 kHz, or the frames given), both ways at the rate of a MIDI cable
// (3125 bytes per second: the virtual Karma sends at it and takes each message only once a cable
// would have carried it in). The file differs from the instrument in every slot of one bank; one
// run with Combination Bank A, one with Program Bank A (--banks CA, --banks PA; --in/--out,
// --no-backup). Each run is timed from the start of the process to its end: it finds the Karma on
// the ports, downloads the bank, compares, and writes all 128 slots, each waiting for its reply.
// The wire time is that of every message it sends and receives (bytes / 3125); the writes alone are
// timed from the plan's last line to the end. Printed last: both runs' time over both runs' wire
// time.
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>

#include "midi/KarmaBanks.h"
#include "midi/RestorePlan.h"
#include "model/PcgWriter.h"
#include "tests/support/JackRig.h"
#include "tools/virtual-karma/VirtualKarma.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr double kMidiBytesPerSecond = 3125;

struct Timed {
    double whole = 0;   // the process, start to end
    double writes = 0;  // from the plan's last line to the end
};

std::optional<Timed> RunRestore(const std::vector<std::string>& args) {
    bq::e2e::ChildProcess restore;
    const auto start = Clock::now();
    if (!bq::e2e::StartJoined(restore, BQ_RESTORE, args)) {
        return std::nullopt;
    }
    std::optional<Clock::time_point> planned;
    std::string line;
    std::string output;
    while (restore.ReadLine(&line, 120000)) {
        if (line.rfind("In all:", 0) == 0) {
            planned = Clock::now();
        }
        output += line + "\n";
    }
    const int status = restore.Wait(10000);
    const auto end = Clock::now();
    if (status != 0 || !planned) {
        std::fprintf(stderr, "bench: bankquill-restore ended with %d:\n%s", status, output.c_str());
        return std::nullopt;
    }
    Timed timed;
    timed.whole = std::chrono::duration<double>(end - start).count();
    timed.writes = std::chrono::duration<double>(end - *planned).count();
    return timed;
}

}  // namespace

// An argument sets jackd's period in frames instead of 256, to see what the JACK cycles cost.
int main(int argc, char** argv) {
    const int period = argc > 1 ? std::atoi(argv[1]) : 256;
    const std::string server = "bankquill-bench-restore-" + std::to_string(::getpid());
    bq::e2e::PrivateJackd jackd;
    if (period < 16 || !jackd.Start(server, period, true)) {
        std::fprintf(stderr, "bench: jackd with the dummy driver did not start\n");
        return 1;
    }
    const bq::e2e::ScopedEnv env("JACK_DEFAULT_SERVER", server);
    const std::filesystem::path dir =
        std::filesystem::temp_directory_path() / ("bench-restore-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    const std::string file = (dir / "file.pcg").string();

    // The instrument: the virtual Karma's own memory. The file: each record of Combination Bank A
    // and Program Bank A changed in one byte.
    const bq::VirtualKarma karma;
    bq::pcg::KarmaMemory instrument;
    bq::pcg::KarmaMemory changed;
    instrument.combis[0] = changed.combis[0] = karma.CombiBank(0);
    instrument.programs[0] = changed.programs[0] = karma.ProgramBank(0);
    for (auto* records : {&changed.combis[0], &changed.programs[0]}) {
        const std::size_t size = records->size() / 128;
        for (std::size_t slot = 0; slot < 128; ++slot) {
            (*records)[slot * size + 40] ^= 0x01;
        }
    }
    if (!bq::pcg::WritePcgFile(file, changed).Succeeded()) {
        std::fprintf(stderr, "bench: the file could not be written\n");
        return 1;
    }

    double whole = 0;
    double wire = 0;
    int result = 0;
    for (const auto& [banks, index] : {std::pair{"CA", 0}, std::pair{"PA", 6}}) {
        const bq::midi::RestorePlan plan = bq::midi::PlanRestore(changed, instrument, {index});
        // The Identity Request and its reply, the dump request and the dump, the writes and their
        // replies.
        const double found = bq::sysex::kIdentityRequestLength + karma.IdentityReply().size();
        const double dump = bq::sysex::kDumpRequestLength + bq::midi::BackupBankAt(index).dumpBytes;
        const double writesWire = plan.WireBytes() / kMidiBytesPerSecond;
        const double runWire = (found + dump) / kMidiBytesPerSecond + writesWire;

        auto process = bq::e2e::StartVirtualKarma(BQ_VIRTUAL_KARMA,
                                                  {"--rate", "3125", "--receive-rate", "3125"});
        const auto timed = process
                               ? RunRestore({"--in", bq::e2e::kKarmaOut, "--out", bq::e2e::kKarmaIn,
                                             "--banks", banks, "--no-backup", file})
                               : std::nullopt;
        if (process) {
            bq::e2e::StopVirtualKarma(*process);
        }
        if (!timed || plan.writes.size() != 128) {
            std::fprintf(stderr, "bench: the restore of %s at MIDI speed failed\n",
                         bq::midi::BackupBankTitle(index).c_str());
            result = 1;
            break;
        }
        std::printf(
            "3125 bytes/s: %s, 128 slots: whole run %.3f s over %.3f s on the wire (%.4f); "
            "the writes %.3f s over %.3f s (%.4f), %.1f ms a write above its wire time\n",
            bq::midi::BackupBankTitle(index).c_str(), timed->whole, runWire, timed->whole / runWire,
            timed->writes, writesWire, timed->writes / writesWire,
            (timed->writes - writesWire) * 1000 / 128);
        whole += timed->whole;
        wire += runWire;
    }
    if (result == 0) {
        std::printf("restore_vs_wire_ratio: %.4f\n", whole / wire);
    }
    std::filesystem::remove_all(dir);
    return result;
}
