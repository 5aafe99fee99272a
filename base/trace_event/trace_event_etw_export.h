#ifndef BASE_TRACE_EVENT_TRACE_EVENT_ETW_EXPORT_H_
#define BASE_TRACE_EVENT_TRACE_EVENT_ETW_EXPORT_H_

#include <windows.h>

#include <evntprov.h>

#include <cstdint>
#include <map>
#include <memory>
#include <string>

#include "base/strings/string_slice.h"
#include "base/trace_event/trace_event.h"

namespace base {

// What Windows tells the provider through its enable callback, and the
// enable bit of the provider's one event.
struct EtwProviderContext {
  REGHANDLE registration_handle = 0;
  ULONGLONG match_any_keyword = 0;
  ULONGLONG match_all_keyword = 0;
  UCHAR level = 0;
  ULONG control_code = 0;
  static constexpr USHORT kEventCount = 1;
  ULONG enable_bits[1] = {};
  const ULONGLONG* event_keywords = nullptr;
  const UCHAR* event_levels = nullptr;
};

// Echoes trace events to Windows event tracing as events of one provider, so
// that an event-tracing session sees them without the trace log recording
// them. Made once per process, by the trace log when it meets a new
// category; its own export switch stays off, so only the provider's
// registration and enable callback run.
class TraceEventEtwExport {
 public:
  using EventWriteFunction = ULONG(WINAPI*)(REGHANDLE, PCEVENT_DESCRIPTOR,
                                            ULONG, PEVENT_DATA_DESCRIPTOR);
  using EventUnregisterFunction = ULONG(WINAPI*)(REGHANDLE);

  // The process's object, made on first use and deleted at exit (through
  // the exit-callback stack); null ever after, and never made twice. The
  // static entries below are safe from any thread at any time, also while
  // the exit callback runs; the pointer returned here is not.
  static TraceEventEtwExport* GetInstance();

  // Whether one of the group's categories is exported; false without the
  // object or while its export is off.
  static bool IsCategoryGroupEnabled(StringSlice category_group);
  // Writes the event (at most three arguments), when exporting and a
  // session enabled the provider's event.
  static void AddEvent(
      char phase, const char* category_group, const char* name, uint64_t id,
      int argument_count, const char* const* argument_names,
      const uint8_t* argument_types, const TraceValue* argument_values,
      const std::unique_ptr<ConvertableToTraceFormat>* convertables);
  static void AddCompleteEndEvent(const char* name);

  // Loads "Advapi32.dll" and registers the provider; without the library
  // or its functions nothing is registered or written. Public for tests,
  // which make their own objects.
  TraceEventEtwExport();
  TraceEventEtwExport(const TraceEventEtwExport&) = delete;
  TraceEventEtwExport& operator=(const TraceEventEtwExport&) = delete;
  ~TraceEventEtwExport();

  // The callback Windows calls as sessions enable (control code 1) or
  // disable (0) the provider.
  static void NTAPI EnableCallback(LPCGUID source_id, ULONG control_code,
                                   UCHAR level, ULONGLONG match_any_keyword,
                                   ULONGLONG match_all_keyword,
                                   PEVENT_FILTER_DESCRIPTOR filter_data,
                                   PVOID context);

  bool IsGroupExported(StringSlice category_group) const;
  void WriteEvent(char phase, const char* name, int argument_count,
                  const char* const* argument_names,
                  const uint8_t* argument_types,
                  const TraceValue* argument_values);
  void WriteCompleteEndEvent(const char* name);
  bool IsEventEnabled() const { return context_.enable_bits[0] & 1; }

  EtwProviderContext* provider_context() { return &context_; }
  const std::map<std::string, bool>& categories() const { return categories_; }
  // Nothing in the program turns export on or maps categories; tests do.
  void SetExportEnabledForTesting(bool enabled) { export_enabled_ = enabled; }
  void SetCategoryEnabledForTesting(const std::string& category, bool enabled);
  void SetEventWriteForTesting(EventWriteFunction event_write) {
    event_write_ = event_write;
  }
  // Wine's EventUnregister leaves no trace; a test program sees the
  // unregistration at exit through its own function.
  void SetEventUnregisterForTesting(EventUnregisterFunction event_unregister) {
    event_unregister_ = event_unregister;
  }

 private:
  struct LibraryDeleter {
    void operator()(HMODULE module) const { FreeLibrary(module); }
  };
  using LibraryOwner = std::unique_ptr<HINSTANCE__, LibraryDeleter>;
  using EventRegisterFunction = ULONG(WINAPI*)(LPCGUID, PENABLECALLBACK, PVOID,
                                               PREGHANDLE);

  static void DeleteInstance(void*);
  // The eight payload strings, each with its NUL.
  void Write(const char* strings[8]);

  bool export_enabled_ = false;
  std::map<std::string, bool> categories_;
  LibraryOwner advapi32_;
  EventRegisterFunction event_register_ = nullptr;
  EventWriteFunction event_write_ = nullptr;
  EventUnregisterFunction event_unregister_ = nullptr;
  EtwProviderContext context_;
};

}  // namespace base

#endif  // BASE_TRACE_EVENT_TRACE_EVENT_ETW_EXPORT_H_
