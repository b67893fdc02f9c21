#pragma once

// File > Export List: the active window's items as CSV or as the tree shows them. Enabled
// while the active window holds a bank tree. User-interface thread only.

#include <QObject>
#include <QString>

#include <memory>

class CCommands;
class CItemSources;
class QAction;
class QFileDialog;
class QMdiArea;
class QWidget;

class CExportCommand : public QObject {
    Q_OBJECT
public:
    CExportCommand(CCommands& commands, QMdiArea& area, CItemSources& sources, QWidget& window);

    // The save dialog as the command shows it, offering `name`.
    std::unique_ptr<QFileDialog> CreateExportDialog(const QString& name);
    void Update();

private:
    bool OnExport();

    QMdiArea& m_area;
    CItemSources& m_sources;
    QWidget& m_window;
    QAction* m_action = nullptr;  // owned by the main window
};
