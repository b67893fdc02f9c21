// bench_find_filter: 20 PCG windows on the full-size demo file (30,720 items) open in the main
// window; Edit > Find, then two-letter texts put into the find field one after another, as
// typing a new text over a selected one does. Each keystroke is timed from the new text until
// the trees are filtered, the counts and the results list filled and everything posted
// (layout, paint) has run. Prints the first keystroke (which also makes each window's
// catalogue), the slowest and the median processor time of the rest (which load from other
// programs on the machine does not stretch), and their median time, last, in milliseconds.
#include <time.h>

#include <QApplication>
#include <QLineEdit>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

#include "PcgWindowSetup.h"
#include "shell/FindBar.h"
#include "shell/Finder.h"
#include "shell/PCGFrame.h"

namespace {

constexpr int kWindows = 20;
constexpr int kKeystrokes = 101;
const char* const kTexts[] = {"er", "an", "o ", "ri", "st"};

double ThreadCpuMs() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) / 1e6;
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    bench::UseOffscreenPlatform();
    QApplication app(argc, argv);
    bench::DemoFile demo;
    if (!demo.Ok()) {
        return 1;
    }
    bench::IdleMainWindow host;
    const QString path = QString::fromStdString(demo.Path());
    for (int i = 0; i < kWindows; ++i) {
        if (host.frame.OpenPCGFile(path) == nullptr) {
            std::fprintf(stderr, "window %d did not open\n", i);
            return 1;
        }
        bench::Settle();
    }
    host.frame.ExecuteCommand(ID_EDIT_FIND);
    bench::Settle();
    QLineEdit* field = host.frame.FindBar()->Field();

    using Clock = std::chrono::steady_clock;
    std::vector<double> ms;
    std::vector<double> cpu;
    std::size_t matches = 0;
    for (int k = 0; k < kKeystrokes; ++k) {
        const auto start = Clock::now();
        const double cpuStart = ThreadCpuMs();
        field->setText(QString::fromLatin1(kTexts[k % std::size(kTexts)]));
        bench::Settle();
        cpu.push_back(ThreadCpuMs() - cpuStart);
        ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
        matches += host.frame.Finder().Total();
    }
    if (matches == 0) {
        std::fprintf(stderr, "no text matched anything\n");
        return 1;
    }
    const std::vector<double> rest(ms.begin() + 1, ms.end());
    std::printf("windows: %d, items: %d\n", kWindows, kWindows * 1536);
    std::printf("matches per keystroke: %.0f\n", static_cast<double>(matches) / kKeystrokes);
    std::printf("first_keystroke_ms: %.1f\n", ms.front());
    std::printf("slowest_keystroke_ms: %.1f\n", *std::max_element(rest.begin(), rest.end()));
    std::printf("keystroke_cpu_ms: %.1f\n", Median({cpu.begin() + 1, cpu.end()}));
    std::printf("find_filter_ms: %.1f\n", Median(rest));
    return 0;
}
