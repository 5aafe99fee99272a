#ifndef DESKTOP_WINDOWS_CRASH_REPORTER_CRASH_PIPE_SERVER_H_
#define DESKTOP_WINDOWS_CRASH_REPORTER_CRASH_PIPE_SERVER_H_

#include <windows.h>

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "base/threading/lock.h"
#include "base/win/scoped_handle.h"
#include "desktop/windows/crash_reporter/crash_pipe_message.h"
#include "desktop/windows/crash_reporter/scoped_thread_pool_wait.h"

namespace installer {

class PipeClientRecord;

// The crash reporter's side of the crash pipe: registers installer
// processes one connection at a time, then serves their dump requests on
// thread-pool threads, reading their crash data straight out of their
// memory. Every callback runs on a thread-pool thread.
class CrashPipeServer {
 public:
  struct Callbacks {
    // After a registration is acknowledged.
    void (*on_connect)(void* context, const PipeClientRecord& client) = nullptr;
    void* connect_context = nullptr;
    // For each dump request; `dump_path` is null unless the server wrote
    // the dump itself.
    void (*on_dump)(void* context,
                    const PipeClientRecord& client,
                    const std::wstring* dump_path) = nullptr;
    void* dump_context = nullptr;
    void (*on_exit)(void* context, const PipeClientRecord& client) = nullptr;
    void* exit_context = nullptr;
    void (*on_upload)(void* context, DWORD process_id) = nullptr;
    void* upload_context = nullptr;
  };

  // `security` may be null; `dump_folder` matters only with
  // `generate_dumps`.
  CrashPipeServer(const std::wstring& pipe_name,
                  SECURITY_ATTRIBUTES* security,
                  const Callbacks& callbacks,
                  bool generate_dumps,
                  const std::wstring& dump_folder);
  CrashPipeServer(const CrashPipeServer&) = delete;
  CrashPipeServer& operator=(const CrashPipeServer&) = delete;
  // Stops serving, ends every client's wait for a dump and waits for the
  // callbacks that run. Not on a thread-pool thread.
  ~CrashPipeServer();

  // Once. The thread that calls it owns the server-alive mutex: it must live
  // as long as the server, or clients take the reporter for dead.
  bool Start();

 private:
  enum State {
    kNotStarted = 0,
    kError = 1,
    kConnect = 2,
    kConnecting = 3,
    kConnected = 4,
    kReading = 5,
    kReadDone = 6,
    kReplying = 7,
    kReplied = 8,
    kReadingAck = 9,
    kDisconnecting = 10,
  };

  static void CALLBACK OnPipeEvent(void* server, BOOLEAN timed_out);
  static void CALLBACK OnDumpRequestEvent(void* record, BOOLEAN timed_out);
  static void CALLBACK OnClientExitEvent(void* record, BOOLEAN timed_out);

  // The state machine of the one pipe instance: one step per event.
  void RunStep();
  void GoTo(State state);
  void Fail();
  void HandleError();
  void HandleConnect();
  void HandleConnecting();
  void HandleConnected();
  void HandleReading();
  void HandleReadDone();
  void HandleReplying();
  void HandleReplied();
  void HandleReadingAck();
  void HandleDisconnecting();

  // Registers the client of the request just read: false ends the
  // connection.
  bool RegisterClient();
  bool IsFromConnectedProcess(const CrashPipeMessage& request) const;
  bool AddClient(std::unique_ptr<PipeClientRecord> record);

  void HandleDumpRequest(PipeClientRecord* record);
  bool WriteDump(PipeClientRecord* record, std::wstring* dump_path);
  void HandleClientExit(PipeClientRecord* record);

  const std::wstring pipe_name_;
  SECURITY_ATTRIBUTES* const security_;
  const Callbacks callbacks_;
  const bool generate_dumps_;
  const std::wstring dump_folder_;

  base::win::ScopedHandle pipe_;
  OVERLAPPED overlapped_ = {};
  base::win::ScopedHandle overlapped_event_;
  ScopedThreadPoolWait pipe_wait_;
  std::atomic<int> state_{kNotStarted};
  CrashPipeMessage message_ = {};
  PipeClientRecord* registering_ = nullptr;
  base::win::ScopedHandle server_alive_mutex_;

  // Guards the members below.
  base::Lock lock_;
  bool shutting_down_ = false;
  std::vector<std::unique_ptr<PipeClientRecord>> clients_;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_CRASH_REPORTER_CRASH_PIPE_SERVER_H_
