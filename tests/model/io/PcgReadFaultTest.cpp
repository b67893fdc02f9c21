// What the disk does to a load: reads that deliver a few bytes at a time or are interrupted,
// a read or a seek that fails, a file that shrinks while it is read. This program replaces
// read() and lseek() with versions that follow a script while a test arms them, and pass
// through to the real ones otherwise.
#include <dirent.h>
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <sys/types.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
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

struct Script {
    bool armed = false;
    int reads = 0;             // read() calls so far
    std::size_t maxBytes = 0;  // when not 0, no read delivers more
    int interruptEvery = 0;    // when not 0, every n-th call fails with EINTR first
    int failReadAt = -1;       // this call fails with `error`
    bool failSeeks = false;    // every seek fails with `error`
    int error = EIO;
    int shrinkAt = -1;  // before this call the file is cut to `shrinkTo` bytes
    std::string shrinkPath;
    off_t shrinkTo = 0;
    std::uint64_t delivered = 0;  // bytes handed out
};

Script g_script;

template <typename Fn>
Fn Real(const char* name) {
    return reinterpret_cast<Fn>(::dlsym(RTLD_NEXT, name));
}

// Arms the script for one load and disarms it however the test ends.
class Armed {
public:
    explicit Armed(Script script) {
        g_script = std::move(script);
        g_script.armed = true;
    }
    ~Armed() { g_script.armed = false; }
    Armed(const Armed&) = delete;
    Armed& operator=(const Armed&) = delete;
};

}  // namespace

extern "C" ssize_t read(int fd, void* buffer, size_t count) {
    using ReadFn = ssize_t (*)(int, void*, size_t);
    static const auto real = Real<ReadFn>("read");
    if (!g_script.armed) {
        return real(fd, buffer, count);
    }
    const int call = g_script.reads++;
    if (g_script.interruptEvery > 0 && call % g_script.interruptEvery == 0) {
        errno = EINTR;
        return -1;
    }
    if (call == g_script.failReadAt) {
        errno = g_script.error;
        return -1;
    }
    if (call == g_script.shrinkAt &&
        ::truncate(g_script.shrinkPath.c_str(), g_script.shrinkTo) != 0) {
        return -1;
    }
    if (g_script.maxBytes > 0) {
        count = std::min(count, g_script.maxBytes);
    }
    const ssize_t n = real(fd, buffer, count);
    if (n > 0) {
        g_script.delivered += static_cast<std::uint64_t>(n);
    }
    return n;
}

extern "C" off_t lseek(int fd, off_t offset, int whence) {
    using SeekFn = off_t (*)(int, off_t, int);
    static const auto real = Real<SeekFn>("lseek");
    if (g_script.armed && g_script.failSeeks) {
        errno = g_script.error;
        return -1;
    }
    return real(fd, offset, whence);
}

namespace {

using namespace bq::test;

constexpr std::size_t kRead = bq::pcg::kReadAheadSize;

std::vector<std::string> Names(const std::string& prefix, int count) {
    std::vector<std::string> names;
    for (int i = 0; i < count; ++i) {
        names.push_back(prefix + std::to_string(i));
    }
    return names;
}

// Three full Combination banks (some 380 KB, several reads) with chunks skipped between them,
// one of them short enough to move back.
Bytes ThreeBanks() {
    return PcgFile(Cat({
        CombiBank(0, Names("A", 128)),
        Leaf("GLB1", 0, 0, Bytes(300, 1)),
        Container("CMB1", {CombiBank(1, Names("B", 128)), ChunkWithSize("DIV1", 4, {1, 2, 3, 4})}),
        CombiBank(2, Names("C", 128)),
    }));
}

int OpenDescriptors() {
    int n = 0;
    if (DIR* dir = ::opendir("/proc/self/fd")) {
        while (::readdir(dir) != nullptr) {
            ++n;
        }
        ::closedir(dir);
    }
    return n;
}

bool CombiHolds(CKorgPCGFile& file, long bank, long slot, const Bytes& record) {
    auto item =
        bq::Ref<CKarmaCombi>::Adopt(file.GetRootContainer()->GetCombiBank(bank)->GetCombi(slot));
    unsigned long size = 0;
    return item && std::memcmp(item->GetData(&size), record.data(), record.size()) == 0;
}

bool SlotEmpty(CKorgPCGFile& file, long bank, long slot) {
    return !bq::Ref<CKarmaCombi>::Adopt(
        file.GetRootContainer()->GetCombiBank(bank)->GetCombi(slot));
}

// The slots of one of ThreeBanks' banks that hold their record, counted from slot 0 while
// they do.
int WholeCombis(CKorgPCGFile& file, long bank, const std::string& prefix) {
    int n = 0;
    while (n < 128 &&
           CombiHolds(file, bank, n,
                      CombiRecord(prefix + std::to_string(n), static_cast<unsigned>(n)))) {
        ++n;
    }
    return n;
}

struct Outcome {
    HRESULT hr = S_OK;
    std::unique_ptr<CKorgPCGFile> file = std::make_unique<CKorgPCGFile>();
    int reads = 0;
    std::uint64_t delivered = 0;
};

Outcome LoadWith(const TempFile& temp, Script script) {
    Outcome o;
    const int before = OpenDescriptors();
    {
        Armed armed(std::move(script));
        o.hr = o.file->Load(temp.c_str());
        o.reads = g_script.reads;
        o.delivered = g_script.delivered;
    }
    EXPECT_EQ(OpenDescriptors(), before) << "the file was left open";
    EXPECT_EQ(o.file->GetFile(), nullptr);
    return o;
}

TEST(PcgReadFaults, ReadsThatDeliverLittleAtATimeOrAreInterruptedLoadTheSame) {
    const TempFile temp(ThreeBanks());
    for (std::size_t most : {std::size_t{1}, std::size_t{7}, std::size_t{997}, kRead - 1}) {
        SCOPED_TRACE("at most " + std::to_string(most) + " bytes a read");
        Script script;
        script.maxBytes = most;
        script.interruptEvery = 3;
        Outcome o = LoadWith(temp, script);
        ASSERT_EQ(o.hr, S_OK);
        EXPECT_EQ(WholeCombis(*o.file, 0, "A"), 128);
        EXPECT_EQ(WholeCombis(*o.file, 1, "B"), 128);
        EXPECT_EQ(WholeCombis(*o.file, 2, "C"), 128);
        EXPECT_EQ(o.file->GetRootSection()->GetChildCount(), 4u);
    }
}

TEST(PcgReadFaults, AFailedReadEndsTheLoadWithTheSystemErrorAndKeepsTheRecordsBefore) {
    const TempFile temp(ThreeBanks());
    const int reads = LoadWith(temp, Script{}).reads;
    ASSERT_GE(reads, 3);  // some 380 KB
    int lastKept = -1;
    for (int at = 0; at < reads; ++at) {
        SCOPED_TRACE("read " + std::to_string(at) + " fails");
        Script script;
        script.failReadAt = at;
        script.error = EIO;
        Outcome o = LoadWith(temp, script);
        EXPECT_EQ(o.hr, HResultFromErrno(EIO));
        EXPECT_EQ(o.file->GetRootSection(), nullptr);
        // What came before the failing read stays, in slot order, and grows with `at`.
        const int a = WholeCombis(*o.file, 0, "A");
        const int kept = a + (a == 128 ? WholeCombis(*o.file, 1, "B") : 0);
        EXPECT_GE(kept, lastKept);
        EXPECT_LT(kept, 3 * 128);
        lastKept = kept;
    }
    EXPECT_GT(lastKept, 128);
}

TEST(PcgReadFaults, ASkippedChunkBeyondTheBytesReadIsPassedOverWithASeek) {
    const TempFile temp(
        PcgFile(Cat({CombiBank(0, {"Before"}), Leaf("GLB1", 0, 0, Bytes(8 * kRead, 0)),
                     CombiBank(1, {"After"})})));
    Outcome o = LoadWith(temp, Script{});
    ASSERT_EQ(o.hr, S_OK);
    EXPECT_TRUE(CombiHolds(*o.file, 1, 0, CombiRecord("After", 0)));
    EXPECT_LT(o.delivered, 2 * kRead);

    Script script;
    script.failSeeks = true;
    script.error = ESPIPE;
    Outcome failed = LoadWith(temp, script);
    EXPECT_EQ(failed.hr, HResultFromErrno(ESPIPE));
    EXPECT_EQ(failed.file->GetRootSection(), nullptr);
    EXPECT_TRUE(CombiHolds(*failed.file, 0, 0, CombiRecord("Before", 0)));
    EXPECT_TRUE(SlotEmpty(*failed.file, 1, 0));
}

TEST(PcgReadFaults, AFileThatShrinksWhileItIsReadEndsAsACutFileWould) {
    const Bytes bytes = ThreeBanks();
    // Bank A fills the first 127,532 bytes; bank B's records start 20 + 300 + 8 + 20 bytes on.
    const off_t bankBRecords = 24 + 20 + 128 * 996 + 320 + 8 + 20;
    struct Case {
        off_t size;
        HRESULT hr;
        int bankB;  // records of bank B that arrive whole
    };
    const Case cases[] = {
        {bankBRecords + 8 * 996 + 500, E_UNEXPECTED, 8},  // inside a record
        {bankBRecords + 9 * 996, E_UNEXPECTED, 9},        // between two records
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("cut to " + std::to_string(c.size));
        ASSERT_GT(c.size, static_cast<off_t>(kRead));  // the cut comes after the first read
        const TempFile temp(bytes);
        Script script;
        script.shrinkAt = 1;
        script.shrinkPath = temp.Path();
        script.shrinkTo = c.size;
        Outcome o = LoadWith(temp, script);
        EXPECT_EQ(o.hr, c.hr);
        EXPECT_EQ(o.file->GetRootSection(), nullptr);
        EXPECT_EQ(WholeCombis(*o.file, 0, "A"), 128);
        EXPECT_EQ(WholeCombis(*o.file, 1, "B"), c.bankB);
        EXPECT_EQ(WholeCombis(*o.file, 2, "C"), 0);
    }

    // Cut right after bank B's chunk, the file ends after a child: the load succeeds without
    // the rest, as it would for a file that short (its root size aside).
    const TempFile temp(bytes);
    Script script;
    script.shrinkAt = 1;
    script.shrinkPath = temp.Path();
    script.shrinkTo = bankBRecords + 128 * 996;
    Outcome o = LoadWith(temp, script);
    ASSERT_EQ(o.hr, S_OK);
    EXPECT_EQ(WholeCombis(*o.file, 1, "B"), 128);
    EXPECT_EQ(WholeCombis(*o.file, 2, "C"), 0);
    const CKorgPCGRootContainerSection* root = o.file->GetRootSection();
    ASSERT_EQ(root->GetChildCount(), 3u);
    auto* cmb = dynamic_cast<const CKorgPCGContainerSection*>(root->GetChild(2));
    ASSERT_NE(cmb, nullptr);
    EXPECT_EQ(cmb->GetChildCount(), 1u);
}

}  // namespace
