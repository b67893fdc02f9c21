#pragma once

// The "Find Results" list: every match of the find, under a row for each window that holds
// some (the window's name and its count), with the item's name, kind, bank, slot and window.
// A result is an item node that carries its record like the bank trees' nodes, so a
// Combination can be dragged from here onto the Workstation window as from a PCG window.
// Activating a result (a double click, Return) asks for its window and item.
//
// The list is filled afresh at every keystroke with thousands of matches, of which a few
// dozen are in sight: a result row holds only where its match is kept, and makes its texts,
// picture and record when the list asks for them, that is when the row scrolls into sight
// (or is dragged, or read). User-interface thread only.

#include <QString>

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "banktree/BankTreeView.h"
#include "model/ItemCatalog.h"

class CFindResultsView : public CBankTreeView {
    Q_OBJECT
public:
    enum Column : int { kName = 0, kKind, kBank, kSlot, kWindow, kColumns };

    // One window's matches: indexes into its catalogue.
    struct Group {
        std::uint32_t source = 0;
        QString window;
        const bq::ItemCatalog* catalog = nullptr;
        const std::vector<std::uint32_t>* matches = nullptr;
    };

    explicit CFindResultsView(QWidget* parent = nullptr);
    ~CFindResultsView() override;

    // Replaces what the list shows.
    void SetResults(const std::vector<Group>& groups);
    void ClearResults();

    // A result row's place, false for any other row.
    bool ResultOf(const QTreeWidgetItem* row, std::uint32_t* source, bq::ItemKind* kind, long* bank,
                  long* slot) const;

    // Asked as a drag starts: brings the record of a result up to date with its window (the
    // instrument may hold another Combination there since); false refuses the drag.
    void SetBeforeDrag(std::function<bool(QTreeWidgetItem*, CBankItemData*)> check) {
        m_beforeDrag = std::move(check);
    }

    bool CanDragItem(QTreeWidgetItem* item) override;

    // How a result's Programs are found: in the catalogue of its window.
    using ProgramLookup =
        std::function<bq::Ref<CKarmaObject>(std::uint32_t source, int bank, int slot)>;
    void SetProgramLookup(ProgramLookup lookup) { m_programLookup = std::move(lookup); }
    bq::Ref<CKarmaObject> ProgramOf(const QTreeWidgetItem* item, int bank, int slot) const override;

signals:
    void ResultActivated(std::uint32_t source, bq::ItemKind kind, long bank, long slot);
    // A drag from the list ended, dropped or not: its rows may be replaced again.
    void DragEnded();

protected:
    // Each may end a drag.
    bool eventFilter(QObject* watched, QEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    class ResultNode;
    // One window's matches as the rows show them, taken when the results came: the list keeps
    // them while its rows live, whatever happens to the window's catalogue meanwhile.
    struct Shown {
        std::uint32_t source = 0;
        QString window;
        std::vector<bq::ItemCatalog::Entry> entries;
        std::vector<bq::Ref<CKarmaObject>> items;
    };

    void NoteDragEnd(bool wasBusy);

    std::function<bool(QTreeWidgetItem*, CBankItemData*)> m_beforeDrag;
    ProgramLookup m_programLookup;
    std::vector<std::unique_ptr<Shown>> m_shown;  // after the rows are gone
    std::array<QString, 2> m_kindTexts;           // by bq::ItemKind
};
