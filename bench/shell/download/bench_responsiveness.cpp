// bench_responsiveness: while banks download at a paced rate (100 times MIDI speed), a 10 ms
// timer ticks on the user-interface thread; the longest gap between two ticks is printed last.
// The download's waits are nested event loops, so the timer keeps ticking through them, and
// the gap shows how long any single step (a chunk, the unpacking, filling the tree) holds the
// thread.
#include <QApplication>
#include <QTimer>

#include <algorithm>
#include <cstdio>

#include "DownloadRig.h"

namespace {

constexpr std::uint32_t kPacedRate = 312500;
constexpr int kTickMs = 10;

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
    bq::bench::DownloadRig rig;
    if (!rig.Start(BQ_VIRTUAL_KARMA, kPacedRate)) {
        return 1;
    }

    double maxGapMs = 0;
    int ticks = 0;
    auto last = bq::bench::Clock::now();
    QTimer timer;
    timer.setTimerType(Qt::PreciseTimer);
    QObject::connect(&timer, &QTimer::timeout, [&] {
        const auto now = bq::bench::Clock::now();
        maxGapMs = std::max(maxGapMs, bq::bench::Seconds(now - last) * 1000);
        last = now;
        ++ticks;
    });

    // Two banks of each kind, the MOSS bank among them.
    const int banks[][2] = {{0, 0}, {1, 0}, {0, 3}, {1, 5}};
    for (const auto& [group, bank] : banks) {
        last = bq::bench::Clock::now();
        timer.start(kTickMs);
        const auto seconds = rig.Download(rig.BankNode(group, bank));
        // The tick after the end covers the last step of the download.
        bq::bench::RunUntil([&, stop = ticks + 2] { return ticks >= stop; }, 1000);
        timer.stop();
        if (!seconds || rig.presenter.shown != 0) {
            std::fprintf(stderr, "bench: bank %d of group %d did not arrive\n", bank, group);
            return 1;
        }
        std::printf("%s bank %c in %.3f s, longest gap so far %.1f ms\n",
                    group == 0 ? "Combination" : "Program", 'A' + bank, *seconds, maxGapMs);
    }
    std::printf("ticks: %d\n", ticks);
    std::printf("ui_max_gap_ms: %.1f\n", maxGapMs);
    return 0;
}
