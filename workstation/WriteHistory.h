#pragma once

// The writes made to the instrument during one connection, as steps that Undo and Redo walk:
// a send, a swap (its two writes are one step), a round trip. Every write keeps, by value, the
// record its place held before and the one written, so no record the instrument held is lost
// while the connection lasts. A write whose place's record was not known in this connection,
// or that got no answer, is a step that cannot be undone: it stands on top alone, and what came
// before it can no longer be reached. The history only keeps the books: the caller makes the writes
// and says how many went through, so a step may also stand half done (a swap whose second
// write failed, or whose undo stopped half-way), exactly as the instrument holds it.
//
// Standard library only; user-interface thread.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace bq::ws {

using Record = std::vector<std::uint8_t>;

// A place of the instrument's memory: a Combination or Program bank 0..5, slot 0..127.
struct Place {
    int bank = 0;
    int slot = 0;
    bool combination = true;
    friend bool operator==(const Place&, const Place&) = default;
};

struct SlotWrite {
    Place place;
    Record before;  // what the place held
    Record after;   // what was written there
};

enum class StepKind : std::uint8_t { Send, Swap, RoundTrip, Restore, SendWithPrograms };

struct WriteStep {
    StepKind kind = StepKind::Send;
    std::vector<SlotWrite> writes;  // in the order they were made
    std::size_t applied = 0;        // the first `applied` writes are on the instrument
    bool undoable = true;           // false: a step that cannot be undone, named for the menu
};

// One write that Undo or Redo is to make: this record into this place.
struct PendingWrite {
    Place place;
    Record record;
};

class WriteHistory {
public:
    // Adds a step of which the first `applied` writes went through; a step none of whose writes
    // went through changed nothing and is not added. The steps undone before it can no longer
    // be redone: they go, and so do the writes a half-undone step has not made again.
    void Record(StepKind kind, std::vector<SlotWrite> writes, std::size_t applied);
    // Adds a step that cannot be undone (the records before it are not known, or a write got no
    // answer): every earlier step goes, and it stays on top to name what cannot be undone.
    void RecordFinal(StepKind kind, std::vector<SlotWrite> writes);

    bool Empty() const { return m_steps.empty(); }
    std::size_t Steps() const { return m_steps.size(); }
    void Clear();

    // The step Undo acts on (the latest with a write on the instrument) and the one Redo acts
    // on (a half-undone step first, then the earliest undone one); null when there is none.
    // UndoStep may be one that cannot be undone: CanUndo says.
    const WriteStep* UndoStep() const;
    const WriteStep* RedoStep() const;
    bool CanUndo() const { return UndoStep() != nullptr && UndoStep()->undoable; }
    bool CanRedo() const { return RedoStep() != nullptr; }

    // The writes that undo UndoStep(), in the order to make them: the latest write first, each
    // putting back the record its place held before.
    std::vector<PendingWrite> UndoWrites() const;
    // The first `count` of UndoWrites() went through (fewer than all: the step stays half
    // undone).
    void Undone(std::size_t count);

    // The writes that redo RedoStep(), in their first order, each with the record written then.
    std::vector<PendingWrite> RedoWrites() const;
    void Redone(std::size_t count);

private:
    std::size_t RedoIndex() const;

    std::vector<WriteStep> m_steps;
    // Steps [0, m_done) have at least one write on the instrument, the rest none.
    std::size_t m_done = 0;
};

}  // namespace bq::ws
