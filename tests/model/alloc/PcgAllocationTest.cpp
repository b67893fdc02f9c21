// Every allocation that a load makes can fail: each failure must end the load with
// E_OUTOFMEMORY, leave no root section and leak nothing (the leak checker watches).
#include <gtest/gtest.h>

#include <cstdlib>
#include <new>

#include "model/KorgPCGFile.h"
#include "model/KorgPCGSection.h"
#include "model/Ref.h"
#include "tests/support/PcgBuilder.h"

namespace {

long g_failAt = -1;  // the allocation number that fails, counting down; -1: none
bool g_failed = false;

void* Allocate(std::size_t size) {
    if (g_failAt >= 0 && g_failAt-- == 0) {
        g_failed = true;
        return nullptr;
    }
    return std::malloc(size == 0 ? 1 : size);
}

void* AllocateOrThrow(std::size_t size) {
    void* p = Allocate(size);
    if (p == nullptr) {
        throw std::bad_alloc();
    }
    return p;
}

}  // namespace

void* operator new(std::size_t size) {
    return AllocateOrThrow(size);
}
void* operator new[](std::size_t size) {
    return AllocateOrThrow(size);
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    return Allocate(size);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    return Allocate(size);
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete[](void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}
void operator delete[](void* p, std::size_t) noexcept {
    std::free(p);
}
void operator delete(void* p, const std::nothrow_t&) noexcept {
    std::free(p);
}
void operator delete[](void* p, const std::nothrow_t&) noexcept {
    std::free(p);
}

namespace {

using namespace bq::test;

TEST(PcgAllocation, EveryFailedAllocationGivesOutOfMemoryAndNoTree) {
    const TempFile temp(PcgFile(Cat({
        Container("PRG1", {ProgramBank(0, {"P0", "P1"}), Leaf("MBK1", 1, 5, Bytes(416, 1))}),
        Container("CMB1", {CombiBank(1, {"C0"}), CombiBank(1, {"C0 again", "C1"})}),
        Leaf("GLB1", 0, 0, Bytes(64, 2)),
    })));
    int failures = 0;
    for (long n = 0;; ++n) {
        ASSERT_LT(n, 1000) << "the load never got through";
        auto file = std::make_unique<CKorgPCGFile>();
        g_failed = false;
        g_failAt = n;
        const HRESULT hr = file->Load(temp.c_str());
        g_failAt = -1;
        EXPECT_EQ(file->GetFile(), nullptr);
        if (!g_failed) {
            ASSERT_EQ(hr, S_OK);
            ASSERT_NE(file->GetRootSection(), nullptr);
            auto c1 =
                bq::Ref<CKarmaCombi>::Adopt(file->GetRootContainer()->GetCombiBank(1)->GetCombi(1));
            ASSERT_TRUE(c1);
            EXPECT_EQ(c1->RefCount(), 2);
            break;
        }
        ++failures;
        EXPECT_EQ(hr, E_OUTOFMEMORY) << "allocation " << n;
        EXPECT_EQ(file->GetRootSection(), nullptr) << "allocation " << n;
    }
    // Path, header, 8 sections, 3 banks, 5 items and the child lists at the least.
    EXPECT_GE(failures, 17);
}

TEST(PcgAllocation, WithoutARootContainerNothingIsRead) {
    g_failed = false;
    g_failAt = 1;  // after the file object itself: its root container
    auto file = std::make_unique<CKorgPCGFile>();
    g_failAt = -1;
    ASSERT_TRUE(g_failed);
    EXPECT_EQ(file->GetRootContainer(), nullptr);
    const TempFile temp(PcgFile(CombiBank(0, {"C0"})));
    EXPECT_EQ(file->Load(temp.c_str()), E_OUTOFMEMORY);
    EXPECT_STREQ(file->GetPath(), temp.c_str());
    EXPECT_EQ(file->GetRootSection(), nullptr);
}

}  // namespace
