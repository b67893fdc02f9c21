// The book-keeping of Undo and Redo when a new step comes after an undo: what can no longer be
// redone goes, and what the instrument holds stays. (Undo and Redo themselves, failures
// included, are tested from the keyboard in the Workstation view's tests.)
#include <gtest/gtest.h>

#include <vector>

#include "workstation/WriteHistory.h"

namespace {

using bq::ws::PendingWrite;
using bq::ws::Place;
using bq::ws::Record;
using bq::ws::SlotWrite;
using bq::ws::StepKind;
using bq::ws::WriteHistory;

Record R(std::uint8_t tag) {
    return Record(4, tag);
}

// What a slot of a tiny instrument holds, as the writes leave it.
struct Memory {
    std::vector<Record> slots = {R(1), R(2), R(3), R(4)};
    // Makes the writes in order, up to (not including) the one numbered `failAt`.
    std::size_t Apply(const std::vector<PendingWrite>& writes, std::size_t failAt = ~0u) {
        std::size_t done = 0;
        for (const PendingWrite& w : writes) {
            if (done == failAt) {
                break;
            }
            slots[w.place.slot] = w.record;
            ++done;
        }
        return done;
    }
};

// A send of `record` into `slot`, made on `memory` and recorded.
void Send(WriteHistory& history, Memory& memory, int slot, const Record& record) {
    history.Record(StepKind::Send, {{Place{0, slot}, memory.slots[slot], record}}, 1);
    memory.slots[slot] = record;
}

// A swap of `from` onto `to`: `to` is written first; `applied` writes went through.
void Swap(WriteHistory& history, Memory& memory, int from, int to, std::size_t applied) {
    const Record a = memory.slots[from];
    const Record b = memory.slots[to];
    std::vector<SlotWrite> writes = {{Place{0, to}, b, a}, {Place{0, from}, a, b}};
    if (applied >= 1) {
        memory.slots[to] = a;
    }
    if (applied >= 2) {
        memory.slots[from] = b;
    }
    history.Record(StepKind::Swap, std::move(writes), applied);
}

TEST(WriteHistory, ANewStepDropsWhatCouldBeRedoneAndAStepThatWroteNothingIsNoStep) {
    WriteHistory history;
    Memory memory;
    Send(history, memory, 0, R(7));
    Swap(history, memory, 1, 2, 2);
    history.Undone(memory.Apply(history.UndoWrites()));
    ASSERT_EQ(history.RedoStep()->kind, StepKind::Swap);

    // A refused write: no step, and the undone swap can still be redone.
    history.Record(StepKind::Send, {{Place{0, 3}, R(4), R(8)}}, 0);
    EXPECT_EQ(history.Steps(), 2u);
    EXPECT_EQ(history.RedoStep()->kind, StepKind::Swap);

    Send(history, memory, 3, R(8));
    EXPECT_EQ(history.Steps(), 2u);
    EXPECT_EQ(history.RedoStep(), nullptr);
    EXPECT_EQ(history.UndoStep()->writes[0].place, (Place{0, 3}));

    // A half-undone swap followed by a new step keeps only the write that is on the
    // instrument; undoing everything still gets every earlier record back.
    Memory other;
    const auto start = other.slots;
    WriteHistory second;
    Swap(second, other, 0, 1, 2);
    second.Undone(other.Apply(second.UndoWrites(), 1));
    Send(second, other, 3, R(5));
    ASSERT_EQ(second.Steps(), 2u);
    second.Undone(other.Apply(second.UndoWrites()));
    EXPECT_EQ(second.RedoStep()->kind, StepKind::Send) << "not the dropped half of the swap";
    EXPECT_EQ(second.UndoWrites().size(), 1u);
    second.Undone(other.Apply(second.UndoWrites()));
    EXPECT_EQ(other.slots, start);
    EXPECT_EQ(second.UndoStep(), nullptr);
}

}  // namespace
