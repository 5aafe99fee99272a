// A client of the crash pipe that knows nothing of ours: it builds every
// message byte by byte from the protocol's table and plays a registering
// installer process, honest or not. Prints what it saw, one fact a line.
//
//   crash_pipe_peer PIPE register          registers, then asks for a dump
//   crash_pipe_peer PIPE entries N         the same, announcing N crash keys
//   crash_pipe_peer PIPE claim-pid PID     registers in the name of PID
//   crash_pipe_peer PIPE no-assertion      registers without an assertion slot
//   crash_pipe_peer PIPE hold EVENT        connects, sets EVENT, never talks

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

namespace {

// The 80-byte message, little-endian, naturally aligned.
struct Message {
  uint32_t tag;  // 1 request, 2 reply, 3 acknowledgement
  uint32_t pid;  // client's in a request, server's in a reply
  uint32_t dump_type;
  uint32_t padding;
  uint64_t thread_id_address;  // uint32 in the client
  uint64_t exception_address;  // slot holding an EXCEPTION_POINTERS*
  uint64_t assertion_address;  // 776-byte record
  uint64_t entries_address;    // 256-byte entries
  uint64_t entry_count;
  uint64_t dump_request_event;    // reply only
  uint64_t dump_generated_event;  // reply only
  uint64_t server_alive_mutex;    // reply only
};
static_assert(sizeof(Message) == 80);
static_assert(offsetof(Message, pid) == 4);
static_assert(offsetof(Message, dump_type) == 8);
static_assert(offsetof(Message, thread_id_address) == 16);
static_assert(offsetof(Message, exception_address) == 24);
static_assert(offsetof(Message, assertion_address) == 32);
static_assert(offsetof(Message, entries_address) == 40);
static_assert(offsetof(Message, entry_count) == 48);
static_assert(offsetof(Message, dump_request_event) == 56);
static_assert(offsetof(Message, dump_generated_event) == 64);
static_assert(offsetof(Message, server_alive_mutex) == 72);

struct Entry {
  wchar_t name[64];
  wchar_t value[64];
};
static_assert(sizeof(Entry) == 256);

struct Assertion {
  wchar_t expression[128];
  wchar_t function[128];
  wchar_t file[128];
  uint32_t line;
  uint32_t type;
};
static_assert(sizeof(Assertion) == 776);

constexpr DWORD kPeerExceptionCode = 0xE0000001;

// What the server reads out of this process.
DWORD g_crashing_thread = 0;
EXCEPTION_POINTERS* g_exception = nullptr;
Assertion g_assertion = {};
std::vector<Entry> g_entries;

uint64_t Address(const void* pointer) {
  return reinterpret_cast<uint64_t>(pointer);
}

HANDLE Connect(const wchar_t* pipe_name) {
  HANDLE pipe = ::CreateFileW(pipe_name, GENERIC_READ | GENERIC_WRITE, 0,
                              nullptr, OPEN_EXISTING, 0, nullptr);
  if (pipe == INVALID_HANDLE_VALUE)
    return nullptr;
  DWORD mode = PIPE_READMODE_MESSAGE;
  ::SetNamedPipeHandleState(pipe, &mode, nullptr, nullptr);
  return pipe;
}

Message MakeRequest(uint32_t pid, uint64_t entry_count, bool with_assertion) {
  Message request;
  std::memset(&request, 0, sizeof(request));
  request.tag = 1;
  request.pid = pid;
  request.thread_id_address = Address(&g_crashing_thread);
  request.exception_address = Address(&g_exception);
  request.assertion_address = with_assertion ? Address(&g_assertion) : 0;
  request.entries_address = Address(g_entries.data());
  request.entry_count = entry_count;
  return request;
}

void AddEntry(const wchar_t* name, const wchar_t* value) {
  Entry entry = {};
  std::wcsncpy(entry.name, name, 63);
  std::wcsncpy(entry.value, value, 63);
  g_entries.push_back(entry);
}

// Registers; the reply, or one with tag 0 when the server refused.
Message Register(HANDLE pipe, const Message& request) {
  Message reply;
  std::memset(&reply, 0, sizeof(reply));
  DWORD read = 0;
  if (!::TransactNamedPipe(pipe, const_cast<Message*>(&request),
                           sizeof(request), &reply, sizeof(reply), &read,
                           nullptr) ||
      read != sizeof(reply)) {
    std::memset(&reply, 0, sizeof(reply));
    return reply;
  }
  Message ack;
  std::memset(&ack, 0, sizeof(ack));
  ack.tag = 3;
  DWORD written = 0;
  ::WriteFile(pipe, &ack, sizeof(ack), &written, nullptr);
  return reply;
}

// Leaves a crash where the server looks and waits for its answer.
const char* AskForDump(const Message& reply) {
  static EXCEPTION_RECORD record = {};
  static CONTEXT context = {};
  record.ExceptionCode = kPeerExceptionCode;
  static EXCEPTION_POINTERS pointers = {&record, &context};
  g_exception = &pointers;
  g_crashing_thread = ::GetCurrentThreadId();
  const HANDLE request = reinterpret_cast<HANDLE>(reply.dump_request_event);
  const HANDLE generated = reinterpret_cast<HANDLE>(reply.dump_generated_event);
  const HANDLE alive = reinterpret_cast<HANDLE>(reply.server_alive_mutex);
  ::SetEvent(request);
  const HANDLE handles[] = {generated, alive};
  switch (::WaitForMultipleObjects(2, handles, FALSE, INFINITE)) {
    case WAIT_OBJECT_0:
      return "generated";
    case WAIT_OBJECT_0 + 1:
    case WAIT_ABANDONED_0 + 1:
      return "server-gone";
    default:
      return "failed";
  }
}

int RegisterAndCrash(HANDLE pipe, uint64_t entry_count) {
  const Message reply =
      Register(pipe, MakeRequest(::GetCurrentProcessId(), entry_count, true));
  ::CloseHandle(pipe);
  const int handles = (reply.dump_request_event != 0) +
                      (reply.dump_generated_event != 0) +
                      (reply.server_alive_mutex != 0);
  std::printf("reply %u %u %d\n", reply.tag, reply.pid, handles);
  if (reply.tag != 2 || handles != 3)
    return 1;
  std::printf("thread %lu\n", ::GetCurrentThreadId());
  std::printf("dump %s\n", AskForDump(reply));
  return 0;
}

int Refusal(HANDLE pipe, uint32_t pid, bool with_assertion) {
  const Message reply = Register(pipe, MakeRequest(pid, 2, with_assertion));
  ::CloseHandle(pipe);
  std::printf("reply %u\n", reply.tag);
  return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  std::setvbuf(stdout, nullptr, _IONBF, 0);
  if (argc < 3)
    return 2;
  AddEntry(L"prod", L"PeerProduct");
  AddEntry(L"ver", L"9.8.7");
  const std::wstring mode = argv[2];
  HANDLE pipe = Connect(argv[1]);
  if (!pipe) {
    std::printf("no-pipe %lu\n", ::GetLastError());
    return 1;
  }
  if (mode == L"register")
    return RegisterAndCrash(pipe, g_entries.size());
  if (mode == L"entries" && argc > 3)
    return RegisterAndCrash(pipe, std::wcstoull(argv[3], nullptr, 10));
  if (mode == L"claim-pid" && argc > 3)
    return Refusal(pipe, std::wcstoul(argv[3], nullptr, 10), true);
  if (mode == L"no-assertion")
    return Refusal(pipe, ::GetCurrentProcessId(), false);
  if (mode == L"hold" && argc > 3) {
    HANDLE connected = ::OpenEventW(EVENT_MODIFY_STATE, FALSE, argv[3]);
    ::SetEvent(connected);
    ::Sleep(INFINITE);
  }
  return 2;
}
