#include "shell/FindCommands.h"

#include <QAction>
#include <QDockWidget>
#include <QLineEdit>
#include <QMainWindow>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QSignalBlocker>

#include "messages/StringTable.h"
#include "shell/CommandIds.h"
#include "shell/Commands.h"
#include "shell/FindBar.h"
#include "shell/FindResults.h"
#include "shell/Finder.h"
#include "shell/ItemSources.h"

CFindCommands::CFindCommands(CCommands& commands, QMainWindow& window, QMdiArea& area,
                             CItemSources& sources, CFinder& finder)
    : QObject(&commands), m_window(window), m_area(area), m_sources(sources), m_finder(finder) {
    QAction* find =
        commands.Add(ID_EDIT_FIND, bq::LoadString(bq::StringId::CommandFind), {}, [this] {
            OnFind();
            return true;
        });
    find->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_F));
    find->setStatusTip(bq::LoadString(bq::StringId::FindPrompt));
}

void CFindCommands::MakeBar() {
    m_bar = new CFindBar(&m_window);
    // Only Escape and its own button close it: hiding it otherwise would keep the trees
    // filtered out of sight.
    m_bar->toggleViewAction()->setVisible(false);
    m_window.addToolBarBreak(Qt::TopToolBarArea);
    m_window.addToolBar(Qt::TopToolBarArea, m_bar);
    connect(m_bar, &CFindBar::TextChanged, this, &CFindCommands::OnText);
    connect(m_bar, &CFindBar::UsersOptionChanged, &m_finder, &CFinder::SetWithUsers);
    connect(m_bar, &CFindBar::CloseRequested, this, &CFindCommands::Close);

    m_results = new CFindResultsView;
    m_dock = new QDockWidget(bq::LoadString(bq::StringId::FindResultsTitle), &m_window);
    m_dock->setObjectName(QStringLiteral("findResultsDock"));
    // Not floating: a drag from the list looks for its target in the main window.
    m_dock->setFeatures(QDockWidget::DockWidgetClosable | QDockWidget::DockWidgetMovable);
    m_dock->setWidget(m_results);
    m_window.addDockWidget(Qt::BottomDockWidgetArea, m_dock);
    m_dock->hide();
    m_finder.SetResultsView(m_results);
    connect(m_results, &CFindResultsView::ResultActivated, this,
            [this](std::uint32_t id, bq::ItemKind kind, long bank, long slot) {
                CItemSources::Source* source = m_sources.OfId(id);
                const std::size_t index = source != nullptr
                                              ? source->catalog.IndexOf(kind, bank, slot)
                                              : bq::ItemCatalog::npos;
                if (index != bq::ItemCatalog::npos) {
                    m_sources.Select(*source, index);
                }
            });
    connect(&m_finder, &CFinder::Updated, this,
            [this] { m_bar->SetCounts(m_finder.IsActive() ? m_finder.CountsText() : QString()); });

    m_close = new QAction(bq::LoadString(bq::StringId::CloseFind), &m_window);
    m_close->setShortcut(QKeySequence(Qt::Key_Escape));
    m_close->setEnabled(false);
    m_window.addAction(m_close);
    connect(m_close, &QAction::triggered, this, &CFindCommands::Close);
}

void CFindCommands::OnFind() {
    if (m_bar == nullptr) {
        MakeBar();
    }
    m_close->setEnabled(true);
    m_bar->Focus();
    if (m_finder.IsActive()) {
        m_dock->show();
    }
}

void CFindCommands::OnText(const QString& text) {
    m_finder.SetText(text);
    if (!text.isEmpty()) {
        m_dock->show();
    }
}

void CFindCommands::Close() {
    if (m_bar == nullptr) {
        return;
    }
    m_finder.SetText(QString());
    {
        const QSignalBlocker quiet(m_bar->Field());
        m_bar->Field()->clear();
    }
    m_bar->SetCounts(QString());
    m_bar->hide();
    m_dock->hide();
    m_close->setEnabled(false);
    // The keyboard goes back to the window the user works in.
    if (QMdiSubWindow* window = m_area.currentSubWindow()) {
        QWidget* focus = window->focusWidget();
        (focus != nullptr ? focus : window)->setFocus();
    }
}
