#pragma once

// What the JACK services keep behind their calls: the client, the port tables of both
// directions, the open handles, the sends in progress and the devices as last listed, with
// what the worker does with them. The calls themselves are in JackMidiServices.cpp.
//
// Threads: everything here belongs to the services' worker thread; the calls reach it through
// Ask and WithPort, which wait a bounded time (the worker may be inside libjack, waiting for a
// server that hangs).

#include <jack/jack.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "midi/HandleTable.h"
#include "midi/JackClient.h"
#include "midi/JackMidiServices.h"
#include "midi/JackPortTable.h"
#include "midi/MidiBackend.h"

namespace bq::midi {

struct JackMidiServices::Impl {
    struct Input {
        int slot = -1;  // -1 once the server has gone: the handle only awaits closing
        std::shared_ptr<SysExInput> port;
    };
    struct Pending {
        std::vector<std::uint8_t> bytes;
        std::size_t written = 0;  // into the ring
        std::uint64_t end = 0;    // ring position after its last byte, once all are written
    };
    struct Output {
        int slot = -1;
        std::shared_ptr<MidiEvent> event;
        std::deque<Pending> queue;
        std::uint64_t ringWritten = 0;
    };
    // The devices of one direction as last listed.
    struct Devices {
        std::vector<std::string> names;
        bool listed = false;
    };

    explicit Impl(std::string name);
    ~Impl();

    // JACK's real-time thread (the client's process hook).
    static bool ProcessPorts(jack_nframes_t frames, void* arg);

    bool EnsureClient();
    void DropClient();
    std::vector<std::string>& ListDevices(bool input);
    std::vector<std::string>& KnownDevices(bool input);
    MidiResult OpenPort(bool input, std::uint32_t device, std::uint32_t* handle, int* slot);
    MidiResult OpenInput(std::uint32_t device, MidiInProc callback, std::uintptr_t instance,
                         HMIDIIN* handle);
    MidiResult OpenOutput(std::uint32_t device, std::shared_ptr<MidiEvent> event, HMIDIOUT* handle);
    void CloseInput(HMIDIIN handle);
    void CloseOutput(HMIDIOUT handle);

    // Frees the port of an open input or output and removes its handle; hands back its entry.
    template <typename Entry>
    std::optional<Entry> Release(HandleTable<Entry>& table, JackPortTable& ports,
                                 std::uint32_t handle) {
        Entry* entry = table.Find(handle);
        if (entry != nullptr && entry->slot >= 0) {
            ports.Free(client, entry->slot);
        }
        return table.Take(handle);
    }
    // Frees the ports of every open handle of a table, which stay open without them.
    template <typename Entry>
    void FreeSlots(HandleTable<Entry>& table, JackPortTable& ports) {
        for (auto& [handle, entry] : table) {
            if (entry.slot >= 0) {
                ports.Free(client, entry.slot);
                entry.slot = -1;
            }
        }
    }
    void FailSends(Output& output, MidiResult result);
    void FeedOutput(Output& output);
    int Poll();
    std::chrono::milliseconds CallLimit() const {
        return std::chrono::milliseconds(callLimitMs.load());
    }

    // Runs `fn` on the worker and returns what it returns; `failed` when it does not end within
    // the call limit (see BackendWorker::Call, which also says when `undo` runs). `fn` owns what
    // it uses: the caller may have gone on when it runs.
    template <typename R, typename F>
    R Ask(R failed, F fn, std::function<void()> undo = {}) {
        auto result = std::make_shared<R>(failed);
        const bool ended = worker.Call([result, fn = std::move(fn)]() mutable { *result = fn(); },
                                       CallLimit(), std::move(undo));
        return ended ? *result : failed;
    }

    // Runs `action` on the worker with the entry of an open input or output (in `table`, a
    // member); a handle that is not open gives MMSYSERR_INVALHANDLE, a call that does not end in
    // time JACKERR_SERVER_GONE.
    template <typename Table, typename Action>
    MidiResult WithPort(Table Impl::*table, std::uint32_t handle, Action action) {
        return Ask(JACKERR_SERVER_GONE, [this, table, handle, action]() mutable -> MidiResult {
            return (this->*table).With(handle, action);
        });
    }

    // The tables come before the client: its process callback uses them until it is closed.
    JackPortTable inPorts{JackPortTable::Direction::Input};
    JackPortTable outPorts{JackPortTable::Direction::Output};
    JackClient client;
    std::atomic<std::int64_t> callLimitMs;

    Devices inDevices;
    Devices outDevices;

    HandleSource handles;
    HandleTable<Input> inputs{handles};
    HandleTable<Output> outputs{handles};
    std::vector<std::uint8_t> scratch = std::vector<std::uint8_t>(65536);

    // Last member: its thread stops before the state above goes away.
    BackendWorker worker;
};

}  // namespace bq::midi
