#include "shell/MainFrame.h"

#include <QAbstractItemView>
#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QCompleter>
#include <QFile>
#include <QFileDialog>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QMenuBar>
#include <QPointer>
#include <QSignalBlocker>
#include <QSplitter>
#include <QStatusBar>
#include <QStatusTipEvent>
#include <QToolBar>
#include <QTreeWidget>

#include "banktree/CommandTarget.h"
#include "banktree/ItemPane.h"
#include "messages/Messages.h"
#include "messages/StringTable.h"
#include "model/KorgPCGFile.h"
#include "shell/AboutDialog.h"
#include "shell/BackupCommands.h"
#include "shell/Commands.h"
#include "shell/Comparison.h"
#include "shell/ComparisonCommands.h"
#include "shell/ExportCommand.h"
#include "shell/FileDialogs.h"
#include "shell/FindCommands.h"
#include "shell/Finder.h"
#include "shell/ItemPanes.h"
#include "shell/ItemSources.h"
#include "shell/PCGBankView.h"
#include "shell/PCGFrame.h"
#include "shell/UndoCommands.h"
#include "workstation/WSFrame.h"

namespace {

constexpr int kMIDIStatusWidth = 500;

// The commands that the active view handles (ICommandTarget).
constexpr int kViewCommands[] = {ID_BANK_INITIALISE, ID_PROGRAM_INITIALISE,
                                 ID_COMBINATION_INITIALISE};

}  // namespace

CMainFrame::CMainFrame(bq::midi::IMidiServices& services, QWidget* parent)
    : QMainWindow(parent),
      m_services(services),
      m_sources(std::make_unique<CItemSources>()),
      m_comparisons(std::make_unique<CComparisons>(*m_sources)),
      m_panes(std::make_unique<CItemPanes>(*m_sources, *m_comparisons)),
      m_finder(std::make_unique<CFinder>(*m_sources)) {
    setWindowTitle(bq::LoadString(bq::StringId::MainTitle));
    setWindowIcon(QIcon(QStringLiteral(":/res/images/bankquill.xpm")));

    m_mdiArea = new QMdiArea(this);
    setCentralWidget(m_mdiArea);

    CreateCommands();
    CreateMenus();
    CreateBars();

    connect(m_mdiArea, &QMdiArea::subWindowActivated, this, [this](QMdiSubWindow* window) {
        if (window != nullptr) {
            ReleaseCtrlW(window);
            // Whichever way it came into the area: its title, maximised in brackets.
            connect(window, &QWidget::windowTitleChanged, this, &CMainFrame::UpdateFrameTitle,
                    Qt::UniqueConnection);
            connect(window, &QMdiSubWindow::windowStateChanged, this, &CMainFrame::UpdateFrameTitle,
                    Qt::UniqueConnection);
        }
        UpdateFrameTitle();
        UpdateViewCommands();
    });
    // The active view's commands follow the keyboard: the second pane of a window handles none.
    connect(qApp, &QApplication::focusChanged, this, &CMainFrame::UpdateViewCommands);
    UpdateViewCommands();
}

CMainFrame::~CMainFrame() {
    // The children go after this object has stopped being a CMainFrame; what they signal on
    // the way out (activation, focus, titles) must not reach it.
    disconnect(qApp, nullptr, this, nullptr);
    disconnect(m_mdiArea, nullptr, this, nullptr);
    for (QMdiSubWindow* window : m_mdiArea->subWindowList()) {
        disconnect(window, nullptr, this, nullptr);
    }
}

void CMainFrame::CreateCommands() {
    m_commands = std::make_unique<CCommands>(*this);
    CCommands& commands = *m_commands;
    auto run = [](auto function) {
        return [function] {
            function();
            return true;
        };
    };
    QAction* open = commands.Add(ID_FILE_OPEN, bq::LoadString(bq::StringId::CommandOpen),
                                 bq::StringId::FileOpenPrompt, run([this] { OnFileOpen(); }));
    open->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_O));
    open->setToolTip(CCommands::ToolTip(bq::StringId::FileOpenPrompt));
    open->setIcon(QIcon(QPixmap(QStringLiteral(":/res/images/toolbar.xpm")).copy(0, 0, 16, 15)));
    commands.Add(ID_APP_EXIT, bq::LoadString(bq::StringId::CommandExit),
                 bq::StringId::AppExitPrompt, run([this] { close(); }));
    QAction* workstation =
        commands.Add(ID_VIEW_WORKSTATION, bq::LoadString(bq::StringId::CommandWorkstation),
                     bq::StringId::ViewWorkstationPrompt, run([this] { OnViewWorkstation(); }));
    workstation->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_W));
    QAction* about = commands.Add(ID_APP_ABOUT, bq::LoadString(bq::StringId::CommandAbout),
                                  bq::StringId::AppAboutPrompt, run([this] { OnAppAbout(); }));
    about->setToolTip(CCommands::ToolTip(bq::StringId::AppAboutPrompt));
    about->setIcon(QIcon(QPixmap(QStringLiteral(":/res/images/toolbar.xpm")).copy(16, 0, 16, 15)));

    // The active view's commands.
    commands.Add(ID_BANK_INITIALISE, bq::LoadString(bq::StringId::CommandInitialise),
                 bq::StringId::BankInitialisePrompt,
                 [this] { return RunViewCommand(ID_BANK_INITIALISE); });
    for (int id : {ID_PROGRAM_INITIALISE, ID_COMBINATION_INITIALISE}) {
        commands.Add(id, bq::LoadString(bq::StringId::CommandInitialise), {},
                     [this, id] { return RunViewCommand(id); });
    }
    // Keys without a menu item.
    for (const auto& [id, forward, prompt, key] :
         {std::tuple{ID_NEXT_PANE, true, bq::StringId::NextPanePrompt, QKeySequence(Qt::Key_F6)},
          std::tuple{ID_PREV_PANE, false, bq::StringId::PrevPanePrompt,
                     QKeySequence(Qt::SHIFT | Qt::Key_F6)}}) {
        QAction* pane = commands.Add(id, QString(), prompt, [this, forward = forward] {
            if (m_mdiArea->currentSubWindow() == nullptr) {
                return false;
            }
            OnPane(forward);
            return true;
        });
        pane->setShortcut(key);
        addAction(pane);
    }
    // Nothing handles these: no recent-file list, no options, no Close All.
    const std::tuple<int, bq::StringId, std::optional<bq::StringId>> never[] = {
        {ID_FILE_MRU_FILE1, bq::StringId::CommandRecentFile, bq::StringId::RecentFilePrompt},
        {ID_TOOLS_OPTIONS, bq::StringId::CommandOptions, std::nullopt},
        {ID_WINDOW_CLOSE_ALL, bq::StringId::CommandCloseAll, std::nullopt}};
    for (const auto& [id, text, prompt] : never) {
        commands.Add(id, bq::LoadString(text), prompt, [] { return false; })->setEnabled(false);
    }

    // The features, each with its own commands.
    m_undo = new CUndoCommands(commands);
    m_backup = new CBackupCommands(commands, *this, *this);
    m_find = new CFindCommands(commands, *this, *m_mdiArea, *m_sources, *m_finder);
    m_export = new CExportCommand(commands, *m_mdiArea, *m_sources, *this);
    m_compare = new CComparisonCommands(commands, *m_mdiArea, *m_comparisons, *this);
}

void CMainFrame::CreateMenus() {
    auto addMenu = [this](bq::StringId title, std::initializer_list<int> ids) {
        QMenu* menu = menuBar()->addMenu(bq::LoadString(title));
        for (int id : ids) {
            if (id == 0) {
                menu->addSeparator();
            } else {
                menu->addAction(CommandAction(id));
            }
        }
        // A menu is brought up to date as it opens, whatever has changed without a signal.
        connect(menu, &QMenu::aboutToShow, this, &CMainFrame::UpdateCommandUI);
        m_menus.append(menu);
    };
    addMenu(bq::StringId::MenuFile, {ID_FILE_OPEN, ID_FILE_BACKUP, ID_FILE_RESTORE,
                                     ID_FILE_EXPORT_LIST, 0, ID_FILE_MRU_FILE1, 0, ID_APP_EXIT});
    addMenu(bq::StringId::MenuEdit, {ID_EDIT_UNDO, ID_EDIT_REDO, 0, ID_EDIT_FIND});
    addMenu(bq::StringId::MenuView, {ID_VIEW_WORKSTATION});
    addMenu(bq::StringId::MenuBank, {ID_BANK_INITIALISE});
    addMenu(bq::StringId::MenuProgram, {ID_PROGRAM_INITIALISE});
    addMenu(bq::StringId::MenuCombination, {ID_COMBINATION_INITIALISE});
    addMenu(bq::StringId::MenuTools,
            {ID_TOOLS_OPTIONS, 0, ID_TOOLS_COMPARE_WORKSTATION, ID_TOOLS_CLEAR_COMPARISON});
    addMenu(bq::StringId::MenuWindow, {ID_WINDOW_CLOSE_ALL});
    addMenu(bq::StringId::MenuHelp, {ID_APP_ABOUT});
}

QAction* CMainFrame::CommandAction(int id) const {
    return m_commands->Action(id);
}

void CMainFrame::CreateBars() {
    m_toolBar = new QToolBar(bq::LoadString(bq::StringId::StandardBar), this);
    m_toolBar->setObjectName(QStringLiteral("toolbar"));
    m_toolBar->setIconSize(QSize(16, 15));
    m_toolBar->addAction(CommandAction(ID_FILE_OPEN));
    m_toolBar->addSeparator();
    m_toolBar->addAction(CommandAction(ID_APP_ABOUT));
    addToolBar(Qt::TopToolBarArea, m_toolBar);

    // The dialog bar: an empty band of 330 x 16 dialog units beside the toolbar.
    m_dialogBar = new QToolBar(bq::LoadString(bq::StringId::DialogBar), this);
    m_dialogBar->setObjectName(QStringLiteral("dialogbar"));
    auto* placeholder = new QWidget(m_dialogBar);
    placeholder->setFixedSize(330 * 6 / 4, 16 * 13 / 8);
    m_dialogBar->addWidget(placeholder);
    addToolBar(Qt::TopToolBarArea, m_dialogBar);

    m_messagePane = new QLabel(bq::LoadString(bq::StringId::Ready));
    m_messagePane->setObjectName(QStringLiteral("messagePane"));
    m_messagePane->setTextFormat(Qt::PlainText);
    m_midiStatusPane = new QLabel(bq::LoadString(bq::StringId::MidiNotConnected));
    m_midiStatusPane->setObjectName(QStringLiteral("midiStatusPane"));
    m_midiStatusPane->setTextFormat(Qt::PlainText);  // it names the JACK ports
    m_midiStatusPane->setFixedWidth(kMIDIStatusWidth);
    statusBar()->addWidget(m_messagePane, 1);
    statusBar()->addPermanentWidget(m_midiStatusPane);
}

CWSFrame* CMainFrame::WorkstationFrame() {
    // Made on first use, not with this window: nothing of it shows before View Workstation,
    // and its frame, title bar and panes were an eighth of the start-up. OpenPCGFile asks for it
    // before it adds a PCG window, so it is still the first document window of the MDI area,
    // placed and sized as when it was made at start-up.
    if (m_wsFrame == nullptr) {
        m_wsFrame = new CWSFrame(m_services);
        m_mdiArea->addSubWindow(m_wsFrame);
        AddDocumentWindow(m_wsFrame);
        m_wsFrame->hide();
        m_sources->SetWorkstation(m_wsFrame);
        m_panes->SetWorkstation(m_wsFrame);
        m_undo->Attach(m_wsFrame);
        m_compare->Attach(m_wsFrame);
        // The pane follows the connection's changes; it never asks the MIDI services otherwise.
        // Shown and hidden, it also changes the title.
        connect(m_wsFrame, &CWSFrame::MIDIStatusChanged, this, [this] {
            UpdateMIDIStatus();
            UpdateFrameTitle();
            UpdateViewCommands();
        });
    }
    return m_wsFrame;
}

void CMainFrame::AddDocumentWindow(QMdiSubWindow* window) {
    ReleaseCtrlW(window);
    connect(window, &QWidget::windowTitleChanged, this, &CMainFrame::UpdateFrameTitle,
            Qt::UniqueConnection);
    connect(window, &QMdiSubWindow::windowStateChanged, this, &CMainFrame::UpdateFrameTitle,
            Qt::UniqueConnection);
    // The view's commands follow its selection.
    if (auto* view = window->findChild<QTreeWidget*>()) {
        connect(view, &QTreeWidget::currentItemChanged, this, &CMainFrame::UpdateViewCommands);
    }
}

void CMainFrame::ReleaseCtrlW(QMdiSubWindow* window) {
    // Ctrl+W is View Workstation here; a document window's own menu must not take it.
    if (QMenu* menu = window->systemMenu()) {
        for (QAction* action : menu->actions()) {
            QList<QKeySequence> keys = action->shortcuts();
            if (keys.removeAll(QKeySequence(Qt::CTRL | Qt::Key_W)) != 0) {
                action->setShortcuts(keys);  // Ctrl+F4 still closes it
            }
        }
    }
}

bool CMainFrame::event(QEvent* event) {
    if (event->type() == QEvent::StatusTip) {
        // The message pane shows the highlighted command's prompt, else "Ready".
        QString tip = static_cast<QStatusTipEvent*>(event)->tip();
        m_messagePane->setText(tip.isEmpty() ? bq::LoadString(bq::StringId::Ready) : tip);
        return true;
    }
    return QMainWindow::event(event);
}

void CMainFrame::closeEvent(QCloseEvent* event) {
    // Leaving ends the connection, and with it the writes that could still be undone: the
    // user may keep the program open instead.
    if (m_wsFrame != nullptr && !m_wsFrame->ConfirmEndOfConnection()) {
        event->ignore();
        return;
    }
    // Exit closes every document window with the main window.
    m_mdiArea->closeAllSubWindows();
    event->accept();
}

ICommandTarget* CMainFrame::ActiveCommandTarget() const {
    QMdiSubWindow* active = m_mdiArea->currentSubWindow();
    if (active == nullptr || !active->isVisible()) {
        return nullptr;
    }
    if (auto* target = dynamic_cast<ICommandTarget*>(active)) {
        return target;
    }
    if (auto* target = dynamic_cast<ICommandTarget*>(active->widget())) {
        return target;
    }
    for (QWidget* w = active->focusWidget(); w != nullptr && w != active; w = w->parentWidget()) {
        if (auto* target = dynamic_cast<ICommandTarget*>(w)) {
            return target;
        }
    }
    return nullptr;
}

bool CMainFrame::ExecuteCommand(int id) {
    if (m_commands->Has(id)) {
        return m_commands->Execute(id);
    }
    // Commands without a menu item that the active view handles (the round trip).
    return RunViewCommand(id);
}

bool CMainFrame::RunViewCommand(int id) {
    // The active view's commands, if it is enabled for them right now.
    if (ICommandTarget* target = ActiveCommandTarget()) {
        bool enabled = false;
        if (target->OnUpdateCommand(id, &enabled) && enabled) {
            return target->OnCommand(id);
        }
    }
    return false;
}

void CMainFrame::UpdateViewCommands() {
    ICommandTarget* target = ActiveCommandTarget();
    for (int id : kViewCommands) {
        bool enabled = false;
        if (target == nullptr || !target->OnUpdateCommand(id, &enabled)) {
            enabled = false;  // a command that nothing handles is disabled
        }
        CCommands::SetEnabled(CommandAction(id), enabled);
    }
    const bool document = m_mdiArea->currentSubWindow() != nullptr;
    for (int id : {ID_NEXT_PANE, ID_PREV_PANE}) {
        CCommands::SetEnabled(CommandAction(id), document);
    }
}

void CMainFrame::UpdateCommandUI() {
    UpdateViewCommands();
    m_undo->Update();
    m_export->Update();
    m_compare->Update();
    UpdateFrameTitle();
}

void CMainFrame::UpdateMIDIStatus() {
    m_midiStatusPane->setEnabled(true);
    QString text;
    // Until the search has connected or given up, the ports are closed and would read as
    // "Not Connected".
    const bool searching = m_wsFrame != nullptr && m_wsFrame->IsSearching();
    if (searching) {
        text = bq::LoadString(bq::StringId::MidiSearching);
    }
    if ((searching || (m_wsFrame != nullptr && m_wsFrame->GetMIDIStatusText(&text))) &&
        text != m_midiStatusPane->text()) {
        m_midiStatusPane->setText(text);
    }
}

void CMainFrame::UpdateFrameTitle() {
    // The application title, then the active document window's title: in brackets when that
    // window is maximised, as a multiple-document frame shows it.
    QString title = bq::LoadString(bq::StringId::MainTitle);
    QMdiSubWindow* active = m_mdiArea->currentSubWindow();
    if (active != nullptr && active->isVisible() && !active->windowTitle().isEmpty()) {
        title += active->isMaximized() ? QStringLiteral(" - [%1]").arg(active->windowTitle())
                                       : QStringLiteral(" - %1").arg(active->windowTitle());
    }
    if (windowTitle() != title) {
        setWindowTitle(title);
    }
}

QStringList CMainFrame::NameFilters(const QString& filterText) {
    return bq::NameFilters(filterText);
}

std::unique_ptr<QFileDialog> CMainFrame::CreateOpenDialog() {
    return bq::OpenPcgDialog(this, bq::LoadString(bq::StringId::OpenPcgTitle));
}

void CMainFrame::OnFileOpen() {
    // One dialog for every File Open, made the first time: each dialog made anew puts its
    // pictures into Qt's pixmap cache again, under keys that are never asked for again. It
    // opens in the folder of the last file chosen, with an empty name.
    if (m_openDialog == nullptr) {
        m_openDialog = CreateOpenDialog();
    }
    QFileDialog* dialog = m_openDialog.get();
    // The last file stays selected in the hidden dialog. Unselected now, while no one can see
    // it, it is not unselected again as the first letter is typed: Qt 6.4 makes a new
    // accessibility object for a file list's row at every selection change, and keeps it.
    if (auto* list = dialog->findChild<QAbstractItemView*>(QStringLiteral("listView"));
        list != nullptr && list->selectionModel() != nullptr) {
        const QSignalBlocker quiet(list->selectionModel());
        list->selectionModel()->clear();
    }
    auto* name = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
    if (name != nullptr) {
        name->setText(QString());  // and its undo history, which would grow with every name
    }
    const bool accepted = dialog->exec() == QDialog::Accepted;
    // The name's completion list can outlive a dialog that is only hidden: a popup, it would
    // take the next click anywhere in the program just to close itself.
    if (name != nullptr && name->completer() != nullptr) {
        name->completer()->popup()->hide();
    }
    if (!accepted || dialog->selectedFiles().isEmpty()) {
        return;
    }
    const QString path = dialog->selectedFiles().first();
    dialog->setDirectory(QFileInfo(path).absolutePath());
    OpenPCGFile(path);
}

CPCGFrame* CMainFrame::OpenPCGFile(const QString& path) {
    auto file = std::make_unique<CKorgPCGFile>();
    HRESULT hr = file->Load(QFile::encodeName(path).constData());
    if (FAILED(hr)) {
        if (hr == E_INVALIDARG) {
            bq::ShowMessage(bq::StringId::TritonNotSupported, bq::MB_ICONERROR);
        } else {
            bq::ReportError(bq::StringId::LoadPcgFile, hr);
        }
        return nullptr;
    }
    WorkstationFrame();
    auto* frame = new CPCGFrame(std::move(file));
    m_mdiArea->addSubWindow(frame);
    AddDocumentWindow(frame);
    WatchItems(frame);
    frame->show();
    frame->BankView()->setFocus();
    UpdateFrameTitle();
    return frame;
}

std::unique_ptr<QFileDialog> CMainFrame::CreateBackupDialog() {
    return m_backup->CreateBackupDialog();
}

bool CMainFrame::BackUpWorkstation(const QString& path) {
    return m_backup->BackUpWorkstation(path);
}

bool CMainFrame::RestoreWorkstation(const QString& path) {
    return m_backup->RestoreWorkstation(path);
}

std::unique_ptr<QFileDialog> CMainFrame::CreateExportDialog(const QString& name) {
    return m_export->CreateExportDialog(name);
}

CFindBar* CMainFrame::FindBar() const {
    return m_find->Bar();
}

QDockWidget* CMainFrame::FindResultsDock() const {
    return m_find->ResultsDock();
}

CFindResultsView* CMainFrame::FindResults() const {
    return m_find->Results();
}

bool CMainFrame::ConnectWorkstation() {
    CWSFrame* ws = WorkstationFrame();
    if (ws->IsConnected()) {
        return true;
    }
    if (!ws->isVisible()) {
        m_midiStatusPane->setText(bq::LoadString(bq::StringId::MidiSearching));
        m_midiStatusPane->repaint();
    }
    QPointer<CMainFrame> self(this);
    const bool connected = ws->ConnectNow();
    if (!self || !connected) {
        return false;
    }
    m_mdiArea->setActiveSubWindow(ws);
    return true;
}

void CMainFrame::ShowWorkstation() {
    OnViewWorkstation();
}

void CMainFrame::OnViewWorkstation() {
    CWSFrame* ws = WorkstationFrame();
    if (!ws->isVisible()) {
        m_midiStatusPane->setText(bq::LoadString(bq::StringId::MidiSearching));
        m_midiStatusPane->repaint();
        ws->show();
    }
    if (ws->isVisible()) {
        m_mdiArea->setActiveSubWindow(ws);
        ws->setFocus();
    }
}

void CMainFrame::OnAppAbout() {
    CAboutDialog dialog(this);
    dialog.SetStatusText(QString::fromStdString(m_services.DescribeServer()));
    dialog.exec();
}

void CMainFrame::OnPane(bool forward) {
    QMdiSubWindow* active = m_mdiArea->currentSubWindow();
    QWidget* content = active->widget();
    auto* splitter = qobject_cast<QSplitter*>(content);
    if (splitter == nullptr && content != nullptr) {
        splitter = content->findChild<QSplitter*>();
    }
    if (splitter == nullptr || splitter->count() == 0) {
        return;
    }
    int current = -1;
    QWidget* focus = QApplication::focusWidget();
    for (int i = 0; i < splitter->count(); ++i) {
        QWidget* pane = splitter->widget(i);
        if (focus != nullptr && (focus == pane || pane->isAncestorOf(focus))) {
            current = i;
        }
    }
    int n = splitter->count();
    int next = current < 0 ? 0 : (current + (forward ? 1 : n - 1)) % n;
    splitter->widget(next)->setFocus(forward ? Qt::TabFocusReason : Qt::BacktabFocusReason);
}

void CMainFrame::WatchItems(CPCGFrame* frame) {
    const char* path = frame->GetFile()->GetPath();
    m_sources->AddWindow(frame, frame->BankView(),
                         CItemSources::FileName(QFile::decodeName(path != nullptr ? path : "")));
    m_panes->Link(frame->BankView(), frame->OtherView());
}
