#pragma once

#include <memory>

#include "midi/MidiServices.h"

class CMainFrame;

// The application object: creates and shows the main window. It keeps no settings, reads no
// command line and writes nothing.
class CBankquillApp {
public:
    explicit CBankquillApp(bq::midi::IMidiServices& services);
    ~CBankquillApp();
    CBankquillApp(const CBankquillApp&) = delete;
    CBankquillApp& operator=(const CBankquillApp&) = delete;

    // Needs a QApplication. False when the main window cannot be made.
    bool InitInstance();
    CMainFrame* MainFrame() const { return m_mainFrame.get(); }

private:
    bq::midi::IMidiServices& m_services;
    std::unique_ptr<CMainFrame> m_mainFrame;
};
