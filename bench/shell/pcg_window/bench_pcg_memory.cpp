// bench_pcg_memory: the resident size that each full-size PCG window adds. The main window is
// shown and idle first; then ten windows on the demo file (1,536 items each) are opened through
// CMainFrame::OpenPCGFile, the function File Open calls, and painted. Prints the growth of the
// resident set divided by ten, in MB (2^20 bytes).
#include <unistd.h>

#include <QApplication>
#include <QMdiArea>

#include <cstdio>
#include <fstream>

#include "PcgWindowSetup.h"
#include "shell/PCGBankView.h"
#include "shell/PCGFrame.h"

namespace {

constexpr int kWindows = 10;

}  // namespace

int main(int argc, char** argv) {
    bench::UseOffscreenPlatform();
    QApplication app(argc, argv);
    bench::DemoFile demo;
    if (!demo.Ok()) {
        return 1;
    }
    const QString path = QString::fromStdString(demo.Path());
    bench::IdleMainWindow host;

    const double before = bench::ResidentBytes();
    int opened = 0;
    for (int i = 0; i < kWindows; ++i) {
        CPCGFrame* frame = host.frame.OpenPCGFile(path);
        opened += frame != nullptr && frame->BankView()->topLevelItemCount() == 2;
        bench::Settle();
    }
    const double after = bench::ResidentBytes();
    if (opened != kWindows || before < 0 || after < 0) {
        std::fprintf(stderr, "opened %d of %d windows; resident before %.0f, after %.0f\n", opened,
                     kWindows, before, after);
        return 1;
    }
    constexpr double kMB = 1024.0 * 1024.0;
    std::printf("windows: %d\n", kWindows);
    std::printf("rss_before_mb: %.2f\n", before / kMB);
    std::printf("rss_after_mb: %.2f\n", after / kMB);
    std::printf("pcg_window_rss_mb_each: %.2f\n", (after - before) / kWindows / kMB);
    return 0;
}
