// The identity of the build that each image of ours carries: a digest of
// the image as linked, which write_build_identity.py writes over the
// placeholder after the link. It lies in a section of its own, which the
// loader maps as it is: a running program reads its own from memory, which
// nobody can swap, and finds the bytes a file of the same build must carry
// at that section's place in the file (RunningImage::IsSameBuild).

#include <cstdint>
#include <string_view>

#include "desktop/windows/installer/signing/running_image.h"

static_assert(std::string_view(".tvbuild") ==
              installer::RunningImage::kIdentitySection);

extern "C" __attribute__((used, section(".tvbuild"))) const uint8_t
    tarvo_build_identity[installer::RunningImage::kIdentitySize] =
        "identity written after the link";
