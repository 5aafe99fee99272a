#ifndef DESKTOP_WINDOWS_INSTALLER_WININET_HEAD_MEMORY_WATCH_H_
#define DESKTOP_WINDOWS_INSTALLER_WININET_HEAD_MEMORY_WATCH_H_

#include <cstdint>

#include "base/time/time_delta.h"

namespace installer {

// Bounds what the head of an answer may cost the process. WinINet keeps a
// status line and header lines without end in memory as they come, and
// tells nothing of them (no notice, no byte count) until the head is whole:
// what it holds is measured instead as the growth of the process's
// committed private memory while the head is awaited, from the lowest
// value seen since the request was sent. Whatever else the process
// allocates meanwhile counts too; the bound lies far above what an
// installer process allocates while it waits for an answer.
// Owner thread of the downloader.
class HeadMemoryWatch {
 public:
  // Real heads take a few KiB; WinINet holds some four bytes per header
  // byte read.
  static constexpr int64_t kBound = 64 * 1024 * 1024;
  // How often the memory is looked at while a head is awaited: Wine reads
  // an endless head here into some 20 MiB a second, 1 MiB between looks.
  // A look walks the address space in a fraction of a millisecond.
  static constexpr base::TimeDelta kInterval =
      base::TimeDelta::FromMilliseconds(50);

  // A request was sent: its head is awaited from now on.
  void Start();
  // How far the process has grown above the lowest value seen since
  // `Start`, when that is past the bound; 0 otherwise.
  int64_t GrowthPastBound();

  // The bytes of private memory committed in this process.
  // GetProcessMemoryInfo's counters read 0 under Wine: the regions of the
  // address space are summed instead.
  static int64_t CommittedPrivateBytes();

 private:
  int64_t floor_ = 0;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_WININET_HEAD_MEMORY_WATCH_H_
