#include "desktop/windows/installer/wininet/head_memory_watch.h"

#include <windows.h>

#include <algorithm>

namespace installer {

void HeadMemoryWatch::Start() {
  floor_ = CommittedPrivateBytes();
}

int64_t HeadMemoryWatch::GrowthPastBound() {
  const int64_t now = CommittedPrivateBytes();
  // Memory the process let go of after the request was sent may be taken
  // again by the head: it is measured from the lowest point.
  floor_ = std::min(floor_, now);
  const int64_t growth = now - floor_;
  return growth > kBound ? growth : 0;
}

// static
int64_t HeadMemoryWatch::CommittedPrivateBytes() {
  int64_t total = 0;
  MEMORY_BASIC_INFORMATION region = {};
  const char* address = nullptr;
  while (::VirtualQuery(address, &region, sizeof(region)) == sizeof(region)) {
    if (region.State == MEM_COMMIT && region.Type == MEM_PRIVATE)
      total += static_cast<int64_t>(region.RegionSize);
    const char* next =
        static_cast<const char*>(region.BaseAddress) + region.RegionSize;
    // The last region ends at the top of the address space.
    if (next <= address)
      break;
    address = next;
  }
  return total;
}

}  // namespace installer
