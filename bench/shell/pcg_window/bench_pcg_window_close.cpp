// bench_pcg_window_close: whether closing a PCG window gives back what opening it took. The
// desktop program as it starts (CBankquillApp and its main window, started in the file's
// folder) on an X server of its own with the accessibility bus on, as a musician's desktop has
// it; the full-size demo PCG file is opened through File > Open (the file's name typed into
// the dialog, key by key, and Return) and its window closed through its own menu (Close), 45
// times. Prints the resident size and the heap in use after each fifth cycle, and last the
// growth of the resident size per cycle after the first five (the slope over those cycles), in
// KB (2^10 bytes).
#include <malloc.h>
#include <unistd.h>

#include <QAccessible>
#include <QAction>
#include <QApplication>
#include <QFileDialog>
#include <QFileInfo>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QTest>
#include <QTimer>
#include <QWindow>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <thread>
#include <vector>

#include "PcgWindowSetup.h"
#include "PrivateDesktop.h"
#include "shell/BankquillApp.h"
#include "shell/PCGFrame.h"

namespace {

constexpr int kDefaultCycles = 45;
constexpr int kWarmUp = 5;

// KB a cycle: the least-squares slope of the resident sizes from index `first` on. The
// resident size moves in steps of pages as the heap grows; the slope over every cycle is less
// at their mercy than two samples.
double Slope(const std::vector<double>& resident, std::size_t first) {
    double n = 0, sx = 0, sy = 0, sxx = 0, sxy = 0;
    for (std::size_t i = first; i < resident.size(); ++i) {
        const double x = static_cast<double>(i);
        n += 1;
        sx += x;
        sy += resident[i];
        sxx += x * x;
        sxy += x * resident[i];
    }
    return (n * sxy - sx * sy) / (n * sxx - sx * sx);
}

// Runs the event loop for `ms`: paints, deferred deletes, and the accessibility bus's traffic.
void RunFor(int ms) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (std::chrono::steady_clock::now() < end) {
        bench::Settle();
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    bench::Settle();
}

CPCGFrame* OpenWindow(CMainFrame* frame) {
    for (QMdiSubWindow* w : frame->MdiArea()->subWindowList()) {
        if (auto* pcg = qobject_cast<CPCGFrame*>(w)) {
            return pcg;
        }
    }
    return nullptr;
}

// File > Open, then the file typed into the dialog and Return, key by key through the dialog's
// window as a person types them: its name when the dialog is in its folder already (it opens
// in the folder of the last file), else its whole path; the whole path every time with
// `wholePath`. False when no window opened or the dialog did not take it within 20 s.
bool OpenThroughTheMenu(CMainFrame* frame, const QString& path, bool wholePath) {
    QTimer answer;
    answer.setInterval(10);
    int ticks = 0;
    bool typed = false;
    QObject::connect(&answer, &QTimer::timeout, [&] {
        auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        if (++ticks > 2000 && dialog != nullptr) {
            answer.stop();
            dialog->reject();
            return;
        }
        // Keys go to the window once it is on the screen, and with the event loop of its own
        // that the dialog runs while it is open.
        QWindow* window = dialog != nullptr ? dialog->windowHandle() : nullptr;
        if (typed || window == nullptr || !window->isExposed() ||
            dialog->focusWidget() == nullptr) {
            return;
        }
        typed = true;
        answer.stop();
        const QFileInfo file(path);
        const bool inFolder = dialog->directory() == file.absoluteDir();
        for (const QChar c : wholePath || !inFolder ? path : file.fileName()) {
            QTest::keyClick(window, c.toLatin1());
        }
        QTest::keyClick(window, Qt::Key_Return);
    });
    answer.start();
    frame->CommandAction(ID_FILE_OPEN)->trigger();
    return OpenWindow(frame) != nullptr;
}

// The window's own menu, Close.
bool CloseThroughItsMenu(QMdiSubWindow* window) {
    QMenu* menu = window->systemMenu();
    const QList<QAction*> actions = menu != nullptr ? menu->actions() : QList<QAction*>();
    for (QAction* action : actions) {
        if (action->text().remove(QLatin1Char('&')) == QLatin1String("Close")) {
            action->trigger();
            return true;
        }
    }
    return false;
}

}  // namespace

int main(int argc, char** argv) {
    // `bench_pcg_window_close [--whole-path] [CYCLES]`: the file's whole path typed every time;
    // another number of cycles (at least 6).
    bool wholePath = false;
    int cycles = kDefaultCycles;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--whole-path") == 0) {
            wholePath = true;
        } else {
            cycles = std::max(kWarmUp + 1, std::atoi(argv[i]));
        }
    }
    bench::PrivateDesktop desktop;
    if (!desktop.Ok()) {
        return 1;
    }
    ::setenv("QT_QPA_PLATFORM", "xcb", 1);
    ::setenv("QT_LINUX_ACCESSIBILITY_ALWAYS_ON", "1", 1);
    QApplication qtApp(argc, argv);
    bench::DemoFile demo;
    if (!demo.Ok()) {
        return 1;
    }
    // The program starts in the file's folder, where File Open's dialog opens. (A dialog that
    // opened elsewhere, reached by typing the whole path, would keep watching the folders on the
    // way, /tmp among them, whose files come and go with the rest of the machine's work.)
    std::error_code error;
    std::filesystem::current_path(std::filesystem::path(demo.Path()).parent_path(), error);
    bq::midi::JackMidiServices services("bankquill-bench");
    CBankquillApp app(services);
    if (!app.InitInstance()) {
        return 1;
    }
    CMainFrame* frame = app.MainFrame();
    // The bridge comes on once it has reached the accessibility bus.
    for (int i = 0; i < 200 && !QAccessible::isActive(); ++i) {
        RunFor(50);
    }
    if (!QAccessible::isActive()) {
        std::fprintf(stderr, "accessibility did not come on\n");
        return 1;
    }
    RunFor(500);

    const QString path = QString::fromStdString(demo.Path());
    std::vector<double> resident;
    for (int cycle = 1; cycle <= cycles; ++cycle) {
        if (!OpenThroughTheMenu(frame, path, wholePath)) {
            std::fprintf(stderr, "cycle %d: the file did not open\n", cycle);
            return 1;
        }
        RunFor(300);
        CPCGFrame* window = OpenWindow(frame);
        if (window == nullptr || !CloseThroughItsMenu(window)) {
            std::fprintf(stderr, "cycle %d: the window has no Close\n", cycle);
            return 1;
        }
        RunFor(300);
        if (OpenWindow(frame) != nullptr) {
            std::fprintf(stderr, "cycle %d: the window did not close\n", cycle);
            return 1;
        }
        resident.push_back(bench::ResidentBytes() / 1024.0);
        if (cycle % 5 == 0) {
            const struct mallinfo2 heap = ::mallinfo2();
            std::printf("cycle %d: resident %.0f KB, heap in use %.0f KB\n", cycle, resident.back(),
                        static_cast<double>(heap.uordblks) / 1024.0);
            std::fflush(stdout);
        }
    }
    std::printf("growth from cycle %d to %d: %.0f KB\n", kWarmUp, cycles,
                resident.back() - resident[kWarmUp - 1]);
    std::printf("pcg_window_close_growth_kb: %.1f\n", Slope(resident, kWarmUp - 1));
    return 0;
}
