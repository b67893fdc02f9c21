#pragma once

// The open inputs or outputs of a MIDI services backend by handle: the handles themselves and
// the look-up that every call on a handle starts with.
//
// Threads: a backend uses its tables on its worker thread only. The worker runs the calls one
// after another, which is what keeps a handle from being closed under a call that uses it, so
// a table takes no lock of its own.

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <utility>

#include "midi/MidiServices.h"

namespace bq::midi {

// Hands out handles: never 0 ("no port"), and each one once (until 2^32 opens have wrapped
// around), so that a handle kept after its close is refused rather than taken for a port opened
// since, on the same device or another. A backend's inputs and outputs draw from one source,
// so that an input's handle never names an output.
class HandleSource {
public:
    explicit HandleSource(std::uint32_t first = 1) : m_next(first) {}

    std::uint32_t Next() {
        if (m_next == 0) {
            m_next = 1;
        }
        return m_next++;
    }

private:
    std::uint32_t m_next;
};

template <typename Entry>
class HandleTable {
public:
    explicit HandleTable(HandleSource& source) : m_source(&source) {}

    // A handle for an entry inserted later: the JACK backend names its port after the handle
    // before the port exists. A handle reserved and never inserted is simply not open.
    std::uint32_t Reserve() { return m_source->Next(); }
    void Insert(std::uint32_t handle, Entry entry) {
        m_entries.insert_or_assign(handle, std::move(entry));
    }
    std::uint32_t Add(Entry entry) {
        const std::uint32_t handle = Reserve();
        Insert(handle, std::move(entry));
        return handle;
    }
    bool Remove(std::uint32_t handle) { return m_entries.erase(handle) != 0; }
    // Removes an open handle and hands back its entry; nothing for a handle that is not open.
    std::optional<Entry> Take(std::uint32_t handle) {
        auto it = m_entries.find(handle);
        if (it == m_entries.end()) {
            return std::nullopt;
        }
        std::optional<Entry> entry(std::move(it->second));
        m_entries.erase(it);
        return entry;
    }

    // Null for a handle that is not open.
    Entry* Find(std::uint32_t handle) {
        auto it = m_entries.find(handle);
        return it == m_entries.end() ? nullptr : &it->second;
    }

    // Runs `action(entry)` for an open handle and returns what it returns; a handle that is not
    // open (0, never handed out, closed) gives MMSYSERR_INVALHANDLE and the action never runs.
    // The action may Remove the handle once it is done with the entry.
    template <typename Action>
    MidiResult With(std::uint32_t handle, Action&& action) {
        Entry* entry = Find(handle);
        return entry == nullptr ? MMSYSERR_INVALHANDLE : std::forward<Action>(action)(*entry);
    }

    // True when an open entry matches `predicate` (a device that is open already, say).
    template <typename Predicate>
    bool Any(Predicate&& predicate) const {
        for (const auto& [handle, entry] : m_entries) {
            if (predicate(entry)) {
                return true;
            }
        }
        return false;
    }

    std::size_t Size() const { return m_entries.size(); }
    // In handle order, as pairs of handle and entry.
    auto begin() { return m_entries.begin(); }
    auto end() { return m_entries.end(); }
    auto begin() const { return m_entries.begin(); }
    auto end() const { return m_entries.end(); }

private:
    HandleSource* m_source;
    std::map<std::uint32_t, Entry> m_entries;
};

}  // namespace bq::midi
