#include "model/PcgWriter.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "model/KarmaBank.h"
#include "model/KorgPCGFile.h"
#include "model/Ref.h"
#include "tests/support/PcgBuilder.h"

namespace {

using namespace bq::pcg;
using bq::test::BigEndian;
using bq::test::Cat;
using bq::test::Tag;
using Bytes = std::vector<unsigned char>;
namespace fs = std::filesystem;

// Records that differ in every slot and bank, all byte values included.
Bytes Records(std::size_t size, int count, unsigned seed) {
    Bytes out(size * count);
    std::uint32_t x = seed * 2654435761u + 1;
    for (unsigned char& b : out) {
        x = x * 1103515245u + 12345u;
        b = static_cast<unsigned char>(x >> 23);
    }
    return out;
}

KarmaMemory FullMemory() {
    KarmaMemory memory;
    for (int bank = 0; bank < kMemoryBanks; ++bank) {
        memory.programs[bank] = Records(ProgramRecordSize(bank), kBankSlots, bank);
        memory.combis[bank] = Records(kCombiRecordSize, kBankSlots, 10 + bank);
    }
    return memory;
}

Bytes ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::vector<std::string> Folder(const fs::path& dir) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir)) {
        names.push_back(entry.path().filename().string());
    }
    return names;
}

// A folder holding "backup.pcg" with the text "old", as an earlier backup would stand.
struct Earlier {
    bq::test::TempFile file{Bytes{'o', 'l', 'd'}, "backup.pcg"};
    fs::path Dir() const { return fs::path(file.Path()).parent_path(); }
    void ExpectUntouched() const {
        EXPECT_EQ(ReadAll(file.Path()), (Bytes{'o', 'l', 'd'}));
        EXPECT_EQ(Folder(Dir()), std::vector<std::string>{"backup.pcg"}) << "no file left behind";
    }
};

std::uint32_t Word(const Bytes& b, std::size_t at) {
    return (std::uint32_t{b[at]} << 24) | (std::uint32_t{b[at + 1]} << 16) |
           (std::uint32_t{b[at + 2]} << 8) | b[at + 3];
}

// Where the payload of a leaf stands, found by walking the chunks two levels down.
std::size_t PayloadOffset(const Bytes& file, const char* tag, std::uint32_t bank) {
    for (std::size_t c = 24; c + 8 <= file.size(); c += 8 + Word(file, c + 4)) {
        for (std::size_t l = c + 8; l < c + 8 + Word(file, c + 4); l += 8 + Word(file, l + 4)) {
            if (std::equal(tag, tag + 4, file.begin() + l) && Word(file, l + 16) == bank) {
                return l + 20;
            }
        }
    }
    return 0;
}

TEST(PcgWriterTest, SmallMemoryIsWrittenByteForByte) {
    KarmaMemory memory;
    memory.programs[0] = Records(804, 1, 1);
    memory.programs[5] = Records(416, 1, 2);
    memory.combis[1] = Records(996, 1, 3);
    // clang-format off
    const Bytes expected = Cat({
        {'K', 'O', 'R', 'G', 0x5D, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0},
        Tag("PCG1"), BigEndian(2292),
        Tag("PRG1"), BigEndian(1260),
        Tag("PBK1"), BigEndian(816), BigEndian(1), BigEndian(804), BigEndian(0), memory.programs[0],
        Tag("MBK1"), BigEndian(428), BigEndian(1), BigEndian(416), BigEndian(5), memory.programs[5],
        Tag("CMB1"), BigEndian(1016),
        Tag("CBK1"), BigEndian(1008), BigEndian(1), BigEndian(996), BigEndian(1), memory.combis[1],
    });
    // clang-format on
    ASSERT_EQ(expected.size(), 2316u);
    Bytes built;
    ASSERT_TRUE(BuildPcg(memory, &built));
    EXPECT_EQ(built, expected);

    Earlier earlier;
    const PcgWriteResult result = WritePcgFile(earlier.file.Path(), memory);
    ASSERT_TRUE(result.Succeeded()) << result.reason;
    EXPECT_EQ(ReadAll(earlier.file.Path()), expected) << "the earlier file is replaced";
    EXPECT_EQ(Folder(earlier.Dir()), std::vector<std::string>{"backup.pcg"});
}

TEST(PcgWriterTest, WholeMemoryRoundTripsThroughTheReader) {
    const KarmaMemory memory = FullMemory();
    ASSERT_TRUE(memory.Complete());
    Earlier earlier;
    ASSERT_TRUE(WritePcgFile(earlier.file.Path(), memory).Succeeded());

    CKorgPCGFile file;
    ASSERT_EQ(file.Load(earlier.file.c_str()), S_OK);
    CKarmaRootContainer& root = *file.GetRootContainer();
    for (long bank = 0; bank < kMemoryBanks; ++bank) {
        for (long slot = 0; slot < kBankSlots; ++slot) {
            auto program =
                bq::Ref<CKarmaProgram>::Adopt(root.GetProgramBank(bank)->GetProgram(slot));
            auto combi = bq::Ref<CKarmaCombi>::Adopt(root.GetCombiBank(bank)->GetCombi(slot));
            ASSERT_TRUE(combi);
            unsigned long size = 0;
            const unsigned char* data = combi->GetData(&size);
            ASSERT_EQ(size, 996u);
            EXPECT_TRUE(std::equal(data, data + size, memory.combis[bank].begin() + slot * 996));
            if (bank == kMossBank) {
                EXPECT_FALSE(program) << "MOSS records are not read into bank F";
                continue;
            }
            ASSERT_TRUE(program);
            data = program->GetData(&size);
            ASSERT_EQ(size, 804u);
            EXPECT_TRUE(std::equal(data, data + size, memory.programs[bank].begin() + slot * 804));
        }
    }
    const Bytes bytes = ReadAll(earlier.file.Path());
    const std::size_t moss = PayloadOffset(bytes, "MBK1", 5);
    ASSERT_NE(moss, 0u);
    EXPECT_EQ(Word(bytes, moss - 12), 128u);
    EXPECT_TRUE(
        std::equal(memory.programs[5].begin(), memory.programs[5].end(), bytes.begin() + moss));
}

TEST(PcgWriterTest, ShortWritesAreContinuedAndAFullDiskKeepsTheEarlierFile) {
    const KarmaMemory memory = FullMemory();
    Bytes expected;
    ASSERT_TRUE(BuildPcg(memory, &expected));
    {
        Earlier earlier;
        PcgWriteHooks hooks;
        hooks.write = [](int fd, const void* data, std::size_t size) {
            return static_cast<long>(::write(fd, data, std::min<std::size_t>(size, 1000)));
        };
        ASSERT_TRUE(WritePcgFile(earlier.file.Path(), memory, &hooks).Succeeded());
        EXPECT_EQ(ReadAll(earlier.file.Path()), expected);
    }
    Earlier earlier;
    std::size_t written = 0;
    PcgWriteHooks hooks;
    hooks.write = [&written](int fd, const void* data, std::size_t size) -> long {
        if (written >= 65536) {
            errno = ENOSPC;
            return -1;
        }
        const long n = static_cast<long>(::write(fd, data, std::min<std::size_t>(size, 4096)));
        written += static_cast<std::size_t>(n);
        return n;
    };
    const PcgWriteResult result = WritePcgFile(earlier.file.Path(), memory, &hooks);
    EXPECT_EQ(result.failed, PcgWriteStep::Write);
    EXPECT_EQ(result.code, HResultFromErrno(ENOSPC));
    EXPECT_NE(result.reason.find("No space left on device"), std::string::npos) << result.reason;
    earlier.ExpectUntouched();
}

TEST(PcgWriterTest, ADifferenceOnReadingBackFailsAndKeepsTheEarlierFile) {
    const KarmaMemory memory = FullMemory();
    struct Case {
        const char* tag;
        std::uint32_t bank;
        std::size_t offset;
        const char* named;
    };
    for (const Case& c : {Case{"CBK1", 2, 17 * 996 + 500, "Combination Bank C, slot 017"},
                          Case{"PBK1", 4, 127 * 804, "Program Bank E, slot 127"},
                          Case{"MBK1", 5, 300, "Program Bank F (MOSS)"}}) {
        Earlier earlier;
        PcgWriteHooks hooks;
        hooks.beforeReadBack = [&c](const std::string& path) {
            Bytes bytes = ReadAll(path);
            bytes[PayloadOffset(bytes, c.tag, c.bank) + c.offset] ^= 0x01;
            std::ofstream(path, std::ios::binary)
                .write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
        };
        const PcgWriteResult result = WritePcgFile(earlier.file.Path(), memory, &hooks);
        EXPECT_EQ(result.failed, PcgWriteStep::Compare) << c.named;
        EXPECT_NE(result.reason.find(c.named), std::string::npos) << result.reason;
        earlier.ExpectUntouched();
    }

    Earlier earlier;
    PcgWriteHooks truncate;
    truncate.beforeReadBack = [](const std::string& path) { ::truncate(path.c_str(), 5000); };
    const PcgWriteResult result = WritePcgFile(earlier.file.Path(), memory, &truncate);
    EXPECT_EQ(result.failed, PcgWriteStep::ReadBack);
    EXPECT_EQ(result.code, E_UNEXPECTED);
    earlier.ExpectUntouched();
}

TEST(PcgWriterTest, AReadOnlyFolderFailsAtCreation) {
    const KarmaMemory memory = FullMemory();
    Earlier earlier;
    ASSERT_EQ(::chmod(earlier.Dir().c_str(), 0555), 0);
    // The superuser writes into any folder: the writer then runs as nobody, in a child.
    int channel[2];
    ASSERT_EQ(::pipe(channel), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) {
            ::_exit(3);
        }
        const PcgWriteResult result = WritePcgFile(earlier.file.Path(), memory);
        const int answer[2] = {static_cast<int>(result.failed), result.code};
        ::_exit(::write(channel[1], answer, sizeof answer) == sizeof answer ? 0 : 4);
    }
    ::close(channel[1]);
    int answer[2] = {};
    const ssize_t got = ::read(channel[0], answer, sizeof answer);
    ::close(channel[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    ::chmod(earlier.Dir().c_str(), 0700);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    ASSERT_EQ(got, static_cast<ssize_t>(sizeof answer));
    EXPECT_EQ(answer[0], static_cast<int>(PcgWriteStep::Create));
    EXPECT_EQ(answer[1], HResultFromErrno(EACCES));
    earlier.ExpectUntouched();
}

TEST(PcgWriterTest, RefusalsBeforeAndAfterTheFileLeaveNothingBehind) {
    KarmaMemory broken = FullMemory();
    broken.combis[3].pop_back();
    Earlier earlier;
    PcgWriteResult result = WritePcgFile(earlier.file.Path(), broken);
    EXPECT_EQ(result.failed, PcgWriteStep::Check);
    EXPECT_NE(result.reason.find("Combination Bank D"), std::string::npos) << result.reason;
    earlier.ExpectUntouched();

    result = WritePcgFile((earlier.Dir() / "missing" / "b.pcg").string(), FullMemory());
    EXPECT_EQ(result.failed, PcgWriteStep::Create);
    EXPECT_EQ(result.code, HResultFromErrno(ENOENT));

    // A folder of the target's name cannot be replaced by a file.
    fs::create_directory(earlier.Dir() / "taken.pcg");
    result = WritePcgFile((earlier.Dir() / "taken.pcg").string(), FullMemory());
    EXPECT_EQ(result.failed, PcgWriteStep::Replace);
    EXPECT_TRUE(fs::is_directory(earlier.Dir() / "taken.pcg"));
    fs::remove(earlier.Dir() / "taken.pcg");
    earlier.ExpectUntouched();
}

}  // namespace
