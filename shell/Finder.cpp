#include "shell/Finder.h"

#include <QEvent>
#include <QMdiSubWindow>

#include <algorithm>

#include "banktree/BankTreeView.h"
#include "messages/Messages.h"
#include "messages/StringTable.h"
#include "model/KarmaObject.h"
#include "shell/FindResults.h"
#include "shell/ItemSources.h"

CFinder::CFinder(CItemSources& sources, QObject* parent) : QObject(parent), m_sources(sources) {
    // A window opened, closed, shown, hidden or changed while a text is set: find again.
    connect(&m_sources, &CItemSources::Changed, this, [this] {
        if (IsActive()) {
            Run();
        }
    });
}

CFinder::~CFinder() {
    RestoreAll();
}

void CFinder::SetResultsView(CFindResultsView* results) {
    m_results = results;
    if (results == nullptr) {
        return;
    }
    results->SetBeforeDrag([this](QTreeWidgetItem* row, CBankItemData* record) {
        int image = -1;
        return m_results != nullptr && row->parent() != nullptr &&
               m_results->GetItemImage(row, &image) &&
               RefreshDragged(static_cast<std::uint32_t>(m_results->GetItemData(row->parent())),
                              record, image);
    });
    results->SetProgramLookup([this](std::uint32_t id, int bank, int slot) {
        CItemSources::Source* source = m_sources.OfId(id);
        const std::size_t index = source != nullptr
                                      ? source->catalog.IndexOf(bq::ItemKind::Program, bank, slot)
                                      : bq::ItemCatalog::npos;
        return index != bq::ItemCatalog::npos
                   ? bq::Ref<CKarmaObject>::Share(&source->catalog.Item(index))
                   : bq::Ref<CKarmaObject>();
    });
    connect(results, &CFindResultsView::DragEnded, this, [this] {
        if (m_resultsPending && IsActive()) {
            Run();
        }
    });
    if (IsActive()) {
        Run();
    }
}

bool CFinder::RefreshDragged(std::uint32_t source, CBankItemData* record, int image) {
    CItemSources::Source* s = m_sources.OfId(source);
    if (s == nullptr) {
        return false;
    }
    const auto kind =
        image == IMAGE_COMBINATION ? bq::ItemKind::Combination : bq::ItemKind::Program;
    const std::size_t index = s->catalog.IndexOf(kind, record->GetBank(), record->GetSlot());
    if (index == bq::ItemCatalog::npos) {
        return false;
    }
    // What the window holds there now, which is what the user sees listed.
    CKarmaObject* live = &s->catalog.Item(index);
    if (record->GetObject() != live) {
        record->SetObject(bq::Ref<CKarmaObject>::Share(live));
    }
    return true;
}

void CFinder::SetText(const QString& text) {
    if (text.isEmpty()) {
        m_text.clear();
        RestoreAll();
        m_counts.clear();
        m_total = 0;
        if (m_results != nullptr) {
            m_results->ClearResults();
        }
        m_resultsPending = false;
        emit Updated();
        return;
    }
    m_text = text;
    m_unmatchable = false;
    m_needle.clear();
    m_needle.reserve(static_cast<std::size_t>(text.size()));
    for (const QChar c : text) {
        // The names are Latin-1; a character beyond it is in none of them.
        if (c.unicode() > 0xFF) {
            m_unmatchable = true;
        }
        m_needle += static_cast<char>(c.unicode() & 0xFF);
    }
    Run();
}

void CFinder::SetWithUsers(bool on) {
    if (on == m_withUsers) {
        return;
    }
    m_withUsers = on;
    if (IsActive()) {
        Run();
    }
}

void CFinder::Match(CItemSources::Source& source, Tree& tree) {
    if (m_unmatchable) {
        tree.matches.clear();
        return;
    }
    source.catalog.Find(m_needle, tree.matches);
    if (!m_withUsers) {
        return;
    }
    // Generations count from 1: 0 is an index never made.
    if (tree.usesGeneration != source.generation) {
        tree.uses = bq::ProgramUseIndex(source.catalog);
        tree.usesGeneration = source.generation;
    }
    tree.uses.AddUsers(source.catalog, tree.matches);
}

void CFinder::Run() {
    const std::vector<CItemSources::Source*> open = m_sources.Open();
    // Trees no longer open (a hidden Workstation window, a closed file) leave the find.
    for (auto it = m_trees.begin(); it != m_trees.end();) {
        const bool stillOpen = std::any_of(open.begin(), open.end(), [&](const auto* s) {
            return s->id == it->first && s->view == it->second.filter->View();
        });
        if (stillOpen) {
            ++it;
            continue;
        }
        Unwatch(it->second);
        if (CItemSources::Source* s = m_sources.OfId(it->first)) {
            it->second.filter->Restore(s->nodes, s->generation);
        }
        it = m_trees.erase(it);
    }
    m_counts.clear();
    m_total = 0;
    for (CItemSources::Source* s : open) {
        Tree& tree = m_trees[s->id];
        if (tree.filter == nullptr) {
            tree.filter = std::make_unique<CTreeFilter>(s->view);
            tree.window = s->window.data();
            tree.viewport = s->view->viewport();
            tree.window->installEventFilter(this);
            tree.viewport->installEventFilter(this);
        }
        Match(*s, tree);
        // Hiding and showing rows, and laying out and painting the tree afterwards, is most of
        // a keystroke's work: trees out of sight wait until they come into it.
        tree.pending = !tree.filter->InSight();
        if (!tree.pending) {
            tree.filter->Apply(s->nodes, s->generation, tree.matches);
        }
        if (!tree.matches.empty()) {
            m_counts.push_back({s->name, tree.matches.size()});
            m_total += tree.matches.size();
        }
    }
    FillResults(open);
    emit Updated();
}

void CFinder::FillResults(const std::vector<CItemSources::Source*>& open) {
    if (m_results == nullptr) {
        return;
    }
    // Rows being dragged (or dropped, the instrument being written) must stay.
    if (m_results->IsDragging() || m_results->IsDropping()) {
        m_resultsPending = true;
        return;
    }
    m_resultsPending = false;
    std::vector<CFindResultsView::Group> groups;
    for (CItemSources::Source* s : open) {
        const auto it = m_trees.find(s->id);
        if (it != m_trees.end()) {
            groups.push_back({s->id, s->name, &s->catalog, &it->second.matches});
        }
    }
    m_results->SetResults(groups);
}

bool CFinder::eventFilter(QObject* watched, QEvent* event) {
    const QEvent::Type type = event->type();
    if (type == QEvent::Paint || type == QEvent::ZOrderChange || type == QEvent::Show ||
        type == QEvent::WindowStateChange) {
        for (auto& [id, tree] : m_trees) {
            if (tree.pending && (watched == tree.viewport || watched == tree.window)) {
                ApplyPending(id);
                break;
            }
        }
    }
    return QObject::eventFilter(watched, event);
}

void CFinder::ApplyPending(std::uint32_t source) {
    // The catalogue may have been made anew since the keystroke (the tree changed): the
    // matches are found again in the one the tree has now.
    CItemSources::Source* s = m_sources.OfId(source);
    const auto it = m_trees.find(source);
    if (s == nullptr || it == m_trees.end() || s->view == nullptr) {
        return;
    }
    Tree& tree = it->second;
    tree.pending = false;
    Match(*s, tree);
    tree.filter->Apply(s->nodes, s->generation, tree.matches);
}

void CFinder::Unwatch(Tree& tree) {
    if (tree.window != nullptr) {
        tree.window->removeEventFilter(this);
    }
    if (tree.viewport != nullptr) {
        tree.viewport->removeEventFilter(this);
    }
}

void CFinder::RestoreAll() {
    for (auto& [id, tree] : m_trees) {
        Unwatch(tree);
        if (CItemSources::Source* s = m_sources.OfId(id)) {
            tree.filter->Restore(s->nodes, s->generation);
        }
    }
    m_trees.clear();
}

QString CFinder::CountsText() const {
    if (m_total == 0) {
        return bq::LoadString(bq::StringId::NoMatches);
    }
    QStringList parts;
    for (const Count& c : m_counts) {
        parts << bq::FormatText(bq::LoadString(bq::StringId::WindowMatches),
                                {c.window, QString::number(c.matches)});
    }
    const QString total = m_total == 1 ? bq::LoadString(bq::StringId::OneMatch)
                                       : bq::FormatText(bq::LoadString(bq::StringId::Matches),
                                                        {QString::number(m_total)});
    return bq::FormatText(bq::LoadString(bq::StringId::MatchCounts),
                          {total, parts.join(QStringLiteral(", "))});
}
