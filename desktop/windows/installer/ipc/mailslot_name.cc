#include "desktop/windows/installer/ipc/mailslot_name.h"

namespace installer {

std::wstring GetMailslotPath(const std::wstring& channel_name) {
  return kMailslotPathPrefix + channel_name;
}

}  // namespace installer
