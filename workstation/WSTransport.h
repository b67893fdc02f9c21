#pragma once

// The MIDI side of the Workstation window: the one exchange with the instrument (KarmaLink),
// driven from the user-interface thread's event loop. Bytes arriving wake it with a posted
// event, the exchange's deadline with a timer; each time it pumps the exchange, passes the
// bytes on to the progress dialog, reports the MIDI services' failures as every window does,
// and says when the exchange has ended. CWSFrame owns one; it keeps the window thin.
//
// Threads: every member runs on the user-interface thread. The link's input callback runs on
// the MIDI backend's thread and only posts the wake event to this object, which closes every
// port before it goes.

#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>

#include <cstddef>
#include <cstdint>
#include <vector>

#include "midi/KarmaLink.h"
#include "midi/MidiServices.h"

class CMIDIProgressDlg;

class CWSTransport : public QObject {
    Q_OBJECT

public:
    static constexpr std::uint32_t kNoDevice = bq::midi::KarmaLink::kNoDevice;
    static constexpr std::uint32_t kInputBufferSize = 4096;
    static constexpr int kInputBuffers = 8;

    explicit CWSTransport(bq::midi::IMidiServices& services, QObject* parent = nullptr);
    ~CWSTransport() override;
    CWSTransport(const CWSTransport&) = delete;
    CWSTransport& operator=(const CWSTransport&) = delete;

    bq::midi::IMidiServices& Services() { return m_services; }
    bq::midi::KarmaLink& Link() { return m_link; }

    // The enumeration check that starts every search: false, after its message, when there
    // is no input or no output device.
    bool CheckMIDIDevices();

    // Opens the chosen devices for the connection: the input with 8 queued 4096-byte buffers,
    // started, and the output. Each failure is reported and gives false; what was opened stays
    // open until ClosePorts.
    bool OpenConnection(std::uint32_t inputDevice, std::uint32_t outputDevice,
                        std::uint8_t globalChannel);
    // Closes whatever is open, a search's ports included; always true.
    bool ClosePorts();

    // "MIDI Status: ..." for the status bar. The port names are asked of the MIDI services
    // once per connection; when they cannot be read, the text still says it is connected,
    // naming the ports by number.
    bool GetMIDIStatusText(QString* text);

    bool IsConnected() const { return m_link.Connected(); }
    std::uint32_t InputDevice() const { return m_link.InputDevice(); }
    std::uint32_t OutputDevice() const { return m_link.OutputDevice(); }
    std::uint8_t GlobalChannel() const { return m_link.Channel(); }

    // Begin an exchange on the link (see KarmaLink); false when one runs or it cannot begin.
    // Failures of the MIDI services are reported before they return. The exchange may have
    // ended already (a send that failed): ExchangeEnded is then on its way.
    bool BeginSearch(int windowMs);
    bool BeginDump(std::vector<std::uint8_t> request, int silenceMs);
    bool BeginWrite(std::vector<std::uint8_t> message, int silenceMs);
    bool Running() const { return m_link.Running(); }
    // Ends the running exchange as given up.
    void Abandon();
    bq::midi::ExchangeResult TakeResult() { return m_link.TakeResult(); }

    // The dialog whose received count every arrival advances, while a transfer shows one.
    void SetProgressDialog(CMIDIProgressDlg* dialog);
    // How long a send may take beyond twice its time on a cable; shortened by tests.
    void SetSendTimeoutMargin(int ms) { m_link.Settings().sendMarginMs = ms; }

signals:
    // The ports were opened or closed (not from the destructor).
    void PortsChanged();
    // Bytes arrived (any, a status reply's included).
    void Traffic(quint64 bytes);
    // The exchange that ran has ended: TakeResult says how.
    void ExchangeEnded();

protected:
    bool event(QEvent* event) override;

private:
    // Moves what has arrived into the exchange and follows up on it.
    void Pump();
    // After every call into the link: failures reported, the deadline timed, the end told.
    void FollowUp();
    void ReportFailures();

    bq::midi::IMidiServices& m_services;
    bq::midi::KarmaLink m_link;
    QTimer m_deadline;
    bool m_endTold = true;  // the running exchange's end has been signalled
    // The connected devices' names, once read.
    QString m_inputName;
    QString m_outputName;
    bool m_namesRead = false;

    QPointer<CMIDIProgressDlg> m_progress;
};
