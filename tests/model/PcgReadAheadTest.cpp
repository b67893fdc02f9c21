// The reader takes the file in reads of kReadAheadSize bytes. A chunk header, a sub-header or a
// record that falls across the end of one read, and a skip that leaves the bytes read so far
// (forwards past them, or backwards before them), must read exactly as a file in one piece.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "model/KarmaBank.h"
#include "model/KorgPCGFile.h"
#include "model/KorgPCGSection.h"
#include "model/Ref.h"
#include "tests/support/PcgBuilder.h"

namespace {

using namespace bq::test;

constexpr std::ptrdiff_t kRead = bq::pcg::kReadAheadSize;
constexpr std::ptrdiff_t kRootContentStart = 24;  // file header and root chunk header
constexpr std::ptrdiff_t kLeafOverhead = 20;      // chunk header and sub-header

// A skipped chunk of exactly `length` bytes, headers included.
Bytes Padding(std::ptrdiff_t length) {
    return Leaf("GLB1", 0, 0, Bytes(static_cast<std::size_t>(length - kLeafOverhead), 0x5A));
}

// A file whose root holds a skipped chunk, then `chunks` starting `shift` bytes before the end
// of the first read (after it for a negative shift), so that the end of that read falls
// `shift` bytes into `chunks`.
Bytes FileWithReadEndInside(const Bytes& chunks, std::ptrdiff_t shift) {
    Bytes root = Padding(kRead - shift - kRootContentStart);
    root.insert(root.end(), chunks.begin(), chunks.end());
    return PcgFile(root);
}

struct Loaded {
    std::unique_ptr<CKorgPCGFile> file = std::make_unique<CKorgPCGFile>();
    HRESULT hr = S_OK;
};

Loaded Load(const Bytes& bytes) {
    const TempFile temp(bytes);
    Loaded l;
    l.hr = l.file->Load(temp.c_str());
    return l;
}

bool Holds(const CKarmaObject* item, const Bytes& record) {
    unsigned long size = 0;
    const unsigned char* data = item != nullptr ? item->GetData(&size) : nullptr;
    return data != nullptr && size == record.size() && std::memcmp(data, record.data(), size) == 0;
}

bool CombiIs(CKorgPCGFile& file, long bank, long slot, const Bytes& record) {
    auto item =
        bq::Ref<CKarmaCombi>::Adopt(file.GetRootContainer()->GetCombiBank(bank)->GetCombi(slot));
    return Holds(item.get(), record);
}

bool ProgramIs(CKorgPCGFile& file, long bank, long slot, const Bytes& record) {
    auto item = bq::Ref<CKarmaProgram>::Adopt(
        file.GetRootContainer()->GetProgramBank(bank)->GetProgram(slot));
    return Holds(item.get(), record);
}

TEST(PcgReadAhead, HeadersSubHeadersAndRecordsAcrossTheEndOfAReadArriveWhole) {
    const std::vector<std::string> combis = {"One", "Two", "Three"};
    const std::vector<std::string> programs = {"Four", "Five"};
    const Bytes chunks =
        Cat({CombiBank(2, combis), ProgramBank(4, programs), Leaf("DIV1", 0, 0, {})});
    // Every border inside `chunks`: chunk and sub-header starts, record starts, the end.
    std::vector<std::ptrdiff_t> borders = {0, 8};
    for (std::ptrdiff_t r = 0; r <= 3; ++r) {
        borders.push_back(kLeafOverhead + r * 996);
    }
    const std::ptrdiff_t programStart = kLeafOverhead + 3 * 996;
    borders.push_back(programStart + 8);
    for (std::ptrdiff_t r = 0; r <= 2; ++r) {
        borders.push_back(programStart + kLeafOverhead + r * 804);
    }
    const std::ptrdiff_t divStart = programStart + kLeafOverhead + 2 * 804;
    borders.push_back(divStart + 8);
    borders.push_back(divStart + kLeafOverhead);
    ASSERT_EQ(static_cast<std::size_t>(borders.back()), chunks.size());

    for (std::ptrdiff_t border : borders) {
        for (std::ptrdiff_t shift = border - 3; shift <= border + 3; ++shift) {
            SCOPED_TRACE("read ends " + std::to_string(shift) + " bytes into the chunks");
            Loaded l = Load(FileWithReadEndInside(chunks, shift));
            ASSERT_EQ(l.hr, S_OK);
            EXPECT_EQ(l.file->GetRootSection()->GetChildCount(), 4u);
            for (std::size_t s = 0; s < combis.size(); ++s) {
                EXPECT_TRUE(CombiIs(*l.file, 2, static_cast<long>(s),
                                    CombiRecord(combis[s], static_cast<unsigned>(s))))
                    << "combination " << s;
            }
            for (std::size_t s = 0; s < programs.size(); ++s) {
                EXPECT_TRUE(ProgramIs(*l.file, 4, static_cast<long>(s),
                                      ProgramRecord(programs[s], static_cast<unsigned>(s))))
                    << "program " << s;
            }
            if (HasFailure()) {
                return;  // the other shifts would only repeat it
            }
        }
    }
}

TEST(PcgReadAhead, SkipsThatEndAtOrPastTheEndOfAReadLandOnTheNextChunk) {
    // The skipped chunk starts well inside the first read and ends just before, at or after
    // its end, or several reads further on.
    const Bytes after = CombiBank(1, {"After"});
    const std::ptrdiff_t start = 1000;
    for (std::ptrdiff_t end :
         {kRead - 1, kRead, kRead + 1, kRead + 19, kRead + 20, 2 * kRead, 3 * kRead + 5}) {
        SCOPED_TRACE("skipped chunk ends at " + std::to_string(end));
        const Bytes root = Cat({Padding(start - kRootContentStart), Padding(end - start), after});
        Loaded l = Load(PcgFile(root));
        ASSERT_EQ(l.hr, S_OK);
        EXPECT_EQ(l.file->GetRootSection()->GetChildCount(), 3u);
        EXPECT_TRUE(CombiIs(*l.file, 1, 0, CombiRecord("After", 0)));
    }
}

TEST(PcgReadAhead, AShortLeafMovesBackAcrossTheEndOfARead) {
    // A leaf of size 4 borrows 8 bytes of the next chunk for its sub-header, then moves back
    // 8 bytes; when the sub-header straddles the end of a read, the move goes back before the
    // bytes the next read brought.
    const Bytes chunks = Cat({ChunkWithSize("GLB1", 4, {1, 2, 3, 4}), ProgramBank(2, {"After"})});
    for (std::ptrdiff_t shift = 0; shift <= 24; ++shift) {
        SCOPED_TRACE("read ends " + std::to_string(shift) + " bytes into the short leaf");
        Loaded l = Load(FileWithReadEndInside(chunks, shift));
        ASSERT_EQ(l.hr, S_OK);
        EXPECT_EQ(l.file->GetRootSection()->GetChildCount(), 3u);
        EXPECT_TRUE(ProgramIs(*l.file, 2, 0, ProgramRecord("After", 0)));
    }
}

}  // namespace
