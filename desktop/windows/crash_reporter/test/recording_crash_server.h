#ifndef DESKTOP_WINDOWS_CRASH_REPORTER_TEST_RECORDING_CRASH_SERVER_H_
#define DESKTOP_WINDOWS_CRASH_REPORTER_TEST_RECORDING_CRASH_SERVER_H_

#include <windows.h>

#include <cwchar>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "base/threading/lock.h"
#include "desktop/windows/crash_reporter/crash_pipe_message.h"
#include "desktop/windows/crash_reporter/crash_pipe_server.h"
#include "desktop/windows/crash_reporter/crash_reporter_names.h"
#include "desktop/windows/crash_reporter/pipe_client_record.h"

namespace installer::test {

// A crash pipe's server in the test process, on the pipe of a reporter with
// the test's own process id (so "crash-reporter-pid" names it), that
// records every dump request with what it read out of the client.
class RecordingCrashServer {
 public:
  struct DumpRequest {
    DWORD pid = 0;
    DWORD thread_id = 0;
    DWORD exception_code = 0;
    AssertionRecord assertion = {};
    bool has_keys = false;
    std::map<std::wstring, std::wstring> keys;
    std::wstring dump_path;
  };

  explicit RecordingCrashServer(const std::wstring& dump_folder = L"")
      : pipe_name_(GetCrashReporterPipeName(::GetCurrentProcessId())) {
    CrashPipeServer::Callbacks callbacks;
    callbacks.on_connect = &OnConnect;
    callbacks.connect_context = this;
    callbacks.on_dump = &OnDump;
    callbacks.dump_context = this;
    server_ = std::make_unique<CrashPipeServer>(
        pipe_name_, nullptr, callbacks, !dump_folder.empty(), dump_folder);
  }

  bool Start() { return server_->Start(); }
  const std::wstring& pipe_name() const { return pipe_name_; }

  std::vector<DumpRequest> dump_requests() {
    base::AutoLock hold(lock_);
    return dump_requests_;
  }
  std::vector<DWORD> registered() {
    base::AutoLock hold(lock_);
    return registered_;
  }

 private:
  template <typename T>
  static T ReadFromClient(const PipeClientRecord& client, uint64_t address) {
    T value = {};
    SIZE_T read = 0;
    ::ReadProcessMemory(client.process_handle(),
                        reinterpret_cast<const void*>(address), &value,
                        sizeof(value), &read);
    return value;
  }

  static void OnConnect(void* self, const PipeClientRecord& client) {
    auto* server = static_cast<RecordingCrashServer*>(self);
    base::AutoLock hold(server->lock_);
    server->registered_.push_back(client.process_id());
  }

  static void OnDump(void* self,
                     const PipeClientRecord& client,
                     const std::wstring* dump_path) {
    DumpRequest request;
    request.pid = client.process_id();
    request.thread_id =
        ReadFromClient<DWORD>(client, client.thread_id_address());
    const auto pointers = ReadFromClient<EXCEPTION_POINTERS>(
        client,
        ReadFromClient<uint64_t>(client, client.exception_pointers_address()));
    request.exception_code =
        ReadFromClient<EXCEPTION_RECORD>(
            client, reinterpret_cast<uint64_t>(pointers.ExceptionRecord))
            .ExceptionCode;
    request.assertion =
        ReadFromClient<AssertionRecord>(client, client.assertion_address());
    request.has_keys = client.custom_info_entries() != nullptr;
    for (size_t i = 0; i < client.custom_info_count(); ++i) {
      const DumpInfoEntry& entry = client.custom_info_entries()[i];
      request.keys[std::wstring(
          entry.name, wcsnlen(entry.name, DumpInfoEntry::kTextUnits))] =
          std::wstring(entry.value,
                       wcsnlen(entry.value, DumpInfoEntry::kTextUnits));
    }
    if (dump_path)
      request.dump_path = *dump_path;
    auto* server = static_cast<RecordingCrashServer*>(self);
    base::AutoLock hold(server->lock_);
    server->dump_requests_.push_back(request);
  }

  const std::wstring pipe_name_;
  base::Lock lock_;
  std::vector<DumpRequest> dump_requests_;
  std::vector<DWORD> registered_;
  // Last: destroyed first, while the records above are still there.
  std::unique_ptr<CrashPipeServer> server_;
};

}  // namespace installer::test

#endif  // DESKTOP_WINDOWS_CRASH_REPORTER_TEST_RECORDING_CRASH_SERVER_H_
