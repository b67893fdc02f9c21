#pragma once

// The file dialogs of the main window's commands: the same filters and defaults wherever a PCG
// file is asked for. User-interface thread only.

#include <QString>
#include <QStringList>

#include <memory>

class QFileDialog;
class QWidget;

namespace bq {

// "A|a|B|b||" filter text as name filters ("A", "B" when they name their patterns).
QStringList NameFilters(const QString& filterText);

// A dialog that asks for a PCG file: to open (a name that need not exist: loading it tells the
// user what is wrong), or to save into, offering `name` in the home folder.
std::unique_ptr<QFileDialog> OpenPcgDialog(QWidget* parent, const QString& title);
std::unique_ptr<QFileDialog> SavePcgDialog(QWidget* parent, const QString& title,
                                           const QString& name);

}  // namespace bq
