// The chunk handler on its own: chunks are handed to the transport as the input callback's
// events would be, in whatever cuts a test needs.
#include <gtest/gtest.h>
#include <QCoreApplication>

#include <vector>

#include "midi/loopback/LoopbackMidiServices.h"
#include "workstation/WSMessages.h"
#include "workstation/WSTransport.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

class ChunkHandler : public ::testing::Test {
protected:
    ChunkHandler() : loopback({"in"}, {"out"}), transport(loopback) {
        transport.SetReplySink([this](QEvent* e) {
            if (e->type() == bq::ws::WM_WS_REPLY) {
                replies.push_back(static_cast<bq::ws::ReplyEvent*>(e)->Success());
            } else {
                dumps.push_back(static_cast<bq::ws::DumpReceivedEvent*>(e)->TakeMessage());
            }
        });
    }
    void Chunk(Bytes bytes) {
        bq::ws::SysExChunkEvent event(std::move(bytes));
        QCoreApplication::sendEvent(&transport, &event);
        QCoreApplication::sendPostedEvents(&transport);
    }
    // A message of `length` bytes in chunks of at most `size`.
    void Message(std::size_t length, std::size_t size, bool end = true) {
        Bytes all(length, 0x11);
        all.front() = 0xF0;
        all.back() = end ? 0xF7 : 0x22;
        for (std::size_t at = 0; at < length; at += size) {
            Chunk(Bytes(all.begin() + at, all.begin() + std::min(length, at + size)));
        }
    }

    bq::midi::LoopbackMidiServices loopback;
    CWSTransport transport;
    std::vector<bool> replies;
    std::vector<Bytes> dumps;
};

TEST_F(ChunkHandler, PiecesAreJoinedUntilF7) {
    Chunk({0xF0, 0x01});
    Chunk({0x02});
    EXPECT_TRUE(dumps.empty());
    EXPECT_EQ(transport.PendingBytes(), 3u);
    Chunk({0x03, 0xF7});
    ASSERT_EQ(dumps.size(), 1u);
    EXPECT_EQ(dumps[0], (Bytes{0xF0, 0x01, 0x02, 0x03, 0xF7}));
    EXPECT_EQ(transport.PendingBytes(), 0u);
}

TEST_F(ChunkHandler, F0DiscardsTheHalfMessage) {
    Chunk({0xF0, 0x01, 0x02});
    Chunk({0xF0, 0x42, 0x30, 0x5D, 0x23, 0xF7});
    EXPECT_EQ(replies, std::vector<bool>{true});
    EXPECT_TRUE(dumps.empty());
}

TEST_F(ChunkHandler, ChunkWithoutStartIsAppendedToWhatIsThere) {
    Chunk({0x05, 0x06, 0xF7});
    ASSERT_EQ(dumps.size(), 1u);
    EXPECT_EQ(dumps[0], (Bytes{0x05, 0x06, 0xF7}));
    Chunk({});  // nothing recorded: nothing happens
    EXPECT_EQ(dumps.size(), 1u);
}

TEST_F(ChunkHandler, MessageOfExactlyTheLimitIsKept) {
    Message(CWSTransport::kReassemblyLimit, 4096);
    ASSERT_EQ(dumps.size(), 1u);
    EXPECT_EQ(dumps[0].size(), CWSTransport::kReassemblyLimit);
}

TEST_F(ChunkHandler, MessagePassingTheLimitIsDroppedWithItsTail) {
    Message(CWSTransport::kReassemblyLimit + 1, 4096);
    EXPECT_TRUE(dumps.empty());
    EXPECT_EQ(transport.PendingBytes(), 0u);
    // Bytes without a start are skipped until the next F0.
    Chunk({0x01, 0xF7});
    EXPECT_TRUE(dumps.empty());
    Chunk({0xF0, 0x42, 0x30, 0x5D, 0x24, 0xF7});
    EXPECT_EQ(replies, std::vector<bool>{false});
}

TEST_F(ChunkHandler, EndlessStreamNeverHoldsMoreThanTheLimit) {
    Message(4 * CWSTransport::kReassemblyLimit, 4096, false);
    EXPECT_LE(transport.PendingBytes(), CWSTransport::kReassemblyLimit);
    EXPECT_TRUE(dumps.empty());
    Message(146000, 4096);
    ASSERT_EQ(dumps.size(), 1u);
    EXPECT_EQ(dumps[0].size(), 146000u);
}

TEST_F(ChunkHandler, DroppedDumpEventFreesItsBuffer) {
    transport.SetReplySink(nullptr);
    Message(146000, 4096);
    // Posted and dropped: under the sanitizers a leaked buffer fails the run.
    EXPECT_EQ(transport.PendingBytes(), 0u);
}

TEST_F(ChunkHandler, SinkMayRemoveItselfWhenItTakesAReply) {
    int taken = 0;
    const std::vector<int> state(64, 1);  // keeps the sink's captures on the heap
    transport.SetReplySink([this, &taken, state](QEvent*) {
        transport.SetReplySink(nullptr);  // as a wait does when it ends
        taken += state[0];                // its captures must still be there
    });
    Chunk({0xF0, 0x42, 0x30, 0x5D, 0x23, 0xF7});
    Chunk({0xF0, 0x42, 0x30, 0x5D, 0x23, 0xF7});
    EXPECT_EQ(taken, 1);
}

}  // namespace
