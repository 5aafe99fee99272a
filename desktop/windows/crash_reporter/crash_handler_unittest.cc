#include "desktop/windows/crash_reporter/crash_handler.h"

#include <windows.h>

#include <string>
#include <vector>

#include "base/test/scoped_temp_folder.h"
#include "base/win/scoped_handle.h"
#include "desktop/windows/crash_reporter/dump_file_writer.h"
#include "desktop/windows/crash_reporter/dump_streams.h"
#include "desktop/windows/crash_reporter/test/crash_test_support.h"
#include "desktop/windows/crash_reporter/test/recording_crash_server.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

using test::ChildProcess;
using test::MinidumpFile;
using test::RecordingCrashServer;
using test::ValueOfLine;

constexpr wchar_t kCrashChild[] = L"crash_child.exe";

struct ChildCrash {
  std::vector<std::string> lines;
  DWORD exit_code = 0;
};

// An installer process served by `server`'s reporter, crashing as told.
ChildCrash RunCrashingChild(const std::string& kind) {
  ChildProcess child;
  EXPECT_TRUE(child.Start(
      kCrashChild, L"--crash-reporter-pid=" +
                       std::to_wstring(::GetCurrentProcessId()) + L" --crash=" +
                       std::wstring(kind.begin(), kind.end())));
  ChildCrash crash;
  crash.lines = child.WaitForExit(&crash.exit_code);
  return crash;
}

struct CrashCase {
  const char* kind;
  DWORD code;
  DWORD exit_code;
  uint32_t assertion_type;
};

// What each kind of crash reaches the reporter as, and how the process
// ends. g++ sends an uncaught throw through the unhandled-exception filter
// with its own exception code, and a pure virtual call to std::terminate;
// abort() comes through SIGABRT.
constexpr CrashCase kCrashCases[] = {
    {"access-violation", 0xC0000005, 0xC0000005, AssertionRecord::kNone},
    {"breakpoint", 0x80000003, 0x80000003, AssertionRecord::kNone},
    {"abort", 0x40000015, 0x40000015, AssertionRecord::kNone},
    {"throw", 0x20474343, 0x20474343, AssertionRecord::kNone},
    {"terminate", 0x40000015, 0x40000015, AssertionRecord::kNone},
    {"invalid-parameter", 0xC000000D, 0xC000000D,
     AssertionRecord::kInvalidParameter},
    {"pure-call", 0xC0000025, 0xC0000025, AssertionRecord::kPureVirtualCall},
    // A fault in a guarded window procedure, through the exception hook.
    {"guarded-fault", 0xC0000005, 1, AssertionRecord::kNone},
};

TEST(CrashHandlerTest, CrashReachesTheReporterFromTheCrashingThread) {
  RecordingCrashServer server;
  ASSERT_TRUE(server.Start());
  size_t reported = 0;
  for (const CrashCase& expected : kCrashCases) {
    SCOPED_TRACE(expected.kind);
    const ChildCrash crash = RunCrashingChild(expected.kind);
    EXPECT_EQ(crash.exit_code, expected.exit_code);
    const auto requests = server.dump_requests();
    ASSERT_EQ(requests.size(), ++reported);
    const auto& request = requests.back();
    EXPECT_EQ(std::to_string(request.thread_id),
              ValueOfLine(crash.lines, "thread"));
    EXPECT_EQ(request.exception_code, expected.code);
    EXPECT_EQ(request.assertion.type, expected.assertion_type);
    EXPECT_EQ(request.keys.at(L"ptype"), L"installer");
    EXPECT_EQ(request.keys.at(L"prod"), L"Tarvo");
    EXPECT_EQ(request.keys.at(L"symbols-package"), L"browser-syms");
    EXPECT_EQ(request.keys.at(L"BuildID").size(), 14u);
    EXPECT_EQ(request.keys.at(L"modules-1").rfind(L"crash_child.exe:", 0), 0u);
    if (expected.assertion_type == AssertionRecord::kInvalidParameter) {
      EXPECT_EQ(std::wstring(request.assertion.expression),
                L"buffer != nullptr");
      EXPECT_EQ(request.assertion.line, 42u);
    }
  }
}

TEST(CrashHandlerTest, TwoThreadsCrashingAtOnceGiveOneReport) {
  RecordingCrashServer server;
  ASSERT_TRUE(server.Start());
  const ChildCrash crash = RunCrashingChild("two-threads");
  EXPECT_EQ(crash.exit_code, 0xC0000005u);
  const auto requests = server.dump_requests();
  ASSERT_EQ(requests.size(), 1u);
  std::vector<std::string> threads;
  for (const std::string& line : crash.lines) {
    if (line.rfind("thread ", 0) == 0)
      threads.push_back(line.substr(7));
  }
  ASSERT_EQ(threads.size(), 2u);
  const std::string reported = std::to_string(requests[0].thread_id);
  EXPECT_TRUE(reported == threads[0] || reported == threads[1]);
}

// The reporter's server can write the dump itself. Wine has no verifier, so
// an invalid-handle crash is dumped without its handle trace.
TEST(CrashHandlerTest, ServerWritesTheDumpOfTheCrashedProcess) {
  const base::ScopedTempFolder folder;
  RecordingCrashServer server(folder.path().value());
  ASSERT_TRUE(server.Start());
  const CrashCase cases[] = {
      {"access-violation", 0xC0000005, 0xC0000005, AssertionRecord::kNone},
      {"invalid-handle", 0xC0000008, 0xC0000008, AssertionRecord::kNone},
  };
  for (const CrashCase& expected : cases) {
    SCOPED_TRACE(expected.kind);
    const ChildCrash crash = RunCrashingChild(expected.kind);
    EXPECT_EQ(crash.exit_code, expected.exit_code);
    const auto request = server.dump_requests().back();
    const MinidumpFile dump(request.dump_path);
    ASSERT_TRUE(dump.IsValid());
    DWORD thread_id = 0;
    DWORD code = 0;
    ASSERT_TRUE(dump.ReadException(&thread_id, &code));
    EXPECT_EQ(std::to_string(thread_id), ValueOfLine(crash.lines, "thread"));
    EXPECT_EQ(code, expected.code);
    std::vector<uint8_t> information;
    ASSERT_TRUE(dump.ReadStream(kInformationStreamType, &information));
    // The ids of another process mean nothing to a reader.
    EXPECT_EQ(information, std::vector<uint8_t>(12, 0));
  }
}

TEST(CrashHandlerTest, FullMemoryDumpNeedsAFileOfItsOwn) {
  const base::ScopedTempFolder folder;
  DumpFileWriter writer(folder.path().value(), ::GetCurrentProcess(),
                        ::GetCurrentProcessId(), ::GetCurrentThreadId(),
                        ::GetCurrentThreadId(), 0, 0, MiniDumpWithFullMemory,
                        false);
  std::wstring path;
  ASSERT_TRUE(writer.CreateDumpFile(&path));
  EXPECT_FALSE(writer.WriteMinidump());
}

// Not connected, the handler writes the dump from a thread of its own.
TEST(CrashHandlerTest, UnconnectedHandlerWritesTheDumpFromItsOwnThread) {
  const base::ScopedTempFolder folder;
  struct Written {
    std::wstring path;
    bool succeeded = false;
  } written;
  auto after_dump = [](const wchar_t* dump_folder, const wchar_t* dump_id,
                       void* context, EXCEPTION_POINTERS*, AssertionRecord*,
                       bool succeeded) {
    auto* result = static_cast<Written*>(context);
    result->path = std::wstring(dump_folder) + L"\\" + dump_id + L".dmp";
    result->succeeded = succeeded;
    return succeeded;
  };
  CrashHandler handler(folder.path().value(), nullptr, after_dump, &written, 0,
                       0, 0, base::win::ScopedHandle(), {});
  ASSERT_FALSE(handler.IsConnected());
  alignas(16) CONTEXT context = {};
  ::RtlCaptureContext(&context);
  EXCEPTION_RECORD record = {};
  record.ExceptionCode = 0xE0000002;
  EXCEPTION_POINTERS pointers = {&record, &context};
  ASSERT_TRUE(handler.WriteMinidumpForException(&pointers));

  ASSERT_TRUE(written.succeeded);
  const MinidumpFile dump(written.path);
  DWORD thread_id = 0;
  DWORD code = 0;
  ASSERT_TRUE(dump.ReadException(&thread_id, &code));
  EXPECT_EQ(thread_id, ::GetCurrentThreadId());
  EXPECT_EQ(code, 0xE0000002u);
  std::vector<uint8_t> bytes;
  ASSERT_TRUE(dump.ReadStream(kInformationStreamType, &bytes));
  ASSERT_EQ(bytes.size(), sizeof(DumpInformationStream));
  const auto* information =
      reinterpret_cast<const DumpInformationStream*>(bytes.data());
  EXPECT_EQ(information->validity, DumpInformationStream::kThreadIdsValid);
  EXPECT_NE(information->dump_thread_id, ::GetCurrentThreadId());
  EXPECT_EQ(information->requesting_thread_id, ::GetCurrentThreadId());
}

// Each handler's filter says it saw the crash and declines it.
int g_original_filter_calls = 0;
std::vector<int> g_filtered_by;

LONG WINAPI OriginalFilter(EXCEPTION_POINTERS*) {
  ++g_original_filter_calls;
  return EXCEPTION_CONTINUE_SEARCH;
}

bool DecliningFilter(void* context, EXCEPTION_POINTERS*, AssertionRecord*) {
  g_filtered_by.push_back(
      static_cast<int>(reinterpret_cast<intptr_t>(context)));
  return false;
}

LPTOP_LEVEL_EXCEPTION_FILTER InstalledFilter() {
  const LPTOP_LEVEL_EXCEPTION_FILTER installed =
      ::SetUnhandledExceptionFilter(nullptr);
  ::SetUnhandledExceptionFilter(installed);
  return installed;
}

// Whichever of two nested handlers goes first, the other still hears the
// crash and passes it on to what was there before; once both are gone the
// original filter is back.
TEST(CrashHandlerTest, HandlersRemovedInAnyOrderLeaveAWorkingFilter) {
  for (const bool first_goes_first : {true, false}) {
    SCOPED_TRACE(first_goes_first ? "oldest first, out of order"
                                  : "newest first");
    const LPTOP_LEVEL_EXCEPTION_FILTER saved =
        ::SetUnhandledExceptionFilter(&OriginalFilter);
    g_original_filter_calls = 0;
    g_filtered_by.clear();
    auto first = std::make_unique<CrashHandler>(
        L"", &DecliningFilter, nullptr, reinterpret_cast<void*>(1),
        RuntimeCrashHandlers::kUnhandledException, 0, 0,
        base::win::ScopedHandle(), CustomInfoBlock());
    auto second = std::make_unique<CrashHandler>(
        L"", &DecliningFilter, nullptr, reinterpret_cast<void*>(2),
        RuntimeCrashHandlers::kUnhandledException, 0, 0,
        base::win::ScopedHandle(), CustomInfoBlock());
    int remaining = first_goes_first ? 2 : 1;
    if (first_goes_first)
      first.reset();
    else
      second.reset();

    EXCEPTION_RECORD record = {};
    record.ExceptionCode = EXCEPTION_ACCESS_VIOLATION;
    CONTEXT context = {};
    EXCEPTION_POINTERS pointers = {&record, &context};
    EXPECT_EQ(InstalledFilter()(&pointers), EXCEPTION_CONTINUE_SEARCH);
    EXPECT_EQ(g_filtered_by, std::vector<int>{remaining});
    EXPECT_EQ(g_original_filter_calls, 1);

    first.reset();
    second.reset();
    EXPECT_EQ(InstalledFilter(), &OriginalFilter);
    ::SetUnhandledExceptionFilter(saved);
  }
}

}  // namespace
}  // namespace installer
