#include "base/win/gdi_usage_diagnostics.h"

#include "gtest/gtest.h"

namespace base::win {
namespace {

// Whatever the cause, the process must end. (Wine counts no GDI objects,
// so under Wine the first cause is always the one taken.)
TEST(GdiUsageDiagnosticsDeathTest, EndsTheProcess) {
  BITMAPINFOHEADER header = {};
  header.biSize = sizeof(header);
  header.biWidth = 65536;
  header.biHeight = -65536;  // The pixel count overflows 32 bits.
  header.biPlanes = 1;
  header.biBitCount = 32;
  EXPECT_DEATH(CollectGdiUsageAndCrash(header, nullptr), "");
}

}  // namespace
}  // namespace base::win
