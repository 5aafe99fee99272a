#include "base/process/launch.h"

#include <windows.h>

#include <tlhelp32.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "base/command_line.h"
#include "base/process/process_info.h"
#include "base/process/suspended_child.h"
#include "base/process/termination_status.h"
#include "base/strings/utf_string_conversions.h"
#include "base/test/process_child.h"
#include "base/test/scoped_temp_folder.h"
#include "base/threading/lock.h"
#include "base/win/scoped_handle.h"
#include "gtest/gtest.h"

namespace base {
namespace {

// Children end by themselves; a hang is caught by the test runner's timeout.
constexpr TimeDelta kChildTimeout = TimeDelta::Max();

win::ScopedHandle MakeEvent(bool inheritable) {
  SECURITY_ATTRIBUTES attributes = {sizeof(attributes), nullptr,
                                    inheritable ? TRUE : FALSE};
  return win::ScopedHandle(::CreateEventW(&attributes, TRUE, FALSE, nullptr));
}

bool IsInheritable(HANDLE handle) {
  DWORD flags = 0;
  return ::GetHandleInformation(handle, &flags) &&
         (flags & HANDLE_FLAG_INHERIT) != 0;
}

bool IsSignalled(HANDLE event) {
  return ::WaitForSingleObject(event, 0) == WAIT_OBJECT_0;
}

std::wstring SignalSwitch(const std::vector<HANDLE>& events) {
  std::wstring values;
  for (HANDLE event : events) {
    if (!values.empty())
      values += L",";
    values += std::to_wstring(reinterpret_cast<uintptr_t>(event));
  }
  return L"--signal=" + values;
}

// Runs the child that signals every event whose handle value it can use;
// returns its exit code, a bit per usable event.
int RunSignallingChild(const std::vector<HANDLE>& events,
                       const ProcessLaunchOptions& options) {
  Process child;
  {
    AutoLock lock(GetProcessLaunchLock());
    child = LaunchProcess(ChildCommandLine(SignalSwitch(events)), options);
  }
  EXPECT_TRUE(child.IsValid()) << ::GetLastError();
  int exit_code = -1;
  EXPECT_TRUE(child.WaitForExitWithTimeout(kChildTimeout, &exit_code));
  return exit_code;
}

// The child is handed the values of three events; what it can use is what
// it inherited.
TEST(ProcessLaunchInheritance, ChildSeesExactlyTheInheritedHandles) {
  struct Case {
    const char* name;
    bool list_given;
    std::vector<int> listed;  // Indexes of the events in the list.
    bool inherit_handles;
    int expected_usable;  // Bit i: event i reached the child.
  };
  // Event 0 is not inheritable, events 1 and 2 are.
  const Case cases[] = {
      {"list of a non-inheritable and an inheritable", true, {0, 2}, false,
       0b101},
      {"list wins over inherit-all", true, {1}, true, 0b010},
      {"empty list inherits nothing", true, {}, true, 0},
      {"no list, inherit all inheritable", false, {}, true, 0b110},
      {"no list, no inheritance", false, {}, false, 0},
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(test.name);
    win::ScopedHandle events[] = {MakeEvent(false), MakeEvent(true),
                                  MakeEvent(true)};
    std::vector<HANDLE> values;
    for (const win::ScopedHandle& event : events)
      values.push_back(event.Get());
    std::vector<HANDLE> list;
    for (int index : test.listed)
      list.push_back(values[index]);
    ProcessLaunchOptions options;
    options.start_hidden = true;
    options.inherit_handles = test.inherit_handles;
    if (test.list_given)
      options.handles_to_inherit = &list;

    EXPECT_EQ(test.expected_usable, RunSignallingChild(values, options));
    for (int i = 0; i < 3; ++i) {
      EXPECT_EQ((test.expected_usable >> i) & 1,
                IsSignalled(values[i]) ? 1 : 0)
          << "event " << i;
    }
    // Each listed handle has its own inheritance flag back.
    EXPECT_FALSE(IsInheritable(values[0]));
    EXPECT_TRUE(IsInheritable(values[1]));
    EXPECT_TRUE(IsInheritable(values[2]));
  }
}

TEST(ProcessLaunchInheritance, ListedHandleDoesNotLeakIntoLaterLaunches) {
  win::ScopedHandle listed = MakeEvent(false);
  std::vector<HANDLE> list = {listed.Get(), listed.Get()};
  ProcessLaunchOptions with_list;
  with_list.start_hidden = true;
  with_list.handles_to_inherit = &list;
  EXPECT_EQ(1, RunSignallingChild({listed.Get()}, with_list));
  ::ResetEvent(listed.Get());

  ProcessLaunchOptions inherit_all;
  inherit_all.start_hidden = true;
  inherit_all.inherit_handles = true;
  EXPECT_EQ(0, RunSignallingChild({listed.Get()}, inherit_all));
  EXPECT_FALSE(IsSignalled(listed.Get()));
}

TEST(ProcessLaunch, FailedLaunchKeepsTheWindowsError) {
  ProcessLaunchOptions options;
  const Process child =
      LaunchProcess(L"\"C:\\no such folder\\missing.exe\"", options);
  EXPECT_FALSE(child.IsValid());
  const DWORD error = ::GetLastError();
  EXPECT_TRUE(error == ERROR_PATH_NOT_FOUND || error == ERROR_FILE_NOT_FOUND)
      << error;
}

TEST(ProcessLaunch, ChildStartsOnTheAskedDesktop) {
  struct Case {
    const char* name;
    bool empty_desktop_name;
    bool current_desktop;
  };
  const Case cases[] = {{"inherited", false, false},
                        {"empty name", true, false},
                        {"current by name", false, true}};
  for (const Case& test : cases) {
    SCOPED_TRACE(test.name);
    ProcessLaunchOptions options;
    options.start_hidden = true;
    options.empty_desktop_name = test.empty_desktop_name;
    options.current_desktop = test.current_desktop;
    const Process child = LaunchProcess(ChildCommandLine(L"--exit=0"), options);
    ASSERT_TRUE(child.IsValid()) << ::GetLastError();
    int exit_code = -1;
    EXPECT_TRUE(child.WaitForExitWithTimeout(kChildTimeout, &exit_code));
    EXPECT_EQ(0, exit_code);
  }
}

TEST(ProcessLaunch, WaitReturnsAfterTheChildEnded) {
  ProcessLaunchOptions options;
  options.wait = true;
  options.start_hidden = true;
  const Process child = LaunchProcess(ChildCommandLine(L"--sleep=300"), options);
  ASSERT_TRUE(child.IsValid());
  EXPECT_EQ(static_cast<DWORD>(WAIT_OBJECT_0),
            ::WaitForSingleObject(child.Handle(), 0));
}

// Runs the child with its standard output in a pipe and returns what it
// printed.
std::string RunWithOutputPipe(const std::wstring& switches,
                              ProcessLaunchOptions options) {
  SECURITY_ATTRIBUTES inheritable = {sizeof(inheritable), nullptr, TRUE};
  HANDLE read_end = nullptr;
  HANDLE write_end = nullptr;
  EXPECT_TRUE(::CreatePipe(&read_end, &write_end, &inheritable, 0));
  win::ScopedHandle reader(read_end);
  win::ScopedHandle writer(write_end);
  ::SetHandleInformation(read_end, HANDLE_FLAG_INHERIT, 0);
  options.stdout_handle = write_end;
  options.inherit_handles = true;
  Process child;
  {
    AutoLock lock(GetProcessLaunchLock());
    child = LaunchProcess(ChildCommandLine(switches), options);
  }
  writer.Close();
  EXPECT_TRUE(child.IsValid());
  std::string output;
  char buffer[512];
  DWORD read = 0;
  while (::ReadFile(reader.Get(), buffer, sizeof(buffer), &read, nullptr) &&
         read)
    output.append(buffer, read);
  EXPECT_TRUE(child.WaitForExitWithTimeout(kChildTimeout, nullptr));
  return output;
}

TEST(ProcessLaunch, ChildStartsInTheGivenFolderWithGivenStandardOutput) {
  ScopedTempFolder folder;
  ASSERT_FALSE(folder.path().empty());
  ProcessLaunchOptions options;
  options.start_hidden = true;
  options.current_directory = folder.path().value();
  EXPECT_EQ(WideToUtf8(folder.path().value()),
            RunWithOutputPipe(L"--cwd", options));
}

TEST(ProcessLaunch, AsUserGetsThatUsersEnvironmentOnly) {
  HANDLE own_token = nullptr;
  ASSERT_TRUE(::OpenProcessToken(
      ::GetCurrentProcess(),
      TOKEN_QUERY | TOKEN_DUPLICATE | TOKEN_ASSIGN_PRIMARY, &own_token));
  win::ScopedHandle token(own_token);
  ASSERT_TRUE(::SetEnvironmentVariableW(L"TARVO_LAUNCHER_ONLY", L"1"));

  const std::wstring command = ChildCommandLine(L"--env=TARVO_LAUNCHER_ONLY");
  ProcessLaunchOptions options;
  options.start_hidden = true;
  int inherited_environment = -1;
  ASSERT_TRUE(LaunchProcess(command, options)
                  .WaitForExitWithTimeout(kChildTimeout,
                                          &inherited_environment));
  options.as_user = token.Get();
  int user_environment = -1;
  const Process as_user = LaunchProcess(command, options);
  ASSERT_TRUE(as_user.IsValid()) << ::GetLastError();
  ASSERT_TRUE(as_user.WaitForExitWithTimeout(kChildTimeout, &user_environment));
  ::SetEnvironmentVariableW(L"TARVO_LAUNCHER_ONLY", nullptr);

  EXPECT_EQ(10, inherited_environment);
  EXPECT_EQ(11, user_environment);
}

// Closing a kill-on-close job ends its child, running or still suspended
// (a starter that ends before it resumes the child takes it along); a child
// let go (the limit taken off) outlives the job.
TEST(ProcessLaunchJob, ClosingAKillOnCloseJobEndsTheChildUntilLetGo) {
  const struct {
    const char* name;
    bool suspended;
    bool let_go;
  } kCases[] = {
      {"running", false, false},
      {"suspended", true, false},
      {"let go", false, true},
  };
  for (const auto& test_case : kCases) {
    SCOPED_TRACE(test_case.name);
    win::ScopedHandle job(::CreateJobObjectW(nullptr, nullptr));
    ASSERT_TRUE(job.IsValid());
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
    limits.BasicLimitInformation.LimitFlags =
        JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    ASSERT_TRUE(::SetInformationJobObject(job.Get(),
                                          JobObjectExtendedLimitInformation,
                                          &limits, sizeof(limits)));
    ProcessLaunchOptions options;
    options.start_hidden = true;
    options.job = job.Get();
    SuspendedChild suspended;
    if (test_case.suspended)
      options.suspended_child = &suspended;
    const Process child =
        LaunchProcess(ChildCommandLine(L"--sleep=60000"), options);
    ASSERT_TRUE(child.IsValid());
    BOOL in_job = FALSE;
    ASSERT_TRUE(::IsProcessInJob(child.Handle(), job.Get(), &in_job));
    EXPECT_TRUE(in_job);
    if (!test_case.suspended) {
      // It was resumed: it runs rather than waiting suspended.
      EXPECT_EQ(TerminationStatus::kStillRunning,
                GetTerminationStatus(child.Handle(), nullptr));
    }
    if (test_case.let_go) {
      limits.BasicLimitInformation.LimitFlags = 0;
      ASSERT_TRUE(::SetInformationJobObject(job.Get(),
                                            JobObjectExtendedLimitInformation,
                                            &limits, sizeof(limits)));
    }

    job.Close();

    EXPECT_EQ(!test_case.let_go,
              child.WaitForExitWithTimeout(
                  test_case.let_go ? TimeDelta::FromMilliseconds(200)
                                   : kChildTimeout,
                  nullptr));
    ::TerminateProcess(child.Handle(), 1);
  }
}

// A child held suspended has run none of its code until it is resumed,
// inside its job or not.
TEST(ProcessLaunch, SuspendedChildRunsOnlyOnceResumed) {
  for (const bool in_job : {false, true}) {
    SCOPED_TRACE(in_job ? "in a job" : "without a job");
    win::ScopedHandle job(::CreateJobObjectW(nullptr, nullptr));
    win::ScopedHandle event = MakeEvent(true);
    std::vector<HANDLE> list = {event.Get()};
    SuspendedChild suspended;
    ProcessLaunchOptions options;
    options.start_hidden = true;
    options.handles_to_inherit = &list;
    options.suspended_child = &suspended;
    options.wait = true;
    if (in_job)
      options.job = job.Get();
    Process child;
    {
      AutoLock lock(GetProcessLaunchLock());
      child = LaunchProcess(ChildCommandLine(SignalSwitch(list)), options);
    }
    ASSERT_TRUE(child.IsValid()) << ::GetLastError();
    ASSERT_TRUE(suspended.IsHeld());
    EXPECT_FALSE(child.WaitForExitWithTimeout(TimeDelta::FromMilliseconds(200),
                                              nullptr));
    EXPECT_FALSE(IsSignalled(event.Get()));

    EXPECT_TRUE(suspended.Resume());
    EXPECT_FALSE(suspended.IsHeld());
    int exit_code = -1;
    EXPECT_TRUE(child.WaitForExitWithTimeout(kChildTimeout, &exit_code));
    EXPECT_EQ(1, exit_code);
    EXPECT_TRUE(IsSignalled(event.Get()));
  }
}

// A process that ends itself holds the start lock: while it does, no
// launch on another thread creates its child, in a job or not, so none is
// left half-started; the launch goes on once the lock is free.
TEST(ProcessLaunch, NoChildIsCreatedWhileTheStartLockIsHeld) {
  for (const bool in_job : {false, true}) {
    SCOPED_TRACE(in_job ? "in a job" : "without a job");
    ScopedTempFolder folder;
    const FilePath marker = folder.path().Append(L"started");
    win::ScopedHandle job(::CreateJobObjectW(nullptr, nullptr));
    ProcessLaunchOptions options;
    options.start_hidden = true;
    if (in_job)
      options.job = job.Get();
    Process child;
    std::atomic<bool> launched{false};
    std::thread launcher;
    {
      const AutoLock ending(GetChildStartLock());
      launcher = std::thread([&] {
        child = LaunchProcess(
            ChildCommandLine(L"--touch=\"" + marker.value() + L"\""), options);
        launched = true;
      });
      ::Sleep(200);
      EXPECT_FALSE(launched);
      EXPECT_EQ(INVALID_FILE_ATTRIBUTES,
                ::GetFileAttributesW(marker.value().c_str()));
    }
    launcher.join();

    ASSERT_TRUE(child.IsValid()) << ::GetLastError();
    int exit_code = -1;
    EXPECT_TRUE(child.WaitForExitWithTimeout(kChildTimeout, &exit_code));
    EXPECT_EQ(0, exit_code);
  }
}

// The application name is what starts; the command line's first name is
// only what the child reads as its own.
TEST(ProcessLaunch, ApplicationNameIsWhatStarts) {
  ProcessLaunchOptions options;
  options.start_hidden = true;
  options.application_name = ProcessChildToolPath().value();
  const Process child =
      LaunchProcess(L"\"C:\\no such folder\\named.exe\" --exit=7", options);
  ASSERT_TRUE(child.IsValid()) << ::GetLastError();
  int exit_code = -1;
  EXPECT_TRUE(child.WaitForExitWithTimeout(kChildTimeout, &exit_code));
  EXPECT_EQ(7, exit_code);
}

int CountOwnChildTools() {
  win::ScopedHandle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  PROCESSENTRY32W entry = {};
  entry.dwSize = sizeof(entry);
  int count = 0;
  for (BOOL more = ::Process32FirstW(snapshot.Get(), &entry); more;
       more = ::Process32NextW(snapshot.Get(), &entry)) {
    if (entry.th32ParentProcessID == ::GetCurrentProcessId() &&
        ::_wcsicmp(entry.szExeFile, L"process_child_tool.exe") == 0) {
      ++count;
    }
  }
  return count;
}

TEST(ProcessLaunchJob, ChildThatCannotJoinTheJobIsEnded) {
  win::ScopedHandle job(::CreateJobObjectW(nullptr, nullptr));
  ASSERT_TRUE(job.IsValid());
  // A handle without JOB_OBJECT_ASSIGN_PROCESS cannot take the child.
  HANDLE query_only = nullptr;
  ASSERT_TRUE(::DuplicateHandle(::GetCurrentProcess(), job.Get(),
                                ::GetCurrentProcess(), &query_only,
                                JOB_OBJECT_QUERY, FALSE, 0));
  win::ScopedHandle restricted(query_only);
  const int children_before = CountOwnChildTools();

  ProcessLaunchOptions options;
  options.start_hidden = true;
  options.job = restricted.Get();
  const Process child =
      LaunchProcess(ChildCommandLine(L"--sleep=60000"), options);
  EXPECT_FALSE(child.IsValid());
  EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), ::GetLastError());
  EXPECT_EQ(children_before, CountOwnChildTools());
}

TEST(ProcessLaunch, ParentOfALaunchedChildIsThisProcess) {
  ProcessLaunchOptions options;
  options.start_hidden = true;
  // Still listed when looked for, however late that is: it sleeps until
  // ended below.
  const Process child = LaunchProcess(ChildCommandLine(L"--sleep=-1"), options);
  ASSERT_TRUE(child.IsValid());
  EXPECT_EQ(::GetCurrentProcessId(), GetParentProcessId(child.Handle()));
  ::TerminateProcess(child.Handle(), 1);
  child.WaitForExitWithTimeout(kChildTimeout, nullptr);
}

TEST(ProcessLaunch, ParentOfAnUnknownProcessIsZero) {
  win::ScopedHandle event = MakeEvent(false);
  EXPECT_EQ(0u, GetParentProcessId(event.Get()));
}

TEST(ReadProcessOutput, CollectsAllOutputAndJudgesTheEnd) {
  struct Case {
    const wchar_t* switches;
    size_t expected_bytes;
    bool expected_result;
  };
  const Case cases[] = {
      {L"--write=3000", 3000, true},
      {L"--write=0", 0, true},
      {L"--write=70000", 70000, true},
      {L"--crash", 0, false},
      {L"--exit=3", 0, false},
      // Exit code 1 reads as "killed", which is no failure of the child.
      {L"--exit=1", 0, true},
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(WideToUtf8(test.switches));
    CommandLine command_line(ProcessChildToolPath());
    command_line.ParseFromString(ChildCommandLine(test.switches));
    std::string output;
    bool result = false;
    {
      AutoLock lock(GetProcessLaunchLock());
      result = ReadProcessOutput(command_line, &output);
    }
    EXPECT_EQ(test.expected_result, result);
    ASSERT_EQ(test.expected_bytes, output.size());
    for (size_t i = 0; i < output.size(); ++i)
      ASSERT_EQ(static_cast<char>('a' + i % 26), output[i]) << i;
  }
}

TEST(ReadProcessOutput, MissingProgramFails) {
  CommandLine command_line(FilePath(L"C:\\no such folder\\missing.exe"));
  std::string output;
  AutoLock lock(GetProcessLaunchLock());
  EXPECT_FALSE(ReadProcessOutput(command_line, &output));
}

TEST(ReadProcessOutput, StartsThroughTheCallersLaunch) {
  CommandLine command_line(ProcessChildToolPath());
  command_line.ParseFromString(ChildCommandLine(L"--write=100"));
  struct Case {
    bool refuse;
    bool expected_result;
    size_t expected_bytes;
  };
  for (const Case& test : {Case{false, true, 100}, Case{true, false, 0}}) {
    SCOPED_TRACE(test.refuse);
    int launches = 0;
    const OutputLaunchFunction launch =
        [&](const CommandLine& launched, const ProcessLaunchOptions& options) {
          ++launches;
          EXPECT_EQ(command_line.GetCommandLineString(),
                    launched.GetCommandLineString());
          return test.refuse ? Process()
                             : LaunchProcessForCommandLine(launched, options);
        };
    std::string output;
    AutoLock lock(GetProcessLaunchLock());
    EXPECT_EQ(test.expected_result,
              ReadProcessOutput(command_line, &output, launch));
    EXPECT_EQ(1, launches);
    EXPECT_EQ(test.expected_bytes, output.size());
  }
}

}  // namespace
}  // namespace base
