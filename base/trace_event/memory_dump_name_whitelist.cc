#include "base/trace_event/memory_dump_name_whitelist.h"

#include <string>

namespace base {

namespace {

// Providers that may dump in background mode.
constexpr const char* kDumpProviderWhitelist[] = {
    "ResourceManagerImpl",
    "LayoutGC",
    "ClientDiscardableSharedMemoryManager",
    "DOMStorage",
    "DiscardableSharedMemoryManager",
    "IndexedDBBackingStore",
    "ManagedHeap",
    "LevelDB",
    "LeveldbValueStore",
    "Malloc",
    "MemoryCache",
    "PartitionHeap",
    "ProcessMemoryMetrics",
    "Graphics",
    "Sql",
    "URLRequestContext",
    "ScriptIsolate",
    "WinHeap",
    "SyncDirectory",
    "TabRestoreServiceHelper",
};

// With every address written "0x?".
constexpr const char* kAllocatorDumpNameWhitelist[] = {
    "layout_gc",
    "layout_gc/allocated_objects",
    "discardable",
    "discardable/child_0x?",
    "dom_storage/0x?/cache_size",
    "dom_storage/session_storage_0x?",
    "managed_heap",
    "managed_heap/allocated_objects",
    "leveldb/index_db/0x?",
    "leveldb/leveldb_proto/0x?",
    "leveldb/value_store/Extensions.Database.Open.Settings/0x?",
    "leveldb/value_store/Extensions.Database.Open.Rules/0x?",
    "leveldb/value_store/Extensions.Database.Open.State/0x?",
    "leveldb/value_store/Extensions.Database.Open/0x?",
    "leveldb/value_store/Extensions.Database.Restore/0x?",
    "leveldb/value_store/Extensions.Database.Value.Restore/0x?",
    "malloc",
    "malloc/allocated_objects",
    "malloc/metadata_fragmentation_caches",
    "net/http_network_session_0x?",
    "net/http_network_session_0x?/quic_stream_factory",
    "net/http_network_session_0x?/socket_pool",
    "net/http_network_session_0x?/spdy_session_pool",
    "net/http_network_session_0x?/stream_factory",
    "net/sdch_manager_0x?",
    "net/ssl_session_cache",
    "net/url_request_context_0x?",
    "net/url_request_context_0x?/http_cache",
    "net/url_request_context_0x?/http_network_session",
    "net/url_request_context_0x?/sdch_manager",
    "web_cache/Image_resources",
    "web_cache/CSS stylesheet_resources",
    "web_cache/Script_resources",
    "web_cache/XSL stylesheet_resources",
    "web_cache/Font_resources",
    "web_cache/Other_resources",
    "partition_heap/allocated_objects",
    "partition_heap/partitions",
    "partition_heap/partitions/array_buffer",
    "partition_heap/partitions/buffer",
    "partition_heap/partitions/fast_malloc",
    "partition_heap/partitions/layout",
    "graphics/glyph_cache",
    "graphics/resource_cache",
    "sqlite",
    "ui/resource_manager_0x?",
    "script/isolate_0x?/heap_spaces",
    "script/isolate_0x?/heap_spaces/code_space",
    "script/isolate_0x?/heap_spaces/large_object_space",
    "script/isolate_0x?/heap_spaces/map_space",
    "script/isolate_0x?/heap_spaces/new_space",
    "script/isolate_0x?/heap_spaces/old_space",
    "script/isolate_0x?/heap_spaces/other_spaces",
    "script/isolate_0x?/malloc",
    "script/isolate_0x?/zapped_for_debug",
    "winheap",
    "winheap/allocated_objects",
    "sync/0x?/kernel",
    "sync/0x?/store",
    "sync/0x?/model_type/APP",
    "sync/0x?/model_type/APP_LIST",
    "sync/0x?/model_type/APP_NOTIFICATION",
    "sync/0x?/model_type/APP_SETTING",
    "sync/0x?/model_type/DEVICE_PACKAGE",
    "sync/0x?/model_type/ARTICLE",
    "sync/0x?/model_type/AUTOFILL",
    "sync/0x?/model_type/AUTOFILL_PROFILE",
    "sync/0x?/model_type/AUTOFILL_WALLET",
    "sync/0x?/model_type/BOOKMARK",
    "sync/0x?/model_type/DEVICE_INFO",
    "sync/0x?/model_type/DICTIONARY",
    "sync/0x?/model_type/EXPERIMENTS",
    "sync/0x?/model_type/EXTENSION",
    "sync/0x?/model_type/EXTENSION_SETTING",
    "sync/0x?/model_type/FAVICON_IMAGE",
    "sync/0x?/model_type/FAVICON_TRACKING",
    "sync/0x?/model_type/HISTORY_DELETE_DIRECTIVE",
    "sync/0x?/model_type/MANAGED_USER",
    "sync/0x?/model_type/MANAGED_USER_SETTING",
    "sync/0x?/model_type/MANAGED_USER_SHARED_SETTING",
    "sync/0x?/model_type/MANAGED_USER_WHITELIST",
    "sync/0x?/model_type/KEYSTORE",
    "sync/0x?/model_type/PASSWORD",
    "sync/0x?/model_type/PREFERENCE",
    "sync/0x?/model_type/PRINTER",
    "sync/0x?/model_type/PRIORITY_PREFERENCE",
    "sync/0x?/model_type/READING_LIST",
    "sync/0x?/model_type/SEARCH_ENGINE",
    "sync/0x?/model_type/SESSION",
    "sync/0x?/model_type/SYNCED_NOTIFICATION",
    "sync/0x?/model_type/SYNCED_NOTIFICATION_APP_INFO",
    "sync/0x?/model_type/THEME",
    "sync/0x?/model_type/TYPED_URL",
    "sync/0x?/model_type/WALLET_METADATA",
    "sync/0x?/model_type/WIFI_CREDENTIAL",
    "tab_restore/service_helper_0x?/entries",
    "tab_restore/service_helper_0x?/entries/tab_0x?",
    "tab_restore/service_helper_0x?/entries/window_0x?",
};

bool IsHexDigit(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') ||
         (c >= 'A' && c <= 'F');
}

std::string NormalizeAddresses(StringSlice name) {
  std::string normalized;
  normalized.reserve(name.length());
  size_t i = 0;
  while (i < name.length()) {
    if (name[i] == '0' && i + 2 < name.length() && name[i + 1] == 'x') {
      normalized += "0x?";
      i += 2;
      while (i < name.length() && IsHexDigit(name[i]))
        ++i;
      continue;
    }
    normalized += name[i++];
  }
  return normalized;
}

}  // namespace

bool IsMemoryDumpProviderWhitelisted(StringSlice name) {
  for (const char* entry : kDumpProviderWhitelist) {
    if (name.Equals(entry))
      return true;
  }
  return false;
}

bool IsMemoryAllocatorDumpNameWhitelisted(StringSlice name) {
  const std::string normalized = NormalizeAddresses(name);
  for (const char* allowed : kAllocatorDumpNameWhitelist) {
    if (normalized == allowed)
      return true;
  }
  return false;
}

}  // namespace base
