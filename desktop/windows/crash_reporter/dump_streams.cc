#include "desktop/windows/crash_reporter/dump_streams.h"

#include "base/strings/string_format.h"

namespace installer {

std::wstring GuidToDumpId(const GUID& guid) {
  return base::FormatWideString(
      L"%08lx-%04x-%04x-%02x%02x-%02x%02x%02x%02x%02x%02x",
      static_cast<unsigned long>(guid.Data1), guid.Data2, guid.Data3,
      guid.Data4[0], guid.Data4[1], guid.Data4[2], guid.Data4[3], guid.Data4[4],
      guid.Data4[5], guid.Data4[6], guid.Data4[7]);
}

}  // namespace installer
