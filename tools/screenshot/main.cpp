// bankquill-screenshot PCG PNG: starts the desktop program as `bankquill` does, opens PCG
// through File Open's own loading step, opens a few nodes and saves the main window as PNG.
// bankquill-screenshot --workstation PCG DOWNLOAD.png DRAG.png: the same with the Workstation
// window connected to an instrument on JACK (a virtual Karma): the screen during a bank
// download with its progress dialog, then during a drag from the PCG window onto it.
// bankquill-screenshot --backup PCG BACKUP.png: the Workstation window connected the same way,
// during File > Back Up Workstation, with its progress dialog at the fourth bank.
// bankquill-screenshot --find-compare PCG FIND.png COMPARE.png: PCG and a live set made from it
// (its Combination bank A with two pairs of slots swapped and three sounds edited) open beside
// the Workstation window: the live set after Tools > Compare With Workstation (its question
// answered Yes, bank A downloaded), then a find across the three windows.
// bankquill-screenshot --restore PCG RESTORE.png: the Workstation window connected the same way,
// during File > Restore Workstation of a backup made from PCG with a few slots changed: the
// question that counts what differs, bank by bank.
// Meant to run under a virtual X server (scripts/screenshot.sh).
#include <QApplication>
#include <QDir>
#include <QDockWidget>
#include <QEventLoop>
#include <QFile>
#include <QHelpEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMdiArea>
#include <QPushButton>
#include <QScreen>
#include <QSplitter>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolTip>
#include <QTreeWidget>
#include <QWindow>

#include <cstdint>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "messages/Messages.h"
#include "midi/JackMidiServices.h"
#include "model/PcgMemory.h"
#include "model/PcgWriter.h"
#include "shell/BankquillApp.h"
#include "shell/Comparison.h"
#include "shell/FindBar.h"
#include "shell/FindResults.h"
#include "shell/Finder.h"
#include "shell/MainFrame.h"
#include "shell/PCGBankView.h"
#include "shell/PCGFrame.h"
#include "tools/demo-pcg/DemoPcg.h"
#include "workstation/MIDIProgressDlg.h"
#include "workstation/RestoreDialog.h"
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
    for (int i = 0; i < 400 && !ws->IsConnected(); ++i) {
        RunFor(50);
    }
    auto* view = qobject_cast<CWSBankView*>(ws->BankView());
    if (!ws->IsConnected() || view == nullptr) {
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
    for (int i = 0; i < 400 && !ws->IsConnected(); ++i) {
        RunFor(50);
    }
    auto* view = qobject_cast<CWSBankView*>(ws->BankView());
    if (!ws->IsConnected() || view == nullptr) {
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

using Bytes = std::vector<unsigned char>;

void Put32(Bytes& out, std::uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8) {
        out.push_back(static_cast<unsigned char>(v >> shift));
    }
}

Bytes Chunk(const char* tag, const Bytes& content) {
    Bytes out(tag, tag + 4);
    Put32(out, static_cast<std::uint32_t>(content.size()));
    out.insert(out.end(), content.begin(), content.end());
    return out;
}

void Rename(Bytes& record, const std::string& name) {
    for (std::size_t i = 0; i < 16; ++i) {
        record[i] = i < name.size() ? static_cast<unsigned char>(name[i]) : ' ';
    }
}

// Combination bank A of the demo file as a musician may have rearranged it: two pairs of
// slots swapped (on the instrument elsewhere), two sounds renamed and one with a parameter
// changed (not on it); everything else as the instrument holds it.
Bytes LiveSet() {
    std::vector<Bytes> records;
    for (int slot = 0; slot < bq::demo::kSlots; ++slot) {
        records.push_back(bq::demo::CombiRecord(0, slot));
    }
    std::swap(records[2], records[5]);
    std::swap(records[7], records[9]);
    Rename(records[3], "Brass Stack");
    Rename(records[12], "Choir Pad");
    records[11][100] ^= 0x01;  // parameter bytes stay in MIDI range

    Bytes bank;
    Put32(bank, static_cast<std::uint32_t>(records.size()));
    Put32(bank, static_cast<std::uint32_t>(records.front().size()));
    Put32(bank, 0);  // bank A
    for (const Bytes& record : records) {
        bank.insert(bank.end(), record.begin(), record.end());
    }
    Bytes file = {'K', 'O', 'R', 'G', 0x5D, 0x00, 0x00, 0x00, 0, 1, 0, 0, 0, 0, 0, 0};
    const Bytes root = Chunk("PCG1", Chunk("CMB1", Chunk("CBK1", bank)));
    file.insert(file.end(), root.begin(), root.end());
    return file;
}

// Answers Yes to the program's questions, as the user wanting the picture would; any other
// message means that something failed, and is passed on to the terminal.
class YesPresenter : public bq::IMessagePresenter {
public:
    YesPresenter() : m_previous(bq::SetMessagePresenter(this)) {}
    ~YesPresenter() override { bq::SetMessagePresenter(m_previous); }
    YesPresenter(const YesPresenter&) = delete;
    YesPresenter& operator=(const YesPresenter&) = delete;

    int Show(const QString& text, unsigned style) override {
        if ((style & 0x0F) == bq::MB_YESNO) {
            // The first is the download's; any other (a search to try again) is worth a line.
            if (questions++ > 0) {
                std::fprintf(stderr, "bankquill-screenshot: answered Yes to: %s\n",
                             qPrintable(text));
            }
            return bq::IDYES;
        }
        std::fprintf(stderr, "bankquill-screenshot: the program said: %s\n", qPrintable(text));
        return bq::IDOK;
    }
    void Withdraw(int) override {}
    int Choose(const QString&, unsigned, const QStringList&, int, int escapeIndex) override {
        return escapeIndex;
    }

    int questions = 0;

private:
    bq::IMessagePresenter* m_previous;
};

int FindComparePictures(CMainFrame* frame, CPCGFrame* demo, const QString& findPath,
                        const QString& comparePath) {
    QTemporaryDir folder;
    const QString name = QStringLiteral("live-set.pcg");
    QFile out(QDir(folder.path()).filePath(name));
    const Bytes bytes = LiveSet();
    if (!folder.isValid() || !out.open(QIODevice::WriteOnly) ||
        out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<qint64>(bytes.size())) !=
            static_cast<qint64>(bytes.size())) {
        std::fprintf(stderr, "bankquill-screenshot: cannot write the live set\n");
        return 1;
    }
    out.close();
    // Opened by its name alone, as the demo file is, so that titles show only the name.
    QDir::setCurrent(folder.path());
    CPCGFrame* live = frame->OpenPCGFile(name);
    if (live == nullptr) {
        std::fprintf(stderr, "bankquill-screenshot: cannot open the live set\n");
        return 1;
    }

    // Tools > Compare With Workstation on the live set: it asks whether to download bank A,
    // connects the Workstation window and downloads it.
    YesPresenter answers;
    frame->ExecuteCommand(ID_TOOLS_COMPARE_WORKSTATION);
    CWSFrame* ws = frame->WorkstationFrame();
    auto* wsView = qobject_cast<CWSBankView*>(ws->BankView());
    if (!frame->Comparisons().Has(live) || answers.questions < 1 || wsView == nullptr) {
        std::fprintf(stderr, "bankquill-screenshot: the comparison did not run\n");
        return 1;
    }

    // The live set on the left (the demo file behind it), the Workstation on the right.
    QMdiArea* area = frame->MdiArea();
    const QSize room = area->viewport()->size();
    const QRect left(0, 0, room.width() * 3 / 5, room.height());
    demo->setGeometry(left);
    live->setGeometry(left);
    ws->setGeometry(left.width(), 0, room.width() - left.width(), room.height());
    area->setActiveSubWindow(live);
    live->Splitter()->setSizes({300, left.width() - 300});
    CPCGBankView* view = live->BankView();
    QTreeWidgetItem* bank = view->topLevelItem(0)->child(0);
    view->expandItem(view->topLevelItem(0));
    view->expandItem(bank);
    view->setCurrentItem(bank->child(2));
    QTreeWidgetItem* wsBank = wsView->topLevelItem(0)->child(0);
    wsView->expandItem(wsView->topLevelItem(0));
    wsView->expandItem(wsBank);
    RunFor(500);
    // The tip of a sound that the instrument holds in another slot, as hovering shows it.
    // Pointed at left of the name, so that the tip stays over the tree.
    const QPoint at(20, view->visualItemRect(bank->child(7)).center().y());
    QHelpEvent hover(QEvent::ToolTip, at, view->viewport()->mapToGlobal(at));
    QApplication::sendEvent(view->viewport(), &hover);
    RunFor(500);
    if (!GrabScreen(frame, nullptr, comparePath)) {
        std::fprintf(stderr, "bankquill-screenshot: cannot write %s\n", qPrintable(comparePath));
        return 1;
    }
    QToolTip::hideText();

    // Edit > Find with part of a name typed: the marks go first, so the picture shows the
    // find alone.
    frame->ExecuteCommand(ID_TOOLS_CLEAR_COMPARISON);
    area->tileSubWindows();
    frame->ExecuteCommand(ID_EDIT_FIND);
    if (frame->FindBar() == nullptr) {
        std::fprintf(stderr, "bankquill-screenshot: no find bar\n");
        return 1;
    }
    QTest::keyClicks(frame->FindBar()->Field(), QStringLiteral("bra"));
    for (int i = 0; i < 100 && frame->Finder().Counts().size() < 3; ++i) {
        RunFor(50);
    }
    RunFor(300);
    // A double click on the first result (the instrument's) brings its window forward with
    // the item selected; its pane names the other windows that hold the same sound.
    CFindResultsView* results = frame->FindResults();
    QTreeWidgetItem* first =
        results->topLevelItemCount() > 0 && results->topLevelItem(0)->childCount() > 0
            ? results->topLevelItem(0)->child(0)
            : nullptr;
    if (first == nullptr) {
        std::fprintf(stderr, "bankquill-screenshot: the find listed nothing\n");
        return 1;
    }
    QWindow* surface = frame->windowHandle();
    QTest::mouseDClick(surface, Qt::LeftButton, {},
                       surface->mapFromGlobal(ItemCentre(results, first)));
    RunFor(500);
    std::printf("bankquill-screenshot: the find shows %s\n",
                qPrintable(frame->Finder().CountsText()));
    if (frame->Finder().Counts().size() != 3 || !frame->FindResultsDock()->isVisible() ||
        area->activeSubWindow() != ws || wsView->currentItem() == nullptr ||
        !wsView->currentItem()->text(0).endsWith(first->text(0)) ||
        !GrabScreen(frame, nullptr, findPath)) {
        std::fprintf(stderr, "bankquill-screenshot: the find did not show\n");
        return 1;
    }
    return 0;
}

int RestorePicture(CMainFrame* frame, const QString& pcg, const QString& path) {
    CWSFrame* ws = frame->WorkstationFrame();
    frame->ExecuteCommand(ID_VIEW_WORKSTATION);
    for (int i = 0; i < 400 && !ws->IsConnected(); ++i) {
        RunFor(50);
    }
    if (!ws->IsConnected()) {
        std::fprintf(stderr, "bankquill-screenshot: no instrument found on JACK\n");
        return 1;
    }
    frame->MdiArea()->tileSubWindows();
    // A backup of two banks of the demo file, since which a few of their sounds were edited.
    bq::pcg::KarmaMemory demo;
    if (FAILED(bq::pcg::ReadPcgMemory(QFile::encodeName(pcg).toStdString(), &demo))) {
        return 1;
    }
    bq::pcg::KarmaMemory backup;
    backup.combis[0] = demo.combis[0];
    backup.programs[0] = demo.programs[0];
    for (std::size_t at : {3u * 996 + 20, 17u * 996 + 40, 64u * 996 + 100}) {
        backup.combis[0][at] ^= 0x01;
    }
    backup.programs[0][9 * 804 + 30] ^= 0x01;
    QTemporaryDir folder;
    const QString file =
        QDir(folder.path()).filePath(QStringLiteral("karma-backup-2026-12-01.pcg"));
    if (!bq::pcg::WritePcgFile(QFile::encodeName(file).toStdString(), backup).Succeeded()) {
        return 1;
    }
    bool taken = false;
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        auto* dialog = qobject_cast<CRestoreDialog*>(QApplication::activeModalWidget());
        if (taken || dialog == nullptr) {
            return;
        }
        RunFor(300);  // laid out and painted
        taken = GrabScreen(frame, dialog, path);
        dialog->reject();
    });
    watch.start(50);
    frame->RestoreWorkstation(file);
    watch.stop();
    if (!taken) {
        std::fprintf(stderr, "bankquill-screenshot: the restore's question did not show\n");
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
    const bool findCompare = args.size() == 5 && args[1] == QStringLiteral("--find-compare");
    const bool restore = args.size() == 4 && args[1] == QStringLiteral("--restore");
    if (args.size() != 3 && !workstation && !backup && !findCompare && !restore) {
        std::fprintf(stderr,
                     "usage: bankquill-screenshot FILE.pcg OUT.png\n"
                     "       bankquill-screenshot --workstation FILE.pcg DOWNLOAD.png DRAG.png\n"
                     "       bankquill-screenshot --backup FILE.pcg BACKUP.png\n"
                     "       bankquill-screenshot --find-compare FILE.pcg FIND.png COMPARE.png\n"
                     "       bankquill-screenshot --restore FILE.pcg RESTORE.png\n");
        return 2;
    }
    if (workstation || backup || findCompare || restore) {
        args.removeAt(1);
    }
    bq::midi::JackMidiServices services;
    CBankquillApp app(services);
    if (!app.InitInstance()) {
        return 1;
    }
    CMainFrame* frame = app.MainFrame();
    // The find and the comparison need room for three windows and the find's list.
    frame->resize(findCompare ? QSize(1240, 780) : QSize(1000, 680));
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
    if (findCompare) {
        return FindComparePictures(frame, window, args[2], args[3]);
    }
    if (restore) {
        return RestorePicture(frame, args[1], args[2]);
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
