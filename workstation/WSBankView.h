#pragma once

// The Workstation view: the instrument's memory as a tree of two groups ("Combinations" above
// "Programs") with six bank nodes each. It shows what the Workstation session's memory knows:
// a bank's 128 items appear when it has been downloaded (the first expansion of its node asks
// for that), banks and items known only from an earlier connection are greyed with a tip, and
// a slot whose write got no answer says that it is not known. Combinations dropped on its
// Combinations are written to the instrument through the session (a send from a PCG view, a
// swap for one of the instrument's own). It also answers the Initialise commands and the round
// trip. Its item nodes carry references to the memory's items, never records of their own.
//
// User-interface thread only. Loads and writes wait for the instrument in nested event loops
// of the Workstation window, so the view may be destroyed inside any of them; every handler
// checks for that before it touches the view again.

#include <QString>

#include <cstddef>
#include <cstdint>
#include <vector>

#include "banktree/BankTreeView.h"
#include "banktree/CommandTarget.h"

class CKarmaObject;
class CWSFrame;
class CWSMemory;
namespace bq {
enum class StringId : int;
}
class QAction;

class CWSBankView : public CBankTreeView, public ICommandTarget {
    Q_OBJECT
public:
    // The data value of a bank node: the bank index in the low 16 bits, the kind above.
    static constexpr std::uintptr_t kProgramBankKind = 0;
    static constexpr std::uintptr_t kCombiBankKind = 1;
    static constexpr std::uintptr_t BankNodeData(std::uintptr_t kind, long bank) {
        return (kind << 16) | (static_cast<std::uintptr_t>(bank) & 0xFFFF);
    }

    static constexpr std::uint32_t kCombiBankDumpSize = 146000;
    static constexpr std::uint32_t kProgramBankDumpSize = 118000;

    explicit CWSBankView(QWidget* parent = nullptr);
    ~CWSBankView() override;

    // The memory this view shows, the session's; set once by the window.
    void ShowMemory(CWSMemory* memory);

    // The window whose left pane holds this view; null while it sits anywhere else.
    CWSFrame* GetWSFrame() const;

    // Download a bank; its node shows the items when they came.
    void LoadCombiBank(QTreeWidgetItem* bankNode, long bank);
    void LoadProgramBank(QTreeWidgetItem* bankNode, long bank);

    // The text of an item node: the slot as "%.3ld : ", then the item's name.
    static QString ItemLabel(long slot, const CKarmaObject& item);

    // The bank node of a bank, and the item node of a place when its bank shows items.
    QTreeWidgetItem* BankNode(bool combination, long bank) const;
    QTreeWidgetItem* ItemNode(bool combination, long bank, long slot) const;

    // ICommandTarget: the three Initialise commands and the round trip.
    bool OnUpdateCommand(int id, bool* enabled) override;
    bool OnCommand(int id) override;

    // The one entry of the view's context menu.
    QAction* RoundTripAction() const { return m_roundTrip; }

protected:
    void OnDrop(DRAGTREEINFO* info) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    void OnItemExpanding(QTreeWidgetItem* node);
    void LoadBank(QTreeWidgetItem* bankNode, bool combination, long bank);
    // What the memory says of a bank, or of one slot, shown in its nodes.
    void ShowBank(bool combination, int bank);
    void ShowSlot(bool combination, int bank, int slot);
    void ShowItem(QTreeWidgetItem* node, bool combination, int bank, int slot);
    void ShowBankLook(QTreeWidgetItem* node, bool combination, int bank);
    bool SelectedImageIs(int image) const;
    void OnBankInitialise();
    void OnItemInitialise(bq::StringId questionId);

    CWSMemory* m_memory = nullptr;
    QAction* m_roundTrip = nullptr;  // child
};
