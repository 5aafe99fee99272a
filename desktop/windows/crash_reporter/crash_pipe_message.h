#ifndef DESKTOP_WINDOWS_CRASH_REPORTER_CRASH_PIPE_MESSAGE_H_
#define DESKTOP_WINDOWS_CRASH_REPORTER_CRASH_PIPE_MESSAGE_H_

#include <cstddef>
#include <cstdint>

namespace installer {

// Why the C runtime reported a fatal error; all zero for an ordinary
// exception. Read out of the crashed process and written into its dump.
struct AssertionRecord {
  enum Type : uint32_t {
    kNone = 0,
    kInvalidParameter = 1,
    kPureVirtualCall = 2,
  };
  static constexpr size_t kTextUnits = 128;

  wchar_t expression[kTextUnits];
  wchar_t function[kTextUnits];
  wchar_t file[kTextUnits];
  uint32_t line;
  uint32_t type;
};
static_assert(sizeof(AssertionRecord) == 776);

// Every message of the crash pipe, whatever its tag. Addresses are of the
// client's own memory; handles are valid in the client (reply only).
struct CrashPipeMessage {
  enum Tag : uint32_t {
    kRegisterRequest = 1,
    kRegisterReply = 2,
    kRegisterAck = 3,
    kUploadRequest = 4,
  };

  uint32_t tag;
  uint32_t process_id;
  uint32_t dump_type;
  uint32_t padding;
  uint64_t thread_id_address;
  uint64_t exception_pointers_address;
  uint64_t assertion_address;
  uint64_t custom_info_address;
  uint64_t custom_info_count;
  uint64_t dump_request_event;
  uint64_t dump_generated_event;
  uint64_t server_alive_mutex;
};
static_assert(sizeof(CrashPipeMessage) == 80);
static_assert(offsetof(CrashPipeMessage, thread_id_address) == 16);
static_assert(offsetof(CrashPipeMessage, custom_info_count) == 48);
static_assert(offsetof(CrashPipeMessage, server_alive_mutex) == 72);

}  // namespace installer

#endif  // DESKTOP_WINDOWS_CRASH_REPORTER_CRASH_PIPE_MESSAGE_H_
