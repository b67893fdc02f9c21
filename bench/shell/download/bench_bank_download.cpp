// bench_bank_download: bank downloads from bankquill-virtual-karma over JACK into the
// Workstation view, from the expansion of a bank node to its 128 items in the tree.
//  1. At unlimited rate: how many times faster than a MIDI cable (3125 bytes per second) one
//     Combination bank arrives (median of the six banks).
//  2. At 100 times MIDI speed (312,500 bytes per second): the time of all twelve banks over
//     their time on the wire (bytes sent / rate), printed last. Each bank pays a fixed
//     latency (the request's way out and the last bytes' way in, a JACK cycle or two), so the
//     smallest bank (MOSS, 61 KB) shows the largest single ratio, printed before.
#include <QApplication>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "DownloadRig.h"
#include "tools/virtual-karma/VirtualKarma.h"

namespace {

constexpr double kMidiBytesPerSecond = 3125;
constexpr std::uint32_t kPacedRate = 312500;

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    // The JACK period decides most of a bank's fixed cost (a question and its answer take two
    // cycles), so it can be chosen: bench_bank_download [--period FRAMES], 256 by default.
    int period = 256;
    if (argc == 3 && std::string(argv[1]) == "--period") {
        period = std::atoi(argv[2]);
    }
    if ((argc != 1 && argc != 3) || period < 16 || period > 4096) {
        std::fprintf(stderr, "usage: bench_bank_download [--period FRAMES]\n");
        return 2;
    }
    QApplication app(argc, argv);
    const bq::VirtualKarma memory;  // what the virtual Karma sends: the sizes of its dumps
    std::printf("jackd period: %d frames at 48000 Hz\n", period);

    std::vector<double> unlimited;
    {
        bq::bench::DownloadRig rig;
        if (!rig.Start(BQ_VIRTUAL_KARMA, 0, period)) {
            return 1;
        }
        for (int bank = 0; bank < 6; ++bank) {
            const auto seconds = rig.Download(rig.BankNode(0, bank));
            if (!seconds || rig.presenter.shown != 0) {
                std::fprintf(stderr, "bench: Combination bank %d did not arrive\n", bank);
                return 1;
            }
            const double bytes = static_cast<double>(memory.CombiBankDump(bank).size());
            unlimited.push_back(bytes / kMidiBytesPerSecond / *seconds);
            std::printf("unlimited rate: Combination bank %c, %.0f bytes in %.3f s\n", 'A' + bank,
                        bytes, *seconds);
        }
    }

    double took = 0;
    double wire = 0;
    double worst = 0;
    {
        bq::bench::DownloadRig rig;
        if (!rig.Start(BQ_VIRTUAL_KARMA, kPacedRate, period)) {
            return 1;
        }
        for (int group = 0; group < 2; ++group) {
            for (int bank = 0; bank < 6; ++bank) {
                const auto seconds = rig.Download(rig.BankNode(group, bank));
                if (!seconds || rig.presenter.shown != 0) {
                    std::fprintf(stderr, "bench: bank %d of group %d did not arrive\n", bank,
                                 group);
                    return 1;
                }
                const double bytes =
                    static_cast<double>(group == 0 ? memory.CombiBankDump(bank).size()
                                                   : memory.ProgramBankDump(bank).size());
                const double onWire = bytes / kPacedRate;
                std::printf(
                    "%u bytes/s: %s bank %c, %.0f bytes in %.3f s, %.3f s on the wire, "
                    "ratio %.3f\n",
                    kPacedRate, group == 0 ? "Combination" : "Program", 'A' + bank, bytes, *seconds,
                    onWire, *seconds / onWire);
                worst = std::max(worst, *seconds / onWire);
                took += *seconds;
                wire += onWire;
            }
        }
    }
    std::printf("worst single bank ratio: %.3f\n", worst);
    std::printf("combi_bank_unlimited_vs_midi_speed: %.1f\n", Median(unlimited));
    std::printf("bank_download_vs_wire_ratio: %.3f\n", took / wire);
    return 0;
}
