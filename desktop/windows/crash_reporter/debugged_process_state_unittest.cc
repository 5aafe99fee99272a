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
#include "desktop/windows/crash_reporter/memory_range_set.h"
#include "desktop/windows/crash_reporter/pipe_client_record.h"
#include "desktop/windows/crash_reporter/scoped_debugger_attachment.h"
#include "desktop/windows/crash_reporter/test/crash_test_support.h"
#include "desktop/windows/crash_reporter/test/served_crash.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

// The state of the crash, read while attached as a debugger as the
// reporter does, and its crash log.
struct Capture {
  bool collected = false;
  std::unique_ptr<DebuggedProcessState> state;
  std::string log;
};

void CaptureCrash(const PipeClientRecord& client, Capture* capture) {
  const ScopedDebuggerAttachment debugger(client.process_id());
  capture->state = std::make_unique<DebuggedProcessState>();
  capture->collected = capture->state->Collect(
      client.process_id(), client.exception_pointers_address(),
      client.thread_id_address(), {});
  if (!capture->collected)
    return;
  const base::ScopedTempFolder folder;
  const base::FilePath path = folder.path().Append(L"crash.txt");
  MemoryRangeSet ranges;
  if (WriteCrashLog(&ranges, *capture->state, CrashLogData(), path))
    base::ReadFileToString(path, &capture->log);
}

std::string ModuleNames(const ProcessState& state) {
  std::string names;
  for (const auto& module : state.GetModules())
    names += std::string(module->GetName()) + " ";
  return names;
}

TEST(DebuggedProcessStateTest, ReadsTheCrashOfARealProcess) {
  Capture capture;
  DWORD exit_code = 0;
  const std::vector<std::string> lines = test::RunServedCrash(
      L"access-violation",
      [&](const PipeClientRecord& client) { CaptureCrash(client, &capture); },
      &exit_code);
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

}  // namespace
}  // namespace installer
