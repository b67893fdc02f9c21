#pragma once

// The Workstation view: the instrument's memory as a tree of two groups ("Combinations" above
// "Programs") with six bank nodes each. A bank's 128 items are downloaded the first time its
// node is expanded; Combinations dropped on its Combinations are written to the instrument
// (a send from a PCG view, a swap within this view). It also answers the Initialise commands
// and the round trip. It keeps no banks of its own: what it shows lives in the tree, in the
// records its item nodes carry.
//
// User-interface thread only. Loads and writes wait for the instrument in nested event loops
// of the Workstation window, so the view may be destroyed inside any of them; every handler
// checks for that before it touches the view again.

#include <QString>

#include <cstddef>
#include <cstdint>

#include "banktree/BankTreeView.h"
#include "banktree/CommandTarget.h"

class CKarmaObject;
class CWSFrame;
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
    static constexpr std::uint32_t kSingleCombiDumpSize = 600;

    explicit CWSBankView(QWidget* parent = nullptr);
    ~CWSBankView() override;

    // The window whose left pane holds this view; null while it sits anywhere else.
    CWSFrame* GetWSFrame() const;

    // Download a bank into the (empty) bank node; on failure the node stays without items.
    void LoadCombiBank(QTreeWidgetItem* bankNode, long bank);
    void LoadProgramBank(QTreeWidgetItem* bankNode, long bank);

    // The text of an item node: the slot as "%.3ld : ", then the item's name.
    static QString ItemLabel(long slot, const CKarmaObject& item);

    // ICommandTarget: the three Initialise commands and the round trip.
    bool OnUpdateCommand(int id, bool* enabled) override;
    bool OnCommand(int id) override;

    // The one entry of the view's context menu.
    QAction* RoundTripAction() const { return m_roundTrip; }

protected:
    void OnDrop(DRAGTREEINFO* info) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    enum class Kind { Combi, PcmProgram, MossProgram };

    void OnItemExpanding(QTreeWidgetItem* node);
    void LoadBank(QTreeWidgetItem* bankNode, long bank, Kind kind, std::uint8_t* request,
                  const QString& statusText, std::uint32_t expected);
    bool SelectedImageIs(int image) const;
    void OnBankInitialise();
    void OnItemInitialise(bq::StringId questionId);
    void OnRoundTrip();
    // The item node of a Combination place when its bank is loaded; null otherwise.
    QTreeWidgetItem* LoadedCombiItem(long bank, long slot) const;
    void Send(QTreeWidgetItem* targetItem, CBankItemData* target, CBankItemData* source);
    void Swap(QTreeWidgetItem* targetItem, CBankItemData* target, QTreeWidgetItem* sourceItem,
              CBankItemData* source);
    // Puts a new Combination made of `record` into the item node, with its label.
    bool ReplaceWithCopy(QTreeWidgetItem* item, CBankItemData* data, std::uint8_t* record);
    // One Item Write of a Combination record to a place of the instrument.
    bool WriteCombi(std::uint8_t* record, std::size_t size, long bank, long slot);

    QAction* m_roundTrip = nullptr;  // child
    bool m_loading = false;
};
