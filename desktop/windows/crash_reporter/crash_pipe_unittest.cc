#include <windows.h>

#include <string>
#include <vector>

#include "base/strings/string_number_conversions.h"
#include "base/win/scoped_handle.h"
#include "desktop/windows/crash_reporter/crash_pipe_client.h"
#include "desktop/windows/crash_reporter/crash_reporter_names.h"
#include "desktop/windows/crash_reporter/test/crash_test_support.h"
#include "desktop/windows/crash_reporter/test/recording_crash_server.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

using test::ChildProcess;
using test::RecordingCrashServer;
using test::ValueOfLine;

constexpr wchar_t kPeer[] = L"crash_pipe_peer.exe";

std::vector<std::string> RunPeer(const std::wstring& arguments,
                                 DWORD* pid = nullptr) {
  ChildProcess peer;
  EXPECT_TRUE(peer.Start(kPeer, arguments));
  if (pid)
    *pid = peer.pid();
  DWORD exit_code = 0;
  return peer.WaitForExit(&exit_code);
}

std::wstring PeerArguments(const RecordingCrashServer& server,
                           const std::wstring& mode) {
  return server.pipe_name() + L" " + mode;
}

TEST(CrashPipeTest, HandBuiltClientRegistersAndItsCrashIsReadOutOfIt) {
  RecordingCrashServer server;
  ASSERT_TRUE(server.Start());
  DWORD peer_pid = 0;
  const std::vector<std::string> lines =
      RunPeer(PeerArguments(server, L"register"), &peer_pid);

  EXPECT_EQ(ValueOfLine(lines, "reply"),
            "2 " + std::to_string(::GetCurrentProcessId()) + " 3");
  EXPECT_EQ(ValueOfLine(lines, "dump"), "generated");
  EXPECT_EQ(server.registered(), std::vector<DWORD>{peer_pid});
  const auto requests = server.dump_requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].pid, peer_pid);
  EXPECT_EQ(std::to_string(requests[0].thread_id),
            ValueOfLine(lines, "thread"));
  EXPECT_EQ(requests[0].exception_code, 0xE0000001u);
  ASSERT_EQ(requests[0].keys.size(), 3u);
  EXPECT_EQ(requests[0].keys.at(L"prod"), L"PeerProduct");
  EXPECT_EQ(requests[0].keys.at(L"ver"), L"9.8.7");
  uint32_t uptime_ms = 0;
  EXPECT_TRUE(
      base::WideStringToUint(requests[0].keys.at(L"ptime"), &uptime_ms));
}

// A refused request ends its connection only: the next client is served.
TEST(CrashPipeTest, RefusedRequestsLeaveTheServerServing) {
  RecordingCrashServer server;
  ASSERT_TRUE(server.Start());
  const std::wstring modes[] = {
      // The test process is not the one on the pipe.
      L"claim-pid " + std::to_wstring(::GetCurrentProcessId()),
      L"no-assertion",
  };
  for (const std::wstring& mode : modes) {
    SCOPED_TRACE(std::string(mode.begin(), mode.end()));
    EXPECT_EQ(ValueOfLine(RunPeer(PeerArguments(server, mode)), "reply"), "0");
  }
  EXPECT_TRUE(server.registered().empty());
  EXPECT_EQ(ValueOfLine(RunPeer(PeerArguments(server, L"register")), "dump"),
            "generated");
}

TEST(CrashPipeTest, TooManyCrashKeysStillGetTheDumpAnswered) {
  RecordingCrashServer server;
  ASSERT_TRUE(server.Start());
  const std::vector<std::string> lines =
      RunPeer(PeerArguments(server, L"entries 4097"));
  EXPECT_EQ(ValueOfLine(lines, "dump"), "generated");
  const auto requests = server.dump_requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_FALSE(requests[0].has_keys);
}

// The pipe has one instance: while another client holds it, registering
// waits 2 s for it and gives up.
TEST(CrashPipeTest, ClientGivesUpWhileThePipeIsHeld) {
  RecordingCrashServer server;
  ASSERT_TRUE(server.Start());
  const std::wstring connected_name =
      L"TarvoCrashPipeTestHeld" + std::to_wstring(::GetCurrentProcessId());
  base::win::ScopedHandle connected(
      ::CreateEventW(nullptr, TRUE, FALSE, connected_name.c_str()));
  ChildProcess holder;
  ASSERT_TRUE(
      holder.Start(kPeer, PeerArguments(server, L"hold " + connected_name)));
  ASSERT_EQ(::WaitForSingleObject(connected.Get(), INFINITE), WAIT_OBJECT_0);

  std::vector<DumpInfoEntry> entries(1);
  CrashPipeClient waiting(::GetCurrentProcessId(), 0, {entries.data(), 1});
  EXPECT_FALSE(waiting.Register());

  ::TerminateProcess(holder.handle(), 0);
  ::WaitForSingleObject(holder.handle(), INFINITE);
  ASSERT_TRUE(
      ::WaitNamedPipeW(server.pipe_name().c_str(), NMPWAIT_WAIT_FOREVER));
  CrashPipeClient next(::GetCurrentProcessId(), 0, {entries.data(), 1});
  EXPECT_TRUE(next.Register());
}

// The reporter dies while the client waits for its dump: the abandoned
// mutex ends the wait.
TEST(CrashPipeTest, DumpRequestFailsWhenTheReporterDies) {
  ChildProcess reporter;
  ASSERT_TRUE(reporter.Start(L"crash_test_server.exe", L"--die-on-dump"));
  std::string ready;
  ASSERT_TRUE(reporter.ReadLine(&ready));
  ASSERT_EQ(ready, "ready " + std::to_string(reporter.pid()));

  std::vector<DumpInfoEntry> entries(1);
  CrashPipeClient client(reporter.pid(), 0,
                         {entries.data(), 1});
  ASSERT_TRUE(client.Register());
  EXPECT_EQ(client.server_process_id(), reporter.pid());
  EXCEPTION_RECORD record = {};
  CONTEXT context = {};
  EXCEPTION_POINTERS pointers = {&record, &context};
  EXPECT_FALSE(client.RequestDump(&pointers, nullptr));
  DWORD exit_code = 0;
  reporter.WaitForExit(&exit_code);
  EXPECT_EQ(exit_code, 7u);
}

// A pipe under the reporter's name that no reporter serves: made by another
// process (here this one, under the name of an id no process has: ids are
// multiples of 4), or served by the reporter's own process without an
// answer. Registration gives up either way, and the process goes on
// without crash reporting.
TEST(CrashPipeTest, RegistrationGivesUpOnAPipeNoReporterAnswers) {
  constexpr DWORD kBufferSize = 4096;
  const struct {
    const char* served_by;
    uint32_t reporter_pid;
  } kCases[] = {
      {"another process", 4099},
      {"the reporter, silent", ::GetCurrentProcessId()},
  };
  for (const auto& test : kCases) {
    SCOPED_TRACE(test.served_by);
    const base::win::ScopedHandle squatted(::CreateNamedPipeW(
        GetCrashReporterPipeName(test.reporter_pid).c_str(), PIPE_ACCESS_DUPLEX,
        PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT, 1, kBufferSize,
        kBufferSize, 0, nullptr));
    ASSERT_TRUE(squatted.IsValid());
    std::vector<DumpInfoEntry> entries(1);
    CrashPipeClient client(test.reporter_pid, 0, {entries.data(), 1});

    EXPECT_FALSE(client.Register());
    EXPECT_FALSE(client.IsRegistered());
  }
}

}  // namespace
}  // namespace installer
