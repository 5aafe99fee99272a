#include "base/win/gdi_usage_diagnostics.h"

#include <psapi.h>
#include <tlhelp32.h>

#include <cstdint>
#include <cstring>

#include "base/win/process_probes.h"
#include "base/win/scoped_handle.h"

namespace base::win {

namespace {

// GDI refuses new objects at 10,000 per process; this close means exhausted.
constexpr DWORD kGdiObjectLimit = 9991;
// Above 1.5 GB of commit the failure is most likely address-space pressure.
constexpr SIZE_T kCommitLimitBytes = 1'572'864'000;
// Bitmaps of more pixels than this are worth a trial with a tiny one.
constexpr int64_t kSmallBitmapPixels = 100;

struct GdiUsage {
  DWORD last_error;
  bool win32k_calls_allowed;
  LONG width;
  LONG height;
  DWORD gdi_objects;
  DWORD user_objects;
  PROCESS_MEMORY_COUNTERS_EX memory;
  DWORD children_gdi_objects;
  DWORD children_user_objects;
};

// Forces the kept values into this frame's memory, where the dump finds
// them, then traps into the crash handler. Each cause has its own copy
// (never merged or inlined) so that the crashing function names it.
#define KEEP_USAGE_AND_TRAP(usage)                          \
  do {                                                      \
    GdiUsage kept = (usage);                                \
    asm volatile("" : : "r"(&kept) : "memory");             \
    __builtin_trap();                                       \
  } while (0)

[[noreturn, gnu::noipa]] void CrashNoGdiObjects(const GdiUsage& usage) {
  KEEP_USAGE_AND_TRAP(usage);
}

[[noreturn, gnu::noipa]] void CrashGdiObjectsExhausted(const GdiUsage& usage) {
  KEEP_USAGE_AND_TRAP(usage);
}

[[noreturn, gnu::noipa]] void CrashCommitExhausted(const GdiUsage& usage) {
  KEEP_USAGE_AND_TRAP(usage);
}

[[noreturn, gnu::noipa]] void CrashSectionUnusable(const GdiUsage& usage) {
  KEEP_USAGE_AND_TRAP(usage);
}

[[noreturn, gnu::noipa]] void CrashCauseUnknown(const GdiUsage& usage) {
  KEEP_USAGE_AND_TRAP(usage);
}

#undef KEEP_USAGE_AND_TRAP

// Header plus a zeroed colour table large enough for any bit depth.
struct BitmapInfoWithColors {
  BITMAPINFOHEADER header;
  RGBQUAD colors[256];
};

class ScopedBitmap {
 public:
  explicit ScopedBitmap(HBITMAP bitmap) : bitmap_(bitmap) {}
  ScopedBitmap(const ScopedBitmap&) = delete;
  ScopedBitmap& operator=(const ScopedBitmap&) = delete;
  ~ScopedBitmap() {
    if (bitmap_)
      ::DeleteObject(bitmap_);
  }
  bool IsValid() const { return bitmap_ != nullptr; }

 private:
  HBITMAP bitmap_;
};

// Whether a 5 x 5 top-down bitmap of the same format fits the section.
bool CanCreateTinySection(const BITMAPINFOHEADER& header, HANDLE section) {
  BitmapInfoWithColors info = {};
  info.header = header;
  info.header.biWidth = 5;
  info.header.biHeight = -5;
  info.header.biSizeImage = 0;
  void* bits = nullptr;
  ScopedBitmap bitmap(::CreateDIBSection(
      nullptr, reinterpret_cast<const BITMAPINFO*>(&info), DIB_RGB_COLORS,
      &bits, section, 0));
  return bitmap.IsValid();
}

void AddChildrenObjectCounts(GdiUsage* usage) {
  const DWORD self = ::GetCurrentProcessId();
  ScopedHandle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (!snapshot.IsValid())
    return;
  PROCESSENTRY32W entry = {};
  entry.dwSize = sizeof(entry);
  for (BOOL more = ::Process32FirstW(snapshot.Get(), &entry); more;
       more = ::Process32NextW(snapshot.Get(), &entry)) {
    if (entry.th32ParentProcessID != self)
      continue;
    ScopedHandle child(::OpenProcess(PROCESS_QUERY_INFORMATION, FALSE,
                                     entry.th32ProcessID));
    if (!child.IsValid())
      continue;
    usage->children_gdi_objects +=
        ::GetGuiResources(child.Get(), GR_GDIOBJECTS);
    usage->children_user_objects +=
        ::GetGuiResources(child.Get(), GR_USEROBJECTS);
  }
}

}  // namespace

void CollectGdiUsageAndCrash(const BITMAPINFOHEADER& header, HANDLE section) {
  GdiUsage usage = {};
  usage.last_error = ::GetLastError();
  usage.win32k_calls_allowed = IsWin32kCallsAllowed();
  usage.width = header.biWidth;
  usage.height = header.biHeight;
  usage.gdi_objects = ::GetGuiResources(::GetCurrentProcess(), GR_GDIOBJECTS);
  usage.user_objects =
      ::GetGuiResources(::GetCurrentProcess(), GR_USEROBJECTS);
  if (usage.gdi_objects == 0)
    CrashNoGdiObjects(usage);
  if (usage.gdi_objects >= kGdiObjectLimit)
    CrashGdiObjectsExhausted(usage);

  usage.memory.cb = sizeof(usage.memory);
  if (::GetProcessMemoryInfo(
          ::GetCurrentProcess(),
          reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&usage.memory),
          sizeof(usage.memory)) &&
      (usage.memory.PagefileUsage > kCommitLimitBytes ||
       usage.memory.PrivateUsage > kCommitLimitBytes)) {
    CrashCommitExhausted(usage);
  }
  // In 64 bits: a bitmap of 65,536 x 65,536 overflows 32.
  const int64_t height = usage.height < 0 ? -int64_t{usage.height}
                                          : int64_t{usage.height};
  if (int64_t{usage.width} * height > kSmallBitmapPixels &&
      !CanCreateTinySection(header, section)) {
    CrashSectionUnusable(usage);
  }
  AddChildrenObjectCounts(&usage);
  CrashCauseUnknown(usage);
}

}  // namespace base::win
