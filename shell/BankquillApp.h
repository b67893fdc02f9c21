#pragma once

#include <QStringList>

#include <memory>

#include "midi/MidiServices.h"

class CMainFrame;

// The application object: creates and shows the main window, and opens the PCG files named on
// the command line. It keeps no settings and writes nothing.
class CBankquillApp {
public:
    explicit CBankquillApp(bq::midi::IMidiServices& services);
    ~CBankquillApp();
    CBankquillApp(const CBankquillApp&) = delete;
    CBankquillApp& operator=(const CBankquillApp&) = delete;

    // Needs a QApplication. False when the main window cannot be made.
    bool InitInstance();
    // Opens each file in a window of its own, in order, as File > Open does: a file that
    // cannot be read is reported, and the others still open. Relative paths are taken from
    // the current folder.
    void OpenFiles(const QStringList& paths);
    CMainFrame* MainFrame() const { return m_mainFrame.get(); }

private:
    bq::midi::IMidiServices& m_services;
    std::unique_ptr<CMainFrame> m_mainFrame;
};
