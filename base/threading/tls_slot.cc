#include "base/threading/tls_slot.h"

#include <windows.h>

#include <atomic>
#include <cstring>
#include <memory>

#include "base/logging.h"
#include "base/threading/lock.h"

namespace base {

namespace {

constexpr uint32_t kSlotCount = 256;

// A thread's value for one table entry. It counts only while `version`
// matches the version of the slot that reads it.
struct ThreadSlotEntry {
  void* value;
  uint32_t version;
};
static_assert(sizeof(ThreadSlotEntry) == 16);

enum SlotStatus : uint32_t { kSlotFree = 0, kSlotInUse = 1 };

struct SlotTableEntry {
  uint32_t status;
  TlsSlot::Destructor destructor;
  // Bumped by every Free, so that values left behind by the previous user
  // of the entry stay invisible.
  uint32_t version;
};

struct SlotTable {
  SlotTableEntry entries[kSlotCount];
  uint32_t last_handed_out;
};

// Guarded by SlotTableLock().
constinit SlotTable g_slot_table = {};

// The one Windows TLS index behind every slot; all ones until first use.
constinit std::atomic<DWORD> g_tls_index{TLS_OUT_OF_INDEXES};

Lock& SlotTableLock() {
  // Constant-initialised: there is no construction to race on.
  static constinit Lock lock;
  return lock;
}

DWORD GetTlsIndex() {
  DWORD index = g_tls_index.load(std::memory_order_acquire);
  if (index != TLS_OUT_OF_INDEXES)
    return index;
  DWORD own = TlsAlloc();
  CHECK(own != TLS_OUT_OF_INDEXES) << "no Windows TLS index left";
  if (g_tls_index.compare_exchange_strong(index, own,
                                          std::memory_order_acq_rel)) {
    return own;
  }
  // Another thread published its index first; `index` now holds it.
  TlsFree(own);
  return index;
}

ThreadSlotEntry* CreateThreadSlotArray(DWORD tls_index) {
  CHECK(TlsGetValue(tls_index) == nullptr)
      << "thread slot array made twice";
  // The heap allocation below may itself read or write slots, so a valid
  // (stack) array must be in place before it.
  ThreadSlotEntry stack_array[kSlotCount] = {};
  TlsSetValue(tls_index, stack_array);
  auto heap_array = std::make_unique<ThreadSlotEntry[]>(kSlotCount);
  std::memcpy(heap_array.get(), stack_array, sizeof(stack_array));
  TlsSetValue(tls_index, heap_array.get());
  // Owned through the TLS value from here on; freed at thread exit.
  return heap_array.release();
}

ThreadSlotEntry* GetThreadSlotArray() {
  DWORD tls_index = GetTlsIndex();
  auto* array = static_cast<ThreadSlotEntry*>(TlsGetValue(tls_index));
  return array ? array : CreateThreadSlotArray(tls_index);
}

// Runs the destructors of the exiting thread's values.
class ThreadSlots {
 public:
  static void OnThreadExit();

 private:
  // True when at least one destructor ran.
  static bool RunDestructorPass(ThreadSlotEntry* slots,
                                const SlotTableEntry* table);
};

// static
void ThreadSlots::OnThreadExit() {
  DWORD tls_index = g_tls_index.load(std::memory_order_acquire);
  if (tls_index == TLS_OUT_OF_INDEXES)
    return;
  auto* heap_array = static_cast<ThreadSlotEntry*>(TlsGetValue(tls_index));
  if (!heap_array)
    return;

  // Destructors may still read and write slots: they work on a stack copy.
  ThreadSlotEntry slots[kSlotCount];
  std::memcpy(slots, heap_array, sizeof(slots));
  TlsSetValue(tls_index, slots);
  std::unique_ptr<ThreadSlotEntry[]>{heap_array}.reset();

  // A snapshot, so that destructors run without the lock.
  SlotTableEntry table[kSlotCount];
  {
    AutoLock hold(SlotTableLock());
    std::memcpy(table, g_slot_table.entries, sizeof(table));
  }

  // A destructor may set other slots (or its own again): repeat while any
  // ran, but never more than once per possible slot.
  for (uint32_t pass = 0; pass < kSlotCount; ++pass) {
    if (!RunDestructorPass(slots, table))
      break;
  }
  TlsSetValue(tls_index, nullptr);
}

// static
bool ThreadSlots::RunDestructorPass(ThreadSlotEntry* slots,
                                    const SlotTableEntry* table) {
  bool ran = false;
  for (uint32_t i = 0; i < kSlotCount; ++i) {
    void* value = slots[i].value;
    const SlotTableEntry& entry = table[i];
    if (!value || entry.status != kSlotInUse ||
        entry.version != slots[i].version || !entry.destructor) {
      continue;
    }
    // Cleared first: the destructor may store a new value.
    slots[i].value = nullptr;
    entry.destructor(value);
    ran = true;
  }
  return ran;
}

void NTAPI TlsThreadExitCallback(PVOID module, DWORD reason, PVOID) {
  if (reason == DLL_THREAD_DETACH || reason == DLL_PROCESS_DETACH)
    ThreadSlots::OnThreadExit();
}

}  // namespace

// The loader calls every callback of this section at thread and process
// detach; the linker gathers the ".CRT$XL?" sections into the module's TLS
// callback list.
extern "C" {
__attribute__((used, section(".CRT$XLB")))
PIMAGE_TLS_CALLBACK base_tls_thread_exit_callback = TlsThreadExitCallback;
}

void TlsSlot::Initialize(Destructor destructor) {
  GetThreadSlotArray();
  index_ = kNoIndex;
  version_ = 0;
  {
    AutoLock hold(SlotTableLock());
    // Round-robin from the entry after the last one handed out, so that a
    // freed entry is reused as late as possible.
    for (uint32_t i = 0; i < kSlotCount; ++i) {
      uint32_t candidate = (g_slot_table.last_handed_out + 1 + i) % kSlotCount;
      SlotTableEntry& entry = g_slot_table.entries[candidate];
      if (entry.status != kSlotFree)
        continue;
      entry.status = kSlotInUse;
      entry.destructor = destructor;
      g_slot_table.last_handed_out = candidate;
      index_ = candidate;
      version_ = entry.version;
      break;
    }
  }
  CHECK(index_ < kSlotCount) << "all thread-local slots are in use";
  initialized_ = 1;
}

void TlsSlot::Free() {
  // A slot that holds no entry has nothing to give back; without this check
  // its index of all ones would address far beyond the table.
  if (index_ >= kSlotCount)
    return;
  {
    AutoLock hold(SlotTableLock());
    SlotTableEntry& entry = g_slot_table.entries[index_];
    entry.status = kSlotFree;
    entry.destructor = nullptr;
    ++entry.version;
  }
  index_ = kNoIndex;
  initialized_ = 0;
}

void* TlsSlot::Get() const {
  if (index_ >= kSlotCount)
    return nullptr;
  const ThreadSlotEntry& entry = GetThreadSlotArray()[index_];
  return entry.version == version_ ? entry.value : nullptr;
}

void TlsSlot::Set(void* value) {
  CHECK(index_ < kSlotCount) << "Set on a thread-local slot not initialised";
  GetThreadSlotArray()[index_] = {value, version_};
}

void TlsSlot::SetFlag(bool value) {
  Set(value ? this : nullptr);
}

}  // namespace base
