#pragma once

// What both PCG window benchmarks share: the offscreen platform, the demo file in a temporary
// folder, and a main window that is shown and idle before anything is measured.

#include <unistd.h>

#include <QApplication>
#include <QByteArray>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>

#include "midi/JackMidiServices.h"
#include "shell/MainFrame.h"
#include "tools/demo-pcg/DemoPcg.h"

namespace bench {

// Before the QApplication: the benchmarks never need a display.
inline void UseOffscreenPlatform() {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
}

// Resident bytes from /proc/self/statm (its second field counts pages); -1 when unreadable.
inline double ResidentBytes() {
    std::ifstream statm("/proc/self/statm");
    long size = 0;
    long resident = 0;
    if (!(statm >> size >> resident)) {
        return -1;
    }
    return static_cast<double>(resident) * static_cast<double>(::sysconf(_SC_PAGESIZE));
}

// A temporary folder holding the demo file; removed with the object.
class DemoFile {
public:
    DemoFile() {
        std::string dir = (std::filesystem::temp_directory_path() / "bq-bench-XXXXXX").string();
        if (::mkdtemp(dir.data()) == nullptr) {
            std::perror("mkdtemp");
            return;
        }
        m_dir = dir;
        const std::string path = dir + "/demo.pcg";
        if (!bq::demo::WriteDemoPcg(path)) {
            std::perror(path.c_str());
            return;
        }
        m_path = path;
    }
    ~DemoFile() {
        std::error_code ignored;
        if (!m_dir.empty()) {
            std::filesystem::remove_all(m_dir, ignored);
        }
    }
    DemoFile(const DemoFile&) = delete;
    DemoFile& operator=(const DemoFile&) = delete;

    bool Ok() const { return !m_path.empty(); }
    const std::string& Path() const { return m_path; }

private:
    std::string m_dir;
    std::string m_path;
};

// Runs what is posted (layout, deferred deletes, paints) until nothing is left.
inline void Settle() {
    for (int i = 0; i < 3; ++i) {
        QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QApplication::processEvents();
    }
}

// The main window the PCG windows open in, shown and idle; made after the QApplication.
struct IdleMainWindow {
    IdleMainWindow() {
        frame.resize(1000, 700);
        frame.show();
        Settle();
    }

    bq::midi::JackMidiServices services{"bankquill-bench"};
    CMainFrame frame{services};  // after the services: its windows go first
};

}  // namespace bench
