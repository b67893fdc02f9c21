// Writing a restore plan over the loopback services, against the virtual Karma: what it holds
// afterwards is what the restore says it wrote.

#include "midi/RestoreWrite.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>

#include "midi/BackupDownload.h"
#include "midi/loopback/LoopbackMidiServices.h"
#include "tools/virtual-karma/VirtualKarma.h"

namespace bq::midi {
namespace {

using Bytes = std::vector<std::uint8_t>;

// The virtual Karma, but `deaf` writes after the first `answered` (all of them, by default)
// get no answer and are not stored, as if they were lost on the way.
class DeafKarma final : public IMidiDevice {
public:
    DeafKarma(std::shared_ptr<VirtualKarma> karma, int answered, int deaf = 1 << 20)
        : m_karma(std::move(karma)), m_answered(answered), m_deaf(deaf) {}
    void HandleMessage(const std::uint8_t* message, std::size_t length,
                       std::vector<MidiTimedBytes>* reply) override {
        const bool write = length > 4 && (message[4] == 0x4C || message[4] == 0x4D);
        const int index = write ? m_writes++ : 0;
        if (!write || index < m_answered || index >= m_answered + m_deaf) {
            m_karma->HandleMessage(message, length, reply);
        }
    }

private:
    std::shared_ptr<VirtualKarma> m_karma;
    const int m_answered;
    const int m_deaf;
    std::atomic<int> m_writes{0};
};

Bytes& Bank(pcg::KarmaMemory& memory, int index) {
    const BackupBank bank = BackupBankAt(index);
    return bank.combination ? memory.combis[bank.bank] : memory.programs[bank.bank];
}

class RestoreWriteTest : public ::testing::Test {
protected:
    RestoreWriteTest()
        : services(std::make_unique<LoopbackMidiServices>(std::vector<std::string>{"In"},
                                                          std::vector<std::string>{"Out"})),
          karma(std::make_shared<VirtualKarma>()) {
        karma->SetChannel(3);
        // The file: the instrument's memory, with slots changed in a Combination bank, a
        // PCM Program bank and the MOSS bank.
        download = std::make_unique<BackupDownload>(*services);
        for (const auto& [index, slots] : std::vector<std::pair<int, std::vector<int>>>{
                 {1, {0, 40, 127}}, {8, {2, 3}}, {11, {9, 10, 11}}}) {
            const BackupBank bank = BackupBankAt(index);
            Bank(file, index) =
                bank.combination ? karma->CombiBank(bank.bank) : karma->ProgramBank(bank.bank);
            Bank(instrument, index) = Bank(file, index);
            for (int slot : slots) {
                Bank(file, index)[slot * bank.recordSize + 20] ^= 0xFF;
            }
        }
        plan = PlanRestore(file, instrument, {1, 8, 11});
    }
    ~RestoreWriteTest() override {
        download.reset();
        services.reset();
    }
    void Connect(std::shared_ptr<IMidiDevice> device) {
        ASSERT_TRUE(services->AttachDevice(0, 0, std::move(device)));
        const BackupStatus found = download->Find();
        ASSERT_TRUE(found.Succeeded()) << found.reason;
    }
    // The slots of the plan that the virtual Karma holds as the file does.
    std::vector<RestoreSlot> Restored() const {
        std::vector<RestoreSlot> restored;
        for (const RestoreSlot& slot : plan.writes) {
            const BackupBank bank = BackupBankAt(slot.bank);
            const Bytes held = bank.combination ? karma->CombiRecord(bank.bank, slot.slot)
                                                : karma->ProgramRecord(bank.bank, slot.slot);
            if (std::equal(held.begin(), held.end(), RestoreRecord(file, slot))) {
                restored.push_back(slot);
            }
        }
        return restored;
    }

    std::unique_ptr<LoopbackMidiServices> services;
    std::shared_ptr<VirtualKarma> karma;
    std::unique_ptr<BackupDownload> download;
    pcg::KarmaMemory file;
    pcg::KarmaMemory instrument;
    RestorePlan plan;
};

TEST_F(RestoreWriteTest, EveryPlannedSlotIsWrittenInOrderWithItsProgress) {
    Connect(karma);
    ASSERT_EQ(plan.writes.size(), 8u);
    RestoreWrite writer(download->Link());
    std::vector<RestoreProgress> seen;
    const RestoreStatus status =
        writer.Write(plan, file, [&](const RestoreProgress& p) { seen.push_back(p); });
    ASSERT_TRUE(status.Succeeded()) << status.reason;
    EXPECT_EQ(status.written, 8u);
    EXPECT_EQ(Restored(), plan.writes);
    for (int index : {1, 8, 11}) {
        const BackupBank bank = BackupBankAt(index);
        EXPECT_EQ(bank.combination ? karma->CombiBank(bank.bank) : karma->ProgramBank(bank.bank),
                  Bank(file, index))
            << BackupBankTitle(index);
    }

    // A begin and an end for each write, in the plan's order, on the global channel.
    ASSERT_EQ(seen.size(), 16u);
    int bankEnds = 0;
    for (std::size_t i = 0; i < seen.size(); ++i) {
        EXPECT_EQ(seen[i].item, i / 2 + 1);
        EXPECT_EQ(seen[i].slot, plan.writes[i / 2]);
        EXPECT_EQ(seen[i].done, i % 2 == 1);
        EXPECT_EQ(seen[i].totalBytes, 3 * 1148u + 2 * 928u + 3 * 485u);
        bankEnds += seen[i].bankDone ? 1 : 0;
    }
    EXPECT_EQ(bankEnds, 3);
    EXPECT_EQ(seen.back().bytes, seen.back().totalBytes);
    const auto sent = services->SentMessages(0);
    ASSERT_EQ(sent.size(), 9u);  // the Identity Request, then the writes
    EXPECT_EQ(sent[1], [&] {
        Bytes write = RestoreWriteMessage(file, plan.writes[0]);
        write[2] = 0x33;
        return write;
    }());
}

// A refusal after some writes, with the instrument's memory, is tried over JACK.
TEST_F(RestoreWriteTest, AnErrorReplyStopsTheRestoreAndSaysWhichSlot) {
    VirtualKarma::Faults faults;
    faults.errorWrites = true;
    faults.errorCode = 5;
    karma->SetFaults(faults);
    Connect(karma);
    const RestoreStatus status = RestoreWrite(download->Link()).Write(plan, file);
    EXPECT_EQ(status.error, RestoreError::Refused);
    EXPECT_EQ(status.written, 0u);
    EXPECT_EQ(status.failed, plan.writes[0]);
    EXPECT_FALSE(status.unknown);
    EXPECT_EQ(status.reason,
              "the Karma refused the write of Combination Bank B, slot 000 (Error Reply, code 5); "
              "0 of 8 slots were written");
    EXPECT_TRUE(Restored().empty());
}

TEST_F(RestoreWriteTest, AnUnansweredWriteIsNotKnownAndACancelWaitsForTheWriteUnderWay) {
    Connect(std::make_shared<DeafKarma>(karma, 6));
    RestoreWrite writer(download->Link());
    writer.SetSilenceMs(300);
    // Cancelled as the third write begins: it is made, and no other.
    const RestoreStatus cancelled = writer.Write(plan, file, [&](const RestoreProgress& p) {
        if (p.item == 3 && !p.done) {
            writer.Cancel();
        }
    });
    EXPECT_EQ(cancelled.error, RestoreError::Cancelled);
    EXPECT_EQ(cancelled.written, 3u);
    EXPECT_EQ(cancelled.reason, "cancelled; 3 of 8 slots were written");
    EXPECT_EQ(Restored().size(), 3u);

    // Three more are answered, then the Karma stays silent.
    RestoreWrite second(download->Link());
    second.SetSilenceMs(300);
    const RestoreStatus silent = second.Write(plan, file);
    EXPECT_EQ(silent.error, RestoreError::Silent);
    EXPECT_EQ(silent.written, 3u);
    EXPECT_TRUE(silent.unknown);
    EXPECT_EQ(silent.reason,
              "the Karma did not answer the write of Program Bank C, slot 002 within 300 ms; "
              "sent 3 times; 3 of 8 slots were written before it, and whether the Karma holds "
              "that slot now is not known");

    download->Close();
    EXPECT_EQ(RestoreWrite(download->Link()).Write(plan, file).error, RestoreError::NotConnected);
}

TEST_F(RestoreWriteTest, AWriteLostOnTheWayIsSentAgainAndTheRestoreCompletes) {
    // The fourth write and its first repeat are lost; the third try is taken.
    Connect(std::make_shared<DeafKarma>(karma, 3, 2));
    RestoreWrite writer(download->Link());
    writer.SetSilenceMs(300);
    std::vector<std::string> again;
    const RestoreStatus status = writer.Write(plan, file, [&](const RestoreProgress& p) {
        if (!p.again.empty()) {
            again.push_back(p.again);
        }
    });
    ASSERT_TRUE(status.Succeeded()) << status.reason;
    EXPECT_EQ(status.written, 8u);
    EXPECT_EQ(Restored().size(), 8u);
    ASSERT_EQ(again.size(), 2u);
    EXPECT_EQ(again[1],
              "the Karma did not answer the write of Program Bank C, slot 002 within 300 ms; "
              "sending it again (3 of 3)");
}

}  // namespace
}  // namespace bq::midi
