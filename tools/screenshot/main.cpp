// bankquill-screenshot PCG PNG: starts the desktop program as `bankquill` does, opens PCG
// through File Open's own loading step, opens a few nodes and saves the main window as PNG.
// Meant to run under a virtual X server (scripts/screenshot.sh).
#include <QApplication>
#include <QMdiArea>
#include <QTimer>
#include <QTreeWidget>

#include <cstdio>

#include "midi/JackMidiServices.h"
#include "ui/BankquillApp.h"
#include "ui/MainFrame.h"
#include "ui/PCGBankView.h"
#include "ui/PCGFrame.h"

int main(int argc, char** argv) {
    QApplication qtApp(argc, argv);
    QStringList args = QApplication::arguments();
    if (args.size() != 3) {
        std::fprintf(stderr, "usage: bankquill-screenshot FILE.pcg OUT.png\n");
        return 2;
    }
    bq::midi::JackMidiServices services;
    CBankquillApp app(services);
    if (!app.InitInstance()) {
        return 1;
    }
    CMainFrame* frame = app.MainFrame();
    frame->resize(1000, 680);
    CPCGFrame* window = frame->OpenPCGFile(args[1]);
    if (window == nullptr) {
        std::fprintf(stderr, "bankquill-screenshot: cannot open %s\n", qPrintable(args[1]));
        return 1;
    }
    window->setGeometry(12, 10, 620, 470);
    CPCGBankView* view = window->BankView();
    QTreeWidgetItem* combinations = view->topLevelItem(0);
    combinations->setExpanded(true);
    if (combinations->childCount() > 0) {
        QTreeWidgetItem* bank = combinations->child(0);
        bank->setExpanded(true);
        if (bank->childCount() > 4) {
            view->setCurrentItem(bank->child(4));
        }
    }
    view->topLevelItem(1)->setExpanded(true);

    int status = 1;
    // Let the windows lay out and paint, and the idle work run, before the picture is taken.
    QTimer::singleShot(800, [&] {
        status = frame->grab().save(args[2], "PNG") ? 0 : 1;
        QApplication::quit();
    });
    QApplication::exec();
    if (status != 0) {
        std::fprintf(stderr, "bankquill-screenshot: cannot write %s\n", qPrintable(args[2]));
    }
    return status;
}
