#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <future>
#include <memory>
#include <string>
#include <typeinfo>
#include <vector>

#include "model/KorgPCGFile.h"
#include "model/KorgPCGSection.h"
#include "model/Ref.h"
#include "tests/support/PcgBuilder.h"

namespace {

using namespace bq::test;

struct Loaded {
    std::unique_ptr<CKorgPCGFile> file = std::make_unique<CKorgPCGFile>();
    HRESULT hr = S_OK;
};

Loaded LoadBytes(const Bytes& bytes) {
    TempFile temp(bytes);
    Loaded l;
    l.hr = l.file->Load(temp.c_str());
    EXPECT_EQ(l.file->GetFile(), nullptr);
    EXPECT_STREQ(l.file->GetPath(), temp.c_str());
    if (FAILED(l.hr)) {
        EXPECT_EQ(l.file->GetRootSection(), nullptr);
    }
    return l;
}

std::string Name(const CKarmaObject& item) {
    char buffer[20] = {};
    item.GetName(buffer, 19);
    return buffer;
}

// The name in a program slot, "" for an empty slot; checks that the bank holds the only
// reference of what it holds.
std::string ProgramAt(CKorgPCGFile& file, long bank, long slot) {
    auto item = bq::Ref<CKarmaProgram>::Adopt(
        file.GetRootContainer()->GetProgramBank(bank)->GetProgram(slot));
    if (!item) {
        return "";
    }
    EXPECT_EQ(item->RefCount(), 2) << "bank " << bank << " slot " << slot;
    return Name(*item);
}

std::string CombiAt(CKorgPCGFile& file, long bank, long slot) {
    auto item =
        bq::Ref<CKarmaCombi>::Adopt(file.GetRootContainer()->GetCombiBank(bank)->GetCombi(slot));
    if (!item) {
        return "";
    }
    EXPECT_EQ(item->RefCount(), 2) << "bank " << bank << " slot " << slot;
    return Name(*item);
}

int Occupied(CKorgPCGFile& file) {
    int n = 0;
    for (long b = 0; b < 6; ++b) {
        for (long s = 0; s < 128; ++s) {
            n += !ProgramAt(file, b, s).empty();
            n += !CombiAt(file, b, s).empty();
        }
    }
    return n;
}

Bytes OneProgramFile() {
    return PcgFile(Container("PRG1", {ProgramBank(0, {"Glass Harp"})}));
}

Bytes Truncate(Bytes b, std::size_t size) {
    b.resize(size);
    return b;
}

TEST(PcgHeader, MissingFileGivesTheSystemErrorAndKeepsThePath) {
    const std::string path =
        (std::filesystem::temp_directory_path() / "bq-no-such-dir" / "none.pcg").string();
    CKorgPCGFile file;
    EXPECT_EQ(file.Load(path.c_str()), static_cast<HRESULT>(0x80070002u));
    EXPECT_STREQ(file.GetPath(), path.c_str());
    EXPECT_EQ(file.GetRootSection(), nullptr);
    EXPECT_EQ(file.GetFile(), nullptr);
    EXPECT_NE(file.GetRootContainer(), nullptr);
}

TEST(PcgHeader, AFailingReadGivesTheSystemError) {
    TempFile temp(Bytes{});
    const std::string dir = std::filesystem::path(temp.Path()).parent_path().string();
    CKorgPCGFile file;
    EXPECT_EQ(file.Load(dir.c_str()), HResultFromErrno(EISDIR));
    EXPECT_EQ(file.GetFile(), nullptr);
}

TEST(PcgHeader, FifosAndDevicesAreRefusedWithoutBlocking) {
    TempFile temp(Bytes{});
    const std::string fifo = temp.Path() + ".fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    // A load that blocks in open() is released by a writer, so the test ends either way.
    auto load = std::async(std::launch::async, [&] {
        CKorgPCGFile file;
        return file.Load(fifo.c_str());
    });
    if (load.wait_for(std::chrono::seconds(20)) != std::future_status::ready) {
        ADD_FAILURE() << "Load blocked on a FIFO";
        const int writer = ::open(fifo.c_str(), O_WRONLY);
        ::close(writer);
    }
    EXPECT_EQ(load.get(), HResultFromErrno(EINVAL));
    ::unlink(fifo.c_str());

    CKorgPCGFile device;
    EXPECT_EQ(device.Load("/dev/zero"), HResultFromErrno(EINVAL));
    EXPECT_EQ(device.GetFile(), nullptr);
}

TEST(PcgHeader, ShortFilesAreRefused) {
    const Bytes full = OneProgramFile();
    for (std::size_t size : {0u, 1u, 15u, 16u, 20u, 23u}) {
        EXPECT_EQ(LoadBytes(Truncate(full, size)).hr, E_UNEXPECTED) << size << " bytes";
    }
}

TEST(PcgHeader, HeaderBytesAreTestedInOrderAndTritonIsRefusedLast) {
    const Bytes good = OneProgramFile();
    auto with = [&](std::size_t at, unsigned char value) {
        Bytes b = good;
        b[at] = value;
        return b;
    };
    Bytes triton = with(4, 0x50);
    Loaded t = LoadBytes(triton);
    EXPECT_EQ(t.hr, E_INVALIDARG);
    EXPECT_EQ(t.file->GetVersion(), FILE_VERSION_TRITON);
    EXPECT_EQ(Occupied(*t.file), 0);

    Bytes tritonByte6 = triton;
    tritonByte6[6] = 1;
    EXPECT_EQ(LoadBytes(tritonByte6).hr, E_UNEXPECTED);
    Bytes tritonBadMagic = triton;
    tritonBadMagic[0] = 'k';
    EXPECT_EQ(LoadBytes(tritonBadMagic).hr, E_UNEXPECTED);
    EXPECT_EQ(LoadBytes(with(4, 0x5C)).hr, E_UNEXPECTED);
    EXPECT_EQ(LoadBytes(with(4, 0x00)).hr, E_UNEXPECTED);
    EXPECT_EQ(LoadBytes(with(3, 'g')).hr, E_UNEXPECTED);
    // Bytes 5 and 7..15 are not examined.
    Bytes loose = with(5, 0xFF);
    for (std::size_t i = 7; i < 16; ++i) {
        loose[i] = 0xEE;
    }
    Loaded l = LoadBytes(loose);
    EXPECT_EQ(l.hr, S_OK);
    EXPECT_EQ(l.file->GetVersion(), FILE_VERSION_KARMA);
    EXPECT_EQ(std::memcmp(l.file->GetHeader(), loose.data(), 16), 0);
}

TEST(PcgHeader, RootChunkMustBePcg1AndRunExactlyToTheEnd) {
    const Bytes good = OneProgramFile();
    Bytes appended = good;
    appended.push_back(0);
    EXPECT_EQ(LoadBytes(appended).hr, E_UNEXPECTED);

    Bytes small = good;
    small[23] -= 1;  // root size one too small
    EXPECT_EQ(LoadBytes(small).hr, E_UNEXPECTED);

    Bytes tag = good;
    tag[19] = '2';
    EXPECT_EQ(LoadBytes(tag).hr, E_UNEXPECTED);
    EXPECT_EQ(LoadBytes(Cat({FileHeader(), Chunk("PRG1", {})})).hr, E_UNEXPECTED);
}

TEST(PcgLoad, SmallestFileLoadsWithEveryBankEmpty) {
    const Bytes bytes = PcgFile({});
    ASSERT_EQ(bytes.size(), 24u);
    Loaded l = LoadBytes(bytes);
    ASSERT_EQ(l.hr, S_OK);
    ASSERT_NE(l.file->GetRootSection(), nullptr);
    EXPECT_TRUE(l.file->GetRootSection()->HasTag("PCG1"));
    EXPECT_EQ(l.file->GetRootSection()->GetSize(), 0u);
    EXPECT_EQ(l.file->GetRootSection()->GetChildCount(), 0u);
    EXPECT_EQ(Occupied(*l.file), 0);
}

TEST(PcgLoad, OneProgramFileBuildsTheSectionTreeAndFillsSlotZero) {
    const Bytes bytes = OneProgramFile();
    ASSERT_EQ(bytes.size(), 856u);
    Loaded l = LoadBytes(bytes);
    ASSERT_EQ(l.hr, S_OK);
    const CKorgPCGRootContainerSection* root = l.file->GetRootSection();
    ASSERT_NE(root, nullptr);
    EXPECT_EQ(root->GetSize(), 832u);
    ASSERT_EQ(root->GetChildCount(), 1u);
    auto* prg = dynamic_cast<const CKorgPCGRootContainerSection*>(root->GetChild(0));
    ASSERT_NE(prg, nullptr);
    EXPECT_TRUE(prg->HasTag("PRG1"));
    EXPECT_EQ(prg->GetSize(), 824u);
    ASSERT_EQ(prg->GetChildCount(), 1u);
    auto* pbk = dynamic_cast<const CKorgPCGProgramBankSection*>(prg->GetChild(0));
    ASSERT_NE(pbk, nullptr);
    EXPECT_EQ(pbk->GetSize(), 816u);
    EXPECT_EQ(pbk->GetCount(), 1u);
    EXPECT_EQ(pbk->GetBankIndex(), 0u);
    EXPECT_EQ(pbk->GetSecondWord(), 0u);
    EXPECT_EQ(Occupied(*l.file), 1);

    auto item =
        bq::Ref<CKarmaProgram>::Adopt(l.file->GetRootContainer()->GetProgramBank(0)->GetProgram(0));
    ASSERT_TRUE(item);
    EXPECT_EQ(item->RefCount(), 2);  // the bank's and ours
    ASSERT_NE(dynamic_cast<CKarmaPCMProgram*>(item.get()), nullptr);
    unsigned long size = 0;
    const unsigned char* data = item->GetData(&size);
    EXPECT_EQ(size, 804u);
    const Bytes record = ProgramRecord("Glass Harp", 0);
    EXPECT_EQ(std::memcmp(data, record.data(), 804), 0);
    EXPECT_EQ(Name(*item), "Glass Harp");

    // A view's reference outlives the file object.
    l.file.reset();
    EXPECT_EQ(item->RefCount(), 1);
    EXPECT_EQ(Name(*item), "Glass Harp");
}

TEST(PcgLoad, EveryTagOfTheTableMakesItsSectionAndSkippedChunksLeaveBanksAlone) {
    const Bytes junk(40, 0xAB);
    const Bytes bytes = PcgFile(Cat({
        Container("PRG1", {ProgramBank(1, {"Alpha", "Beta"}), Leaf("MBK1", 3, 5, junk)}),
        Container("CMB1", {CombiBank(2, {"Gamma"})}),
        Container("DKT1", {Leaf("DBK1", 1, 0, junk)}),
        Container("ARP1", {Leaf("ABK1", 1, 0, junk), Container("PCG1", {})}),
        Leaf("DIV1", 0, 0, {}),
        Leaf("GLB1", 0, 0, junk),
        Leaf("CSM1", 0, 0, junk),
    }));
    Loaded l = LoadBytes(bytes);
    ASSERT_EQ(l.hr, S_OK);
    const auto* root = l.file->GetRootSection();
    ASSERT_EQ(root->GetChildCount(), 7u);
    const char* tags[] = {"PRG1", "CMB1", "DKT1", "ARP1", "DIV1", "GLB1", "CSM1"};
    for (std::size_t i = 0; i < 7; ++i) {
        EXPECT_TRUE(root->GetChild(i)->HasTag(tags[i])) << i;
    }
    auto* prg = dynamic_cast<const CKorgPCGContainerSection*>(root->GetChild(0));
    ASSERT_NE(prg, nullptr);
    ASSERT_EQ(prg->GetChildCount(), 2u);
    auto* moss = dynamic_cast<const CKorgPCGMOSSBankSection*>(prg->GetChild(1));
    ASSERT_NE(moss, nullptr);
    EXPECT_EQ(moss->GetCount(), 3u);
    EXPECT_EQ(moss->GetBankIndex(), 5u);
    auto* cmb = dynamic_cast<const CKorgPCGContainerSection*>(root->GetChild(1));
    EXPECT_NE(dynamic_cast<const CKorgPCGCombiBankSection*>(cmb->GetChild(0)), nullptr);
    auto* arp = dynamic_cast<const CKorgPCGContainerSection*>(root->GetChild(3));
    EXPECT_NE(dynamic_cast<const CKorgPCGRootContainerSection*>(arp->GetChild(1)), nullptr);
    auto* glb = dynamic_cast<const CKorgPCGLeafSection*>(root->GetChild(5));
    ASSERT_NE(glb, nullptr);
    EXPECT_EQ(typeid(*glb), typeid(CKorgPCGLeafSection));

    EXPECT_EQ(ProgramAt(*l.file, 1, 0), "Alpha");
    EXPECT_EQ(ProgramAt(*l.file, 1, 1), "Beta");
    EXPECT_EQ(CombiAt(*l.file, 2, 0), "Gamma");
    EXPECT_EQ(ProgramAt(*l.file, 5, 0), "");  // the MOSS chunk was passed over
    EXPECT_EQ(Occupied(*l.file), 3);
}

TEST(PcgLoad, AFullBankOfEveryKindLoadsAtTheLimits) {
    std::vector<std::string> names;
    for (int i = 0; i < 128; ++i) {
        names.push_back("Item " + std::to_string(i));
    }
    Loaded l = LoadBytes(PcgFile(Cat({ProgramBank(5, names), CombiBank(5, names)})));
    ASSERT_EQ(l.hr, S_OK);
    EXPECT_EQ(ProgramAt(*l.file, 5, 0), "Item 0");
    EXPECT_EQ(ProgramAt(*l.file, 5, 127), "Item 127");
    EXPECT_EQ(CombiAt(*l.file, 5, 127), "Item 127");
    EXPECT_EQ(Occupied(*l.file), 256);
}

TEST(PcgLoad, ASecondBankChunkOverwritesOnlyTheSlotsItCovers) {
    Loaded l = LoadBytes(PcgFile(Cat({
        ProgramBank(3, {"First 0", "First 1", "First 2"}),
        CombiBank(3, {"Combi 0", "Combi 1"}),
        ProgramBank(3, {"Second 0"}),
        CombiBank(3, {"Again 0", "Again 1"}),
    })));
    ASSERT_EQ(l.hr, S_OK);
    EXPECT_EQ(ProgramAt(*l.file, 3, 0), "Second 0");
    EXPECT_EQ(ProgramAt(*l.file, 3, 1), "First 1");
    EXPECT_EQ(ProgramAt(*l.file, 3, 2), "First 2");
    EXPECT_EQ(CombiAt(*l.file, 3, 0), "Again 0");
    EXPECT_EQ(CombiAt(*l.file, 3, 1), "Again 1");
    EXPECT_EQ(Occupied(*l.file), 5);
}

TEST(PcgLoad, UnknownTagsFailAnywhereAndKeepTheBanksReadBefore) {
    EXPECT_EQ(LoadBytes(PcgFile(Leaf("XYZ1", 0, 0, {}))).hr, E_FAIL);
    EXPECT_EQ(LoadBytes(PcgFile(Leaf("pbk1", 0, 0, {}))).hr, E_FAIL);  // case matters
    Loaded l = LoadBytes(PcgFile(Cat({
        CombiBank(0, {"Kept"}),
        Container("PRG1", {ProgramBank(4, {"Also kept"}), Container("CMB1", {Chunk("WHAT", {})})}),
        CombiBank(1, {"Never read"}),
    })));
    EXPECT_EQ(l.hr, E_FAIL);
    EXPECT_EQ(CombiAt(*l.file, 0, 0), "Kept");
    EXPECT_EQ(ProgramAt(*l.file, 4, 0), "Also kept");
    EXPECT_EQ(Occupied(*l.file), 2);
}

TEST(PcgLoad, BankChunksOutOfRangeAreRefusedBeforeAnyRecord) {
    EXPECT_EQ(LoadBytes(PcgFile(ProgramBank(6, {"Bank G"}))).hr, E_UNEXPECTED);
    EXPECT_EQ(LoadBytes(PcgFile(CombiBank(0xFFFFFFFFu, {"Minus one"}))).hr, E_UNEXPECTED);
    std::vector<std::string> names(129, "Too many");
    Loaded p = LoadBytes(PcgFile(ProgramBank(0, names)));
    EXPECT_EQ(p.hr, E_UNEXPECTED);
    Loaded c = LoadBytes(PcgFile(CombiBank(2, names)));
    EXPECT_EQ(c.hr, E_UNEXPECTED);
    EXPECT_EQ(Occupied(*p.file) + Occupied(*c.file), 0);
    // A huge count in an otherwise tiny chunk is refused without reading.
    EXPECT_EQ(LoadBytes(PcgFile(Leaf("CBK1", 0x7FFFFFFFu, 0, {}))).hr, E_UNEXPECTED);
}

TEST(PcgLoad, ARecordCutShortFailsAndKeepsTheRecordsBeforeIt) {
    Bytes chunk = CombiBank(1, {"Whole", "Cut"});
    chunk.resize(chunk.size() - 1);
    Loaded l = LoadBytes(PcgFile(chunk));
    EXPECT_EQ(l.hr, E_UNEXPECTED);
    EXPECT_EQ(CombiAt(*l.file, 1, 0), "Whole");
    EXPECT_EQ(CombiAt(*l.file, 1, 1), "");
}

TEST(PcgLoad, ABankPayloadLongerThanItsCountIsReadAsTheNextChunk) {
    // Two records behind a count of one: the second record's first bytes become a header.
    Bytes payload = Cat({ProgramRecord("One"), ProgramRecord("Extra")});
    Loaded l = LoadBytes(PcgFile(Leaf("PBK1", 1, 0, payload)));
    EXPECT_EQ(l.hr, E_FAIL);
    EXPECT_EQ(ProgramAt(*l.file, 0, 0), "One");
    // When those bytes happen to form a chunk of the table, the load goes on.
    Bytes tail = Leaf("GLB1", 0, 0, Bytes(804 - 20, 0));
    Loaded ok = LoadBytes(PcgFile(Leaf("PBK1", 1, 0, Cat({ProgramRecord("One"), tail}))));
    EXPECT_EQ(ok.hr, S_OK);
    EXPECT_EQ(ok.file->GetRootSection()->GetChildCount(), 2u);
}

TEST(PcgLoad, AContainerStopsAtItsSizeAndAtTheEndOfTheFile) {
    // PRG1 claims only its first child; the second chunk belongs to the root.
    Bytes first = ProgramBank(0, {"In"});
    Bytes prg = ChunkWithSize("PRG1", static_cast<std::uint32_t>(first.size()), first);
    Loaded l = LoadBytes(PcgFile(Cat({prg, CombiBank(0, {"Out"})})));
    ASSERT_EQ(l.hr, S_OK);
    ASSERT_EQ(l.file->GetRootSection()->GetChildCount(), 2u);

    // A container whose size runs past the end of the file takes what follows as children.
    Bytes nested = Cat({ChunkWithSize("CMB1", 100000, CombiBank(0, {"A"})), CombiBank(1, {"B"})});
    Loaded past = LoadBytes(PcgFile(nested));
    ASSERT_EQ(past.hr, S_OK);
    const auto* root = past.file->GetRootSection();
    ASSERT_EQ(root->GetChildCount(), 1u);
    auto* cmb = dynamic_cast<const CKorgPCGContainerSection*>(root->GetChild(0));
    ASSERT_NE(cmb, nullptr);
    EXPECT_EQ(cmb->GetChildCount(), 2u);
    EXPECT_EQ(CombiAt(*past.file, 1, 0), "B");

    // A child that passes its container's end ends the container without complaint.
    Bytes over = ChunkWithSize("CMB1", 10, CombiBank(2, {"Over"}));
    Loaded o = LoadBytes(PcgFile(over));
    EXPECT_EQ(o.hr, S_OK);
    EXPECT_EQ(CombiAt(*o.file, 2, 0), "Over");
}

TEST(PcgLoad, ChunkHeadersAndSubHeadersCutShortAreRefused) {
    for (std::size_t n = 1; n < 8; ++n) {
        Bytes partial = Truncate(Leaf("GLB1", 0, 0, {}), n);
        EXPECT_EQ(LoadBytes(PcgFile(Cat({CombiBank(0, {"x"}), partial}))).hr, E_UNEXPECTED) << n;
    }
    Bytes subHeader = Truncate(Leaf("DIV1", 0, 0, {}), 8 + 11);
    EXPECT_EQ(LoadBytes(PcgFile(subHeader)).hr, E_UNEXPECTED);
}

TEST(PcgLoad, ShortLeafChunksSkipBackToTheirEnd) {
    // GLB1 of size 4: its sub-header borrows 8 bytes of the next chunk, then the position
    // moves back so that the next chunk is read whole.
    Bytes shortLeaf = ChunkWithSize("GLB1", 4, {1, 2, 3, 4});
    Loaded l = LoadBytes(PcgFile(Cat({shortLeaf, ProgramBank(2, {"After"})})));
    ASSERT_EQ(l.hr, S_OK);
    EXPECT_EQ(l.file->GetRootSection()->GetChildCount(), 2u);
    EXPECT_EQ(ProgramAt(*l.file, 2, 0), "After");
    // A size of 0 directly before 12 more bytes works too.
    Loaded zero = LoadBytes(PcgFile(Cat({ChunkWithSize("ABK1", 0, {}), Leaf("DBK1", 0, 0, {})})));
    EXPECT_EQ(zero.hr, S_OK);
    EXPECT_EQ(zero.file->GetRootSection()->GetChildCount(), 2u);
    // As the last chunk of the file, the 12 bytes are not there.
    EXPECT_EQ(LoadBytes(PcgFile(Cat({CombiBank(0, {"x"}), shortLeaf}))).hr, E_UNEXPECTED);
}

TEST(PcgLoad, HugeLeafSizesNeverMoveBackwardsAndTheLoadEnds) {
    // With a 32-bit move these sizes step back onto the chunk's own header or before it.
    for (std::uint32_t size : {0xFFFFFFF8u, 0xFFFFFFECu, 0x8000000Cu, 0xFFFFFFFFu}) {
        Bytes leaf = ChunkWithSize("DBK1", size, SubHeader(0, 0));
        Loaded l = LoadBytes(PcgFile(Cat({leaf, Leaf("GLB1", 0, 0, {})})));
        EXPECT_EQ(l.hr, S_OK) << std::hex << size;
        EXPECT_EQ(l.file->GetRootSection()->GetChildCount(), 1u) << std::hex << size;
        // Inside a container that claims the rest of a 4 GiB address space.
        Bytes inner = ChunkWithSize("DKT1", 0xFFFFFFFFu, Cat({leaf, Leaf("GLB1", 0, 0, {})}));
        EXPECT_EQ(LoadBytes(PcgFile(inner)).hr, S_OK) << std::hex << size;
    }
}

Bytes Nested(int levels) {
    Bytes inner = CombiBank(0, {"Deep"});
    for (int i = 0; i < levels; ++i) {
        inner = Chunk(i % 2 ? "CMB1" : "DKT1", inner);
    }
    return inner;
}

TEST(PcgLoad, ContainersMayNestThirtyTwoLevelsButNoMore) {
    Loaded ok = LoadBytes(PcgFile(Nested(31)));  // with the root: 32 levels
    ASSERT_EQ(ok.hr, S_OK);
    EXPECT_EQ(CombiAt(*ok.file, 0, 0), "Deep");
    Loaded deep = LoadBytes(PcgFile(Nested(32)));
    EXPECT_EQ(deep.hr, E_UNEXPECTED);
    EXPECT_EQ(LoadBytes(PcgFile(Nested(300))).hr, E_UNEXPECTED);
    // Depth is counted down again: many siblings at depth 31 are fine.
    Bytes siblings;
    for (int i = 0; i < 40; ++i) {
        siblings = Cat({siblings, Nested(30)});
    }
    EXPECT_EQ(LoadBytes(PcgFile(siblings)).hr, S_OK);
}

TEST(PcgLoad, ASecondFailingLoadLeavesNoTreeButKeepsTheBanks) {
    const TempFile good(OneProgramFile());
    const TempFile bad(PcgFile(Leaf("NOPE", 0, 0, {})));
    CKorgPCGFile file;
    ASSERT_EQ(file.Load(good.c_str()), S_OK);
    ASSERT_NE(file.GetRootSection(), nullptr);
    EXPECT_EQ(file.Load(bad.c_str()), E_FAIL);
    EXPECT_EQ(file.GetRootSection(), nullptr);
    EXPECT_STREQ(file.GetPath(), bad.c_str());
    EXPECT_EQ(ProgramAt(file, 0, 0), "Glass Harp");
    EXPECT_EQ(file.Load(nullptr), HResultFromErrno(EINVAL));
}

TEST(PcgLoad, FileAccessWithoutALoadIsRefused) {
    unsigned char buffer[4];
    std::uint32_t got = 7;
    EXPECT_EQ(bq::pcg::ReadFile(nullptr, buffer, 4, &got), E_UNEXPECTED);
    EXPECT_EQ(got, 0u);
    EXPECT_EQ(bq::pcg::MoveFilePointer(nullptr, 4), E_UNEXPECTED);
    EXPECT_FALSE(bq::pcg::EnterContainer(nullptr));
}

TEST(PcgSections, FactoryKnowsExactlyTheTable) {
    struct Case {
        const char* tag;
        const std::type_info& type;
    };
    const Case cases[] = {
        {"PCG1", typeid(CKorgPCGRootContainerSection)},
        {"PRG1", typeid(CKorgPCGRootContainerSection)},
        {"CMB1", typeid(CKorgPCGRootContainerSection)},
        {"DKT1", typeid(CKorgPCGRootContainerSection)},
        {"ARP1", typeid(CKorgPCGRootContainerSection)},
        {"PBK1", typeid(CKorgPCGProgramBankSection)},
        {"MBK1", typeid(CKorgPCGMOSSBankSection)},
        {"CBK1", typeid(CKorgPCGCombiBankSection)},
        {"DIV1", typeid(CKorgPCGLeafSection)},
        {"DBK1", typeid(CKorgPCGLeafSection)},
        {"GLB1", typeid(CKorgPCGLeafSection)},
        {"ABK1", typeid(CKorgPCGLeafSection)},
        {"CSM1", typeid(CKorgPCGLeafSection)},
    };
    for (const Case& c : cases) {
        CKorgPCGSection* made = nullptr;
        const Bytes header = Chunk(c.tag, {});
        ASSERT_EQ(CreateSection(header.data(), &made), S_OK) << c.tag;
        std::unique_ptr<CKorgPCGSection> owned(made);
        EXPECT_EQ(typeid(*owned), c.type) << c.tag;
    }
    for (const char* tag : {"PCG2", "KORG", "Pbk1", "PBK ", "\0\0\0\0"}) {
        CKorgPCGLeafSection stale;
        CKorgPCGSection* made = &stale;  // must be cleared
        const Bytes header = Chunk(tag, {});
        EXPECT_EQ(CreateSection(header.data(), &made), E_FAIL) << tag;
        EXPECT_EQ(made, nullptr);
    }
}

}  // namespace
