#ifndef BASE_TRACE_EVENT_MEMORY_DUMP_NAME_WHITELIST_H_
#define BASE_TRACE_EVENT_MEMORY_DUMP_NAME_WHITELIST_H_

#include "base/strings/string_slice.h"

namespace base {

// Whether an allocator dump of this name may be reported in a background
// dump. Every "0x" followed by something, with the hexadecimal digits after
// it, counts as "0x?", so that dumps named after an address match.
bool IsMemoryAllocatorDumpNameWhitelisted(StringSlice name);

// Whether a memory-dump provider of this name may dump in background mode.
bool IsMemoryDumpProviderWhitelisted(StringSlice name);

}  // namespace base

#endif  // BASE_TRACE_EVENT_MEMORY_DUMP_NAME_WHITELIST_H_
