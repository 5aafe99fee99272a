#include "base/process/process_info.h"

#include <tlhelp32.h>

#include "base/win/scoped_handle.h"

namespace base {

DWORD GetParentProcessId(HANDLE process) {
  const DWORD process_id = ::GetProcessId(process);
  win::ScopedHandle snapshot(
      ::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (!snapshot.IsValid())
    return 0;
  PROCESSENTRY32W entry = {};
  entry.dwSize = sizeof(entry);
  for (BOOL more = ::Process32FirstW(snapshot.Get(), &entry); more;
       more = ::Process32NextW(snapshot.Get(), &entry)) {
    if (entry.th32ProcessID == process_id)
      return entry.th32ParentProcessID;
  }
  return 0;
}

}  // namespace base
