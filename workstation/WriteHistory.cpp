#include "workstation/WriteHistory.h"

#include <algorithm>
#include <utility>

namespace bq::ws {

void WriteHistory::Record(StepKind kind, std::vector<SlotWrite> writes, std::size_t applied) {
    applied = std::min(applied, writes.size());
    if (applied == 0) {
        return;
    }
    m_steps.resize(m_done);
    // A half-undone step keeps only what is on the instrument: its other writes were part of
    // the redo that is given up now.
    if (m_done > 0) {
        WriteStep& last = m_steps.back();
        last.writes.resize(last.applied);
    }
    m_steps.push_back(WriteStep{kind, std::move(writes), applied});
    m_done = m_steps.size();
}

void WriteHistory::RecordFinal(StepKind kind, std::vector<SlotWrite> writes) {
    m_steps.clear();
    m_steps.push_back(WriteStep{kind, std::move(writes), 0, false});
    m_steps.back().applied = m_steps.back().writes.size();
    m_done = 1;
}

void WriteHistory::Clear() {
    m_steps.clear();
    m_done = 0;
}

const WriteStep* WriteHistory::UndoStep() const {
    return m_done > 0 ? &m_steps[m_done - 1] : nullptr;
}

std::size_t WriteHistory::RedoIndex() const {
    if (m_done > 0 && m_steps[m_done - 1].applied < m_steps[m_done - 1].writes.size()) {
        return m_done - 1;
    }
    return m_done;  // past the end when nothing is undone
}

const WriteStep* WriteHistory::RedoStep() const {
    const std::size_t index = RedoIndex();
    return index < m_steps.size() ? &m_steps[index] : nullptr;
}

std::vector<PendingWrite> WriteHistory::UndoWrites() const {
    std::vector<PendingWrite> pending;
    if (const WriteStep* step = UndoStep(); step != nullptr && step->undoable) {
        for (std::size_t i = step->applied; i-- > 0;) {
            pending.push_back({step->writes[i].place, step->writes[i].before});
        }
    }
    return pending;
}

void WriteHistory::Undone(std::size_t count) {
    if (!CanUndo()) {
        return;
    }
    WriteStep& step = m_steps[m_done - 1];
    step.applied -= std::min(count, step.applied);
    if (step.applied == 0) {
        --m_done;
    }
}

std::vector<PendingWrite> WriteHistory::RedoWrites() const {
    std::vector<PendingWrite> pending;
    if (const WriteStep* step = RedoStep()) {
        for (std::size_t i = step->applied; i < step->writes.size(); ++i) {
            pending.push_back({step->writes[i].place, step->writes[i].after});
        }
    }
    return pending;
}

void WriteHistory::Redone(std::size_t count) {
    const std::size_t index = RedoIndex();
    if (index >= m_steps.size() || count == 0) {
        return;
    }
    WriteStep& step = m_steps[index];
    step.applied = std::min(step.applied + count, step.writes.size());
    m_done = std::max(m_done, index + 1);
}

}  // namespace bq::ws
