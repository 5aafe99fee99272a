// The crash pipe's server in a process of its own, serving the pipe of a
// crash reporter with this process's id. It writes no dumps and reports
// nothing anywhere: it prints what its clients did, one event a line.
//
//   ready PID                 serving
//   connected PID PROGRAM     a client registered (its program's path)
//   dump PID THREAD CODE      a client asked for a dump (its crashing thread
//                             and exception code, read out of its memory)
//   exit PID                  a registered client ended
//
//   --clients=N     end after N registered clients have ended
//   --die-on-dump   end at once, without a word, on the first dump request
//   --squat=N       serve nothing: make first, for every process id up to N
//                   (multiples of 4, as Wine gives them), the crash
//                   reporter's pipe (never answered) and its init event
//                   (signalled); print "squatting" and hold them until
//                   ended
//   --squat-own-crash=N  serve nothing: make first, signalled, for every
//                   process id up to N, the event a crashed reporter waits
//                   on for the reporter it relaunches; print "squatting"
//                   and hold them until ended

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

#include "base/command_line.h"
#include "base/strings/string_number_conversions.h"
#include "base/win/scoped_handle.h"
#include "desktop/windows/crash_reporter/crash_pipe_server.h"
#include "desktop/windows/crash_reporter/crash_reporter_names.h"
#include "desktop/windows/crash_reporter/pipe_client_record.h"

namespace {

constexpr UINT kDiedExitCode = 7;

struct ServerState {
  bool die_on_dump = false;
  LONG clients_left = 0;
  base::win::ScopedHandle done;
};

template <typename T>
T ReadFromClient(const installer::PipeClientRecord& client, uint64_t address) {
  T value = {};
  SIZE_T read = 0;
  ::ReadProcessMemory(client.process_handle(),
                      reinterpret_cast<const void*>(address), &value,
                      sizeof(value), &read);
  return value;
}

void OnConnect(void* context, const installer::PipeClientRecord& client) {
  wchar_t program[MAX_PATH] = L"?";
  DWORD length = MAX_PATH;
  if (!::QueryFullProcessImageNameW(client.process_handle(), 0, program,
                                    &length)) {
    program[0] = L'?';
    program[1] = L'\0';
  }
  std::printf("connected %lu %ls\n", client.process_id(), program);
}

void OnDump(void* context,
            const installer::PipeClientRecord& client,
            const std::wstring* dump_path) {
  auto* state = static_cast<ServerState*>(context);
  if (state->die_on_dump)
    ::TerminateProcess(::GetCurrentProcess(), kDiedExitCode);
  const auto thread = ReadFromClient<DWORD>(client, client.thread_id_address());
  const auto pointers = ReadFromClient<EXCEPTION_POINTERS>(
      client,
      ReadFromClient<uint64_t>(client, client.exception_pointers_address()));
  const auto record = ReadFromClient<EXCEPTION_RECORD>(
      client, reinterpret_cast<uint64_t>(pointers.ExceptionRecord));
  std::printf("dump %lu %lu %08lx\n", client.process_id(), thread,
              record.ExceptionCode);
}

void OnExit(void* context, const installer::PipeClientRecord& client) {
  auto* state = static_cast<ServerState*>(context);
  std::printf("exit %lu\n", client.process_id());
  if (::InterlockedDecrement(&state->clients_left) == 0)
    ::SetEvent(state->done.Get());
}

// Another process of the session that took the names first.
int Squat(uint32_t highest_id) {
  constexpr DWORD kPipeBufferSize = 512;
  std::vector<base::win::ScopedHandle> held;
  for (uint32_t id = 4; id <= highest_id; id += 4) {
    held.emplace_back(::CreateNamedPipeW(
        installer::GetCrashReporterPipeName(id).c_str(), PIPE_ACCESS_DUPLEX,
        PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT, 1,
        kPipeBufferSize, kPipeBufferSize, 0, nullptr));
    base::win::ScopedHandle event(::CreateEventW(
        nullptr, TRUE, TRUE,
        installer::GetCrashReporterInitEventName(id).c_str()));
    if (!held.back().IsValid() || !event.IsValid())
      return 1;
    held.push_back(std::move(event));
  }
  std::printf("squatting\n");
  ::Sleep(INFINITE);
  return 0;
}

int SquatOwnCrash(uint32_t highest_id) {
  std::vector<base::win::ScopedHandle> held;
  for (uint32_t id = 4; id <= highest_id; id += 4) {
    held.emplace_back(::CreateEventW(
        nullptr, TRUE, TRUE,
        installer::GetCrashReporterExceptionEventName(id).c_str()));
    if (!held.back().IsValid())
      return 1;
  }
  std::printf("squatting\n");
  ::Sleep(INFINITE);
  return 0;
}

}  // namespace

int main() {
  std::setvbuf(stdout, nullptr, _IONBF, 0);
  base::CommandLine::Init();
  const base::CommandLine& command_line =
      *base::CommandLine::ForCurrentProcess();
  uint64_t squat_highest_id = 0;
  if (base::StringToUint64(command_line.GetSwitchValueASCII("squat"),
                           &squat_highest_id) &&
      squat_highest_id <= UINT32_MAX) {
    return Squat(static_cast<uint32_t>(squat_highest_id));
  }
  if (base::StringToUint64(command_line.GetSwitchValueASCII("squat-own-crash"),
                           &squat_highest_id) &&
      squat_highest_id <= UINT32_MAX) {
    return SquatOwnCrash(static_cast<uint32_t>(squat_highest_id));
  }
  ServerState state;
  state.die_on_dump = command_line.HasSwitch("die-on-dump");
  int32_t clients = 0;
  base::StringToInt(command_line.GetSwitchValueASCII("clients"), &clients);
  state.clients_left = clients;
  state.done.Set(::CreateEventW(nullptr, TRUE, FALSE, nullptr));

  installer::CrashPipeServer::Callbacks callbacks;
  callbacks.on_connect = &OnConnect;
  callbacks.on_dump = &OnDump;
  callbacks.dump_context = &state;
  callbacks.on_exit = &OnExit;
  callbacks.exit_context = &state;
  installer::CrashPipeServer server(
      installer::GetCrashReporterPipeName(::GetCurrentProcessId()), nullptr,
      callbacks, false, std::wstring());
  if (!server.Start())
    return 1;
  std::printf("ready %lu\n", ::GetCurrentProcessId());
  ::WaitForSingleObject(state.done.Get(), INFINITE);
  return 0;
}
