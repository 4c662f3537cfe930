// Committed blocks: zeroed, writable to their last byte, given back once,
// and only in the one shape of call the product makes.
#include <gtest/gtest.h>

#include <cstring>

#include "platform/core/LastError.h"
#include "platform/core/VirtualMemory.h"

namespace {

TEST(VirtualMemoryTest, ABlockIsZeroedWritableAndReleasedOnce) {
  for (const std::size_t size : {std::size_t{1}, std::size_t{3} << 20, (std::size_t{80} << 20) + 5}) {
    SCOPED_TRACE(size);
    auto* block = static_cast<unsigned char*>(VirtualAlloc(nullptr, size, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
    ASSERT_NE(block, nullptr) << GetLastError();
    EXPECT_EQ(block[0], 0);
    EXPECT_EQ(block[size / 2], 0);
    EXPECT_EQ(block[size - 1], 0);
    std::memset(block, 0xA5, size);
    EXPECT_EQ(block[size - 1], 0xA5);
    // Only the block's start releases it, and only once.
    if (size > 1) {
      EXPECT_FALSE(VirtualFree(block + 1, 0, MEM_RELEASE));
      EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    }
    EXPECT_TRUE(VirtualFree(block, 0, MEM_RELEASE));
    EXPECT_FALSE(VirtualFree(block, 0, MEM_RELEASE));
  }
}

TEST(VirtualMemoryTest, OtherShapesOfCallAreRefused) {
  int here = 0;
  const struct {
    LPVOID address;
    std::size_t size;
    DWORD type;
    DWORD protect;
  } cases[] = {
      {&here, 4096, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE},
      {nullptr, 0, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE},
      {nullptr, 4096, MEM_RESERVE, PAGE_READWRITE},
      {nullptr, 4096, MEM_RESERVE | MEM_COMMIT, 0x02},
  };
  for (const auto& c : cases) {
    SetLastError(0);
    EXPECT_EQ(VirtualAlloc(c.address, c.size, c.type, c.protect), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  }
  void* block = VirtualAlloc(nullptr, 4096, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
  ASSERT_NE(block, nullptr);
  EXPECT_FALSE(VirtualFree(block, 4096, MEM_RELEASE));  // a size with MEM_RELEASE
  EXPECT_FALSE(VirtualFree(nullptr, 0, MEM_RELEASE));
  EXPECT_TRUE(VirtualFree(block, 0, MEM_RELEASE));
  // Sizes that cannot be rounded up to whole blocks are out of memory.
  EXPECT_EQ(VirtualAlloc(nullptr, static_cast<std::size_t>(-1), MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_ENOUGH_MEMORY));
}

}  // namespace
