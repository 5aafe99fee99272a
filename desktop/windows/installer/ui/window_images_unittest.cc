#include "desktop/windows/installer/ui/window_images.h"

#include <cstdint>
#include <vector>

#include "desktop/windows/installer/ui/host_resource_ids.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

struct Pixels {
  int width = 0;
  int height = 0;
  std::vector<uint32_t> argb;  // top row first

  uint32_t At(int x, int y) const { return argb[y * width + x]; }
};

Pixels ReadPixels(HBITMAP bitmap) {
  BITMAP info = {};
  ::GetObjectW(bitmap, sizeof(info), &info);
  Pixels pixels;
  pixels.width = info.bmWidth;
  pixels.height = info.bmHeight;
  pixels.argb.resize(static_cast<size_t>(info.bmWidth) * info.bmHeight);
  BITMAPINFO request = {};
  request.bmiHeader.biSize = sizeof(request.bmiHeader);
  request.bmiHeader.biWidth = info.bmWidth;
  request.bmiHeader.biHeight = -info.bmHeight;
  request.bmiHeader.biPlanes = 1;
  request.bmiHeader.biBitCount = 32;
  request.bmiHeader.biCompression = BI_RGB;
  HDC screen = ::GetDC(nullptr);
  ::GetDIBits(screen, bitmap, 0, info.bmHeight, pixels.argb.data(), &request,
              DIB_RGB_COLORS);
  ::ReleaseDC(nullptr, screen);
  return pixels;
}

uint8_t Alpha(uint32_t argb) {
  return static_cast<uint8_t>(argb >> 24);
}

// The images the build draws: a logo and a badge with transparent corners
// and opaque middles, and an opaque background.
TEST(WindowImagesTest, HostImagesKeepTheirAlpha) {
  struct {
    int id;
    const wchar_t* type;
    int width;
    int height;
    uint8_t corner_alpha;
  } const cases[] = {
      {kLogoImage, kPngResourceType, 96, 96, 0},
      {kErrorBadgeImage, kPngResourceType, 32, 32, 0},
      {kBackgroundImage, kJpegResourceType, 320, 216, 255},
  };
  for (const auto& test : cases) {
    ScopedBitmap bitmap = LoadImageResource(test.id, test.type);
    ASSERT_TRUE(bitmap) << test.id;
    const Pixels pixels = ReadPixels(bitmap.Get());
    EXPECT_EQ(pixels.width, test.width) << test.id;
    EXPECT_EQ(pixels.height, test.height) << test.id;
    EXPECT_EQ(Alpha(pixels.At(0, 0)), test.corner_alpha) << test.id;
    EXPECT_EQ(Alpha(pixels.At(test.width - 1, test.height - 1)),
              test.corner_alpha)
        << test.id;
    EXPECT_EQ(Alpha(pixels.At(test.width / 2, test.height / 2)), 255)
        << test.id;
  }
}

TEST(WindowImagesTest, MissingImageIsNull) {
  EXPECT_FALSE(LoadImageResource(kLogoImage, kJpegResourceType));
  EXPECT_FALSE(CreateStreamFromResource(4242, kPngResourceType));
  // Not an image at all: the terms text.
  EXPECT_FALSE(LoadImageResource(kTermsText, kTextResourceType));
}

}  // namespace
}  // namespace installer
