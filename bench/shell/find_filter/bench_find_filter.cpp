// bench_find_filter: 20 PCG windows on the full-size demo file (30,720 items) open in the main
// window; Edit > Find, then two-letter texts put into the find field one after another, as
// typing a new text over a selected one does: first as it is, then again with the option
// "Combinations using it" ticked. Each keystroke is timed from the new text until the trees are
// filtered, the counts and the results list filled and everything posted (layout, paint) has
// run. Prints for each the first keystroke (which also makes each window's catalogue, or its
// index of the Programs' users), the slowest and the median processor time of the rest (which
// load from other programs on the machine does not stretch), and their median time; last, the
// median time without the option, in milliseconds.
#include <time.h>

#include <QApplication>
#include <QCheckBox>
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

    // The keystrokes, timed; with `users` the option "Combinations using it" is ticked first.
    struct Run {
        std::vector<double> ms;
        std::vector<double> cpu;
        std::size_t matches = 0;
    };
    auto type = [&](bool users) {
        host.frame.FindBar()->UsersOption()->setChecked(users);
        field->clear();
        bench::Settle();
        using Clock = std::chrono::steady_clock;
        Run run;
        for (int k = 0; k < kKeystrokes; ++k) {
            const auto start = Clock::now();
            const double cpuStart = ThreadCpuMs();
            field->setText(QString::fromLatin1(kTexts[k % std::size(kTexts)]));
            bench::Settle();
            run.cpu.push_back(ThreadCpuMs() - cpuStart);
            run.ms.push_back(
                std::chrono::duration<double, std::milli>(Clock::now() - start).count());
            run.matches += host.frame.Finder().Total();
        }
        return run;
    };
    // Without the option first: its first keystroke also makes the catalogues; the option's
    // first one then makes the indexes.
    const Run plain = type(false);
    const Run users = type(true);
    const std::vector<double>& ms = plain.ms;
    const std::vector<double>& cpu = plain.cpu;
    const std::size_t matches = plain.matches;
    if (matches == 0 || users.matches < matches) {
        std::fprintf(stderr, "no text matched anything, or the option lost matches\n");
        return 1;
    }
    const std::vector<double> rest(ms.begin() + 1, ms.end());
    std::printf("windows: %d, items: %d\n", kWindows, kWindows * 1536);
    std::printf("matches per keystroke: %.0f\n", static_cast<double>(matches) / kKeystrokes);
    std::printf("first_keystroke_ms: %.1f\n", ms.front());
    std::printf("slowest_keystroke_ms: %.1f\n", *std::max_element(rest.begin(), rest.end()));
    std::printf("keystroke_cpu_ms: %.1f\n", Median({cpu.begin() + 1, cpu.end()}));
    std::printf("with Combinations using it: matches per keystroke: %.0f\n",
                static_cast<double>(users.matches) / kKeystrokes);
    std::printf("with Combinations using it: first_keystroke_ms: %.1f\n", users.ms.front());
    std::printf("with Combinations using it: slowest_keystroke_ms: %.1f\n",
                *std::max_element(users.ms.begin() + 1, users.ms.end()));
    std::printf("with Combinations using it: keystroke_cpu_ms: %.1f\n",
                Median({users.cpu.begin() + 1, users.cpu.end()}));
    std::printf("find_filter_users_ms: %.1f\n", Median({users.ms.begin() + 1, users.ms.end()}));
    std::printf("find_filter_ms: %.1f\n", Median(rest));
    return 0;
}
