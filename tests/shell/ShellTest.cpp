#include <gtest/gtest.h>

#include <QAbstractEventDispatcher>
#include <QAction>
#include <QApplication>
#include <QFileDialog>
#include <QIcon>
#include <QLabel>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QMenuBar>
#include <QStatusBar>
#include <QStatusTipEvent>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QTreeView>

#include <algorithm>
#include <memory>

#include "UiTestSupport.h"
#include "banktree/CommandTarget.h"
#include "midi/SysEx.h"
#include "midi/loopback/LoopbackMidiServices.h"
#include "shell/AboutDialog.h"
#include "tests/support/qt/QtPrinters.h"
#include "workstation/WSFrame.h"
#include "workstation/WSTransport.h"

using bq::test::MainFrameTest;

namespace {

// A menu as "text" lines, separators as "-", disabled items marked "(off)".
QStringList Describe(QMenu* menu) {
    QStringList lines;
    for (QAction* action : menu->actions()) {
        if (action->isSeparator()) {
            lines << QStringLiteral("-");
        } else {
            lines << action->text() + (action->isEnabled() ? QString() : QStringLiteral(" (off)"));
        }
    }
    return lines;
}

QMenu* Menu(CMainFrame& frame, const QString& title) {
    for (QAction* action : frame.menuBar()->actions()) {
        if (action->text() == title) {
            return action->menu();
        }
    }
    return nullptr;
}

// An event loop that waits for its timer, which is when idle work happens.
void IdleTime() {
    QEventLoop loop;
    QTimer::singleShot(20, &loop, &QEventLoop::quit);
    loop.exec();
}

// Answers the Identity Request as a Karma would, and nothing else. Runs on the loopback's thread.
class IdentityOnly final : public bq::midi::IMidiDevice {
public:
    void HandleMessage(const std::uint8_t* message, std::size_t length,
                       std::vector<bq::midi::MidiTimedBytes>* reply) override {
        const auto request = bq::sysex::IdentityRequest();
        if (length == request.size() && std::equal(request.begin(), request.end(), message)) {
            reply->push_back({0,
                              {0xF0, 0x7E, 0x00, 0x06, 0x02, 0x42, 0x5D, 0x00, 0x05, 0x00, 0x01,
                               0x00, 0x00, 0xF7}});
        }
    }
};

// Counts the calls that reach the MIDI services (the program's thread only), passing them on.
class CountingServices final : public bq::midi::IMidiServices {
public:
    explicit CountingServices(bq::midi::IMidiServices& inner) : m(inner) {}
    int calls = 0;

    std::uint32_t InGetNumDevs() override { return ++calls, m.InGetNumDevs(); }
    std::uint32_t OutGetNumDevs() override { return ++calls, m.OutGetNumDevs(); }
    bq::midi::MidiResult InGetDevCaps(std::uint32_t device, std::string* name) override {
        return ++calls, m.InGetDevCaps(device, name);
    }
    bq::midi::MidiResult OutGetDevCaps(std::uint32_t device, std::string* name) override {
        return ++calls, m.OutGetDevCaps(device, name);
    }
    bq::midi::MidiResult InOpen(bq::midi::HMIDIIN* input, std::uint32_t device,
                                bq::midi::MidiInProc callback, std::uintptr_t instance) override {
        return ++calls, m.InOpen(input, device, callback, instance);
    }
    // Also from the input callback, on the MIDI thread: passed on, not counted.
    bq::midi::MidiResult InAddBuffer(bq::midi::HMIDIIN input,
                                     std::unique_ptr<bq::midi::MidiBuffer> buffer) override {
        return m.InAddBuffer(input, std::move(buffer));
    }
    bq::midi::MidiResult InStart(bq::midi::HMIDIIN input) override {
        return ++calls, m.InStart(input);
    }
    bq::midi::MidiResult InStop(bq::midi::HMIDIIN input) override {
        return ++calls, m.InStop(input);
    }
    bq::midi::MidiResult InReset(bq::midi::HMIDIIN input) override {
        return ++calls, m.InReset(input);
    }
    bq::midi::MidiResult InClose(bq::midi::HMIDIIN input) override {
        return ++calls, m.InClose(input);
    }
    bq::midi::MidiResult OutOpen(bq::midi::HMIDIOUT* output, std::uint32_t device,
                                 std::shared_ptr<bq::midi::MidiEvent> event) override {
        return ++calls, m.OutOpen(output, device, std::move(event));
    }
    bq::midi::MidiResult OutLongMsg(bq::midi::HMIDIOUT output, const std::uint8_t* data,
                                    std::size_t length) override {
        return ++calls, m.OutLongMsg(output, data, length);
    }
    bq::midi::MidiResult OutReset(bq::midi::HMIDIOUT output) override {
        return ++calls, m.OutReset(output);
    }
    bq::midi::MidiResult OutClose(bq::midi::HMIDIOUT output) override {
        return ++calls, m.OutClose(output);
    }
    std::string InGetErrorText(bq::midi::MidiResult result) override {
        return m.InGetErrorText(result);
    }
    std::string OutGetErrorText(bq::midi::MidiResult result) override {
        return m.OutGetErrorText(result);
    }

private:
    bq::midi::IMidiServices& m;
};

// A document window whose content answers the Initialise commands like a tree selection.
class CommandWindow : public QMdiSubWindow, public ICommandTarget {
public:
    int enabledId = 0;
    QList<int> executed;
    bool OnUpdateCommand(int id, bool* enabled) override {
        if (id < ID_PROGRAM_INITIALISE || id > ID_BANK_INITIALISE) {
            return false;
        }
        *enabled = id == enabledId;
        return true;
    }
    bool OnCommand(int id) override {
        executed << id;
        return true;
    }
};

}  // namespace

TEST_F(MainFrameTest, MenuBarReadsAsTheCommandTable) {
    QStringList titles;
    for (QAction* action : frame->menuBar()->actions()) {
        titles << action->text();
    }
    EXPECT_EQ(titles, QStringList({"&File", "&Edit", "&View", "&Bank", "&Program", "&Combination",
                                   "&Tools", "&Window", "&Help"}));
    frame->UpdateCommandUI();
    EXPECT_EQ(Describe(Menu(*frame, "&File")),
              QStringList({"&Open...	Ctrl+O", "&Back Up Workstation...	Ctrl+B",
                           "&Restore Workstation...", "&Export List... (off)", "-",
                           "Recent File (off)", "-", "E&xit"}));
    EXPECT_EQ(Describe(Menu(*frame, "&Edit")),
              QStringList({"&Undo	Ctrl+Z (off)", "&Redo	Ctrl+Shift+Z (off)", "-",
                           "&Find...	Ctrl+F"}));
    EXPECT_EQ(Describe(Menu(*frame, "&View")), QStringList({"&Workstation\tCtrl+W"}));
    EXPECT_EQ(Describe(Menu(*frame, "&Bank")), QStringList({"&Initialise (off)"}));
    EXPECT_EQ(Describe(Menu(*frame, "&Program")), QStringList({"&Initialise (off)"}));
    EXPECT_EQ(Describe(Menu(*frame, "&Combination")), QStringList({"&Initialise (off)"}));
    EXPECT_EQ(Describe(Menu(*frame, "&Tools")),
              QStringList({"&Options... (off)", "-", "Compare With &Workstation (off)",
                           "C&lear Comparison (off)"}));
    EXPECT_EQ(Describe(Menu(*frame, "&Window")), QStringList({"&Close All (off)"}));
    EXPECT_EQ(Describe(Menu(*frame, "&Help")), QStringList({"&About..."}));

    EXPECT_EQ(frame->CommandAction(ID_FILE_OPEN)->shortcut(), QKeySequence("Ctrl+O"));
    EXPECT_EQ(frame->CommandAction(ID_VIEW_WORKSTATION)->shortcut(), QKeySequence("Ctrl+W"));
    EXPECT_EQ(frame->CommandAction(ID_EDIT_FIND)->shortcut(), QKeySequence("Ctrl+F"));
    EXPECT_EQ(frame->CommandAction(ID_NEXT_PANE)->shortcut(), QKeySequence("F6"));
    EXPECT_EQ(frame->CommandAction(ID_PREV_PANE)->shortcut(), QKeySequence("Shift+F6"));
    EXPECT_EQ(frame->CommandAction(ID_FILE_MRU_FILE1)->statusTip(), "Open this document");
    EXPECT_EQ(frame->CommandAction(ID_APP_EXIT)->statusTip(),
              "Quit the application; prompts to save documents");
    EXPECT_EQ(frame->CommandAction(ID_VIEW_WORKSTATION)->statusTip(),
              "Connect and display Workstation View...");
    EXPECT_EQ(frame->CommandAction(ID_BANK_INITIALISE)->statusTip(),
              "Initialise the contents of the whole bank");
}

TEST_F(MainFrameTest, InitialiseCommandsFollowTheActiveViewAndTheOthersStayOff) {
    auto* window = new CommandWindow;
    window->setWidget(new QLabel(QStringLiteral("view")));
    frame->MdiArea()->addSubWindow(window);
    window->show();
    frame->MdiArea()->setActiveSubWindow(window);

    for (int id : {ID_BANK_INITIALISE, ID_PROGRAM_INITIALISE, ID_COMBINATION_INITIALISE}) {
        SCOPED_TRACE(id);
        // This view says nothing when it changes its mind (a real one signals its selection):
        // the commands follow when a menu opens.
        window->enabledId = id;
        emit Menu(*frame, "&Bank")->aboutToShow();
        for (int other : {ID_BANK_INITIALISE, ID_PROGRAM_INITIALISE, ID_COMBINATION_INITIALISE}) {
            EXPECT_EQ(frame->CommandAction(other)->isEnabled(), other == id);
        }
        for (int never : {ID_FILE_MRU_FILE1, ID_TOOLS_OPTIONS, ID_WINDOW_CLOSE_ALL}) {
            EXPECT_FALSE(frame->CommandAction(never)->isEnabled());
        }
        frame->CommandAction(id)->trigger();
        EXPECT_EQ(window->executed.last(), id);
    }

    // The target's rule still holds when the command arrives while it says no.
    window->enabledId = ID_BANK_INITIALISE;
    EXPECT_FALSE(frame->ExecuteCommand(ID_PROGRAM_INITIALISE));
    EXPECT_EQ(window->executed.size(), 3);

    // Without an active view that knows them, they are off.
    window->close();
    window->deleteLater();
    Idle();
    EXPECT_FALSE(frame->CommandAction(ID_BANK_INITIALISE)->isEnabled());
    EXPECT_FALSE(frame->CommandAction(ID_NEXT_PANE)->isEnabled());
    EXPECT_FALSE(frame->ExecuteCommand(ID_NEXT_PANE));
}

TEST_F(MainFrameTest, ToolbarHasOpenSeparatorAboutWithTipsAndADialogBarBeside) {
    QList<QAction*> actions = frame->ToolBar()->actions();
    ASSERT_EQ(actions.size(), 3);
    EXPECT_EQ(actions[0], frame->CommandAction(ID_FILE_OPEN));
    EXPECT_TRUE(actions[1]->isSeparator());
    EXPECT_EQ(actions[2], frame->CommandAction(ID_APP_ABOUT));
    EXPECT_EQ(actions[0]->toolTip(), "Open");
    EXPECT_EQ(actions[0]->statusTip(), "Open an existing document");
    EXPECT_EQ(actions[2]->toolTip(), "About");
    EXPECT_EQ(actions[2]->statusTip(), "Display program information, version number and copyright");
    EXPECT_FALSE(actions[0]->icon().isNull());
    EXPECT_FALSE(actions[2]->icon().isNull());

    ASSERT_NE(frame->DialogBar(), nullptr);
    EXPECT_EQ(frame->toolBarArea(frame->DialogBar()), Qt::TopToolBarArea);
    EXPECT_EQ(frame->toolBarArea(frame->ToolBar()), Qt::TopToolBarArea);
    EXPECT_FALSE(frame->toolBarBreak(frame->DialogBar()));
    EXPECT_TRUE(frame->DialogBar()->isVisible());
}

TEST_F(MainFrameTest, MessagePaneShowsThePromptWhileHighlightedThenReady) {
    EXPECT_EQ(frame->MessagePane()->text(), "Ready");
    EXPECT_EQ(frame->MIDIStatusPane()->width(), 500);

    // Hovering the Open button sends its prompt up to the main window.
    QWidget* button = frame->ToolBar()->widgetForAction(frame->CommandAction(ID_FILE_OPEN));
    ASSERT_NE(button, nullptr);
    QStatusTipEvent enter(frame->CommandAction(ID_FILE_OPEN)->statusTip());
    QApplication::sendEvent(button, &enter);
    EXPECT_EQ(frame->MessagePane()->text(), "Open an existing document");
    EXPECT_TRUE(frame->statusBar()->currentMessage().isEmpty());
    QStatusTipEvent leave{QString()};
    QApplication::sendEvent(button, &leave);
    EXPECT_EQ(frame->MessagePane()->text(), "Ready");

    // A highlighted menu item does the same.
    QMenu* help = Menu(*frame, "&Help");
    help->popup(QPoint(10, 10));
    help->setActiveAction(frame->CommandAction(ID_APP_ABOUT));
    EXPECT_EQ(frame->MessagePane()->text(),
              "Display program information, version number and copyright");
    help->close();
}

TEST_F(MainFrameTest, ViewWorkstationShowsItOnceAndTheStatusPaneFollowsTheWindow) {
    CWSFrame* ws = frame->WorkstationFrame();
    ASSERT_NE(ws, nullptr);
    EXPECT_FALSE(ws->isVisible());
    Idle();
    EXPECT_EQ(frame->MIDIStatusPane()->text(), "MIDI Status: Not Connected");
    EXPECT_TRUE(frame->MIDIStatusPane()->isEnabled());

    EXPECT_TRUE(frame->ExecuteCommand(ID_VIEW_WORKSTATION));
    EXPECT_TRUE(ws->isVisible());
    EXPECT_EQ(frame->MIDIStatusPane()->text(), "MIDI Status: Searching for Workstation...");

    // Again while visible: only the focus goes there, the pane is left alone.
    frame->MIDIStatusPane()->setText(QStringLiteral("untouched"));
    EXPECT_TRUE(frame->ExecuteCommand(ID_VIEW_WORKSTATION));
    EXPECT_EQ(frame->MIDIStatusPane()->text(), "untouched");
    EXPECT_TRUE(ws->isVisible());

    // Hidden (as a failed search or its close box leaves it), the pane says so again.
    ws->hide();
    presenter.Clear();
    Idle();
    EXPECT_EQ(frame->MIDIStatusPane()->text(), "MIDI Status: Not Connected");
    EXPECT_EQ(frame->windowTitle(), "Bankquill");
}

// The status pane through a search, with idle time passing in its waits: "Searching" until
// the search has connected, then the connection. Idle time itself never asks the MIDI
// services (their thread may be inside a server that hangs): the pane follows the changes.
TEST(MainFrameSearch, TheStatusPaneSaysSearchingUntilTheSearchHasEnded) {
    bq::test::ScriptedPresenter presenter;
    // Output 0 is silent: the Karma on output 1 is found after output 0's 500 ms.
    bq::midi::LoopbackMidiServices loopback({"Karma In"}, {"Out 0", "Karma Out"});
    loopback.AttachDevice(1, 0, std::make_shared<IdentityOnly>());
    CountingServices counting(loopback);
    CMainFrame main(counting);
    bq::SetMainWindow(&main);
    main.resize(1000, 700);
    main.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&main));
    CWSFrame* ws = main.WorkstationFrame();
    QLabel* pane = main.MIDIStatusPane();

    QString during;
    QTimer::singleShot(300, &main, [&] { during = pane->text(); });
    ASSERT_TRUE(main.ExecuteCommand(ID_VIEW_WORKSTATION));
    ASSERT_TRUE(QTest::qWaitFor([&] { return ws->IsConnected(); }, 5000));
    IdleTime();
    EXPECT_EQ(during, "MIDI Status: Searching for Workstation...");
    EXPECT_EQ(pane->text(), "MIDI Status: Connected [In: Karma In, Out: Karma Out]");

    const int connectedCalls = counting.calls;
    int idlePasses = 0;
    QObject::connect(QAbstractEventDispatcher::instance(), &QAbstractEventDispatcher::aboutToBlock,
                     &main, [&] { ++idlePasses; });
    for (int i = 0; i < 500 && idlePasses < 20; ++i) {
        IdleTime();
    }
    ASSERT_GE(idlePasses, 20);
    EXPECT_EQ(counting.calls, connectedCalls) << "idle passes called the MIDI services";
    EXPECT_EQ(pane->text(), "MIDI Status: Connected [In: Karma In, Out: Karma Out]");

    // Closing the window closes the ports, and the pane says so without idle time.
    ws->close();
    EXPECT_FALSE(ws->IsConnected());
    EXPECT_EQ(pane->text(), "MIDI Status: Not Connected");

    bq::SetMainWindow(nullptr);
}

TEST_F(MainFrameTest, CtrlWReachesViewWorkstationEvenFromADocumentWindow) {
    auto* doc = new QMdiSubWindow;
    doc->setWidget(new QLabel(QStringLiteral("doc")));
    frame->MdiArea()->addSubWindow(doc);
    doc->show();
    doc->widget()->setFocus();
    Idle();
    QTest::keyClick(frame.get(), Qt::Key_W, Qt::ControlModifier);
    EXPECT_TRUE(frame->WorkstationFrame()->isVisible());
    EXPECT_TRUE(doc->isVisible());  // not closed by its own menu's Ctrl+W
}

TEST_F(MainFrameTest, TitleAddsTheActiveDocumentWindow) {
    EXPECT_EQ(frame->windowTitle(), "Bankquill");
    auto* doc = new QMdiSubWindow;
    doc->setWidget(new QLabel(QStringLiteral("doc")));
    doc->setWindowTitle(QStringLiteral("PCG File - [/tmp/a.pcg]"));
    frame->MdiArea()->addSubWindow(doc);
    doc->show();
    frame->MdiArea()->setActiveSubWindow(doc);
    Idle();
    EXPECT_EQ(frame->windowTitle(), "Bankquill - PCG File - [/tmp/a.pcg]");
    doc->showMaximized();
    Idle();
    EXPECT_EQ(frame->windowTitle(), "Bankquill - [PCG File - [/tmp/a.pcg]]");
    doc->close();
    Idle();
    EXPECT_EQ(frame->windowTitle(), "Bankquill");
}

TEST_F(MainFrameTest, OpenDialogIsSetUpAsFileOpenWantsIt) {
    EXPECT_EQ(CMainFrame::NameFilters("PCG Files (*.pcg)|*.pcg|All Files (*.*)|*.*||"),
              QStringList({"PCG Files (*.pcg)", "All Files (*.*)"}));
    EXPECT_EQ(CMainFrame::NameFilters("Banks|*.pcg||"), QStringList({"Banks (*.pcg)"}));
    EXPECT_TRUE(CMainFrame::NameFilters("").isEmpty());
    EXPECT_TRUE(CMainFrame::NameFilters("Dangling|").isEmpty());

    std::unique_ptr<QFileDialog> dialog = frame->CreateOpenDialog();
    EXPECT_EQ(dialog->windowTitle(), "Open PCG File");
    EXPECT_EQ(dialog->nameFilters(), QStringList({"PCG Files (*.pcg)", "All Files (*.*)"}));
    EXPECT_EQ(dialog->selectedNameFilter(), "PCG Files (*.pcg)");
    EXPECT_EQ(dialog->defaultSuffix(), "PCG");
    EXPECT_EQ(dialog->fileMode(), QFileDialog::AnyFile);
    EXPECT_EQ(dialog->acceptMode(), QFileDialog::AcceptOpen);
    EXPECT_EQ(dialog->parentWidget(), frame.get());
}

// The instrument and its disk utilities write upper-case names: "*.pcg" must list them too.
TEST_F(MainFrameTest, OpenDialogListsPcgFilesWhateverTheCaseOfTheirExtension) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    for (const char* name : {"LIVE.PCG", "studio.pcg", "notes.txt"}) {
        QFile file(dir.filePath(name));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    }
    std::unique_ptr<QFileDialog> dialog = frame->CreateOpenDialog();
    dialog->setOption(QFileDialog::DontUseNativeDialog);
    dialog->setDirectory(dir.path());
    dialog->show();
    auto* view = dialog->findChild<QTreeView*>("treeView");
    ASSERT_NE(view, nullptr);
    QStringList listed;
    auto list = [&] {
        listed.clear();
        const QModelIndex root = view->rootIndex();
        for (int row = 0; row < view->model()->rowCount(root); ++row) {
            listed << view->model()->index(row, 0, root).data().toString();
        }
        listed.sort();
        return listed.size() == 2;
    };
    EXPECT_TRUE(QTest::qWaitFor(list, 5000));
    EXPECT_EQ(listed, QStringList({"LIVE.PCG", "studio.pcg"}));
    // The header's spacer picture is one picture at every paint: each new one would stay in
    // Qt's pixmap cache for as long as the program runs.
    const QVariant first = view->model()->headerData(0, Qt::Horizontal, Qt::DecorationRole);
    const QVariant again = view->model()->headerData(0, Qt::Horizontal, Qt::DecorationRole);
    ASSERT_EQ(first.typeId(), QMetaType::QIcon);
    EXPECT_EQ(first.value<QIcon>().cacheKey(), again.value<QIcon>().cacheKey());
    dialog->hide();
}

TEST_F(MainFrameTest, AboutBoxIsModalWithTheBoldVersionText) {
    QString title;
    QString version;
    bool bold = false;
    int pixelSize = 0;
    QTimer::singleShot(0, [&] {
        auto* about = qobject_cast<CAboutDialog*>(QApplication::activeModalWidget());
        ASSERT_NE(about, nullptr);
        title = about->windowTitle();
        version = about->VersionText()->text();
        bold = about->VersionText()->font().bold();
        pixelSize = about->VersionText()->font().pixelSize();
        EXPECT_EQ(about->CreditsText()->text().count(QLatin1Char('\n')), 1);
        about->accept();
    });
    frame->CommandAction(ID_APP_ABOUT)->trigger();
    EXPECT_EQ(title, "About Bankquill");
    EXPECT_EQ(version, "Bankquill\nVersion 0.1\n(Prototype)");
    EXPECT_TRUE(bold);
    EXPECT_EQ(pixelSize, 12);
}

TEST_F(MainFrameTest, ExitClosesTheMainWindowAndEveryDocumentWindow) {
    QPointer<QMdiSubWindow> doc = new QMdiSubWindow;
    doc->setAttribute(Qt::WA_DeleteOnClose);
    doc->setWidget(new QLabel(QStringLiteral("doc")));
    frame->MdiArea()->addSubWindow(doc);
    doc->show();
    QApplication::setQuitOnLastWindowClosed(false);  // the test's loop goes on
    frame->CommandAction(ID_APP_EXIT)->trigger();
    QApplication::setQuitOnLastWindowClosed(true);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_FALSE(frame->isVisible());
    EXPECT_TRUE(doc.isNull());
}
