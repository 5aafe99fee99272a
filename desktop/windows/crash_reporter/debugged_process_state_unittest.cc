#include "desktop/windows/crash_reporter/debugged_process_state.h"

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "base/files/file_util.h"
#include "base/strings/string_format.h"
#include "base/strings/string_util.h"
#include "base/strings/utf_string_conversions.h"
#include "base/test/scoped_temp_folder.h"
#include "desktop/windows/crash_reporter/crash_log_data.h"
#include "desktop/windows/crash_reporter/crash_log_writer.h"
#include "desktop/windows/crash_reporter/crash_pipe_server.h"
#include "desktop/windows/crash_reporter/crash_reporter_names.h"
#include "desktop/windows/crash_reporter/memory_range_set.h"
#include "desktop/windows/crash_reporter/pipe_client_record.h"
#include "desktop/windows/crash_reporter/test/crash_test_support.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

// What the test's crash pipe server saw of the one crash it served: the
// state is read while attached as a debugger, as the reporter does.
struct Capture {
  bool collected = false;
  DWORD pid = 0;
  std::unique_ptr<DebuggedProcessState> state;
  std::string log;
};

void CaptureCrash(void* context,
                  const PipeClientRecord& client,
                  const std::wstring* dump_path) {
  auto* capture = static_cast<Capture*>(context);
  const bool attached = ::DebugActiveProcess(client.process_id());
  capture->pid = client.process_id();
  capture->state = std::make_unique<DebuggedProcessState>();
  capture->collected = capture->state->Collect(
      client.process_id(), client.exception_pointers_address(),
      client.thread_id_address(), {});
  if (capture->collected) {
    const base::ScopedTempFolder folder;
    const base::FilePath path = folder.path().Append(L"crash.txt");
    MemoryRangeSet ranges;
    if (WriteCrashLog(&ranges, *capture->state, CrashLogData(), path))
      base::ReadFileToString(path, &capture->log);
  }
  if (attached)
    ::DebugActiveProcessStop(client.process_id());
}

std::string ModuleNames(const ProcessState& state) {
  std::string names;
  for (const auto& module : state.GetModules())
    names += std::string(module->GetName()) + " ";
  return names;
}

TEST(DebuggedProcessStateTest, ReadsTheCrashOfARealProcess) {
  Capture capture;
  CrashPipeServer::Callbacks callbacks;
  callbacks.on_dump = &CaptureCrash;
  callbacks.dump_context = &capture;
  {
    CrashPipeServer server(GetCrashReporterPipeName(::GetCurrentProcessId()),
                           nullptr, callbacks, false, std::wstring());
    ASSERT_TRUE(server.Start());
    test::ChildProcess child;
    ASSERT_TRUE(child.Start(
        L"crash_child.exe",
        L"--crash=access-violation --crash-reporter-pid=" +
            std::to_wstring(::GetCurrentProcessId())));
    DWORD exit_code = 0;
    const std::vector<std::string> lines = child.WaitForExit(&exit_code);
    ASSERT_EQ(exit_code, 0xC0000005u);
    const std::string thread = test::ValueOfLine(lines, "thread");

    ASSERT_TRUE(capture.collected);
    const DebuggedProcessState& state = *capture.state;
    EXPECT_EQ(state.GetExceptionCode(), 0xC0000005u);
    ASSERT_FALSE(state.GetThreads().empty());
    const ThreadInfo& crashed = *state.GetThreads().front();
    EXPECT_TRUE(crashed.IsCrashed());
    EXPECT_EQ(std::to_string(crashed.GetThreadId()), thread);
    EXPECT_EQ(crashed.GetRegisters().rip, state.GetExceptionAddress());
    // The main thread waits for the crashed one: it is listed too.
    EXPECT_GE(state.GetThreads().size(), 2u);
    ASSERT_NE(state.GetMainModule(), nullptr);
    EXPECT_STRCASEEQ(state.GetMainModule()->GetName(), "crash_child.exe");
    EXPECT_NE(state.GetMainModule()->GetTimestamp(), 0u);
    EXPECT_TRUE(base::EndsWithWide(state.executable_path(), L"\\crash_child.exe",
                                   base::CASE_INSENSITIVE_ASCII))
        << state.executable_path().c_str();
    EXPECT_NE(ModuleNames(state).find("ntdll.dll"), std::string::npos)
        << ModuleNames(state);

    const std::string crashed_thread =
        base::FormatString("ThreadInfo: %08X\r\nPriority=", crashed.GetThreadId());
    const size_t thread_info = capture.log.find(crashed_thread);
    ASSERT_NE(thread_info, std::string::npos) << capture.log.substr(0, 2000);
    EXPECT_NE(capture.log.find("Crashed=1", thread_info), std::string::npos);
    EXPECT_NE(capture.log.find(base::FormatString(
                  " caused exception C0000005 at address %012llX",
                  static_cast<unsigned long long>(state.GetExceptionAddress()))),
              std::string::npos);
  }
}

}  // namespace
}  // namespace installer
