#include "desktop/windows/crash_reporter/dump_file_writer.h"

#include <dbghelp.h>
#include <rpc.h>

#include <cstring>

#include "base/files/file_path.h"
#include "base/logging.h"
#include "desktop/windows/crash_reporter/crash_file.h"
#include "desktop/windows/crash_reporter/crash_pipe_message.h"
#include "desktop/windows/crash_reporter/dump_streams.h"
#include "desktop/windows/crash_reporter/scoped_system_library.h"

namespace installer {

namespace {

constexpr DWORD kInvalidHandleCode = 0xC0000008;
constexpr uint32_t kHandleOperationListStreamType = 18;
// Resource type of the verifier's handle traces.
constexpr ULONG kHandleTraceResource = 1;
// Operation type of the record that names the bad handle.
constexpr ULONG kBadReferenceOperation = 3;

// The verifier's record of one handle operation.
struct HandleOperation {
  uint64_t handle;
  uint32_t process_id;
  uint32_t thread_id;
  uint32_t operation_type;
  uint32_t spare;
  uint32_t trace_depth;
  uint32_t trace_index;
  uint64_t return_addresses[32];
};
static_assert(sizeof(HandleOperation) == 288);

struct HandleOperationListHeader {
  uint32_t header_size;
  uint32_t entry_size;
  uint32_t entry_count;
  uint32_t reserved;
};
static_assert(sizeof(HandleOperationListHeader) == 16);

using MiniDumpWriteDumpFunction = decltype(&::MiniDumpWriteDump);
using UuidCreateFunction = RPC_STATUS(RPC_ENTRY*)(UUID* uuid);
using EnumerateCallback = ULONG(NTAPI*)(void* resource,
                                        void* context,
                                        ULONG* enumeration_level);
using VerifierEnumerateResourceFunction = ULONG(NTAPI*)(HANDLE process,
                                                        ULONG flags,
                                                        ULONG resource_type,
                                                        EnumerateCallback,
                                                        void* context);

struct HandleTrace {
  std::vector<HandleOperation> operations;
  uint64_t bad_handle = 0;
};

ULONG NTAPI CollectHandleOperation(void* resource,
                                   void* context,
                                   ULONG* enumeration_level) {
  auto* trace = static_cast<HandleTrace*>(context);
  const auto* operation = static_cast<const HandleOperation*>(resource);
  trace->operations.push_back(*operation);
  if (operation->operation_type == kBadReferenceOperation)
    trace->bad_handle = operation->handle;
  return 0;
}

}  // namespace

DumpFileWriter::DumpFileWriter(const std::wstring& dump_folder,
                               HANDLE process,
                               DWORD process_id,
                               DWORD crashed_thread_id,
                               DWORD requesting_thread_id,
                               uint64_t exception_pointers_address,
                               uint64_t assertion_address,
                               uint32_t dump_type,
                               bool client_pointers)
    : dump_folder_(dump_folder),
      process_(process),
      process_id_(process_id),
      crashed_thread_id_(crashed_thread_id),
      requesting_thread_id_(requesting_thread_id),
      exception_pointers_address_(exception_pointers_address),
      assertion_address_(assertion_address),
      dump_type_(dump_type),
      client_pointers_(client_pointers) {}

DumpFileWriter::~DumpFileWriter() = default;

bool DumpFileWriter::CreateDumpFile(std::wstring* path) {
  if (dump_file_.IsValid())
    return false;
  const ScopedSystemLibrary rpcrt4(L"rpcrt4.dll");
  auto uuid_create = rpcrt4.GetFunction<UuidCreateFunction>("UuidCreate");
  if (!uuid_create)
    return false;
  UUID id = {};
  uuid_create(&id);
  const std::wstring file = dump_folder_ + L"\\" + GuidToDumpId(id) + L".dmp";
  // Made new, never through a link in the folder or under the name.
  CrashFile made = CrashFile::Create(base::FilePath(file), GENERIC_WRITE);
  if (!made.IsValid())
    return false;
  *path = made.path().value();
  dump_file_ = made.TakeHandle();
  return true;
}

bool DumpFileWriter::WriteMinidump() {
  if (!dump_file_.IsValid())
    return false;
  // A full-memory dump goes to a second file that nothing here supplies.
  if (dump_type_ & MiniDumpWithFullMemory) {
    LOG(ERROR) << "No file for a full-memory dump";
    return false;
  }
  const ScopedSystemLibrary dbghelp(L"dbghelp.dll");
  auto write_dump =
      dbghelp.GetFunction<MiniDumpWriteDumpFunction>("MiniDumpWriteDump");
  if (!write_dump)
    return false;

  MINIDUMP_EXCEPTION_INFORMATION exception = {};
  exception.ThreadId = crashed_thread_id_;
  exception.ExceptionPointers =
      reinterpret_cast<EXCEPTION_POINTERS*>(exception_pointers_address_);
  exception.ClientPointers = client_pointers_;

  // The ids mean something to a reader only when they are this process's.
  DumpInformationStream information = {};
  if (!client_pointers_) {
    information = {DumpInformationStream::kThreadIdsValid, crashed_thread_id_,
                   requesting_thread_id_};
  }
  MINIDUMP_USER_STREAM streams[3] = {};
  ULONG stream_count = 0;
  streams[stream_count++] = {kInformationStreamType, sizeof(information),
                             &information};

  AssertionRecord assertion = {};
  if (assertion_address_) {
    if (!ReadDumpedMemory(assertion_address_, &assertion, sizeof(assertion))) {
      LOG(ERROR) << "Cannot read the assertion of the crashed process";
      dump_file_.Close();
      return false;
    }
    streams[stream_count++] = {kAssertionStreamType, sizeof(assertion),
                               &assertion};
  }

  std::vector<uint8_t> handle_operations;
  if (exception_pointers_address_ && !(dump_type_ & MiniDumpWithHandleData)) {
    if (!CollectHandleOperations(&handle_operations))
      return false;
  }
  if (!handle_operations.empty()) {
    streams[stream_count++] = {kHandleOperationListStreamType,
                               static_cast<ULONG>(handle_operations.size()),
                               handle_operations.data()};
  }
  MINIDUMP_USER_STREAM_INFORMATION user_streams = {stream_count, streams};

  if (!write_dump(process_, process_id_, dump_file_.Get(),
                  static_cast<MINIDUMP_TYPE>(dump_type_),
                  exception_pointers_address_ ? &exception : nullptr,
                  &user_streams, nullptr)) {
    PLOG(ERROR) << "Cannot write the minidump of process " << process_id_;
    return false;
  }
  return true;
}

bool DumpFileWriter::ReadDumpedMemory(uint64_t address,
                                      void* buffer,
                                      size_t size) const {
  if (!client_pointers_) {
    std::memcpy(buffer, reinterpret_cast<const void*>(address), size);
    return true;
  }
  SIZE_T read = 0;
  return ::ReadProcessMemory(process_, reinterpret_cast<const void*>(address),
                             buffer, size, &read) &&
         read == size;
}

bool DumpFileWriter::ReadExceptionCode(DWORD* code) const {
  EXCEPTION_POINTERS pointers = {};
  if (!ReadDumpedMemory(exception_pointers_address_, &pointers,
                        sizeof(pointers)) ||
      !pointers.ExceptionRecord) {
    return false;
  }
  return ReadDumpedMemory(reinterpret_cast<uint64_t>(pointers.ExceptionRecord) +
                              offsetof(EXCEPTION_RECORD, ExceptionCode),
                          code, sizeof(*code));
}

bool DumpFileWriter::CollectHandleOperations(
    std::vector<uint8_t>* stream) const {
  DWORD code = 0;
  if (!ReadExceptionCode(&code)) {
    LOG(ERROR) << "Cannot read the exception of the crashed process";
    return false;
  }
  if (code != kInvalidHandleCode)
    return true;
  // Without the verifier the dump is still worth having, without the trace.
  const ScopedSystemLibrary verifier(L"verifier.dll");
  auto enumerate = verifier.GetFunction<VerifierEnumerateResourceFunction>(
      "VerifierEnumerateResource");
  if (!enumerate)
    return true;
  HandleTrace trace;
  if (enumerate(process_, 0, kHandleTraceResource, &CollectHandleOperation,
                &trace) != ERROR_SUCCESS) {
    return true;
  }
  std::vector<HandleOperation> kept;
  for (const HandleOperation& operation : trace.operations) {
    if (operation.handle == trace.bad_handle)
      kept.push_back(operation);
  }
  if (kept.empty())
    return true;
  const HandleOperationListHeader header = {
      sizeof(HandleOperationListHeader), sizeof(HandleOperation),
      static_cast<uint32_t>(kept.size()), 0};
  stream->resize(sizeof(header) + kept.size() * sizeof(HandleOperation));
  std::memcpy(stream->data(), &header, sizeof(header));
  std::memcpy(stream->data() + sizeof(header), kept.data(),
              kept.size() * sizeof(HandleOperation));
  return true;
}

}  // namespace installer
