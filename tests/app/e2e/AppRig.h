#pragma once

// The whole desktop program in the test process: the main window over the JACK services, its
// Workstation window, message boxes going to a script. User-interface thread only.

#include <QApplication>
#include <QEventLoop>
#include <QLabel>
#include <QTest>
#include <QTimer>

#include <chrono>
#include <functional>
#include <memory>
#include <string>

#include "banktree/DragTreeView.h"
#include "messages/Messages.h"
#include "midi/JackMidiServices.h"
#include "shell/MainFrame.h"
#include "tests/support/JackRig.h"
#include "tests/support/qt/ScriptedPresenter.h"
#include "tests/support/qt/WindowInput.h"
#include "workstation/WSFrame.h"
#include "workstation/WSTransport.h"

namespace bq::e2e {

// Runs the event loop, blocking between events the way the program's own loop does (so idle
// work runs), until `done` holds or `timeoutMs` passes; whether it held.
inline bool RunUntil(const std::function<bool()>& done, int timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!done()) {
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        QEventLoop loop;
        QTimer::singleShot(10, &loop, &QEventLoop::quit);
        loop.exec();
    }
    return true;
}

inline void RunFor(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

// Drags `from` (a node of `source`) onto `to` (a node of `target`) with the mouse, through the
// main window the way the user does; whether a drag started. The drop, and the writes it makes, run
// in the release.
inline bool DragWithMouse(CDragTreeView* source, QTreeWidgetItem* from, CDragTreeView* target,
                          QTreeWidgetItem* to) {
    source->scrollToItem(from);
    target->scrollToItem(to);
    const QPoint end = test::WindowInput::ItemCentre(target, to);
    test::WindowInput input(source);
    input.Press(test::WindowInput::ItemCentre(source, from));
    input.Move(end);
    const bool dragging = source->IsDragging();
    input.Release(end);
    return dragging;
}

// The main window as the program makes it, shown, with short silence bounds.
class AppRig {
public:
    explicit AppRig(const std::string& clientName = "bankquill-e2e")
        : services(std::make_unique<midi::JackMidiServices>(clientName)) {
        frame = std::make_unique<CMainFrame>(*services);
        SetMainWindow(frame.get());
        frame->resize(1000, 700);
        frame->show();
        Workstation()->SetReplySilenceMs(3000);
    }
    ~AppRig() {
        SetMainWindow(nullptr);
        frame.reset();  // the windows and their ports before the services
        services.reset();
    }
    AppRig(const AppRig&) = delete;
    AppRig& operator=(const AppRig&) = delete;

    CWSFrame* Workstation() const { return frame->WorkstationFrame(); }
    bool Connected() const {
        return Workstation()->IsConnected() && Workstation()->isEnabled();
    }
    // View Workstation, then waits for the search to end connected.
    bool Connect(int timeoutMs = 20000) {
        if (!frame->ExecuteCommand(ID_VIEW_WORKSTATION)) {
            return false;
        }
        return RunUntil([this] { return Connected(); }, timeoutMs);
    }
    QString MIDIStatus() const { return frame->MIDIStatusPane()->text(); }

    test::ScriptedPresenter presenter;
    std::unique_ptr<midi::JackMidiServices> services;
    std::unique_ptr<CMainFrame> frame;
};

}  // namespace bq::e2e
