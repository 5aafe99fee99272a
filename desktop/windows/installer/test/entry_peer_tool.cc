// The other side of installer.exe in the end-to-end tests: starts it and
// reports on it, and plays the installer that asks it for a folder
// permission (it creates the events of the exchange, as the installer does).
//   entry_peer_tool run PROGRAM [ARG...]
//       "pid N", then "exit N" once PROGRAM has ended.
//   entry_peer_tool run-named NAME PROGRAM [ARG...]
//       As "run", but the command line PROGRAM is given names NAME as its
//       program: what the started process reads as its first argument.
//   entry_peer_tool runas PROGRAM [ARG...]
//       As "run", but through the shell's "runas" verb, as the installer
//       relaunches itself elevated (Wine runs it without a prompt).
//   entry_peer_tool dacl FOLDER
//       "dacl <SDDL of the folder's access list>".
//   entry_peer_tool user-sid
//       "<SID of the user this tool runs as>".
//   entry_peer_tool request FOLDER USER INSTALLER [SWITCH...]
//       Starts INSTALLER in the folder-permission role for USER; prints
//       "sid <USER's SID>", "granted" or "not granted", then reads one line
//       of input before it signals the undo event, and prints
//       "helper exited N" once the helper has ended.
//   entry_peer_tool request-then-end FOLDER USER INSTALLER
//       The same, but the requester is a child of this tool that ends as
//       soon as the grant is in place, without signalling the undo event.
//   entry_peer_tool package FOLDER USER INSTALLER PACKAGE [SWITCH...]
//       Starts INSTALLER in the role with "wait-for-package" PACKAGE and
//       this tool as the front end, with the package ready, and reports as
//       "request" does (without reading input).
//   entry_peer_tool package-later FOLDER USER INSTALLER PACKAGE [SWITCH...]
//       The same, but the package is made ready only once the tool has
//       printed "started" and read one line of input.
//   entry_peer_tool move FROM TO
//       Renames FROM to TO as another program of the user's would
//       (MoveFileExW); prints "moved", or "error N" with the Windows error.
// Exits with 0 when the command ran. Paths and names are ASCII.

#include <windows.h>
#include <sddl.h>
#include <aclapi.h>
#include <shellapi.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "base/command_line.h"
#include "base/files/file_path.h"
#include "base/process/launch.h"
#include "base/process/process.h"
#include "base/strings/utf_string_conversions.h"
#include "base/win/scoped_handle.h"
#include "base/win/scoped_local_alloc.h"
#include "desktop/windows/installer/product/installer_object_names.h"

namespace {

using base::win::ScopedHandle;

using installer::InstallerObjectNames;

std::wstring Wide(const char* text) {
  return base::Utf8ToWide(text);
}

InstallerObjectNames Names(const char* folder) {
  return InstallerObjectNames(base::FilePath(Wide(folder)));
}

// The permission events are auto-reset and made non-signalled, as the
// installer makes them.
ScopedHandle MakeEvent(const std::wstring& name,
                         bool manual_reset = false,
                         bool signalled = false) {
  return ScopedHandle(
      ::CreateEventW(nullptr, manual_reset, signalled, name.c_str()));
}

void Print(const std::string& line) {
  std::printf("%s\n", line.c_str());
  std::fflush(stdout);
}

std::string AccountSid(const char* user) {
  // The installer names the trustee by SID; a name is looked up.
  base::win::ScopedLocalAlloc<> given;
  if (::ConvertStringSidToSidW(Wide(user).c_str(), given.Receive()))
    return user;
  BYTE sid[SECURITY_MAX_SID_SIZE];
  DWORD sid_size = sizeof(sid);
  wchar_t domain[256];
  DWORD domain_size = 256;
  SID_NAME_USE use;
  base::win::ScopedLocalAlloc<wchar_t> text;
  if (!::LookupAccountNameW(nullptr, Wide(user).c_str(), sid, &sid_size,
                            domain, &domain_size, &use) ||
      !::ConvertSidToStringSidW(sid, text.Receive())) {
    return "unknown";
  }
  return base::WideToUtf8(text.Get());
}

base::CommandLine HelperCommandLine(const char* installer, const char* folder,
                                    const char* user) {
  base::CommandLine command_line(base::FilePath(Wide(installer)));
  command_line.AppendSwitchNative("set-folder-permission", Wide(folder));
  command_line.AppendSwitchNative("permissions-for-user", Wide(user));
  return command_line;
}

// "--name" or "--name=value".
void AppendSwitches(base::CommandLine* command_line, int count,
                    char** switches) {
  for (int i = 0; i < count; ++i) {
    std::string name = switches[i];
    if (name.rfind("--", 0) == 0)
      name = name.substr(2);
    const size_t equals = name.find('=');
    if (equals == std::string::npos)
      command_line->AppendSwitch(name);
    else
      command_line->AppendSwitchNative(name.substr(0, equals),
                                       Wide(name.c_str() + equals + 1));
  }
}

// True when `event` was signalled before `process` ended.
bool WaitForGrant(HANDLE event, HANDLE process) {
  const HANDLE handles[] = {event, process};
  return ::WaitForMultipleObjects(2, handles, FALSE, INFINITE) ==
         WAIT_OBJECT_0;
}

void ReportHelperEnd(const base::Process& helper) {
  int exit_code = -1;
  helper.WaitForExit(&exit_code);
  Print("helper exited " + std::to_string(exit_code));
}

int Run(int argc, char** argv) {
  base::CommandLine command_line(base::FilePath(Wide(argv[0])));
  for (int i = 1; i < argc; ++i)
    command_line.AppendArg(argv[i]);
  const base::Process process =
      base::LaunchProcessForCommandLine(command_line, {});
  if (!process.IsValid())
    return 1;
  Print("pid " + std::to_string(process.Pid()));
  int exit_code = -1;
  process.WaitForExit(&exit_code);
  Print("exit " + std::to_string(exit_code));
  return 0;
}

// `program` started with a command line that names `name` as its program.
int RunNamed(const char* name, const char* program, int argc, char** argv) {
  base::CommandLine command_line(base::FilePath(Wide(name)));
  for (int i = 0; i < argc; ++i)
    command_line.AppendArg(argv[i]);
  std::wstring text = command_line.GetCommandLineString();
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION started = {};
  if (!::CreateProcessW(Wide(program).c_str(), text.data(), nullptr, nullptr,
                        FALSE, 0, nullptr, nullptr, &startup, &started)) {
    return 1;
  }
  const ScopedHandle process(started.hProcess);
  const ScopedHandle thread(started.hThread);
  Print("pid " + std::to_string(started.dwProcessId));
  DWORD exit_code = 0;
  ::WaitForSingleObject(process.Get(), INFINITE);
  ::GetExitCodeProcess(process.Get(), &exit_code);
  Print("exit " + std::to_string(exit_code));
  return 0;
}

int RunAs(int argc, char** argv) {
  const std::wstring program = Wide(argv[0]);
  base::CommandLine arguments{base::FilePath(program)};
  for (int i = 1; i < argc; ++i)
    arguments.AppendArg(argv[i]);
  const std::wstring parameters = arguments.GetArgumentsString();
  SHELLEXECUTEINFOW info = {};
  info.cbSize = sizeof(info);
  info.fMask = SEE_MASK_NOCLOSEPROCESS;
  info.lpVerb = L"runas";
  info.lpFile = program.c_str();
  info.lpParameters = parameters.c_str();
  info.nShow = SW_SHOW;
  if (!::ShellExecuteExW(&info) || !info.hProcess)
    return 1;
  const base::win::ScopedHandle process(info.hProcess);
  Print("pid " + std::to_string(::GetProcessId(process.Get())));
  DWORD exit_code = 0;
  ::WaitForSingleObject(process.Get(), INFINITE);
  ::GetExitCodeProcess(process.Get(), &exit_code);
  Print("exit " + std::to_string(exit_code));
  return 0;
}

int PrintDacl(const char* folder) {
  base::win::ScopedLocalAlloc<> descriptor;
  base::win::ScopedLocalAlloc<wchar_t> text;
  if (::GetNamedSecurityInfoW(Wide(folder).c_str(), SE_FILE_OBJECT,
                              DACL_SECURITY_INFORMATION, nullptr, nullptr,
                              nullptr, nullptr,
                              descriptor.Receive()) != ERROR_SUCCESS ||
      !::ConvertSecurityDescriptorToStringSecurityDescriptorW(
          descriptor.Get(), SDDL_REVISION_1, DACL_SECURITY_INFORMATION,
          text.Receive(), nullptr)) {
    return 1;
  }
  Print("dacl " + base::WideToUtf8(text.Get()));
  return 0;
}

int PrintUserSid() {
  HANDLE raw = nullptr;
  if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &raw))
    return 1;
  const ScopedHandle token(raw);
  BYTE buffer[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
  DWORD size = 0;
  base::win::ScopedLocalAlloc<wchar_t> text;
  if (!::GetTokenInformation(token.Get(), TokenUser, buffer, sizeof(buffer),
                             &size) ||
      !::ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid,
                                text.Receive())) {
    return 1;
  }
  Print(base::WideToUtf8(text.Get()));
  return 0;
}

int Request(const char* folder, const char* user, const char* installer,
            int switch_count, char** switches) {
  const ScopedHandle give = MakeEvent(Names(folder).give_permission_event());
  const ScopedHandle undo = MakeEvent(Names(folder).undo_permission_event());
  base::CommandLine command_line = HelperCommandLine(installer, folder, user);
  AppendSwitches(&command_line, switch_count, switches);
  const base::Process helper =
      base::LaunchProcessForCommandLine(command_line, {});
  if (!give.IsValid() || !undo.IsValid() || !helper.IsValid())
    return 1;
  Print("sid " + AccountSid(user));
  Print(WaitForGrant(give.Get(), helper.Handle()) ? "granted" : "not granted");
  char line[16];
  std::fgets(line, sizeof(line), stdin);
  ::SetEvent(undo.Get());
  ReportHelperEnd(helper);
  return 0;
}

// The child of "request-then-end": starts the helper and, once the grant is
// in place, hands the helper's handle to the tool and ends at once, with the
// handle's value as its exit code (0: no grant).
int RequestThenEndChild(DWORD tool_pid, const char* folder, const char* user,
                        const char* installer) {
  const ScopedHandle give(::OpenEventW(
      SYNCHRONIZE, FALSE, Names(folder).give_permission_event().c_str()));
  const base::Process helper = base::LaunchProcessForCommandLine(
      HelperCommandLine(installer, folder, user), {});
  const ScopedHandle tool(::OpenProcess(PROCESS_DUP_HANDLE, FALSE, tool_pid));
  HANDLE handle_in_tool = nullptr;
  if (!give.IsValid() || !helper.IsValid() || !tool.IsValid() ||
      !WaitForGrant(give.Get(), helper.Handle()) ||
      !::DuplicateHandle(::GetCurrentProcess(), helper.Handle(), tool.Get(),
                         &handle_in_tool, SYNCHRONIZE | PROCESS_QUERY_INFORMATION,
                         FALSE, 0)) {
    return 0;
  }
  // Ends like a crash would: nothing of this process runs any more.
  ::TerminateProcess(::GetCurrentProcess(),
                     static_cast<UINT>(reinterpret_cast<uintptr_t>(handle_in_tool)));
  return 0;
}

int RequestThenEnd(const char* folder, const char* user,
                   const char* installer) {
  const ScopedHandle give = MakeEvent(Names(folder).give_permission_event());
  const ScopedHandle undo = MakeEvent(Names(folder).undo_permission_event());
  wchar_t self[MAX_PATH];
  if (!::GetModuleFileNameW(nullptr, self, MAX_PATH))
    return 1;
  base::CommandLine child((base::FilePath(self)));
  for (const std::string& arg :
       {std::string("requester-child"), std::to_string(::GetCurrentProcessId()),
        std::string(folder), std::string(user), std::string(installer)}) {
    child.AppendArg(arg);
  }
  const base::Process requester = base::LaunchProcessForCommandLine(child, {});
  int handle_value = 0;
  if (!give.IsValid() || !undo.IsValid() || !requester.IsValid() ||
      !requester.WaitForExit(&handle_value)) {
    return 1;
  }
  Print("sid " + AccountSid(user));
  if (handle_value == 0) {
    Print("not granted");
    return 0;
  }
  Print("granted");
  ReportHelperEnd(base::Process(
      reinterpret_cast<HANDLE>(static_cast<uintptr_t>(handle_value))));
  return 0;
}

int Package(bool ready_at_start, const char* folder, const char* user,
            const char* installer, const char* package, int switch_count,
            char** switches) {
  const InstallerObjectNames names = Names(folder);
  const ScopedHandle ready =
      MakeEvent(names.package_ready_event(), true, ready_at_start);
  const ScopedHandle interrupted =
      MakeEvent(names.installation_interrupted_event(), true, false);
  const ScopedHandle give = MakeEvent(names.give_permission_event());
  const ScopedHandle undo = MakeEvent(names.undo_permission_event());
  base::CommandLine command_line = HelperCommandLine(installer, folder, user);
  command_line.AppendSwitchNative("wait-for-package", Wide(package));
  command_line.AppendSwitchNative("initial-pid",
                                  std::to_wstring(::GetCurrentProcessId()));
  AppendSwitches(&command_line, switch_count, switches);
  const base::Process helper =
      base::LaunchProcessForCommandLine(command_line, {});
  if (!ready.IsValid() || !interrupted.IsValid() || !give.IsValid() ||
      !undo.IsValid() || !helper.IsValid()) {
    return 1;
  }
  if (!ready_at_start) {
    Print("started");
    char line[16];
    std::fgets(line, sizeof(line), stdin);
    ::SetEvent(ready.Get());
  }
  Print(WaitForGrant(give.Get(), helper.Handle()) ? "granted" : "not granted");
  ::SetEvent(undo.Get());
  ReportHelperEnd(helper);
  return 0;
}

int Move(const char* from, const char* to) {
  if (::MoveFileExW(Wide(from).c_str(), Wide(to).c_str(), 0))
    Print("moved");
  else
    Print("error " + std::to_string(::GetLastError()));
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string mode = argc > 1 ? argv[1] : "";
  if (mode == "run" && argc >= 3)
    return Run(argc - 2, argv + 2);
  if (mode == "run-named" && argc >= 4)
    return RunNamed(argv[2], argv[3], argc - 4, argv + 4);
  if (mode == "runas" && argc >= 3)
    return RunAs(argc - 2, argv + 2);
  if (mode == "dacl" && argc == 3)
    return PrintDacl(argv[2]);
  if (mode == "user-sid" && argc == 2)
    return PrintUserSid();
  if (mode == "request" && argc >= 5)
    return Request(argv[2], argv[3], argv[4], argc - 5, argv + 5);
  if (mode == "request-then-end" && argc == 5)
    return RequestThenEnd(argv[2], argv[3], argv[4]);
  if (mode == "requester-child" && argc == 6)
    return RequestThenEndChild(std::strtoul(argv[2], nullptr, 10), argv[3],
                               argv[4], argv[5]);
  if (mode == "move" && argc == 4)
    return Move(argv[2], argv[3]);
  if ((mode == "package" || mode == "package-later") && argc >= 6) {
    return Package(mode == "package", argv[2], argv[3], argv[4], argv[5],
                   argc - 6, argv + 6);
  }
  std::fprintf(stderr, "usage: see the head of entry_peer_tool.cc\n");
  return 1;
}
