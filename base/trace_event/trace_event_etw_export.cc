#include "base/trace_event/trace_event_etw_export.h"

#include <atomic>
#include <cstring>

#include "base/exit_callback_stack.h"
#include "base/lazy_global.h"
#include "base/strings/string_tokenizer.h"

namespace base {

namespace {

// {678E99F8-9D3A-44DD-A1A5-24813F971E83}
constexpr GUID kProviderGuid = {
    0x678E99F8,
    0x9D3A,
    0x44DD,
    {0xA1, 0xA5, 0x24, 0x81, 0x3F, 0x97, 0x1E, 0x83}};

constexpr ULONGLONG kEventKeyword = 0x8000000000000000ull;
constexpr UCHAR kEventLevel = 4;
// Id 1, version 0, channel 8, level 4, opcode 0, task 0.
constexpr EVENT_DESCRIPTOR kEventDescriptor = {
    1, 0, 8, kEventLevel, 0, 0, kEventKeyword};
constexpr ULONGLONG kEventKeywords[EtwProviderContext::kEventCount] = {
    kEventKeyword};
constexpr UCHAR kEventLevels[EtwProviderContext::kEventCount] = {kEventLevel};

constexpr ULONG kControlDisable = 0;
constexpr ULONG kControlEnable = 1;

constexpr char kOtherEvents[] = "__OTHER_EVENTS";
constexpr char kDisabledOtherEvents[] = "__DISABLED_OTHER_EVENTS";
constexpr char kDisabledByDefaultPrefix[] = "disabled-by-default";

// Categories an event-tracing session can tell apart; all others fall
// under the two catch-all names.
constexpr const char* kFilteredCategories[] = {
    "benchmark",
    "layout",
    "browser",
    "compositor",
    "evdev",
    "gpu",
    "input",
    "netlog",
    "renderer.scheduler",
    "toplevel",
    "script",
    "disabled-by-default-compositor.debug",
    "disabled-by-default-compositor.debug.picture",
    "disabled-by-default-toplevel.flow",
    "startup",
    kOtherEvents,
    kDisabledOtherEvents,
};

struct PhaseName {
  char phase;
  const char* name;
};
constexpr PhaseName kPhaseNames[] = {
    {'B', "Begin"},
    {'E', "End"},
    {'X', "Complete"},
    {'I', "Instant"},
    {'S', "Async Begin"},
    {'T', "Async Step Into"},
    {'p', "Async Step Past"},
    {'F', "Async End"},
    {'b', "Nestable Async Begin"},
    {'e', "Nestable Async End"},
    {'n', "Nestable Async Instant"},
    {'s', "Phase Flow Begin"},
    {'t', "Phase Flow Step"},
    {'f', "Phase Flow End"},
    {'C', "Phase Counter"},
    {'P', "Phase Sample"},
    {'N', "Phase Create Object"},
    {'O', "Phase Snapshot Object"},
    {'D', "Phase Delete Object"},
    {'M', "Phase Metadata"},
};
constexpr char kCompleteEndPhaseName[] = "Complete End";
constexpr int kMaxEtwArguments = 3;
constexpr int kPayloadStrings = 8;

// 0 none yet, 1 being made, else the object. Once made, never again.
constinit std::atomic<uintptr_t> g_instance{0};
constinit std::atomic<bool> g_created_once{false};
// Threads inside one of the static entries below. The exit callback deletes
// the object while other threads may still look categories up: it clears
// the word, then waits for the readers that found the object before.
constinit std::atomic<int> g_readers{0};

TraceEventEtwExport* ExistingInstance() {
  const uintptr_t value = g_instance.load(std::memory_order_seq_cst);
  return value > LazyGlobal::kBeingCreated
             ? reinterpret_cast<TraceEventEtwExport*>(value)
             : nullptr;
}

// The object, kept from deletion while the scope lives. Both sides use
// sequentially consistent order: either the reader sees the cleared word, or
// the exit callback sees the reader.
class InstanceUse {
 public:
  InstanceUse() {
    g_readers.fetch_add(1, std::memory_order_seq_cst);
    instance_ = ExistingInstance();
  }
  InstanceUse(const InstanceUse&) = delete;
  InstanceUse& operator=(const InstanceUse&) = delete;
  ~InstanceUse() { g_readers.fetch_sub(1, std::memory_order_release); }

  TraceEventEtwExport* get() const { return instance_; }

 private:
  TraceEventEtwExport* instance_;
};

// The phase's name, or the phase character itself in `own`.
const char* PhaseNameOf(char phase, char own[2]) {
  for (const PhaseName& entry : kPhaseNames) {
    if (entry.phase == phase)
      return entry.name;
  }
  own[0] = phase;
  own[1] = '\0';
  return own;
}

}  // namespace

// static
TraceEventEtwExport* TraceEventEtwExport::GetInstance() {
  if (TraceEventEtwExport* existing = ExistingInstance())
    return existing;
  uintptr_t expected = 0;
  if (!g_instance.compare_exchange_strong(expected, LazyGlobal::kBeingCreated,
                                          std::memory_order_acq_rel)) {
    LazyGlobal::WaitForInstance(g_instance);
    return ExistingInstance();
  }
  if (g_created_once.exchange(true, std::memory_order_acq_rel)) {
    g_instance.store(0, std::memory_order_release);
    return nullptr;
  }
  // Owned through the instance word; deleted by the exit callback.
  TraceEventEtwExport* instance =
      std::make_unique<TraceEventEtwExport>().release();
  g_instance.store(reinterpret_cast<uintptr_t>(instance),
                   std::memory_order_release);
  ExitCallbackStack::RegisterCallback(&TraceEventEtwExport::DeleteInstance,
                                      nullptr);
  return instance;
}

// static
void TraceEventEtwExport::DeleteInstance(void*) {
  const uintptr_t value = g_instance.exchange(0, std::memory_order_seq_cst);
  while (g_readers.load(std::memory_order_seq_cst) != 0)
    Sleep(0);
  if (value > LazyGlobal::kBeingCreated) {
    std::unique_ptr<TraceEventEtwExport> instance(
        reinterpret_cast<TraceEventEtwExport*>(value));
  }
}

// static
bool TraceEventEtwExport::IsCategoryGroupEnabled(StringSlice category_group) {
  InstanceUse use;
  return use.get() && use.get()->IsGroupExported(category_group);
}

// static
void TraceEventEtwExport::AddEvent(
    char phase, const char* category_group, const char* name, uint64_t id,
    int argument_count, const char* const* argument_names,
    const uint8_t* argument_types, const TraceValue* argument_values,
    const std::unique_ptr<ConvertableToTraceFormat>* convertables) {
  InstanceUse use;
  if (use.get()) {
    use.get()->WriteEvent(phase, name, argument_count, argument_names,
                          argument_types, argument_values);
  }
}

// static
void TraceEventEtwExport::AddCompleteEndEvent(const char* name) {
  InstanceUse use;
  if (use.get())
    use.get()->WriteCompleteEndEvent(name);
}

TraceEventEtwExport::TraceEventEtwExport() {
  context_.event_keywords = kEventKeywords;
  context_.event_levels = kEventLevels;
  advapi32_.reset(LoadLibraryW(L"Advapi32.dll"));
  if (advapi32_) {
    event_register_ = reinterpret_cast<EventRegisterFunction>(reinterpret_cast<void*>(
        GetProcAddress(advapi32_.get(), "EventRegister")));
    event_write_ = reinterpret_cast<EventWriteFunction>(reinterpret_cast<void*>(
        GetProcAddress(advapi32_.get(), "EventWrite")));
    event_unregister_ = reinterpret_cast<EventUnregisterFunction>(reinterpret_cast<void*>(
        GetProcAddress(advapi32_.get(), "EventUnregister")));
    if (event_register_) {
      event_register_(&kProviderGuid, &TraceEventEtwExport::EnableCallback,
                      &context_, &context_.registration_handle);
    } else {
      context_.registration_handle = 0;
    }
  }
  for (const char* category : kFilteredCategories)
    categories_[category] = false;
}

TraceEventEtwExport::~TraceEventEtwExport() {
  if (context_.registration_handle && event_unregister_) {
    event_unregister_(context_.registration_handle);
    context_.registration_handle = 0;
  }
}

// static
void NTAPI TraceEventEtwExport::EnableCallback(
    LPCGUID, ULONG control_code, UCHAR level, ULONGLONG match_any_keyword,
    ULONGLONG match_all_keyword, PEVENT_FILTER_DESCRIPTOR, PVOID context) {
  auto* provider = static_cast<EtwProviderContext*>(context);
  if (control_code == kControlDisable) {
    provider->level = 0;
    provider->match_any_keyword = 0;
    provider->match_all_keyword = 0;
    provider->control_code = 0;
    std::memset(provider->enable_bits, 0, sizeof(provider->enable_bits));
    return;
  }
  if (control_code != kControlEnable)
    return;
  provider->match_any_keyword = match_any_keyword;
  provider->level = level;
  provider->match_all_keyword = match_all_keyword;
  provider->control_code = control_code;
  for (USHORT i = 0; i < EtwProviderContext::kEventCount; ++i) {
    const ULONGLONG keyword = provider->event_keywords[i];
    const bool level_allows = level == 0 || provider->event_levels[i] <= level;
    const bool keyword_allows =
        keyword == 0 || ((keyword & match_any_keyword) != 0 &&
                         (keyword & match_all_keyword) == match_all_keyword);
    const ULONG bit = 1u << (i % 32);
    if (level_allows && keyword_allows)
      provider->enable_bits[i / 32] |= bit;
    else
      provider->enable_bits[i / 32] &= ~bit;
  }
}

bool TraceEventEtwExport::IsGroupExported(StringSlice category_group) const {
  if (!export_enabled_)
    return false;
  const StringSlice disabled_prefix(kDisabledByDefaultPrefix);
  StringTokenizer categories(category_group, ",");
  while (categories.GetNext()) {
    const std::string category = categories.token();
    auto found = categories_.find(category);
    if (found == categories_.end()) {
      const bool disabled_by_default = StringSlice(category)
                                           .Substr(0, disabled_prefix.length())
                                           .Equals(disabled_prefix);
      found = categories_.find(disabled_by_default ? kDisabledOtherEvents
                                                   : kOtherEvents);
    }
    if (found != categories_.end() && found->second)
      return true;
  }
  return false;
}

void TraceEventEtwExport::WriteEvent(char phase, const char* name,
                                     int argument_count,
                                     const char* const* argument_names,
                                     const uint8_t* argument_types,
                                     const TraceValue* argument_values) {
  if (!export_enabled_ || !IsEventEnabled())
    return;
  char own_phase_name[2];
  const char* phase_name = PhaseNameOf(phase, own_phase_name);
  const int count =
      argument_count > kMaxEtwArguments ? kMaxEtwArguments : argument_count;
  std::string values[kMaxEtwArguments];
  const char* names[kMaxEtwArguments] = {"", "", ""};
  for (int i = 0; i < count; ++i) {
    names[i] = argument_names[i];
    // A convertable argument is sent empty.
    if (argument_types[i] != kTraceValueTypeConvertable)
      AppendValueAsJSON(argument_types[i], argument_values[i], &values[i]);
  }
  const char* strings[kPayloadStrings] = {
      name,     phase_name,        names[0], values[0].c_str(),
      names[1], values[1].c_str(), names[2], values[2].c_str()};
  Write(strings);
}

void TraceEventEtwExport::WriteCompleteEndEvent(const char* name) {
  if (!export_enabled_ || !IsEventEnabled())
    return;
  const char* strings[kPayloadStrings] = {
      name, kCompleteEndPhaseName, "", "", "", "", "", ""};
  Write(strings);
}

void TraceEventEtwExport::Write(const char* strings[kPayloadStrings]) {
  // A session may have gone while the strings were made.
  if (!IsEventEnabled() || !event_write_)
    return;
  EVENT_DATA_DESCRIPTOR data[kPayloadStrings];
  for (int i = 0; i < kPayloadStrings; ++i) {
    const char* text = strings[i] ? strings[i] : "NULL";
    EventDataDescCreate(&data[i], text, static_cast<ULONG>(strlen(text) + 1));
  }
  event_write_(context_.registration_handle, &kEventDescriptor, kPayloadStrings,
               data);
}

void TraceEventEtwExport::SetCategoryEnabledForTesting(
    const std::string& category, bool enabled) {
  categories_[category] = enabled;
}

}  // namespace base
