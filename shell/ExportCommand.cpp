#include "shell/ExportCommand.h"

#include <QAction>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QPointer>

#include "messages/Messages.h"
#include "messages/StringTable.h"
#include "model/KorgPCGFile.h"
#include "shell/CommandIds.h"
#include "shell/Commands.h"
#include "shell/ItemSources.h"
#include "shell/ListExport.h"
#include "shell/PCGFrame.h"

CExportCommand::CExportCommand(CCommands& commands, QMdiArea& area, CItemSources& sources,
                               QWidget& window)
    : QObject(&commands), m_area(area), m_sources(sources), m_window(window) {
    m_action = commands.Add(ID_FILE_EXPORT_LIST, bq::LoadString(bq::StringId::CommandExportList),
                            {}, [this] { return OnExport(); });
    m_action->setStatusTip(bq::LoadString(bq::StringId::ExportListPrompt));
    // The active window, and whether it holds a bank tree, are what it depends on.
    connect(&area, &QMdiArea::subWindowActivated, this, &CExportCommand::Update);
    connect(&sources, &CItemSources::Changed, this, &CExportCommand::Update);
    Update();
}

void CExportCommand::Update() {
    QMdiSubWindow* active = m_area.currentSubWindow();
    CCommands::SetEnabled(m_action,
                          active != nullptr && active->isVisible() && m_sources.Holds(active));
}

std::unique_ptr<QFileDialog> CExportCommand::CreateExportDialog(const QString& name) {
    auto dialog =
        std::make_unique<QFileDialog>(&m_window, bq::LoadString(bq::StringId::ExportTitle));
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

bool CExportCommand::OnExport() {
    QPointer<QMdiSubWindow> window = m_area.currentSubWindow();
    if (window == nullptr || !window->isVisible() || !m_sources.Holds(window)) {
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
    CItemSources::Source* source = window != nullptr ? m_sources.OfWindow(window) : nullptr;
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
