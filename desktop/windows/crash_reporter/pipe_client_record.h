#ifndef DESKTOP_WINDOWS_CRASH_REPORTER_PIPE_CLIENT_RECORD_H_
#define DESKTOP_WINDOWS_CRASH_REPORTER_PIPE_CLIENT_RECORD_H_

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <vector>

#include "base/win/scoped_handle.h"
#include "desktop/windows/crash_reporter/custom_info.h"
#include "desktop/windows/crash_reporter/scoped_thread_pool_wait.h"

namespace installer {

class CrashPipeServer;
struct CrashPipeMessage;

// One process registered with the crash pipe's server: where its crash
// data lies in its memory, and the events through which it asks for a dump.
// Owned by the server.
class PipeClientRecord {
 public:
  PipeClientRecord(CrashPipeServer* server, const CrashPipeMessage& request);
  PipeClientRecord(const PipeClientRecord&) = delete;
  PipeClientRecord& operator=(const PipeClientRecord&) = delete;
  // Waits for running callbacks of its waits; see ScopedThreadPoolWait.
  ~PipeClientRecord();

  DWORD process_id() const { return process_id_; }
  HANDLE process_handle() const { return process_.Get(); }
  // The record's own creation time until the process's is known.
  FILETIME process_creation_time() const { return creation_time_; }
  uint32_t dump_type() const { return dump_type_; }

  // Addresses in the client's memory.
  uint64_t thread_id_address() const { return thread_id_address_; }
  uint64_t exception_pointers_address() const {
    return exception_pointers_address_;
  }
  uint64_t assertion_address() const { return assertion_address_; }

  // The client's crash keys as fetched for its last dump request, with a
  // last entry "ptime" (its uptime in milliseconds); null and 0 when they
  // could not be read.
  const DumpInfoEntry* custom_info_entries() const;
  size_t custom_info_count() const;

 private:
  friend class CrashPipeServer;

  // Opens the process with no more access than the server needs and makes
  // the two events.
  bool Open();
  // Duplicates the events and `server_alive_mutex` into the client.
  bool DuplicateHandlesInto(HANDLE server_alive_mutex,
                            CrashPipeMessage* reply) const;
  bool FetchCustomInfo();

  CrashPipeServer* const server_;
  const DWORD process_id_;
  const uint32_t dump_type_;
  const uint64_t thread_id_address_;
  const uint64_t exception_pointers_address_;
  const uint64_t assertion_address_;
  const uint64_t custom_info_address_;
  const uint64_t custom_info_count_;

  base::win::ScopedHandle process_;
  base::win::ScopedHandle dump_requested_event_;
  base::win::ScopedHandle dump_generated_event_;
  FILETIME creation_time_ = {};

  std::vector<DumpInfoEntry> custom_info_;
  bool custom_info_fetched_ = false;

  // Declared last: destroyed first, so no callback runs on a half-gone
  // record. The exit wait goes first: its callback unregisters the other.
  ScopedThreadPoolWait dump_request_wait_;
  ScopedThreadPoolWait exit_wait_;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_CRASH_REPORTER_PIPE_CLIENT_RECORD_H_
