// bench_pcg_window: opens the full-size demo PCG file (1,536 items) into a PCG window through
// CMainFrame::OpenPCGFile, the function File Open calls, until the window has painted; and, in
// the same run, fills a plain QTreeWidget in a plain MDI window of the same main window with the
// same 1,536 texts in the same shape (2 groups, 12 banks) until it has painted. Prints the ratio
// of the medians.
#include <QApplication>
#include <QEvent>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QTreeWidget>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

#include "PcgWindowSetup.h"
#include "model/KorgPCGFile.h"
#include "shell/PCGBankView.h"
#include "shell/PCGFrame.h"
#include "tools/demo-pcg/DemoPcg.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kRounds = 61;

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// Counts paints of one widget, so that a round that never painted is caught, not timed.
class PaintCounter : public QObject {
public:
    int paints = 0;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Paint) {
            ++paints;
        }
        return QObject::eventFilter(watched, event);
    }
};

// The texts the PCG view shows, made before the clock starts so that the plain tree only fills.
struct Texts {
    QStringList groups;
    QList<QStringList> banks;  // 12: six Combination banks, then six Program banks
    QList<QStringList> items;  // 128 texts for each bank
};

Texts MakeTexts() {
    Texts texts;
    texts.groups = {QStringLiteral("Combinations"), QStringLiteral("Programs")};
    for (int kind = 0; kind < 2; ++kind) {
        for (int b = 0; b < bq::demo::kBanks; ++b) {
            texts.banks.append({QStringLiteral("Bank %1").arg(QChar(u'A' + b))});
            QStringList names;
            for (int s = 0; s < bq::demo::kSlots; ++s) {
                const std::string name =
                    kind == 0 ? bq::demo::CombiName(b, s) : bq::demo::ProgramName(b, s);
                names.append(QStringLiteral("%1 : %2")
                                 .arg(s, 3, 10, QLatin1Char('0'))
                                 .arg(QString::fromStdString(name)));
            }
            texts.items.append(names);
        }
    }
    return texts;
}

QMdiSubWindow* OpenPlainTree(QMdiArea* area, const Texts& texts, PaintCounter* counter) {
    auto* window = new QMdiSubWindow;
    window->setAttribute(Qt::WA_DeleteOnClose);
    auto* tree = new QTreeWidget(window);
    tree->setHeaderHidden(true);
    for (int kind = 0; kind < 2; ++kind) {
        auto* group = new QTreeWidgetItem(tree, QStringList{texts.groups[kind]});
        for (int b = 0; b < bq::demo::kBanks; ++b) {
            const int bank = kind * bq::demo::kBanks + b;
            auto* bankNode = new QTreeWidgetItem(group, texts.banks[bank]);
            for (const QString& text : texts.items[bank]) {
                new QTreeWidgetItem(bankNode, QStringList{text});
            }
        }
    }
    tree->viewport()->installEventFilter(counter);
    window->setWidget(tree);
    area->addSubWindow(window);
    window->resize(600, 420);
    window->show();
    return window;
}

}  // namespace

int main(int argc, char** argv) {
    bench::UseOffscreenPlatform();
    QApplication app(argc, argv);
    bench::DemoFile demo;
    if (!demo.Ok()) {
        return 1;
    }
    const QString path = QString::fromStdString(demo.Path());
    const Texts texts = MakeTexts();
    bench::IdleMainWindow host;

    std::vector<double> windows;
    std::vector<double> plains;
    std::vector<double> loads;  // the file alone, to tell how much of a window's time it takes
    int failures = 0;
    // Interleaved, so that both see the same machine state; round 0 warms caches and is dropped.
    for (int round = 0; round <= kRounds; ++round) {
        PaintCounter windowPaints;
        const auto t0 = Clock::now();
        CPCGFrame* frame = host.frame.OpenPCGFile(path);
        if (frame != nullptr) {
            frame->BankView()->viewport()->installEventFilter(&windowPaints);
        }
        QApplication::processEvents();
        const auto t1 = Clock::now();
        if (frame == nullptr || frame->BankView()->topLevelItemCount() != 2) {
            ++failures;
        } else {
            frame->close();
        }
        bench::Settle();

        PaintCounter plainPaints;
        const auto t2 = Clock::now();
        QMdiSubWindow* plain = OpenPlainTree(host.frame.MdiArea(), texts, &plainPaints);
        QApplication::processEvents();
        const auto t3 = Clock::now();
        plain->close();
        bench::Settle();

        const auto t4 = Clock::now();
        {
            CKorgPCGFile file;
            failures += FAILED(file.Load(demo.Path().c_str()));
        }
        const auto t5 = Clock::now();

        if (windowPaints.paints == 0 || plainPaints.paints == 0) {
            std::fprintf(stderr, "round %d: a window was not painted before the clock stopped\n",
                         round);
            ++failures;
        }
        if (round > 0) {
            windows.push_back(std::chrono::duration<double, std::milli>(t1 - t0).count());
            plains.push_back(std::chrono::duration<double, std::milli>(t3 - t2).count());
            loads.push_back(std::chrono::duration<double, std::milli>(t5 - t4).count());
        }
    }
    if (failures != 0) {
        std::fprintf(stderr, "%d rounds failed\n", failures);
        return 1;
    }
    const double window = Median(windows);
    const double plain = Median(plains);
    std::printf("rounds: %d\n", kRounds);
    std::printf("pcg_window_median_ms: %.2f\n", window);
    std::printf("qtreewidget_median_ms: %.2f\n", plain);
    std::printf("pcg_load_alone_median_ms: %.2f\n", Median(loads));
    std::printf("pcg_window_vs_qtreewidget_ratio: %.2f\n", window / plain);
    return 0;
}
