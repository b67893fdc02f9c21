#pragma once

// What a find does to one bank tree: only the items that match stay in sight, with the banks
// and groups that hold them, opened; and afterwards the tree as it was. Made when the find
// first touches the tree, it keeps the tree's open nodes, current item, selection and scroll
// position until Restore. User-interface thread only.

#include <QList>
#include <QMetaObject>
#include <QPersistentModelIndex>
#include <QPointer>

#include <cstdint>
#include <vector>

class CBankTreeView;
class QTreeWidgetItem;

class CTreeFilter {
public:
    explicit CTreeFilter(CBankTreeView* view);
    ~CTreeFilter();
    CTreeFilter(const CTreeFilter&) = delete;
    CTreeFilter& operator=(const CTreeFilter&) = delete;

    // `nodes` are the item nodes of the tree by catalogue index, of the catalogue numbered
    // `generation`; `matches` the sorted indexes to keep in sight.
    void Apply(const std::vector<QTreeWidgetItem*>& nodes, std::uint64_t generation,
               const std::vector<std::uint32_t>& matches);
    // Every node in sight again, opened and closed as before. The current item and selection
    // come back too, unless the user chose an item meanwhile: that one stays chosen, in sight.
    void Restore(const std::vector<QTreeWidgetItem*>& nodes, std::uint64_t generation);

    CBankTreeView* View() const;
    // Whether any part of the tree can be seen now: shown, and not wholly covered by other
    // windows.
    bool InSight() const;

private:
    // The group and bank nodes: the top-level nodes and their children that are no items.
    std::vector<QTreeWidgetItem*> Branches() const;
    void ShowAll(const std::vector<QTreeWidgetItem*>& nodes, std::uint64_t generation);

    QPointer<CBankTreeView> m_view;
    // Before the find.
    std::vector<QPersistentModelIndex> m_expanded;
    QPersistentModelIndex m_current;
    QList<QPersistentModelIndex> m_selected;
    int m_scroll = 0;
    bool m_userChose = false;
    bool m_changing = false;  // our own changes, which the user did not choose
    QMetaObject::Connection m_watch;

    // Which item nodes are in sight, by index into the catalogue of m_generation.
    std::vector<char> m_shown;
    std::uint64_t m_generation = 0;
    bool m_applied = false;
    std::vector<QPersistentModelIndex> m_hiddenBranches;
};
