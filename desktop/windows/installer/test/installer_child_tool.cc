// Plays a child installer process of the step machine: the elevated
// relaunch, the package's "installer.exe" or the elevated permission
// process. The unit tests copy it where the step machine looks for the
// program and steer it through files beside the copy:
//   exit_code.txt        read: the exit code (0 when absent)
//   command_line.txt     written: the process's own command line, UTF-8
//   pid.txt              written: the process id
// As a permission process ("set-folder-permission"), it resolves the SID of
// "permissions-for-user" to an account name (written to user.txt), creates
// the folder and signals the give-permission event, unless its exit code is
// not 0; then it waits for the undo event (unless "permanent-permissions")
// and writes "undone" to undo.txt when it came.

#include <windows.h>

#include <sddl.h>

#include <memory>
#include <string>

#include "base/command_line.h"
#include "base/files/file_path.h"
#include "base/files/file_util.h"
#include "base/strings/string_number_conversions.h"
#include "base/strings/utf_string_conversions.h"
#include "base/win/scoped_handle.h"
#include "base/win/scoped_local_alloc.h"
#include "desktop/windows/installer/product/installer_object_names.h"

namespace {

// Long enough for any test; only keeps a broken test from hanging for ever.
constexpr DWORD kUndoWaitMs = 120000;

base::FilePath OwnFolder() {
  wchar_t path[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, path, MAX_PATH);
  return base::FilePath(path).DirName();
}

void WriteText(const base::FilePath& file, const std::string& text) {
  base::WriteBufferToFile(file, text.data(), static_cast<int>(text.size()));
}

std::string AccountOfSid(const std::wstring& sid_string) {
  PSID sid = nullptr;
  if (!ConvertStringSidToSidW(sid_string.c_str(), &sid))
    return "(no SID)";
  const base::win::ScopedLocalAlloc<> owned_sid(sid);
  wchar_t name[256] = {};
  wchar_t domain[256] = {};
  DWORD name_size = 256;
  DWORD domain_size = 256;
  SID_NAME_USE use;
  if (!LookupAccountSidW(nullptr, sid, name, &name_size, domain, &domain_size,
                         &use)) {
    return "(unknown account)";
  }
  return base::WideToUtf8(name);
}

void PlayPermissionProcess(const base::CommandLine& command_line,
                           const base::FilePath& own_folder,
                           int exit_code) {
  const base::FilePath folder =
      command_line.GetSwitchValuePath("set-folder-permission");
  WriteText(
      own_folder.Append(L"user.txt"),
      AccountOfSid(command_line.GetSwitchValueNative("permissions-for-user")));
  if (exit_code != 0)
    return;
  const installer::InstallerObjectNames names(folder);
  const base::win::ScopedHandle give(
      OpenEventW(EVENT_MODIFY_STATE, FALSE,
                 names.give_permission_event().c_str()));
  const base::win::ScopedHandle undo(OpenEventW(
      SYNCHRONIZE, FALSE, names.undo_permission_event().c_str()));
  if (!give.IsValid() || !undo.IsValid())
    return;
  base::CreateDirectory(folder);
  SetEvent(give.Get());
  if (command_line.HasSwitch("permanent-permissions"))
    return;
  if (WaitForSingleObject(undo.Get(), kUndoWaitMs) == WAIT_OBJECT_0)
    WriteText(own_folder.Append(L"undo.txt"), "undone");
}

}  // namespace

int main() {
  base::CommandLine command_line(base::CommandLine::NO_PROGRAM);
  command_line.ParseFromString(GetCommandLineW());
  const base::FilePath own_folder = OwnFolder();
  WriteText(own_folder.Append(L"pid.txt"),
            std::to_string(GetCurrentProcessId()));
  WriteText(own_folder.Append(L"command_line.txt"),
            base::WideToUtf8(GetCommandLineW()));
  std::string exit_text;
  int exit_code = 0;
  if (base::ReadFileToString(own_folder.Append(L"exit_code.txt"), &exit_text))
    base::StringToInt(exit_text, &exit_code);
  if (command_line.HasSwitch("set-folder-permission"))
    PlayPermissionProcess(command_line, own_folder, exit_code);
  return exit_code;
}
