#include "shell/MainFrame.h"

#include <QAbstractEventDispatcher>
#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDateTime>
#include <QDir>
#include <QDockWidget>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QMenuBar>
#include <QPixmapCache>
#include <QPointer>
#include <QSignalBlocker>
#include <QSplitter>
#include <QStatusBar>
#include <QStatusTipEvent>
#include <QToolBar>

#include "banktree/CommandTarget.h"
#include "banktree/ItemPane.h"
#include "messages/Messages.h"
#include "messages/StringTable.h"
#include "model/KorgPCGFile.h"
#include "shell/AboutDialog.h"
#include "shell/Comparison.h"
#include "shell/FindBar.h"
#include "shell/FindResults.h"
#include "shell/Finder.h"
#include "shell/ItemPanes.h"
#include "shell/ItemSources.h"
#include "shell/ListExport.h"
#include "shell/PCGBankView.h"
#include "shell/PCGFrame.h"
#include "workstation/WSBackup.h"
#include "workstation/WSFrame.h"
#include "workstation/WSSession.h"

namespace {

constexpr int kMIDIStatusWidth = 500;

// A command string is "prompt\ntooltip"; either part may be missing.
QString Prompt(bq::StringId id) {
    return bq::LoadString(id).section(QLatin1Char('\n'), 0, 0);
}
QString ToolTip(bq::StringId id) {
    return bq::LoadString(id).section(QLatin1Char('\n'), 1, 1);
}

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

    CreateMenus();
    CreateBars();

    connect(m_mdiArea, &QMdiArea::subWindowActivated, this, [this](QMdiSubWindow* window) {
        if (window != nullptr) {
            ReleaseCtrlW(window);
        }
        UpdateFrameTitle();
        UpdateCommandUI();
    });
    // Idle time: each time the event loop is about to wait for more events.
    connect(QAbstractEventDispatcher::instance(), &QAbstractEventDispatcher::aboutToBlock, this,
            &CMainFrame::OnIdle);
    UpdateCommandUI();
}

CMainFrame::~CMainFrame() {
    // The children go after this object has stopped being a CMainFrame; what they signal on
    // the way out (activation, titles, idle) must not reach it.
    disconnect(QAbstractEventDispatcher::instance(), nullptr, this, nullptr);
    disconnect(m_mdiArea, nullptr, this, nullptr);
    for (QMdiSubWindow* window : m_mdiArea->subWindowList()) {
        disconnect(window, nullptr, this, nullptr);
    }
}

QAction* CMainFrame::AddCommand(int id, const QString& text, std::optional<bq::StringId> prompt) {
    auto* action = new QAction(text, this);
    if (prompt) {
        action->setStatusTip(Prompt(*prompt));
    }
    m_actions.insert(id, action);
    connect(action, &QAction::triggered, this, [this, id] { ExecuteCommand(id); });
    return action;
}

void CMainFrame::CreateMenus() {
    QAction* open = AddCommand(ID_FILE_OPEN, bq::LoadString(bq::StringId::CommandOpen),
                               bq::StringId::FileOpenPrompt);
    open->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_O));
    open->setToolTip(ToolTip(bq::StringId::FileOpenPrompt));
    open->setIcon(QIcon(QPixmap(QStringLiteral(":/res/images/toolbar.xpm")).copy(0, 0, 16, 15)));
    QAction* backup = AddCommand(ID_FILE_BACKUP, bq::LoadString(bq::StringId::CommandBackup),
                                 bq::StringId::BackupPrompt);
    backup->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_B));
    // The writes to the instrument, whichever window is active; the texts name the step.
    QAction* undo = AddCommand(ID_EDIT_UNDO, bq::LoadString(bq::StringId::CommandUndo),
                               bq::StringId::EditUndoPrompt);
    undo->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Z));
    QAction* redo = AddCommand(ID_EDIT_REDO, bq::LoadString(bq::StringId::CommandRedo),
                               bq::StringId::EditRedoPrompt);
    redo->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z));
    QAction* recent = AddCommand(ID_FILE_MRU_FILE1, bq::LoadString(bq::StringId::CommandRecentFile),
                                 bq::StringId::RecentFilePrompt);
    QAction* exit = AddCommand(ID_APP_EXIT, bq::LoadString(bq::StringId::CommandExit),
                               bq::StringId::AppExitPrompt);
    QAction* workstation =
        AddCommand(ID_VIEW_WORKSTATION, bq::LoadString(bq::StringId::CommandWorkstation),
                   bq::StringId::ViewWorkstationPrompt);
    workstation->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_W));
    QAction* bankInit =
        AddCommand(ID_BANK_INITIALISE, bq::LoadString(bq::StringId::CommandInitialise),
                   bq::StringId::BankInitialisePrompt);
    QAction* programInit =
        AddCommand(ID_PROGRAM_INITIALISE, bq::LoadString(bq::StringId::CommandInitialise));
    QAction* combiInit =
        AddCommand(ID_COMBINATION_INITIALISE, bq::LoadString(bq::StringId::CommandInitialise));
    QAction* options = AddCommand(ID_TOOLS_OPTIONS, bq::LoadString(bq::StringId::CommandOptions));
    QAction* closeAll =
        AddCommand(ID_WINDOW_CLOSE_ALL, bq::LoadString(bq::StringId::CommandCloseAll));
    AddFindCommands();
    QAction* about = AddCommand(ID_APP_ABOUT, bq::LoadString(bq::StringId::CommandAbout),
                                bq::StringId::AppAboutPrompt);
    about->setToolTip(ToolTip(bq::StringId::AppAboutPrompt));
    about->setIcon(QIcon(QPixmap(QStringLiteral(":/res/images/toolbar.xpm")).copy(16, 0, 16, 15)));

    // Keys without a menu item.
    QAction* next = AddCommand(ID_NEXT_PANE, QString(), bq::StringId::NextPanePrompt);
    next->setShortcut(QKeySequence(Qt::Key_F6));
    QAction* previous = AddCommand(ID_PREV_PANE, QString(), bq::StringId::PrevPanePrompt);
    previous->setShortcut(QKeySequence(Qt::SHIFT | Qt::Key_F6));
    addAction(next);
    addAction(previous);

    // Nothing handles these: no recent-file list, no options, no Close All.
    for (QAction* never : {recent, options, closeAll}) {
        never->setEnabled(false);
    }

    auto addMenu = [this](const QString& title, std::initializer_list<QAction*> actions) {
        QMenu* menu = menuBar()->addMenu(title);
        for (QAction* action : actions) {
            if (action == nullptr) {
                menu->addSeparator();
            } else {
                menu->addAction(action);
            }
        }
        // Menus are brought up to date as they open.
        connect(menu, &QMenu::aboutToShow, this, &CMainFrame::UpdateCommandUI);
        m_menus.append(menu);
    };
    addMenu(bq::LoadString(bq::StringId::MenuFile),
            {open, backup, CommandAction(ID_FILE_EXPORT_LIST), nullptr, recent, nullptr, exit});
    addMenu(bq::LoadString(bq::StringId::MenuEdit),
            {undo, redo, nullptr, CommandAction(ID_EDIT_FIND)});
    addMenu(bq::LoadString(bq::StringId::MenuView), {workstation});
    addMenu(bq::LoadString(bq::StringId::MenuBank), {bankInit});
    addMenu(bq::LoadString(bq::StringId::MenuProgram), {programInit});
    addMenu(bq::LoadString(bq::StringId::MenuCombination), {combiInit});
    addMenu(bq::LoadString(bq::StringId::MenuTools),
            {options, nullptr, CommandAction(ID_TOOLS_COMPARE_WORKSTATION),
             CommandAction(ID_TOOLS_CLEAR_COMPARISON)});
    addMenu(bq::LoadString(bq::StringId::MenuWindow), {closeAll});
    addMenu(bq::LoadString(bq::StringId::MenuHelp), {about});
}

void CMainFrame::UpdateEditCommands() {
    // The texts name the step, as the history holds it now.
    CWSSession* session = m_wsFrame != nullptr ? &m_wsFrame->Session() : nullptr;
    const bool busy = m_wsFrame != nullptr && m_wsFrame->IsBusy();
    const struct {
        int id;
        bool enabled;
        QString text;
        const char* key;
    } commands[] = {
        {ID_EDIT_UNDO, session != nullptr && session->CanUndo() && !busy,
         session != nullptr ? session->UndoText() : bq::LoadString(bq::StringId::Undo), "Ctrl+Z"},
        {ID_EDIT_REDO, session != nullptr && session->CanRedo() && !busy,
         session != nullptr ? session->RedoText() : bq::LoadString(bq::StringId::Redo),
         "Ctrl+Shift+Z"},
    };
    for (const auto& command : commands) {
        QAction* action = m_actions.value(command.id);
        if (action == nullptr) {
            continue;
        }
        const QString text =
            QStringLiteral("&%1\t%2").arg(command.text, QLatin1String(command.key));
        if (action->text() != text) {
            action->setText(text);
        }
        if (action->isEnabled() != command.enabled) {
            action->setEnabled(command.enabled);
        }
    }
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
        // The pane follows the connection's changes; it never asks the MIDI services while idle.
        connect(m_wsFrame, &CWSFrame::MIDIStatusChanged, this, [this] {
            UpdateMIDIStatus();
            UpdateCommandUI();
        });
    }
    return m_wsFrame;
}

void CMainFrame::AddDocumentWindow(QMdiSubWindow* window) {
    ReleaseCtrlW(window);
    connect(window, &QWidget::windowTitleChanged, this, &CMainFrame::UpdateFrameTitle);
}

void CMainFrame::ReleaseCtrlW(QMdiSubWindow* window) {
    // Ctrl+W is View Workstation here; a document window's own menu must not take it.
    if (QMenu* menu = window->systemMenu()) {
        for (QAction* action : menu->actions()) {
            if (action->shortcuts().contains(QKeySequence(Qt::CTRL | Qt::Key_W))) {
                action->setShortcuts({});
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
    switch (id) {
        case ID_FILE_OPEN:
            OnFileOpen();
            return true;
        case ID_FILE_BACKUP:
            OnFileBackUp();
            return true;
        case ID_EDIT_UNDO:
        case ID_EDIT_REDO:
            // The writes to the instrument, whichever window is active.
            if (m_wsFrame == nullptr) {
                return false;
            }
            if (id == ID_EDIT_UNDO) {
                m_wsFrame->Session().Undo();
            } else {
                m_wsFrame->Session().Redo();
            }
            return true;
        case ID_APP_EXIT:
            close();
            return true;
        case ID_VIEW_WORKSTATION:
            OnViewWorkstation();
            return true;
        case ID_APP_ABOUT:
            OnAppAbout();
            return true;
        case ID_EDIT_FIND:
            OnEditFind();
            return true;
        case ID_FILE_EXPORT_LIST:
            return OnExportList();
        case ID_TOOLS_COMPARE_WORKSTATION:
            return OnCompareWithWorkstation();
        case ID_TOOLS_CLEAR_COMPARISON:
            return OnClearComparison();
        case ID_NEXT_PANE:
        case ID_PREV_PANE:
            if (m_mdiArea->currentSubWindow() == nullptr) {
                return false;
            }
            OnPane(id == ID_NEXT_PANE);
            return true;
        default:
            break;
    }
    // The active view's commands, if it is enabled for them right now.
    if (ICommandTarget* target = ActiveCommandTarget()) {
        bool enabled = false;
        if (target->OnUpdateCommand(id, &enabled) && enabled) {
            return target->OnCommand(id);
        }
    }
    return false;
}

void CMainFrame::UpdateCommandUI() {
    ICommandTarget* target = ActiveCommandTarget();
    for (int id : {ID_BANK_INITIALISE, ID_PROGRAM_INITIALISE, ID_COMBINATION_INITIALISE}) {
        bool enabled = false;
        if (target == nullptr || !target->OnUpdateCommand(id, &enabled)) {
            enabled = false;  // a command that nothing handles is disabled
        }
        if (m_actions[id]->isEnabled() != enabled) {
            m_actions[id]->setEnabled(enabled);
        }
    }
    bool document = m_mdiArea->currentSubWindow() != nullptr;
    for (int id : {ID_NEXT_PANE, ID_PREV_PANE}) {
        if (m_actions[id]->isEnabled() != document) {
            m_actions[id]->setEnabled(document);
        }
    }
    UpdateEditCommands();
    UpdateFindCommands();
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

void CMainFrame::OnIdle() {
    UpdateCommandUI();
    UpdateFrameTitle();
}

QStringList CMainFrame::NameFilters(const QString& filterText) {
    // Pairs of description and pattern, ended by an empty entry.
    QStringList parts = filterText.split(QLatin1Char('|'));
    QStringList filters;
    for (qsizetype i = 0; i + 1 < parts.size() && !parts[i].isEmpty() && !parts[i + 1].isEmpty();
         i += 2) {
        const QString& name = parts[i];
        const QString& pattern = parts[i + 1];
        filters.append(name.contains(QLatin1Char('(') + pattern + QLatin1Char(')'))
                           ? name
                           : QStringLiteral("%1 (%2)").arg(name, pattern));
    }
    return filters;
}

std::unique_ptr<QFileDialog> CMainFrame::CreateOpenDialog() {
    auto dialog = std::make_unique<QFileDialog>(this, bq::LoadString(bq::StringId::OpenPcgTitle));
    dialog->setAcceptMode(QFileDialog::AcceptOpen);
    // The name typed need not exist: loading it tells the user what is wrong.
    dialog->setFileMode(QFileDialog::AnyFile);
    QStringList filters = NameFilters(bq::LoadString(bq::StringId::PcgFilter));
    dialog->setNameFilters(filters);
    if (!filters.isEmpty()) {
        dialog->selectNameFilter(filters.first());
    }
    dialog->setDefaultSuffix(QStringLiteral("PCG"));
    return dialog;
}

void CMainFrame::OnFileOpen() {
    // One dialog for every File Open, made the first time: each dialog made anew puts its
    // pictures into Qt's pixmap cache again, under keys that are never asked for again. It
    // opens in the folder of the last file chosen, with an empty name.
    if (m_openDialog == nullptr) {
        m_openDialog = CreateOpenDialog();
    }
    QFileDialog* dialog = m_openDialog.get();
    if (auto* name = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))) {
        name->setText(QString());  // and its undo history, which would grow with every name
    }
    const bool accepted = dialog->exec() == QDialog::Accepted;
    // The dialog's list header makes its picture anew at every paint, and the cache keeps what
    // is drawn from each; it trims itself only once it holds 10 MB. What is still shown is
    // drawn again at the next paint.
    QPixmapCache::clear();
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
    auto dialog = std::make_unique<QFileDialog>(this, bq::LoadString(bq::StringId::BackupTitle));
    dialog->setAcceptMode(QFileDialog::AcceptSave);
    dialog->setFileMode(QFileDialog::AnyFile);
    QStringList filters = NameFilters(bq::LoadString(bq::StringId::PcgFilter));
    dialog->setNameFilters(filters);
    if (!filters.isEmpty()) {
        dialog->selectNameFilter(filters.first());
    }
    dialog->setDefaultSuffix(QStringLiteral("pcg"));
    dialog->setDirectory(QDir::homePath());
    dialog->selectFile(
        QDir::home().filePath(CWSBackup::DefaultFileName(QDateTime::currentDateTime())));
    return dialog;
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

void CMainFrame::OnFileBackUp() {
    CWSFrame* ws = WorkstationFrame();
    if (ws->IsBusy()) {
        return;
    }
    QPointer<CMainFrame> self(this);
    // First the instrument, so that no file name is asked for a backup that cannot be made.
    if (!ConnectWorkstation() || !self) {
        return;
    }
    std::unique_ptr<QFileDialog> dialog = CreateBackupDialog();
    if (dialog->exec() != QDialog::Accepted || !self || dialog->selectedFiles().isEmpty()) {
        return;
    }
    const QString path = dialog->selectedFiles().first();
    dialog.reset();
    BackUpWorkstation(path);
}

bool CMainFrame::BackUpWorkstation(const QString& path) {
    CWSFrame* ws = WorkstationFrame();
    if (ws->IsBusy() || !ConnectWorkstation()) {
        return false;
    }
    return CWSBackup::Run(*ws, path) == CWSBackup::Outcome::Written;
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

// ---- find, item panes, comparison, export ----

void CMainFrame::AddFindCommands() {
    QAction* find = AddCommand(ID_EDIT_FIND, bq::LoadString(bq::StringId::CommandFind));
    find->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_F));
    find->setStatusTip(bq::LoadString(bq::StringId::FindPrompt));
    QAction* exportList =
        AddCommand(ID_FILE_EXPORT_LIST, bq::LoadString(bq::StringId::CommandExportList));
    exportList->setStatusTip(bq::LoadString(bq::StringId::ExportListPrompt));
    QAction* compare =
        AddCommand(ID_TOOLS_COMPARE_WORKSTATION, bq::LoadString(bq::StringId::CommandCompare));
    compare->setStatusTip(bq::LoadString(bq::StringId::ComparePrompt));
    QAction* clear =
        AddCommand(ID_TOOLS_CLEAR_COMPARISON, bq::LoadString(bq::StringId::CommandClearComparison));
    clear->setStatusTip(bq::LoadString(bq::StringId::ClearComparisonPrompt));
}

void CMainFrame::UpdateFindCommands() {
    QMdiSubWindow* active = m_mdiArea->currentSubWindow();
    if (active != nullptr && !active->isVisible()) {
        active = nullptr;
    }
    CPCGFrame* pcg = ActivePCGFrame();
    const bool busy = m_wsFrame != nullptr && m_wsFrame->IsBusy();
    const std::pair<int, bool> states[] = {
        {ID_FILE_EXPORT_LIST, active != nullptr && m_sources->Holds(active)},
        {ID_TOOLS_COMPARE_WORKSTATION, pcg != nullptr && !busy},
        {ID_TOOLS_CLEAR_COMPARISON, pcg != nullptr && m_comparisons->Has(pcg)},
    };
    for (const auto& [id, enabled] : states) {
        if (m_actions[id]->isEnabled() != enabled) {
            m_actions[id]->setEnabled(enabled);
        }
    }
}

CPCGFrame* CMainFrame::ActivePCGFrame() const {
    auto* frame = qobject_cast<CPCGFrame*>(m_mdiArea->currentSubWindow());
    return frame != nullptr && frame->isVisible() ? frame : nullptr;
}

void CMainFrame::WatchItems(CPCGFrame* frame) {
    const char* path = frame->GetFile()->GetPath();
    m_sources->AddWindow(frame, frame->BankView(),
                         CItemSources::FileName(QFile::decodeName(path != nullptr ? path : "")));
    m_panes->Link(frame->BankView(), frame->OtherView());
}

void CMainFrame::OnEditFind() {
    if (m_findBar == nullptr) {
        m_findBar = new CFindBar(this);
        // Only Escape and its own button close it: hiding it otherwise would keep the trees
        // filtered out of sight.
        m_findBar->toggleViewAction()->setVisible(false);
        addToolBarBreak(Qt::TopToolBarArea);
        addToolBar(Qt::TopToolBarArea, m_findBar);
        connect(m_findBar, &CFindBar::TextChanged, this, &CMainFrame::OnFindText);
        connect(m_findBar, &CFindBar::CloseRequested, this, &CMainFrame::CloseFind);

        m_findResults = new CFindResultsView;
        m_findDock = new QDockWidget(bq::LoadString(bq::StringId::FindResultsTitle), this);
        m_findDock->setObjectName(QStringLiteral("findResultsDock"));
        // Not floating: a drag from the list looks for its target in the main window.
        m_findDock->setFeatures(QDockWidget::DockWidgetClosable | QDockWidget::DockWidgetMovable);
        m_findDock->setWidget(m_findResults);
        addDockWidget(Qt::BottomDockWidgetArea, m_findDock);
        m_findDock->hide();
        m_finder->SetResultsView(m_findResults);
        connect(m_findResults, &CFindResultsView::ResultActivated, this,
                [this](std::uint32_t id, bq::ItemKind kind, long bank, long slot) {
                    CItemSources::Source* source = m_sources->OfId(id);
                    const std::size_t index = source != nullptr
                                                  ? source->catalog.IndexOf(kind, bank, slot)
                                                  : bq::ItemCatalog::npos;
                    if (index != bq::ItemCatalog::npos) {
                        m_sources->Select(*source, index);
                    }
                });
        connect(m_finder.get(), &CFinder::Updated, this, [this] {
            m_findBar->SetCounts(m_finder->IsActive() ? m_finder->CountsText() : QString());
        });

        m_closeFind = new QAction(bq::LoadString(bq::StringId::CloseFind), this);
        m_closeFind->setShortcut(QKeySequence(Qt::Key_Escape));
        m_closeFind->setEnabled(false);
        addAction(m_closeFind);
        connect(m_closeFind, &QAction::triggered, this, &CMainFrame::CloseFind);
    }
    m_closeFind->setEnabled(true);
    m_findBar->Focus();
    if (m_finder->IsActive()) {
        m_findDock->show();
    }
}

void CMainFrame::OnFindText(const QString& text) {
    m_finder->SetText(text);
    if (!text.isEmpty()) {
        m_findDock->show();
    }
}

void CMainFrame::CloseFind() {
    if (m_findBar == nullptr) {
        return;
    }
    m_finder->SetText(QString());
    {
        const QSignalBlocker quiet(m_findBar->Field());
        m_findBar->Field()->clear();
    }
    m_findBar->SetCounts(QString());
    m_findBar->hide();
    m_findDock->hide();
    m_closeFind->setEnabled(false);
    // The keyboard goes back to the window the user works in.
    if (QMdiSubWindow* window = m_mdiArea->currentSubWindow()) {
        QWidget* focus = window->focusWidget();
        (focus != nullptr ? focus : window)->setFocus();
    }
}

std::unique_ptr<QFileDialog> CMainFrame::CreateExportDialog(const QString& name) {
    auto dialog = std::make_unique<QFileDialog>(this, bq::LoadString(bq::StringId::ExportTitle));
    dialog->setAcceptMode(QFileDialog::AcceptSave);
    dialog->setFileMode(QFileDialog::AnyFile);
    const QStringList filters = bq::ListNameFilters();
    dialog->setNameFilters(filters);
    dialog->selectNameFilter(filters.first());
    dialog->setDefaultSuffix(QStringLiteral("csv"));
    // A name typed without its suffix gets the chosen type's.
    connect(dialog.get(), &QFileDialog::filterSelected, dialog.get(),
            [d = dialog.get()](const QString& filter) {
                d->setDefaultSuffix(bq::ListFormatFor(QString(), filter) == bq::ListFormat::Text
                                        ? QStringLiteral("txt")
                                        : QStringLiteral("csv"));
            });
    dialog->selectFile(name);
    return dialog;
}

bool CMainFrame::OnExportList() {
    QPointer<QMdiSubWindow> window = m_mdiArea->currentSubWindow();
    if (window == nullptr || !window->isVisible() || !m_sources->Holds(window)) {
        return false;
    }
    QString name = bq::LoadString(bq::StringId::WorkstationName);
    if (auto* pcg = qobject_cast<CPCGFrame*>(window.data())) {
        const char* path = pcg->GetFile()->GetPath();
        name = QFileInfo(QFile::decodeName(path != nullptr ? path : "")).completeBaseName();
    }
    std::unique_ptr<QFileDialog> dialog = CreateExportDialog(name + QStringLiteral(".csv"));
    if (dialog->exec() != QDialog::Accepted || dialog->selectedFiles().isEmpty()) {
        return true;
    }
    // The window may have gone while the dialog was up.
    CItemSources::Source* source = window != nullptr ? m_sources->OfWindow(window) : nullptr;
    if (source == nullptr) {
        return true;
    }
    const QString path = dialog->selectedFiles().first();
    QString error;
    if (!bq::WriteList(path, source->catalog, bq::ListFormatFor(path, dialog->selectedNameFilter()),
                       &error)) {
        bq::ShowMessage(bq::FormatText(bq::LoadString(bq::StringId::ExportFailed), {error}),
                        bq::MB_ICONERROR);
    }
    return true;
}

bool CMainFrame::OnCompareWithWorkstation() {
    CPCGFrame* frame = ActivePCGFrame();
    if (frame == nullptr || WorkstationFrame()->IsBusy()) {
        return false;
    }
    m_comparisons->Run(frame, WorkstationFrame(), [this] { OnViewWorkstation(); });
    return true;
}

bool CMainFrame::OnClearComparison() {
    CPCGFrame* frame = ActivePCGFrame();
    if (frame == nullptr || !m_comparisons->Has(frame)) {
        return false;
    }
    m_comparisons->Clear(frame);
    return true;
}
