// Runs the trace log in a process of its own, for the end-to-end tests to
// read with Python's json module. One mode per run, as the first argument:
//   startup  Several threads start together and each runs its share of
//            10,000 tasks, looking up a shared new category and one of its
//            own on the way. Prints "report <json>": the category table, the
//            dump providers, the heap-profiling state and the event-tracing
//            export. Readers of the export keep running while the exit
//            callbacks delete it; then "exit <json>" says what the
//            unregistration saw and whether a later lookup made a new one.
//   fill     Looks up new categories until the table is full, and one more.
//            Prints "fill <json>".
//   record   A recording session: events of this thread and of a worker's
//            tasks, a memory-dump session whose peak trigger asks for a
//            dump, then the flushed trace. Prints "guid <hex>", "states
//            <json>" and "trace <json>".
// Other switches (--enable-heap-profiling) are read by the program itself.

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "base/bind.h"
#include "base/command_line.h"
#include "base/exit_callback_stack.h"
#include "base/location.h"
#include "base/message_loop/loop_runner.h"
#include "base/message_loop/message_loop.h"
#include "base/metrics/thread_heap_usage.h"
#include "base/strings/string_format.h"
#include "base/threading/thread.h"
#include "base/time/tick_time.h"
#include "base/trace_event/memory_dump_manager.h"
#include "base/trace_event/process_memory_dump.h"
#include "base/trace_event/thread_trace_context.h"
#include "base/trace_event/trace_event_etw_export.h"
#include "base/trace_event/trace_log.h"

namespace {

constexpr int kThreads = 8;
constexpr int kTasks = 10000;
constexpr char kSharedCategory[] = "startup.shared";

std::string Quote(const char* text) {
  std::string quoted = "\"";
  for (const char* c = text; *c; ++c) {
    if (*c == '"' || *c == '\\')
      quoted += '\\';
    quoted += *c;
  }
  return quoted + "\"";
}

const char* Bool(bool value) {
  return value ? "true" : "false";
}

std::string CategoriesJson() {
  std::string json = "[";
  for (const base::TraceCategory* category :
       base::TraceLog::GetCategoriesForTesting()) {
    if (json.size() > 1)
      json += ",";
    json += base::FormatString("{\"name\":%s,\"state\":%d,\"filters\":%u}",
                               Quote(category->name).c_str(), category->state,
                               category->filter_bitmap);
  }
  return json + "]";
}

std::string ProvidersJson() {
  std::string json = "[";
  for (const auto& provider :
       base::MemoryDumpManager::GetInstance()->GetDumpProvidersForTesting()) {
    if (json.size() > 1)
      json += ",";
    json += base::FormatString(
        "{\"name\":%s,\"whitelisted\":%s,\"task_runner\":%s}",
        Quote(provider.name).c_str(),
        Bool(provider.whitelisted_for_background_mode),
        Bool(provider.has_task_runner));
  }
  return json + "]";
}

std::string EtwJson() {
  base::TraceEventEtwExport* etw = base::TraceEventEtwExport::GetInstance();
  if (!etw)
    return "null";
  std::string categories = "{";
  for (const auto& [name, enabled] : etw->categories()) {
    if (categories.size() > 1)
      categories += ",";
    categories += Quote(name.c_str()) + ":" + Bool(enabled);
  }
  categories += "}";
  return base::FormatString(
      "{\"handle\":%llu,\"categories\":%s}",
      static_cast<unsigned long long>(etw->provider_context()->registration_handle),
      categories.c_str());
}

// Wine's EventUnregister leaves no trace: this one notes its handle.
std::atomic<unsigned long long> g_unregistered_handle{0};
std::atomic<int> g_unregister_calls{0};

ULONG WINAPI NoteUnregister(REGHANDLE handle) {
  g_unregistered_handle = handle;
  ++g_unregister_calls;
  return ERROR_SUCCESS;
}

// One of the threads that start together: its first post is the process's
// first category lookup for some of them.
void RunStartupThread(HANDLE go, int index, std::atomic<int>* ran,
                      const uint8_t** shared) {
  WaitForSingleObject(go, INFINITE);
  shared[index] = base::TraceLog::GetCategoryEnabledFlag(kSharedCategory);
  const std::string own = base::FormatString("startup.thread%d", index);
  base::TraceLog::GetCategoryEnabledFlag(own.c_str());
  base::MessageLoop loop;
  base::LoopRunner runner;
  for (int i = 0; i < kTasks / kThreads; ++i) {
    loop.task_runner()->PostTask(
        FROM_HERE, base::Bind([](std::atomic<int>* ran) { ++*ran; }, ran));
  }
  loop.task_runner()->PostTask(FROM_HERE, runner.QuitClosure());
  runner.Run();
}

int Startup() {
  std::atomic<int> ran{0};
  const uint8_t* shared[kThreads] = {};
  std::atomic<bool> stop_readers{false};
  std::vector<std::thread> readers;
  {
    base::ExitCallbackStack exit_callbacks;
    HANDLE go = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    std::vector<std::thread> threads;
    for (int i = 0; i < kThreads; ++i)
      threads.emplace_back(RunStartupThread, go, i, &ran, shared);
    SetEvent(go);
    for (std::thread& thread : threads)
      thread.join();
    CloseHandle(go);

    base::TraceEventEtwExport* etw = base::TraceEventEtwExport::GetInstance();
    if (etw)
      etw->SetEventUnregisterForTesting(&NoteUnregister);
    bool same_shared = true;
    for (const uint8_t* flag : shared)
      same_shared = same_shared && flag == shared[0];
    auto* manager = base::MemoryDumpManager::GetInstance();
    std::printf(
        "report {\"pid\":%d,\"tasks_run\":%d,\"same_shared_record\":%s,"
        "\"categories\":%s,\"providers\":%s,\"heap_profiling\":%s,"
        "\"capture_mode\":%d,\"heap_usage_hooks\":%s,\"etw\":%s}\n",
        static_cast<int>(GetCurrentProcessId()), ran.load(), Bool(same_shared),
        CategoriesJson().c_str(), ProvidersJson().c_str(),
        Bool(manager->is_heap_profiling_enabled()),
        base::ThreadTraceContext::capture_mode(),
        Bool(base::HeapUsageHooksInserted()), EtwJson().c_str());
    std::fflush(stdout);
    // These read the export while the exit callbacks delete it.
    for (int i = 0; i < 4; ++i) {
      readers.emplace_back([&stop_readers] {
        while (!stop_readers.load())
          base::TraceEventEtwExport::IsCategoryGroupEnabled("toplevel");
      });
    }
  }
  stop_readers = true;
  for (std::thread& reader : readers)
    reader.join();
  const uint8_t* late =
      base::TraceLog::GetCategoryEnabledFlag("startup.after_exit");
  std::printf(
      "exit {\"unregister_calls\":%d,\"unregistered_handle\":%llu,"
      "\"etw_after_exit\":%s,\"late_state\":%d}\n",
      g_unregister_calls.load(), g_unregistered_handle.load(),
      Bool(base::TraceEventEtwExport::GetInstance() != nullptr), *late);
  return 0;
}

int Fill() {
  const size_t preset = base::TraceLog::GetCategoriesForTesting().size();
  const uint8_t* exhausted =
      &base::TraceLog::GetCategoriesForTesting()[0]->state;
  std::string indices = "[";
  for (size_t i = preset; i <= base::TraceLog::kMaxCategories; ++i) {
    const std::string name = base::FormatString("fill.%u", unsigned(i));
    const uint8_t* flag = base::TraceLog::GetCategoryEnabledFlag(name.c_str());
    // Asked twice: the second answer is the first one.
    if (flag != base::TraceLog::GetCategoryEnabledFlag(name.c_str()))
      return 1;
    const auto categories = base::TraceLog::GetCategoriesForTesting();
    int index = -1;
    for (size_t j = 0; j < categories.size(); ++j) {
      if (&categories[j]->state == flag)
        index = static_cast<int>(j);
    }
    if (indices.size() > 1)
      indices += ",";
    indices += std::to_string(index);
  }
  std::printf("fill {\"preset\":%u,\"indices\":%s,\"count\":%u,"
              "\"overflow_is_record0\":%s}\n",
              unsigned(preset), (indices + "]").c_str(),
              unsigned(base::TraceLog::GetCategoriesForTesting().size()),
              Bool(base::TraceLog::GetCategoryEnabledFlag("fill.more") ==
                   exhausted));
  return 0;
}

// Holds 64 MiB as far as fast polling can tell.
class PolledProvider : public base::MemoryDumpProvider {
 public:
  bool OnMemoryDump(const base::MemoryDumpArgs&,
                    base::ProcessMemoryDump*) override {
    return true;
  }
  void PollFastMemoryTotal(uint64_t* total) override { *total = 64 << 20; }
};

// Answers the first global dump and tells the main thread its GUID.
class AnsweringDelegate : public base::MemoryDumpManager::Delegate {
 public:
  AnsweringDelegate() : done_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}
  ~AnsweringDelegate() override { CloseHandle(done_); }

  void RequestGlobalMemoryDump(
      const base::MemoryDumpManager::GlobalDumpRequest& request,
      base::MemoryDumpManager::GlobalDumpCallback callback) override {
    if (guid_.exchange(request.dump_guid) == 0) {
      callback.Run(request.dump_guid, true);
      SetEvent(done_);
    }
  }

  bool Wait() { return WaitForSingleObject(done_, 600000) == WAIT_OBJECT_0; }
  uint64_t guid() const { return guid_; }

 private:
  HANDLE done_;
  std::atomic<uint64_t> guid_{0};
};

int Record() {
  base::ExitCallbackStack exit_callbacks;
  base::TraceLog* log = base::TraceLog::GetInstance();
  auto* manager = base::MemoryDumpManager::GetInstance();
  log->AddEnabledStateObserver(manager);
  PolledProvider provider;
  base::MemoryDumpProviderOptions options;
  options.is_fast_polling_supported = 1;
  manager->RegisterDumpProviderInternal(&provider, "Polled", nullptr, options);
  AnsweringDelegate delegate;
  manager->SetDelegateForTesting(&delegate);

  base::TraceConfig config;
  config.AddDisabledCategory(base::MemoryDumpManager::kTraceCategory);
  config.AddAllowedDumpLevel(base::kDumpLevelLight);
  config.AddMemoryDumpTrigger({1000, base::kDumpLevelLight,
                               base::MemoryDumpManager::kDumpTypePeakMemoryUsage});
  log->SetEnabledForTesting(config, base::TraceLog::kRecordingMode,
                            base::TraceLog::kOptionRecordUntilFull);

  const uint8_t* category = base::TraceLog::GetCategoryEnabledFlag("record");
  const char* names[] = {"count", "text"};
  const uint8_t types[] = {base::kTraceValueTypeInt,
                           base::kTraceValueTypeCopyString};
  base::TraceValue values[2];
  values[0].as_int = -7;
  values[1].as_string = "tab\there \"quoted\"";
  const int32_t tid = static_cast<int32_t>(GetCurrentThreadId());
  base::TraceEventHandle handle = log->AddEvent(
      base::kTracePhaseComplete, category, "main.complete", nullptr, 0, 0, tid,
      base::TickTime::Now().ToInternalValue(), 2, names, types, values,
      nullptr, 0);
  log->CompleteEventDuration(category, "main.complete", handle);
  log->AddEvent(base::kTracePhaseInstant, category, "main.flow", nullptr,
                0x1234, 0, tid, base::TickTime::Now().ToInternalValue(), 0,
                nullptr, nullptr, nullptr, nullptr,
                base::kTraceFlagsTaskFlowOut);
  {
    // The worker's loop records its task runs ("toplevel") into a chunk of
    // its own, which it gives back as the loop goes.
    base::Thread worker("RecordWorker");
    worker.Start();
    for (int i = 0; i < 3; ++i)
      worker.GetTaskRunner()->PostTask(FROM_HERE, base::Bind([] {}));
  }
  const bool answered = delegate.Wait();
  std::printf("guid %llx\n", static_cast<unsigned long long>(delegate.guid()));
  std::printf("states {\"recording\":%s", CategoriesJson().c_str());
  log->SetDisabledForTesting();
  std::printf(",\"after\":%s}\n", CategoriesJson().c_str());
  std::printf("trace %s\n", log->FlushForTesting().c_str());
  manager->SetDelegateForTesting(nullptr);
  manager->UnregisterDumpProviderInternal(&provider);
  return answered ? 0 : 2;
}

}  // namespace

int main(int argc, char** argv) {
  base::CommandLine::Init();
  const std::string mode = argc > 1 ? argv[1] : "";
  if (mode == "startup")
    return Startup();
  if (mode == "fill")
    return Fill();
  if (mode == "record")
    return Record();
  std::fprintf(stderr, "usage: trace_log_tool startup|fill|record\n");
  return 1;
}
