#pragma once

#include <QMainWindow>
#include <QMap>
#include <QStringList>

#include <memory>
#include <optional>

#include "messages/StringId.h"
#include "midi/MidiServices.h"

class CComparisons;
class CFindBar;
class CFindResultsView;
class CFinder;
class CItemPanes;
class CItemSources;
class CPCGFrame;
class CWSFrame;
class ICommandTarget;
class QAction;
class QDockWidget;
class QFileDialog;
class QLabel;
class QMdiArea;
class QMdiSubWindow;
class QMenu;
class QToolBar;

// Command ids of the menu, the keys and the toolbar.
enum : int {
    ID_VIEW_WORKSTATION = 135,
    ID_WINDOW_CLOSE_ALL = 505,
    ID_TOOLS_OPTIONS = 506,
    ID_FILE_EXPORT_LIST = 530,
    ID_TOOLS_COMPARE_WORKSTATION = 531,
    ID_TOOLS_CLEAR_COMPARISON = 532,
    ID_FILE_BACKUP = 540,
    ID_EDIT_UNDO = 0xE12B,
    ID_EDIT_REDO = 0xE12C,
    ID_FILE_OPEN = 0xE101,
    ID_FILE_MRU_FILE1 = 0xE110,
    ID_EDIT_FIND = 0xE124,
    ID_APP_ABOUT = 0xE140,
    ID_APP_EXIT = 0xE141,
    ID_NEXT_PANE = 0xE150,
    ID_PREV_PANE = 0xE151,
};

// The main window: menu, keys, toolbar and dialog bar, status bar, and the document windows
// (PCG windows and the one hidden Workstation window) in an MDI area. Commands are enabled
// when the program is idle, the way menus and bars are brought up to date, and when the
// Workstation window's connection changes; the MIDI status pane follows those changes alone,
// so that no idle pass waits on the MIDI services. User-interface thread only.
class CMainFrame : public QMainWindow {
    Q_OBJECT
public:
    explicit CMainFrame(bq::midi::IMidiServices& services, QWidget* parent = nullptr);
    ~CMainFrame() override;

    // Load `path` and open a window on it; on failure report why and return null.
    CPCGFrame* OpenPCGFile(const QString& path);
    // The open dialog as File Open shows it.
    std::unique_ptr<QFileDialog> CreateOpenDialog();
    // "A|a|B|b||" filter text as name filters ("A", "B" when they name their patterns).
    static QStringList NameFilters(const QString& filterText);
    // The save dialog of File Back Up Workstation, on a new file in the home folder.
    std::unique_ptr<QFileDialog> CreateBackupDialog();
    // What File Back Up Workstation does once it has the file name: connects when it is not
    // (the usual search), then backs the whole memory up into `path`. True when written.
    bool BackUpWorkstation(const QString& path);

    // Runs a command as its menu item, key or button does; false when nothing handles it.
    bool ExecuteCommand(int id);
    QAction* CommandAction(int id) const { return m_actions.value(id, nullptr); }

    // What the idle handler does (commands and title), and what the Workstation window's
    // MIDIStatusChanged does (MIDI status pane and commands).
    void UpdateCommandUI();
    void UpdateMIDIStatus();
    void UpdateFrameTitle();

    QMdiArea* MdiArea() const { return m_mdiArea; }
    // The one Workstation window, hidden until View Workstation shows it; made on first use.
    CWSFrame* WorkstationFrame();
    QLabel* MessagePane() const { return m_messagePane; }
    QLabel* MIDIStatusPane() const { return m_midiStatusPane; }
    QToolBar* ToolBar() const { return m_toolBar; }
    QToolBar* DialogBar() const { return m_dialogBar; }

    // Find, the item panes and the comparison. The find bar and its results are made the
    // first time Edit > Find shows them.
    CItemSources& ItemSources() const { return *m_sources; }
    CFinder& Finder() const { return *m_finder; }
    CComparisons& Comparisons() const { return *m_comparisons; }
    CFindBar* FindBar() const { return m_findBar; }
    QDockWidget* FindResultsDock() const { return m_findDock; }
    CFindResultsView* FindResults() const { return m_findResults; }
    // The save dialog as File Export List shows it, offering `name`.
    std::unique_ptr<QFileDialog> CreateExportDialog(const QString& name);

protected:
    bool event(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void CreateMenus();
    void UpdateEditCommands();
    void CreateBars();
    // The prompt is shown in the message pane ("prompt\ntooltip": its first line).
    QAction* AddCommand(int id, const QString& text, std::optional<bq::StringId> prompt = {});
    void AddDocumentWindow(QMdiSubWindow* window);
    void ReleaseCtrlW(QMdiSubWindow* window);
    ICommandTarget* ActiveCommandTarget() const;
    void OnFileOpen();
    void OnFileBackUp();
    // Connects the Workstation window when it is not; true once it is.
    bool ConnectWorkstation();
    void OnViewWorkstation();
    void OnAppAbout();
    void OnPane(bool forward);
    void OnIdle();
    void AddFindCommands();
    void UpdateFindCommands();
    void WatchItems(CPCGFrame* frame);
    CPCGFrame* ActivePCGFrame() const;
    void OnEditFind();
    void OnFindText(const QString& text);
    void CloseFind();
    bool OnExportList();
    bool OnCompareWithWorkstation();
    bool OnClearComparison();

    QMdiArea* m_mdiArea = nullptr;
    QLabel* m_messagePane = nullptr;
    QLabel* m_midiStatusPane = nullptr;
    QToolBar* m_toolBar = nullptr;
    QToolBar* m_dialogBar = nullptr;
    bq::midi::IMidiServices& m_services;
    // Child of the MDI area once made, lives as long as this window; null until first used.
    CWSFrame* m_wsFrame = nullptr;
    QMap<int, QAction*> m_actions;
    QList<QMenu*> m_menus;
    std::unique_ptr<QFileDialog> m_openDialog;  // File Open's, made on first use

    // Gone before the windows they look at; the find last made, first gone.
    std::unique_ptr<CItemSources> m_sources;
    std::unique_ptr<CComparisons> m_comparisons;
    std::unique_ptr<CItemPanes> m_panes;
    std::unique_ptr<CFinder> m_finder;
    CFindBar* m_findBar = nullptr;  // children, made on first use
    QDockWidget* m_findDock = nullptr;
    CFindResultsView* m_findResults = nullptr;
    QAction* m_closeFind = nullptr;
};
