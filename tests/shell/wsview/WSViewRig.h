#pragma once

// The main window connected, over the loopback MIDI services, to a virtual Karma that can be
// told to refuse a given Item Write; drags and keys go through the main window's QWindow.

#include <gtest/gtest.h>

#include <QAction>
#include <QMdiArea>
#include <QPointer>
#include <QTest>
#include <QWindow>

#include <atomic>
#include <memory>
#include <vector>

#include "midi/SysEx.h"
#include "midi/loopback/LoopbackMidiServices.h"
#include "shell/MainFrame.h"
#include "shell/PCGBankView.h"
#include "shell/PCGFrame.h"
#include "tests/support/qt/ScriptedPresenter.h"
#include "tests/support/qt/WindowInput.h"
#include "tools/virtual-karma/VirtualKarma.h"
#include "workstation/WSBankView.h"
#include "workstation/WSFrame.h"
#include "workstation/WSTransport.h"

namespace bq::test {

using Bytes = std::vector<std::uint8_t>;

// The virtual Karma, refusing the n-th Item Write from a given moment (Failed Reply, nothing
// stored). Runs on the loopback's thread.
class RefusingKarma final : public midi::IMidiDevice {
public:
    explicit RefusingKarma(std::shared_ptr<VirtualKarma> karma) : m_karma(std::move(karma)) {}
    void HandleMessage(const std::uint8_t* message, std::size_t length,
                       std::vector<midi::MidiTimedBytes>* reply) override {
        const bool write = length > 4 && message[4] == sysex::kFuncItemWrite;
        if (write && ++m_writes == m_failAt.load()) {
            reply->push_back({0,
                              {0xF0, 0x42, static_cast<std::uint8_t>(0x30 | m_karma->Channel()),
                               0x5D, 0x24, 0xF7}});
            return;
        }
        m_karma->HandleMessage(message, length, reply);
    }
    // The n-th Item Write from now on is refused.
    void FailWrite(int n) { m_failAt = m_writes.load() + n; }

private:
    std::shared_ptr<VirtualKarma> m_karma;
    std::atomic<int> m_writes{0};
    std::atomic<int> m_failAt{0};
};

class WSViewRig : public ::testing::Test {
protected:
    void SetUp() override {
        loopback.AttachDevice(0, 0, instrument);
        main = std::make_unique<CMainFrame>(loopback);
        SetMainWindow(main.get());
        main->resize(1000, 700);
        main->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(main.get()));
        main->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(main.get()));
        ws = main->WorkstationFrame();
        Connect();
        view = qobject_cast<CWSBankView*>(ws->BankView());
        ASSERT_NE(view, nullptr);
    }
    void TearDown() override {
        SetMainWindow(nullptr);
        main.reset();
    }
    void Connect() {
        ASSERT_TRUE(main->ExecuteCommand(ID_VIEW_WORKSTATION));
        ASSERT_TRUE(QTest::qWaitFor([&] { return ws->IsConnected() && !ws->IsBusy(); }, 5000));
    }

    QTreeWidgetItem* Bank(int group, int bank) { return view->topLevelItem(group)->child(bank); }
    QTreeWidgetItem* Combi(int bank, int slot) { return Bank(0, bank)->child(slot); }
    std::size_t SentCount() { return loopback.SentMessages(0).size(); }

    // A PCG window beside the Workstation window, its Combination bank A open.
    CPCGBankView* OpenFile(const std::string& path) {
        CPCGFrame* pcg = main->OpenPCGFile(QString::fromStdString(path));
        if (pcg == nullptr) {
            return nullptr;
        }
        main->MdiArea()->tileSubWindows();
        pcg->BankView()->expandAll();
        return pcg->BankView();
    }
    // The whole drag with the mouse, through the main window.
    void Drag(CDragTreeView* source, QTreeWidgetItem* from, QTreeWidgetItem* to) {
        source->scrollToItem(from);
        view->scrollToItem(to);
        QTest::qWait(20);
        WindowInput input(main.get());
        input.Press(WindowInput::ItemCentre(source, from));
        input.Move(WindowInput::ItemCentre(view, to));
        ASSERT_TRUE(source->IsDragging());
        input.Release(WindowInput::ItemCentre(view, to));
    }
    // Ctrl+Z and Ctrl+Shift+Z, as the keyboard gives them to the main window. A person's key
    // comes after the event loop has gone idle, which is when the commands are brought up to
    // date; the test's key comes straight after the last write, so that idle time runs first.
    // The window system gives the main window back its activation after a question; the
    // offscreen platform may not, so the key waits for it.
    void Key(Qt::KeyboardModifiers modifiers) {
        if (!main->isActiveWindow()) {
            main->activateWindow();
            ASSERT_TRUE(QTest::qWaitForWindowActive(main.get()));
        }
        main->UpdateCommandUI();
        QTest::keyClick(main->windowHandle(), Qt::Key_Z, modifiers);
    }
    void Undo() { Key(Qt::ControlModifier); }
    void Redo() { Key(Qt::ControlModifier | Qt::ShiftModifier); }
    // The Edit menu's items as the menu shows them when it opens.
    QString UndoItem() {
        main->UpdateCommandUI();
        QAction* a = main->CommandAction(ID_EDIT_UNDO);
        return (a->isEnabled() ? "" : "(disabled) ") + a->text();
    }
    QString RedoItem() {
        main->UpdateCommandUI();
        QAction* a = main->CommandAction(ID_EDIT_REDO);
        return (a->isEnabled() ? "" : "(disabled) ") + a->text();
    }

    ScriptedPresenter presenter;
    midi::LoopbackMidiServices loopback{{"Karma In"}, {"Karma Out"}};
    std::shared_ptr<VirtualKarma> karma = std::make_shared<VirtualKarma>();
    std::shared_ptr<RefusingKarma> instrument = std::make_shared<RefusingKarma>(karma);
    std::unique_ptr<CMainFrame> main;
    QPointer<CWSFrame> ws;
    CWSBankView* view = nullptr;
};

}  // namespace bq::test
