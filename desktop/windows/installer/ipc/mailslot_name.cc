#include "desktop/windows/installer/ipc/mailslot_name.h"

#include "base/files/file_path.h"

namespace installer {

std::wstring MakeInstallerChannelName(const base::FilePath& install_folder) {
  return L"tarvo_installer\\" + install_folder.value();
}

std::wstring GetMailslotPath(const std::wstring& channel_name) {
  return L"\\\\.\\mailslot\\" + channel_name;
}

}  // namespace installer
