#include "desktop/windows/crash_reporter/own_crash_log_writer.h"

#include <windows.h>

#include <dbghelp.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "base/files/file_path.h"
#include "base/files/file_util.h"
#include "base/test/scoped_temp_folder.h"
#include "base/win/scoped_handle.h"
#include "desktop/windows/crash_reporter/crash_exception_info.h"
#include "desktop/windows/crash_reporter/crash_log_data.h"
#include "desktop/windows/crash_reporter/pipe_client_record.h"
#include "desktop/windows/crash_reporter/test/crash_test_support.h"
#include "desktop/windows/crash_reporter/test/served_crash.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

constexpr ULONG kAssertionStreamType = 0x10001;
constexpr char kDumpMarker[] = "\r\nminidump:\r\n";

bool ReadFrom(HANDLE process, uint64_t address, void* buffer, size_t size) {
  SIZE_T read = 0;
  return ::ReadProcessMemory(process, reinterpret_cast<const void*>(address),
                             buffer, size, &read) &&
         read == size;
}

// A crashed reporter keeps its crash in one block, whose address it hands
// to the reporter it relaunches. The crashed client's three slots are put
// together into such a block in its own memory, which it keeps until it
// ends.
uint64_t PlaceExceptionBlock(const PipeClientRecord& client) {
  const base::win::ScopedHandle opened(::OpenProcess(
      PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE,
      client.process_id()));
  const HANDLE process = opened.Get();
  CrashExceptionInfo info = {};
  if (!ReadFrom(process, client.thread_id_address(), &info.thread_id,
                sizeof(info.thread_id)) ||
      !ReadFrom(process, client.exception_pointers_address(),
                &info.exception_pointers, sizeof(info.exception_pointers)) ||
      !ReadFrom(process, client.assertion_address(), &info.assertion,
                sizeof(info.assertion))) {
    return 0;
  }
  void* block = ::VirtualAllocEx(process, nullptr, sizeof(info),
                                 MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
  SIZE_T written = 0;
  if (!block || !::WriteProcessMemory(process, block, &info, sizeof(info),
                                      &written) ||
      written != sizeof(info)) {
    return 0;
  }
  return reinterpret_cast<uint64_t>(block);
}

// Where the last byte that the dump's directory, or its memory lists,
// point to ends: what a reader needs of the embedded bytes.
uint64_t DeclaredDumpEnd(const std::string& dump) {
  const auto* base = reinterpret_cast<const uint8_t*>(dump.data());
  const auto* header = reinterpret_cast<const MINIDUMP_HEADER*>(base);
  const auto* directory = reinterpret_cast<const MINIDUMP_DIRECTORY*>(
      base + header->StreamDirectoryRva);
  uint64_t end = header->StreamDirectoryRva +
                 uint64_t{header->NumberOfStreams} * sizeof(*directory);
  for (ULONG i = 0; i < header->NumberOfStreams; ++i) {
    const MINIDUMP_LOCATION_DESCRIPTOR& stream = directory[i].Location;
    end = std::max<uint64_t>(end, uint64_t{stream.Rva} + stream.DataSize);
    if (directory[i].StreamType == MemoryListStream) {
      const auto* list =
          reinterpret_cast<const MINIDUMP_MEMORY_LIST*>(base + stream.Rva);
      for (ULONG range = 0; range < list->NumberOfMemoryRanges; ++range) {
        const MINIDUMP_LOCATION_DESCRIPTOR& memory =
            list->MemoryRanges[range].Memory;
        end = std::max<uint64_t>(end, uint64_t{memory.Rva} + memory.DataSize);
      }
    } else if (directory[i].StreamType == Memory64ListStream) {
      const auto* list =
          reinterpret_cast<const MINIDUMP_MEMORY64_LIST*>(base + stream.Rva);
      uint64_t memory_end = list->BaseRva;
      for (ULONG64 range = 0; range < list->NumberOfMemoryRanges; ++range)
        memory_end += list->MemoryRanges[range].DataSize;
      end = std::max(end, memory_end);
    }
  }
  return end;
}

struct OwnCrashLogCase {
  const wchar_t* crash;
  uint64_t limit;
  DWORD code;
  bool written;
};

// Wine writes about 750 KB for either dump type, so the fitting limit is
// well above the reporter's own.
constexpr OwnCrashLogCase kCases[] = {
    {L"access-violation", 64 << 20, 0xC0000005, true},
    {L"invalid-parameter", 64 << 20, 0xC000000D, true},
    // Neither dump type fits: no log, not one without its dump.
    {L"access-violation", 1000, 0xC0000005, false},
};

// The own crash log of a real crashed process, read back as its format
// says, its minidump with the system's own reader.
TEST(OwnCrashLogWriterTest, LogOfACrashedProcessEmbedsItsMinidump) {
  for (const OwnCrashLogCase& test : kCases) {
    SCOPED_TRACE(testing::Message() << test.crash << " " << test.limit);
    const base::ScopedTempFolder folder;
    const base::FilePath path = folder.path().Append(L"own crash log.txt");
    CrashLogData data;
    data.product_suffix = "_test";
    data.version = "45.0.2548.7";
    data.build_number = "2548";
    data.metadata.emplace_back("process_type", "crash_reporter");
    bool written = false;
    DWORD exit_code = 0;
    const std::vector<std::string> lines = test::RunServedCrash(
        test.crash,
        [&](const PipeClientRecord& client) {
          const uint64_t block = PlaceExceptionBlock(client);
          ASSERT_NE(block, 0u);
          written = WriteOwnCrashLog(client.process_id(), block, data, path,
                                     test.limit);
        },
        &exit_code);
    ASSERT_EQ(exit_code, test.code);
    ASSERT_EQ(written, test.written);
    if (!test.written) {
      EXPECT_FALSE(base::PathExists(path));
      continue;
    }

    std::string log;
    ASSERT_TRUE(base::ReadFileToString(path, &log));
    const size_t marker = log.find(kDumpMarker);
    ASSERT_NE(marker, std::string::npos);
    const std::string text = log.substr(0, marker);
    const std::string dump = log.substr(marker + sizeof(kDumpMarker) - 1);

    // The minidump: whole, within its limit, and what the system reads.
    ASSERT_GE(dump.size(), sizeof(MINIDUMP_HEADER));
    EXPECT_EQ(dump.compare(0, 4, "MDMP"), 0);
    EXPECT_LE(dump.size(), test.limit);
    EXPECT_EQ(DeclaredDumpEnd(dump), dump.size());
    const base::FilePath dump_path = folder.path().Append(L"embedded.dmp");
    ASSERT_EQ(base::WriteBufferToFile(dump_path, dump.data(),
                                      static_cast<int>(dump.size())),
              static_cast<int>(dump.size()));
    const test::MinidumpFile reader(dump_path.value());
    DWORD thread = 0;
    DWORD code = 0;
    ASSERT_TRUE(reader.ReadException(&thread, &code));
    EXPECT_EQ(std::to_string(thread), test::ValueOfLine(lines, "thread"));
    EXPECT_EQ(code, test.code);
    std::vector<uint8_t> exception;
    ASSERT_TRUE(reader.ReadStream(ExceptionStream, &exception));
    const uint64_t address =
        reinterpret_cast<const MINIDUMP_EXCEPTION_STREAM*>(exception.data())
            ->ExceptionRecord.ExceptionAddress;
    std::vector<uint8_t> assertion;
    EXPECT_EQ(reader.ReadStream(kAssertionStreamType, &assertion),
              test.code == 0xC000000D);

    // The text before it: the header with the given product fields, the
    // crash as the dump has it, and the metadata.
    char crash_line[128];
    std::snprintf(crash_line, sizeof(crash_line),
                  "crash_child.exe caused exception %lX at address %012llX "
                  "(BASE: 00000000)\r\n",
                  code, static_cast<unsigned long long>(address));
    EXPECT_EQ(text,
              "TARVO-CRASHLOG V1 desktop_test 45.0.2548.7 2548 windows x64 "
              "release\r\n" +
                  std::string(crash_line) +
                  "\r\nmetadata:\r\nprocess_type=\"crash_reporter\"\r\n");
  }
}

}  // namespace
}  // namespace installer
