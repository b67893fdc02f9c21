#pragma once

// The Workstation window: the one document window that holds the connection to the instrument.
// It stays hidden until View Workstation shows it; showing searches for the instrument and
// connects, hiding (and closing, which only hides) closes the ports.
//
// User-interface thread only; the MIDI traffic arrives through its transport's posted events.

#include <QMdiSubWindow>
#include <QString>

#include "midi/MidiServices.h"

class CWSTransport;
class QSplitter;
class QTreeView;

class CWSFrame : public QMdiSubWindow {
    Q_OBJECT

public:
    explicit CWSFrame(bq::midi::IMidiServices& services, QWidget* parent = nullptr);
    ~CWSFrame() override;

    // The status bar's MIDI text; false leaves `text` unchanged.
    bool GetMIDIStatusText(QString* text);
    bool ClosePorts();

    CWSTransport& Transport() { return *m_transport; }
    QSplitter* Splitter() const { return m_splitter; }
    QTreeView* BankView() const { return m_bankView; }

protected:
    void closeEvent(QCloseEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    CWSTransport* m_transport = nullptr;  // child object
    QSplitter* m_splitter = nullptr;
    QTreeView* m_bankView = nullptr;   // left pane, 250 pixels
    QTreeView* m_otherView = nullptr;  // right pane, 100 pixels, never filled
};
