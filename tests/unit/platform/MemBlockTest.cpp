// Memory blocks: the bookkeeping that lets DIB code bounds-check a block and lets tests catch
// leaks, double frees and unbalanced locks.

#include "platform/MemBlock.h"

#include <cstdint>
#include <gtest/gtest.h>
#include <limits>
#include <thread>
#include <vector>

namespace {

class MemBlockTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_blocks = MemBlock::LiveBlocks();
        m_bytes = MemBlock::LiveBytes();
    }
    void TearDown() override {
        EXPECT_EQ(MemBlock::LiveBlocks(), m_blocks);
        EXPECT_EQ(MemBlock::LiveBytes(), m_bytes);
    }
    std::size_t m_blocks = 0;
    std::size_t m_bytes = 0;
};

} // namespace

TEST_F(MemBlockTest, AllocatedBlocksAreZeroedAndCounted) {
    for (std::size_t size : {std::size_t(1), std::size_t(3), std::size_t(4096)}) {
        SCOPED_TRACE(size);
        HGLOBAL h = MemBlock::Alloc(size);
        ASSERT_NE(h, nullptr);
        EXPECT_TRUE(MemBlock::IsBlock(h));
        EXPECT_EQ(MemBlock::Size(h), size);
        EXPECT_EQ(MemBlock::LiveBlocks(), m_blocks + 1);
        EXPECT_EQ(MemBlock::LiveBytes(), m_bytes + size);
        const auto* p = static_cast<const std::uint8_t*>(MemBlock::Lock(h));
        ASSERT_EQ(p, h) << "a handle is the block's own pointer";
        for (std::size_t i = 0; i < size; ++i)
            ASSERT_EQ(p[i], 0) << "byte " << i;
        EXPECT_TRUE(MemBlock::Unlock(h));
        EXPECT_TRUE(MemBlock::Free(h));
    }
}

TEST_F(MemBlockTest, ZeroSizeBlockIsAValidEmptyBlock) {
    HGLOBAL a = MemBlock::Alloc(0);
    HGLOBAL b = MemBlock::Alloc(0);
    ASSERT_NE(a, nullptr);
    EXPECT_NE(a, b);
    EXPECT_EQ(MemBlock::Size(a), 0u);
    EXPECT_NE(MemBlock::Lock(a), nullptr);
    EXPECT_TRUE(MemBlock::Unlock(a));
    EXPECT_TRUE(MemBlock::Free(a));
    EXPECT_TRUE(MemBlock::Free(b));
}

TEST_F(MemBlockTest, LocksNestAndUnlockNeedsALock) {
    HGLOBAL h = MemBlock::Alloc(16);
    EXPECT_EQ(MemBlock::LockCount(h), 0);
    EXPECT_FALSE(MemBlock::Unlock(h));
    MemBlock::Lock(h);
    MemBlock::Lock(h);
    EXPECT_EQ(MemBlock::LockCount(h), 2);
    EXPECT_TRUE(MemBlock::Unlock(h));
    EXPECT_TRUE(MemBlock::Unlock(h));
    EXPECT_FALSE(MemBlock::Unlock(h));
    EXPECT_EQ(MemBlock::LockCount(h), 0);
    {
        MemBlock::LockGuard guard(h);
        EXPECT_EQ(guard.Data(), h);
        EXPECT_EQ(guard.Size(), 16u);
        EXPECT_EQ(MemBlock::LockCount(h), 1);
    }
    EXPECT_EQ(MemBlock::LockCount(h), 0);
    MemBlock::Free(h);
}

TEST_F(MemBlockTest, FreedAndForeignHandlesAreRefused) {
    HGLOBAL freed = MemBlock::Alloc(8);
    MemBlock::Lock(freed); // a locked block can still be freed
    ASSERT_TRUE(MemBlock::Free(freed));
    int onStack = 0;
    for (HGLOBAL h : {freed, HGLOBAL(nullptr), HGLOBAL(&onStack)}) {
        EXPECT_FALSE(MemBlock::Free(h)) << "double or foreign free";
        EXPECT_EQ(MemBlock::Lock(h), nullptr);
        EXPECT_FALSE(MemBlock::Unlock(h));
        EXPECT_EQ(MemBlock::Size(h), 0u);
        EXPECT_EQ(MemBlock::LockCount(h), 0);
        EXPECT_FALSE(MemBlock::IsBlock(h));
        MemBlock::LockGuard guard(h);
        EXPECT_EQ(guard.Data(), nullptr);
        EXPECT_EQ(guard.Size(), 0u);
    }
}

TEST_F(MemBlockTest, MemoryThatIsNotThereGivesNull) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "AddressSanitizer aborts on impossible allocations instead of failing them";
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
    GTEST_SKIP() << "AddressSanitizer aborts on impossible allocations instead of failing them";
#endif
#endif
    EXPECT_EQ(MemBlock::Alloc(std::numeric_limits<std::size_t>::max() / 2), nullptr);
}

// Scanner transfers run on their own thread while the window thread handles the clipboard.
TEST_F(MemBlockTest, ThreadsShareTheRegistry) {
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([] {
            for (int i = 0; i < 2000; ++i) {
                HGLOBAL h = MemBlock::Alloc(static_cast<std::size_t>(i % 64));
                MemBlock::Lock(h);
                MemBlock::Unlock(h);
                MemBlock::Free(h);
            }
        });
    for (auto& t : threads)
        t.join();
}
