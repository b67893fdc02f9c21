#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <map>
#include <memory>

#include "messages/Messages.h"
#include "messages/StringTable.h"
#include "tests/support/qt/QtPrinters.h"
#include "tests/support/qt/ScriptedPresenter.h"

namespace {

using bq::test::ScriptedPresenter;

// Only the error texts matter here; every other service fails.
class TextOnlyServices final : public bq::midi::IMidiServices {
public:
    std::map<bq::midi::MidiResult, std::string> inTexts, outTexts;

    std::uint32_t InGetNumDevs() override { return 0; }
    std::uint32_t OutGetNumDevs() override { return 0; }
    bq::midi::MidiResult InGetDevCaps(std::uint32_t, std::string*) override { return 2; }
    bq::midi::MidiResult OutGetDevCaps(std::uint32_t, std::string*) override { return 2; }
    bq::midi::MidiResult InOpen(bq::midi::HMIDIIN*, std::uint32_t, bq::midi::MidiInProc,
                                std::uintptr_t) override {
        return 2;
    }
    bq::midi::MidiResult InAddBuffer(bq::midi::HMIDIIN,
                                     std::unique_ptr<bq::midi::MidiBuffer>) override {
        return 5;
    }
    bq::midi::MidiResult InStart(bq::midi::HMIDIIN) override { return 5; }
    bq::midi::MidiResult InStop(bq::midi::HMIDIIN) override { return 5; }
    bq::midi::MidiResult InReset(bq::midi::HMIDIIN) override { return 5; }
    bq::midi::MidiResult InClose(bq::midi::HMIDIIN) override { return 5; }
    bq::midi::MidiResult OutOpen(bq::midi::HMIDIOUT*, std::uint32_t,
                                 std::shared_ptr<bq::midi::MidiEvent>) override {
        return 2;
    }
    bq::midi::MidiResult OutLongMsg(bq::midi::HMIDIOUT, const std::uint8_t*, std::size_t) override {
        return 5;
    }
    bq::midi::MidiResult OutReset(bq::midi::HMIDIOUT) override { return 5; }
    bq::midi::MidiResult OutClose(bq::midi::HMIDIOUT) override { return 5; }
    std::string InGetErrorText(bq::midi::MidiResult r) override { return inTexts[r]; }
    std::string OutGetErrorText(bq::midi::MidiResult r) override { return outTexts[r]; }
};

TEST(StringTable, HoldsTheCatalogueTextsExactly) {
    EXPECT_EQ(bq::LoadString(bq::StringId::AppTitle), "Bankquill");
    EXPECT_EQ(bq::LoadString(bq::StringId::ErrorFormat), "%s. %s");
    EXPECT_EQ(bq::LoadString(bq::StringId::NoMidiInputs),
              "No MIDI input devices we're found on this PC.  At least 1 MIDI input device is "
              "required.");
    EXPECT_EQ(bq::LoadString(bq::StringId::NoMidiOutputs),
              "No MIDI output devices we're found on this PC.  At least 1 MIDI output device is "
              "required.");
    EXPECT_EQ(bq::LoadString(bq::StringId::WorkstationNotFound),
              "Korg Karma Workstation was not found to be connected to this computer.  Please "
              "check your MIDI connection.\n\nDo you want search again?");
    EXPECT_EQ(bq::LoadString(bq::StringId::NoTrafficQuestion),
              "No MIDI communication has occurred for the last 5 seconds.  This could indicate a "
              "communication problem.\n\nContinue to wait?");
    EXPECT_EQ(bq::LoadString(bq::StringId::MidiConnected),
              "MIDI Status: Connected [In: %s, Out: %s]");
    EXPECT_EQ(bq::LoadString(bq::StringId::PcgFilter),
              "PCG Files (*.pcg)|*.pcg|All Files (*.*)|*.*||");
    EXPECT_EQ(bq::LoadString(bq::StringId::InitialiseProgramQuestion),
              "This operation will overwrite all data in the selected Program.\nAre you sure you "
              "want to initialise Program '%s'?");
}

TEST(StringTable, NumberWithoutTextGivesEmptyText) {
    EXPECT_TRUE(bq::LoadString(static_cast<bq::StringId>(100)).isEmpty());
    EXPECT_TRUE(bq::LoadString(static_cast<bq::StringId>(-1)).isEmpty());
    EXPECT_TRUE(bq::LoadString(static_cast<bq::StringId>(99999)).isEmpty());
}

TEST(FormatText, FillsPlaceholdersInOrderAndNeverReadsArgumentsAsFormats) {
    EXPECT_EQ(bq::FormatText("%s. %s", {"Load PCG File", "Gone"}), "Load PCG File. Gone");
    EXPECT_EQ(bq::FormatText(bq::LoadString(bq::StringId::MidiConnected), {"In %s %d", "Out"}),
              "MIDI Status: Connected [In: In %s %d, Out: Out]");
    EXPECT_EQ(bq::FormatText("100%% %s", {"x"}), "100% x");
    // Missing arguments leave nothing behind; extra ones are ignored.
    EXPECT_EQ(bq::FormatText("%s and %s", {"one"}), "one and ");
    EXPECT_EQ(bq::FormatText("just text", {"a", "b"}), "just text");
    EXPECT_EQ(bq::FormatText("trailing %", {}), "trailing %");
}

TEST(ShowMessage, GoesThroughThePresenterAndReturnsItsAnswer) {
    ScriptedPresenter presenter;
    presenter.Answer(bq::IDYES);
    presenter.Answer(bq::IDNO);
    EXPECT_EQ(bq::ShowMessage(bq::StringId::WorkstationNotFound, bq::MB_YESNO | bq::MB_ICONERROR),
              bq::IDYES);
    EXPECT_EQ(bq::ShowMessage(QStringLiteral("free text"), bq::MB_YESNO | bq::MB_ICONWARNING),
              bq::IDNO);
    ASSERT_EQ(presenter.Messages().size(), 2u);
    EXPECT_EQ(presenter.Messages()[0].text, bq::LoadString(bq::StringId::WorkstationNotFound));
    EXPECT_EQ(presenter.Messages()[0].style, 0x14u);
    EXPECT_EQ(presenter.Messages()[1].text, "free text");
    EXPECT_EQ(presenter.Messages()[1].style, 0x34u);
    EXPECT_EQ(presenter.Unscripted(), 0);
}

TEST(ShowMessage, StringWithoutTextStillShowsABox) {
    ScriptedPresenter presenter;
    EXPECT_EQ(bq::ShowMessage(static_cast<bq::StringId>(100), bq::MB_OK), bq::IDOK);
    ASSERT_EQ(presenter.Messages().size(), 1u);
    EXPECT_TRUE(presenter.Messages()[0].text.isEmpty());
}

TEST(SetMessagePresenter, ScopedPresentersNestAndRestore) {
    auto outer = std::make_unique<ScriptedPresenter>();
    {
        ScriptedPresenter inner;
        bq::ShowMessage(bq::StringId::NotImplemented, bq::MB_ICONERROR);
        EXPECT_EQ(inner.Messages().size(), 1u);
    }
    bq::ShowMessage(bq::StringId::TransferError, bq::MB_ICONERROR);
    ASSERT_EQ(outer->Messages().size(), 1u);
    EXPECT_EQ(outer->Messages()[0].text, "An error occurred during the MIDI transfer operation.");
    outer.reset();
    // The default is back: installing a new one reports no previous scripted presenter.
    bq::IMessagePresenter* previous = bq::SetMessagePresenter(nullptr);
    EXPECT_EQ(previous, nullptr);
}

TEST(ReportError, MissingFileShowsContextAndSystemText) {
    ScriptedPresenter presenter;
    bq::ReportError(bq::StringId::LoadPcgFile, HResultFromErrno(ENOENT));
    ASSERT_EQ(presenter.Messages().size(), 1u);
    EXPECT_EQ(presenter.Messages()[0].text,
              QString("Load PCG File. ") + QString::fromLocal8Bit(std::strerror(ENOENT)));
    EXPECT_EQ(presenter.Messages()[0].style, unsigned(bq::MB_ICONERROR));
}

TEST(ReportError, LoaderCodesUseTheirOwnTexts) {
    ScriptedPresenter presenter;
    bq::ReportError(bq::StringId::LoadPcgFile, E_UNEXPECTED);
    bq::ReportError(bq::StringId::LoadPcgFile, E_OUTOFMEMORY);
    ASSERT_EQ(presenter.Messages().size(), 2u);
    EXPECT_EQ(presenter.Messages()[0].text,
              "Load PCG File. " + QString::fromStdString(bq::ResultText(E_UNEXPECTED)));
    EXPECT_EQ(presenter.Messages()[1].text,
              QString("Load PCG File. ") + QString::fromLocal8Bit(std::strerror(ENOMEM)));
}

TEST(ReportError, CodeWithoutTextGivesUnknownError) {
    ScriptedPresenter presenter;
    bq::ReportError(bq::StringId::LoadPcgFile, MakeResult(0x80040201u));
    bq::ReportError(bq::StringId::LoadPcgFile, S_OK);
    ASSERT_EQ(presenter.Messages().size(), 2u);
    EXPECT_EQ(presenter.Messages()[0].text, "Load PCG File. An unknown error occurred.");
    EXPECT_EQ(presenter.Messages()[1].text, "Load PCG File. An unknown error occurred.");
}

TEST(ReportError, ContextWithoutTextLeavesItEmpty) {
    ScriptedPresenter presenter;
    bq::ReportError(static_cast<bq::StringId>(100), MakeResult(0x80040201u));
    ASSERT_EQ(presenter.Messages().size(), 1u);
    EXPECT_EQ(presenter.Messages()[0].text, ". An unknown error occurred.");
}

TEST(ReportMidiError, ShowsTheServiceTextOfTheRightDirection) {
    TextOnlyServices services;
    services.inTexts[4] = "The input is already in use.";
    services.outTexts[4] = "The output is already in use.";
    ScriptedPresenter presenter;
    bq::ReportMidiInError(services, 4);
    bq::ReportMidiOutError(services, 4);
    ASSERT_EQ(presenter.Messages().size(), 2u);
    EXPECT_EQ(presenter.Messages()[0].text, "The input is already in use.");
    EXPECT_EQ(presenter.Messages()[1].text, "The output is already in use.");
    EXPECT_EQ(presenter.Messages()[0].style, unsigned(bq::MB_ICONERROR));
    EXPECT_EQ(presenter.Messages()[1].style, unsigned(bq::MB_ICONERROR));
}

TEST(ReportMidiError, LongTextIsCutAt254Characters) {
    TextOnlyServices services;
    std::string longText;
    for (int i = 0; i < 300; ++i) {
        longText += static_cast<char>('a' + i % 26);
    }
    services.inTexts[1] = longText;
    services.outTexts[1] = longText.substr(0, 254);
    services.outTexts[2] = longText.substr(0, 255);
    ScriptedPresenter presenter;
    bq::ReportMidiInError(services, 1);
    bq::ReportMidiOutError(services, 1);
    bq::ReportMidiOutError(services, 2);
    ASSERT_EQ(presenter.Messages().size(), 3u);
    EXPECT_EQ(presenter.Messages()[0].text, QString::fromStdString(longText.substr(0, 254)));
    EXPECT_EQ(presenter.Messages()[1].text, QString::fromStdString(longText.substr(0, 254)));
    EXPECT_EQ(presenter.Messages()[2].text, QString::fromStdString(longText.substr(0, 254)));
}

TEST(ReportMidiError, CutNeverSplitsACharacter) {
    TextOnlyServices services;
    // 253 ASCII characters, then one character outside the 16-bit range, then more.
    services.inTexts[1] = std::string(253, 'x') + "\xF0\x9F\x8E\xB9" + "tail";
    ScriptedPresenter presenter;
    bq::ReportMidiInError(services, 1);
    ASSERT_EQ(presenter.Messages().size(), 1u);
    EXPECT_EQ(presenter.Messages()[0].text, QString(253, 'x'));
}

TEST(ReportMidiError, ServiceWithoutTextShowsUnknownError) {
    TextOnlyServices services;
    ScriptedPresenter presenter;
    bq::ReportMidiOutError(services, 77);
    ASSERT_EQ(presenter.Messages().size(), 1u);
    EXPECT_EQ(presenter.Messages()[0].text, "An unknown error occurred.");
}

}  // namespace
