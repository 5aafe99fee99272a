#include "desktop/windows/installer/package_unpacker/in_page_error_guard.h"

#include <windows.h>

#include "base/test/scoped_temp_folder.h"
#include "desktop/windows/installer/package_unpacker/mapped_temp_allocator.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

// Wine turns a fault on a mapped file it cannot page into an access
// violation, never EXCEPTION_IN_PAGE_ERROR: the tests raise that exception
// themselves, as Windows reports it.
constexpr ULONG_PTR kDiskFull = 0xC000007F;

struct Fault {
  const void* address;
  bool returned = false;
};

void RaiseInPageError(void* context) {
  Fault* fault = static_cast<Fault*>(context);
  const ULONG_PTR information[] = {
      1, reinterpret_cast<ULONG_PTR>(fault->address), kDiskFull};
  ::RaiseException(EXCEPTION_IN_PAGE_ERROR, 0, 3, information);
  fault->returned = true;
}

// Resumes after any exception that reaches it, and counts it.
class ContinuingHandler {
 public:
  ContinuingHandler()
      : handler_(::AddVectoredExceptionHandler(0, &OnException)) {
    count_ = 0;
  }
  ~ContinuingHandler() { ::RemoveVectoredExceptionHandler(handler_); }
  int count() const { return count_; }

 private:
  static LONG CALLBACK OnException(EXCEPTION_POINTERS* pointers) {
    ++count_;
    return EXCEPTION_CONTINUE_EXECUTION;
  }
  static inline int count_ = 0;
  void* handler_;
};

TEST(InPageErrorGuardTest, FaultInTheViewEndsTheCallWithItsStatus) {
  base::ScopedTempFolder temp;
  MappedTempAllocator allocator(temp.path());
  uint8_t* view = static_cast<uint8_t*>(allocator.Allocate(8192));
  ASSERT_TRUE(allocator.Contains(view));

  InPageErrorGuard guard(&allocator);
  Fault fault{view + 5000};
  EXPECT_FALSE(guard.Run(&RaiseInPageError, &fault));
  EXPECT_FALSE(fault.returned);
  EXPECT_EQ(guard.status(), static_cast<int32_t>(kDiskFull));

  // The guard is ready for the next call.
  int calls = 0;
  EXPECT_TRUE(
      guard.Run([](void* count) { ++*static_cast<int*>(count); }, &calls));
  EXPECT_EQ(calls, 1);
  allocator.Free(view);
}

TEST(InPageErrorGuardTest, FaultOutsideTheViewPassesOn) {
  base::ScopedTempFolder temp;
  MappedTempAllocator allocator(temp.path());
  void* view = allocator.Allocate(8192);
  uint8_t elsewhere[16];

  ContinuingHandler outer;
  InPageErrorGuard guard(&allocator);
  Fault fault{elsewhere};
  EXPECT_TRUE(guard.Run(&RaiseInPageError, &fault));
  EXPECT_TRUE(fault.returned);
  EXPECT_EQ(outer.count(), 1);
  allocator.Free(view);
}

}  // namespace
}  // namespace installer
