#include "desktop/windows/installer/package_unpacker/mapped_temp_allocator.h"

#include <cstring>
#include <vector>

#include "base/files/file_enumerator.h"
#include "base/files/file_util.h"
#include "base/test/scoped_temp_folder.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

int CountEntries(const base::FilePath& folder) {
  int count = 0;
  base::FileEnumerator entries(
      folder, false,
      base::FileEnumerator::kFiles | base::FileEnumerator::kDirectories, L"");
  while (!entries.Next().empty())
    ++count;
  return count;
}

TEST(MappedTempAllocatorTest, SecondBufferWhileViewIsHeldComesFromTheHeap) {
  base::ScopedTempFolder temp;
  MappedTempAllocator allocator(temp.path());
  constexpr size_t kBlockSize = 1 << 20;
  uint8_t* block = static_cast<uint8_t*>(allocator.Allocate(kBlockSize));
  ASSERT_TRUE(block);
  EXPECT_TRUE(allocator.Contains(block));
  EXPECT_TRUE(allocator.Contains(block + kBlockSize - 1));
  EXPECT_FALSE(allocator.Contains(block + kBlockSize));
  std::memset(block, 0x5A, kBlockSize);

  // Resizing the file under the live view would cut the block short.
  uint8_t* other = static_cast<uint8_t*>(allocator.Allocate(16));
  ASSERT_TRUE(other);
  EXPECT_FALSE(allocator.Contains(other));
  std::memset(other, 0xA5, 16);
  allocator.Free(other);

  EXPECT_TRUE(allocator.Contains(block));
  EXPECT_EQ(block[0], 0x5A);
  EXPECT_EQ(block[kBlockSize - 1], 0x5A);
  allocator.Free(block);
  EXPECT_FALSE(allocator.Contains(block));

  void* next_block = allocator.Allocate(kBlockSize / 2);
  EXPECT_TRUE(allocator.Contains(next_block));
  allocator.Free(next_block);
}

TEST(MappedTempAllocatorTest, TemporaryFileGoesWithTheAllocator) {
  base::ScopedTempFolder temp;
  {
    MappedTempAllocator allocator(temp.path());
    void* block = allocator.Allocate(4096);
    EXPECT_EQ(CountEntries(temp.path()), 1);
    allocator.Free(block);
  }
  EXPECT_EQ(CountEntries(temp.path()), 0);
}

TEST(MappedTempAllocatorTest, WithoutItsFolderEverythingComesFromTheHeap) {
  base::ScopedTempFolder temp;
  MappedTempAllocator allocator(temp.path().Append(L"missing"));
  void* block = allocator.Allocate(1 << 20);
  ASSERT_TRUE(block);
  EXPECT_FALSE(allocator.Contains(block));
  allocator.Free(block);
  EXPECT_FALSE(base::PathExists(temp.path().Append(L"missing")));
}

}  // namespace
}  // namespace installer
