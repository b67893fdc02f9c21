// bankquill-screenshot PCG PNG: starts the desktop program as `bankquill` does, opens PCG
// through File Open's own loading step, opens a few nodes and saves the main window as PNG.
// bankquill-screenshot --workstation PCG DOWNLOAD.png DRAG.png: the same with the Workstation
// window connected to an instrument on JACK (a virtual Karma): the screen during a bank
// download with its progress dialog, then during a drag from the PCG window onto it.
// bankquill-screenshot --backup PCG BACKUP.png: the Workstation window connected the same way,
// during File > Back Up Workstation, with its progress dialog at the fourth bank.
// Meant to run under a virtual X server (scripts/screenshot.sh).
#include <QApplication>
#include <QDir>
#include <QEventLoop>
#include <QLabel>
#include <QMdiArea>
#include <QPushButton>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <QWindow>

#include <cstdio>

#include "midi/JackMidiServices.h"
#include "shell/BankquillApp.h"
#include "shell/MainFrame.h"
#include "shell/PCGBankView.h"
#include "shell/PCGFrame.h"
#include "workstation/MIDIProgressDlg.h"
#include "workstation/WSBackup.h"
#include "workstation/WSBankView.h"
#include "workstation/WSFrame.h"
#include "workstation/WSTransport.h"

namespace {

void RunFor(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

// What the screen shows of the main window and of `dialog` over it (top-level windows of
// their own, which a grab of the main window alone would miss).
bool GrabScreen(QWidget* window, QWidget* dialog, const QString& path) {
    QRect area = window->frameGeometry();
    if (dialog != nullptr && dialog->isVisible()) {
        area |= dialog->frameGeometry();
    }
    return window->screen()
        ->grabWindow(0, area.x(), area.y(), area.width(), area.height())
        .save(path, "PNG");
}

QPoint ItemCentre(QTreeWidget* view, QTreeWidgetItem* item) {
    view->scrollToItem(item);
    return view->viewport()->mapToGlobal(view->visualItemRect(item).center());
}

int WorkstationPictures(CMainFrame* frame, CPCGFrame* window, const QString& downloadPath,
                        const QString& dragPath) {
    CWSFrame* ws = frame->WorkstationFrame();
    frame->ExecuteCommand(ID_VIEW_WORKSTATION);
    for (int i = 0; i < 400 && ws->Transport().InputHandle() == 0; ++i) {
        RunFor(50);
    }
    auto* view = qobject_cast<CWSBankView*>(ws->BankView());
    if (ws->Transport().InputHandle() == 0 || view == nullptr) {
        std::fprintf(stderr, "bankquill-screenshot: no instrument found on JACK\n");
        return 1;
    }
    frame->MdiArea()->tileSubWindows();
    CPCGBankView* pcgView = window->BankView();
    QTreeWidgetItem* pcgBank = pcgView->topLevelItem(0)->child(0);
    pcgView->expandItem(pcgView->topLevelItem(0));
    pcgView->expandItem(pcgBank);
    view->expandItem(view->topLevelItem(0));
    view->expandItem(view->topLevelItem(1));
    RunFor(300);

    // The picture is taken from inside the download's wait, halfway through.
    bool taken = false;
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        CMIDIProgressDlg* dialog = ws->ProgressDialog();
        if (!taken && dialog != nullptr && dialog->Received() >= dialog->Expected() / 2) {
            taken = GrabScreen(frame, dialog, downloadPath);
        }
    });
    watch.start(50);
    QTreeWidgetItem* wsBank = view->topLevelItem(0)->child(0);
    view->expandItem(wsBank);
    watch.stop();
    if (!taken || wsBank->childCount() < 11 || pcgBank->childCount() < 4) {
        std::fprintf(stderr, "bankquill-screenshot: the download did not show\n");
        return 1;
    }

    // A Combination of the file held over one of the instrument; never let go, so nothing is
    // written. The pointer goes through the main window, as the X server's would.
    QWindow* surface = frame->windowHandle();
    const QPoint from = ItemCentre(pcgView, pcgBank->child(3));
    const QPoint to = ItemCentre(view, wsBank->child(10));
    QTest::mousePress(surface, Qt::LeftButton, {}, surface->mapFromGlobal(from));
    QTest::mouseMove(surface, surface->mapFromGlobal((from + to) / 2));
    QTest::mouseMove(surface, surface->mapFromGlobal(to));
    RunFor(500);
    if (!pcgView->IsDragging() || !GrabScreen(frame, nullptr, dragPath)) {
        std::fprintf(stderr, "bankquill-screenshot: cannot show the drag\n");
        return 1;
    }
    return 0;
}

int BackupPicture(CMainFrame* frame, CPCGFrame* window, const QString& path) {
    CWSFrame* ws = frame->WorkstationFrame();
    frame->ExecuteCommand(ID_VIEW_WORKSTATION);
    for (int i = 0; i < 400 && ws->Transport().InputHandle() == 0; ++i) {
        RunFor(50);
    }
    auto* view = qobject_cast<CWSBankView*>(ws->BankView());
    if (ws->Transport().InputHandle() == 0 || view == nullptr) {
        std::fprintf(stderr, "bankquill-screenshot: no instrument found on JACK\n");
        return 1;
    }
    frame->MdiArea()->tileSubWindows();
    window->BankView()->expandItem(window->BankView()->topLevelItem(0));
    view->expandItem(view->topLevelItem(0));
    view->expandItem(view->topLevelItem(1));
    RunFor(300);

    // Taken from inside the backup, a third of the way through Combination bank D; then the
    // backup is cancelled, as the picture is all that is wanted of it.
    const QString fourth = CWSBackup::BankStepText(3);
    bool taken = false;
    std::uint32_t bankStart = 0;
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        CMIDIProgressDlg* dialog = ws->ProgressDialog();
        if (taken || dialog == nullptr) {
            return;
        }
        if (dialog->findChild<QLabel*>("statusText")->text() != fourth) {
            bankStart = dialog->Received();
        } else if (dialog->Received() >= bankStart + 50000) {
            taken = GrabScreen(frame, dialog, path);
            dialog->findChild<QPushButton*>("cancelButton")->click();
        }
    });
    watch.start(50);
    QTemporaryDir folder;
    frame->BackUpWorkstation(QDir(folder.path()).filePath(QStringLiteral("karma.pcg")));
    watch.stop();
    if (!taken) {
        std::fprintf(stderr, "bankquill-screenshot: the backup did not show\n");
        return 1;
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    QApplication qtApp(argc, argv);
    QStringList args = QApplication::arguments();
    const bool workstation = args.size() == 5 && args[1] == QStringLiteral("--workstation");
    const bool backup = args.size() == 4 && args[1] == QStringLiteral("--backup");
    if (args.size() != 3 && !workstation && !backup) {
        std::fprintf(stderr,
                     "usage: bankquill-screenshot FILE.pcg OUT.png\n"
                     "       bankquill-screenshot --workstation FILE.pcg DOWNLOAD.png DRAG.png\n"
                     "       bankquill-screenshot --backup FILE.pcg BACKUP.png\n");
        return 2;
    }
    if (workstation || backup) {
        args.removeAt(1);
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
    if (workstation) {
        return WorkstationPictures(frame, window, args[2], args[3]);
    }
    if (backup) {
        return BackupPicture(frame, window, args[2]);
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
