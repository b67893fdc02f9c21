#include "shell/TreeFilter.h"

#include <QItemSelectionModel>
#include <QScrollBar>
#include <QTreeWidgetItemIterator>

#include <algorithm>

#include "banktree/BankTreeView.h"

CTreeFilter::CTreeFilter(CBankTreeView* view) : m_view(view) {
    for (QTreeWidgetItem* branch : Branches()) {
        if (branch->isExpanded()) {
            m_expanded.emplace_back(view->indexFromItem(branch));
        }
    }
    m_current = QPersistentModelIndex(view->currentIndex());
    if (QItemSelectionModel* selection = view->selectionModel()) {
        for (const QModelIndex& index : selection->selectedIndexes()) {
            m_selected.append(QPersistentModelIndex(index));
        }
    }
    m_scroll = view->verticalScrollBar()->value();
    m_watch = QObject::connect(view, &QTreeWidget::currentItemChanged, view, [this] {
        if (!m_changing) {
            m_userChose = true;
        }
    });
}

CTreeFilter::~CTreeFilter() {
    QObject::disconnect(m_watch);
}

CBankTreeView* CTreeFilter::View() const {
    return m_view;
}

bool CTreeFilter::InSight() const {
    // The region takes out what sibling windows (the other document windows) cover.
    return m_view != nullptr && m_view->isVisible() &&
           !m_view->viewport()->visibleRegion().isEmpty();
}

std::vector<QTreeWidgetItem*> CTreeFilter::Branches() const {
    std::vector<QTreeWidgetItem*> branches;
    if (m_view == nullptr) {
        return branches;
    }
    auto isBranch = [this](const QTreeWidgetItem* node) {
        int image = -1;
        return m_view->GetItemImage(node, &image) && (image == IMAGE_GROUP || image == IMAGE_BANK);
    };
    for (int g = 0; g < m_view->topLevelItemCount(); ++g) {
        QTreeWidgetItem* group = m_view->topLevelItem(g);
        if (!isBranch(group)) {
            continue;
        }
        branches.push_back(group);
        for (int b = 0; b < group->childCount(); ++b) {
            if (isBranch(group->child(b))) {
                branches.push_back(group->child(b));
            }
        }
    }
    return branches;
}

void CTreeFilter::Apply(const std::vector<QTreeWidgetItem*>& nodes, std::uint64_t generation,
                        const std::vector<std::uint32_t>& matches) {
    if (m_view == nullptr) {
        return;
    }
    m_changing = true;
    std::vector<char> shown(nodes.size(), 0);
    // The banks and groups that hold a match; the matches come in tree order, so most of them
    // share the bank of the one before.
    std::vector<QTreeWidgetItem*> holding;
    QTreeWidgetItem* lastBank = nullptr;
    for (const std::uint32_t m : matches) {
        if (m >= nodes.size() || nodes[m] == nullptr) {
            continue;
        }
        shown[m] = 1;
        QTreeWidgetItem* bank = nodes[m]->parent();
        if (bank == lastBank) {
            continue;
        }
        lastBank = bank;
        for (QTreeWidgetItem* p = bank; p != nullptr; p = p->parent()) {
            if (std::find(holding.begin(), holding.end(), p) == holding.end()) {
                holding.push_back(p);
            }
        }
    }

    // Hiding marks the tree for one layout later on, however many rows change. Only rows
    // whose state changes are touched: the next keystroke mostly narrows or widens a little.
    const bool known = m_applied && generation == m_generation && m_shown.size() == nodes.size();
    for (std::size_t i = 0; i < nodes.size(); ++i) {
        QTreeWidgetItem* node = nodes[i];
        if (node == nullptr) {
            continue;
        }
        // Before the first find nothing is hidden; after the catalogue changed, ask the tree.
        const bool wasShown = known ? m_shown[i] != 0 : (!m_applied || !node->isHidden());
        if (wasShown != (shown[i] != 0)) {
            node->setHidden(shown[i] == 0);
        }
    }
    m_shown = std::move(shown);
    m_generation = generation;
    m_applied = true;

    for (QTreeWidgetItem* branch : Branches()) {
        const bool holds = std::find(holding.begin(), holding.end(), branch) != holding.end();
        if (branch->isHidden() == holds) {
            branch->setHidden(!holds);
        }
        // Only nodes with items open: a Workstation bank that is not loaded would download.
        if (holds && !branch->isExpanded() && branch->childCount() > 0) {
            branch->setExpanded(true);
        }
    }
    m_changing = false;
}

void CTreeFilter::ShowAll(const std::vector<QTreeWidgetItem*>& nodes, std::uint64_t generation) {
    if (!m_applied) {
        return;
    }
    if (generation == m_generation && m_shown.size() == nodes.size()) {
        for (std::size_t i = 0; i < nodes.size(); ++i) {
            if (m_shown[i] == 0 && nodes[i] != nullptr) {
                nodes[i]->setHidden(false);
            }
        }
        return;
    }
    // The tree changed since: every node it has.
    for (QTreeWidgetItemIterator it(m_view); *it != nullptr; ++it) {
        if ((*it)->isHidden()) {
            (*it)->setHidden(false);
        }
    }
}

void CTreeFilter::Restore(const std::vector<QTreeWidgetItem*>& nodes, std::uint64_t generation) {
    // A tree the find never came to (it stayed out of sight) is as it was.
    if (m_view == nullptr || !m_applied) {
        return;
    }
    m_changing = true;
    ShowAll(nodes, generation);
    m_applied = false;
    m_shown.clear();

    std::vector<QTreeWidgetItem*> expanded;
    for (const QPersistentModelIndex& index : m_expanded) {
        if (index.isValid()) {
            expanded.push_back(m_view->itemFromIndex(index));
        }
    }
    for (QTreeWidgetItem* branch : Branches()) {
        if (branch->isHidden()) {
            branch->setHidden(false);
        }
        const bool open = branch->childCount() > 0 &&
                          std::find(expanded.begin(), expanded.end(), branch) != expanded.end();
        if (branch->isExpanded() != open) {
            branch->setExpanded(open);
        }
    }

    QTreeWidgetItem* current = m_view->currentItem();
    if (m_userChose && current != nullptr) {
        for (QTreeWidgetItem* p = current->parent(); p != nullptr; p = p->parent()) {
            if (!p->isExpanded()) {
                p->setExpanded(true);
            }
        }
        m_view->scrollToItem(current);
    } else if (QItemSelectionModel* selection = m_view->selectionModel()) {
        QItemSelection selected;
        for (const QPersistentModelIndex& index : m_selected) {
            if (index.isValid()) {
                selected.select(index, index);
            }
        }
        selection->select(selected, QItemSelectionModel::ClearAndSelect);
        selection->setCurrentIndex(m_current, QItemSelectionModel::NoUpdate);
        // The scroll range follows the rows in sight only after a layout.
        m_view->doItemsLayout();
        m_view->verticalScrollBar()->setValue(m_scroll);
    }
    m_changing = false;
}
