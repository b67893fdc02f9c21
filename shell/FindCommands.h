#pragma once

// Edit > Find: the find bar, the Find Results list docked below the windows, and Escape that
// closes them. The bar and the list are made the first time Find shows them. User-interface
// thread only.

#include <QObject>
#include <QString>

class CCommands;
class CFindBar;
class CFindResultsView;
class CFinder;
class CItemSources;
class QAction;
class QDockWidget;
class QMainWindow;
class QMdiArea;

class CFindCommands : public QObject {
    Q_OBJECT
public:
    CFindCommands(CCommands& commands, QMainWindow& window, QMdiArea& area, CItemSources& sources,
                  CFinder& finder);

    CFindBar* Bar() const { return m_bar; }
    QDockWidget* ResultsDock() const { return m_dock; }
    CFindResultsView* Results() const { return m_results; }

private:
    void OnFind();
    void MakeBar();
    void OnText(const QString& text);
    void Close();

    QMainWindow& m_window;
    QMdiArea& m_area;
    CItemSources& m_sources;
    CFinder& m_finder;
    CFindBar* m_bar = nullptr;  // children of the main window, made on first use
    QDockWidget* m_dock = nullptr;
    CFindResultsView* m_results = nullptr;
    QAction* m_close = nullptr;
};
