#pragma once

#include <QMainWindow>
#include <QStringList>

#include <memory>

#include "midi/MidiServices.h"
#include "shell/CommandIds.h"
#include "shell/WorkstationHost.h"

class CBackupCommands;
class CCommands;
class CComparisonCommands;
class CComparisons;
class CExportCommand;
class CFindBar;
class CFindCommands;
class CFindResultsView;
class CFinder;
class CItemPanes;
class CItemSources;
class CPCGFrame;
class CUndoCommands;
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

// The main window: menu, keys, toolbar and dialog bar, status bar, and the document windows
// (PCG windows and the one hidden Workstation window) in an MDI area. It puts together the
// features, each of which owns its commands and keeps them enabled from the signals of what it
// depends on (the find, the comparison, the export, the backup, Undo); it keeps its own: the
// files, the Workstation window, the panes, About, and the active view's commands, which follow
// the active window, the keyboard focus and the view's selection. The MIDI status pane follows
// the Workstation window's changes alone. User-interface thread only.
class CMainFrame : public QMainWindow, public IWorkstationHost {
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
    // What File Restore Workstation does once it has the file (see CWSRestore); true when
    // something was written.
    bool RestoreWorkstation(const QString& path);

    // Runs a command as its menu item, key or button does; false when nothing handles it.
    bool ExecuteCommand(int id);
    QAction* CommandAction(int id) const;

    // Brings every command up to date at once (as a menu does when it opens), the MIDI status
    // pane (as the Workstation window's MIDIStatusChanged does) and the title.
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
    CFindBar* FindBar() const;
    QDockWidget* FindResultsDock() const;
    CFindResultsView* FindResults() const;
    // The save dialog as File Export List shows it, offering `name`.
    std::unique_ptr<QFileDialog> CreateExportDialog(const QString& name);

    // IWorkstationHost.
    CWSFrame* Workstation() override { return WorkstationFrame(); }
    bool ConnectWorkstation() override;
    void ShowWorkstation() override;

protected:
    bool event(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void CreateCommands();
    void CreateMenus();
    void CreateBars();
    void AddDocumentWindow(QMdiSubWindow* window);
    void ReleaseCtrlW(QMdiSubWindow* window);
    ICommandTarget* ActiveCommandTarget() const;
    // The active view's commands (Initialise) and the pane keys, from the active window, the
    // focus and the view's selection.
    void UpdateViewCommands();
    bool RunViewCommand(int id);
    void OnFileOpen();
    void OnViewWorkstation();
    void OnAppAbout();
    void OnPane(bool forward);
    void WatchItems(CPCGFrame* frame);

    QMdiArea* m_mdiArea = nullptr;
    QLabel* m_messagePane = nullptr;
    QLabel* m_midiStatusPane = nullptr;
    QToolBar* m_toolBar = nullptr;
    QToolBar* m_dialogBar = nullptr;
    bq::midi::IMidiServices& m_services;
    // Child of the MDI area once made, lives as long as this window; null until first used.
    CWSFrame* m_wsFrame = nullptr;
    QList<QMenu*> m_menus;
    std::unique_ptr<QFileDialog> m_openDialog;  // File Open's, made on first use

    // Gone before the windows they look at; the find last made, first gone.
    std::unique_ptr<CItemSources> m_sources;
    std::unique_ptr<CComparisons> m_comparisons;
    std::unique_ptr<CItemPanes> m_panes;
    std::unique_ptr<CFinder> m_finder;
    // The commands and the features that own them (children of the commands): gone first,
    // before what they look at, so that nothing the windows signal on their way out reaches
    // them.
    std::unique_ptr<CCommands> m_commands;
    CUndoCommands* m_undo = nullptr;
    CBackupCommands* m_backup = nullptr;
    CFindCommands* m_find = nullptr;
    CExportCommand* m_export = nullptr;
    CComparisonCommands* m_compare = nullptr;
};
