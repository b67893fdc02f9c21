#pragma once

#include <QEventLoop>
#include <QTest>
#include <QTimer>

#include <memory>

#include "messages/Messages.h"
#include "midi/MidiServices.h"
#include "shell/MainFrame.h"
#include "tests/support/qt/ScriptedPresenter.h"

namespace bq::test {

// MIDI services of a computer without any MIDI port: every call fails.
class NoMidiServices final : public midi::IMidiServices {
public:
    std::uint32_t InGetNumDevs() override { return 0; }
    std::uint32_t OutGetNumDevs() override { return 0; }
    midi::MidiResult InGetDevCaps(std::uint32_t, std::string*) override { return Bad(); }
    midi::MidiResult OutGetDevCaps(std::uint32_t, std::string*) override { return Bad(); }
    midi::MidiResult InOpen(midi::HMIDIIN*, std::uint32_t, midi::MidiInProc,
                            std::uintptr_t) override {
        return Bad();
    }
    midi::MidiResult InAddBuffer(midi::HMIDIIN, std::unique_ptr<midi::MidiBuffer>) override {
        return midi::MMSYSERR_INVALHANDLE;
    }
    midi::MidiResult InStart(midi::HMIDIIN) override { return midi::MMSYSERR_INVALHANDLE; }
    midi::MidiResult InStop(midi::HMIDIIN) override { return midi::MMSYSERR_INVALHANDLE; }
    midi::MidiResult InReset(midi::HMIDIIN) override { return midi::MMSYSERR_INVALHANDLE; }
    midi::MidiResult InClose(midi::HMIDIIN) override { return midi::MMSYSERR_INVALHANDLE; }
    midi::MidiResult OutOpen(midi::HMIDIOUT*, std::uint32_t,
                             std::shared_ptr<midi::MidiEvent>) override {
        return Bad();
    }
    midi::MidiResult OutLongMsg(midi::HMIDIOUT, const std::uint8_t*, std::size_t) override {
        return midi::MMSYSERR_INVALHANDLE;
    }
    midi::MidiResult OutReset(midi::HMIDIOUT) override { return midi::MMSYSERR_INVALHANDLE; }
    midi::MidiResult OutClose(midi::HMIDIOUT) override { return midi::MMSYSERR_INVALHANDLE; }
    std::string InGetErrorText(midi::MidiResult) override { return "no input"; }
    std::string OutGetErrorText(midi::MidiResult) override { return "no output"; }

private:
    static midi::MidiResult Bad() { return midi::MMSYSERR_BADDEVICEID; }
};

// A shown main window over the port-less services, with messages going to a script.
class MainFrameTest : public ::testing::Test {
protected:
    void SetUp() override {
        frame = std::make_unique<CMainFrame>(services);
        SetMainWindow(frame.get());
        frame->resize(1000, 700);
        frame->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(frame.get()));
        frame->activateWindow();
    }
    void TearDown() override {
        SetMainWindow(nullptr);
        frame.reset();
    }
    // Runs an event loop that has to wait for its timer, which is when idle work happens
    // (QTest::qWait only polls and never waits).
    static void Idle() {
        QEventLoop loop;
        QTimer::singleShot(20, &loop, &QEventLoop::quit);
        loop.exec();
    }

    NoMidiServices services;
    ScriptedPresenter presenter;
    std::unique_ptr<CMainFrame> frame;
};

}  // namespace bq::test
