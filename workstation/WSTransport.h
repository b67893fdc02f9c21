#pragma once

// The MIDI side of the Workstation window: the port state, opening and closing the chosen
// input and output, the queued input buffers, reassembly and classification of received SysEx,
// and sending one SysEx message at a time. CWSFrame owns one; it keeps the window thin.
//
// Threads: every member runs on the user-interface thread except ConnectedInputProc, which the
// MIDI backend calls on its own thread and which only copies bytes, re-queues the buffer and
// posts events.

#include <QObject>
#include <QPointer>
#include <QString>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "midi/MidiServices.h"

class CMIDIProgressDlg;

class CWSTransport : public QObject {
    Q_OBJECT

public:
    static constexpr std::uint32_t kNoDevice = 0xFFFFFFFFu;
    static constexpr std::uint32_t kInputBufferSize = 4096;
    static constexpr int kInputBuffers = 8;
    // Far above the largest dump (about 146 KB): a device that never sends F7 cannot make
    // the reassembly buffer grow without bound.
    static constexpr std::size_t kReassemblyLimit = 256 * 1024;

    explicit CWSTransport(bq::midi::IMidiServices& services, QObject* parent = nullptr);
    ~CWSTransport() override;
    CWSTransport(const CWSTransport&) = delete;
    CWSTransport& operator=(const CWSTransport&) = delete;

    bq::midi::IMidiServices& Services() { return m_services; }

    // The enumeration check that starts every search: false, after its message, when there
    // is no input or no output device.
    bool CheckMIDIDevices();

    // Opens the chosen devices for the connection: the input with the connected callback, the
    // output with a new completion event, 8 queued buffers, the input started. Each failure is
    // reported and gives false; what was opened stays open until ClosePorts.
    bool OpenConnection(std::uint32_t inputDevice, std::uint32_t outputDevice,
                        std::uint8_t globalChannel);
    // Closes whatever is open; always true.
    bool ClosePorts();

    // "MIDI Status: ..." for the status bar; false (text unchanged) when a connected port's
    // name cannot be read. The names are asked of the MIDI services once per connection.
    bool GetMIDIStatusText(QString* text);

    // Queues one fresh 4096-byte buffer on the open input; reports and returns false on
    // failure.
    bool AddInputBuffer();

    // Sends one complete SysEx message on the open output and waits until it has gone out.
    bool SendSysEx(const std::uint8_t* data, std::size_t length);
    // The same on any output with its event (the search sends on outputs of its own). A send
    // not done after `timeoutMs` counts as failed.
    static bool SendSysEx(bq::midi::IMidiServices& services, bq::midi::HMIDIOUT output,
                          bq::midi::MidiEvent& event, const std::uint8_t* data, std::size_t length,
                          int timeoutMs);
    // How long a send of `length` bytes may take: twice its time on a MIDI cable plus the
    // margin, so a broken backend can never hang the program.
    int SendTimeoutMs(std::size_t length) const;
    void SetSendTimeoutMargin(int ms) { m_sendMarginMs = ms; }

    bq::midi::HMIDIIN InputHandle() const { return m_hMidiIn; }
    bq::midi::HMIDIOUT OutputHandle() const { return m_hMidiOut; }
    std::uint32_t InputDevice() const { return m_inputDevice; }
    std::uint32_t OutputDevice() const { return m_outputDevice; }
    std::uint8_t GlobalChannel() const { return m_globalChannel; }
    bool IsClosing() const;
    // Bytes of the message being received.
    std::size_t PendingBytes() const { return m_reassembly.size(); }

    // Called just before a request goes out: whatever has arrived and was not taken (queued
    // chunks and answers, a partly assembled message) answers an earlier request and is
    // forgotten, and nothing is assembled until the next message starts (F0).
    void BeginRequest();
    // After a wait that ended without its answer: the rest of the message being received, if
    // any, is ignored up to the next F0.
    void SkipToNextMessage();

    // The dialog whose received count every chunk advances, while a transfer shows one.
    void SetProgressDialog(CMIDIProgressDlg* dialog);
    // Takes WM_WS_REPLY and WM_WS_DUMP_RECEIVED events while a request waits (it may move the
    // message out of a dump event). Without a sink they are dropped with their buffers.
    using ReplySink = std::function<void(QEvent* event)>;
    void SetReplySink(ReplySink sink) { m_replySink = std::move(sink); }

signals:
    // The ports were opened or closed (not from the destructor).
    void PortsChanged();

protected:
    bool event(QEvent* event) override;

private:
    // What the input callback may touch: the instance value points here, never at a window.
    struct InputContext {
        QObject* target = nullptr;
        bq::midi::IMidiServices* services = nullptr;
        std::atomic<int> closing{1};
    };

    static void ConnectedInputProc(bq::midi::HMIDIIN input, std::uint32_t message,
                                   std::uintptr_t instance,
                                   std::unique_ptr<bq::midi::MidiBuffer> buffer);
    void OnSysExChunk(const std::vector<std::uint8_t>& chunk);
    void OnRequeueBuffer();
    void DropPartialMessage();
    // Closes whatever is open; true when something was.
    bool CloseOpenPorts();

    bq::midi::IMidiServices& m_services;
    std::unique_ptr<InputContext> m_context;
    bq::midi::HMIDIIN m_hMidiIn = 0;
    bq::midi::HMIDIOUT m_hMidiOut = 0;
    std::uint32_t m_inputDevice = kNoDevice;
    std::uint32_t m_outputDevice = kNoDevice;
    std::shared_ptr<bq::midi::MidiEvent> m_outputEvent;
    std::uint8_t m_globalChannel = 0;
    int m_sendMarginMs = 5000;
    // The connected devices' names, once read.
    QString m_inputName;
    QString m_outputName;
    bool m_namesRead = false;

    std::vector<std::uint8_t> m_reassembly;
    bool m_discarding = false;  // an over-long message is being skipped up to the next F0

    QPointer<CMIDIProgressDlg> m_progress;
    ReplySink m_replySink;
};
