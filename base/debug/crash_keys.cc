#include "base/debug/crash_keys.h"

#include <memory>
#include <unordered_map>

#include "base/strings/string_number_conversions.h"

namespace base {
namespace {

using CrashKeyMap = std::unordered_map<std::string, CrashKeyRegistration>;

// Set once at start-up by crash reporting, then only read.
struct CrashKeyState {
  std::unique_ptr<CrashKeyMap> keys;
  size_t chunk_length = 0;
  CrashKeys::SetFunction set = nullptr;
  CrashKeys::ClearFunction clear = nullptr;
};

CrashKeyState& State() {
  static CrashKeyState state;
  return state;
}

// A chunk length of 0 cannot split anything: such a table stores every
// value whole, one key each, instead of dividing by zero.
size_t StoredKeyCount(size_t max_length, size_t chunk_length) {
  if (chunk_length == 0) return 1;
  return (max_length + chunk_length - 1) / chunk_length;
}

bool IsChunked(const CrashKeyRegistration& registration, size_t chunk_length) {
  return chunk_length != 0 && registration.max_length > chunk_length;
}

std::string ChunkName(StringSlice key, size_t number) {
  return key.AsString() + "-" + Uint64ToString(number);
}

}  // namespace

// static
size_t CrashKeys::Init(const CrashKeyRegistration* registrations, size_t count,
                       size_t chunk_length) {
  CrashKeyState& state = State();
  state.chunk_length = chunk_length;
  if (!registrations) {
    state.keys.reset();
    return 0;
  }
  auto keys = std::make_unique<CrashKeyMap>();
  size_t stored_keys = 0;
  for (size_t i = 0; i < count; ++i) {
    const CrashKeyRegistration& registration = registrations[i];
    if (keys->emplace(registration.name, registration).second)
      stored_keys += StoredKeyCount(registration.max_length, chunk_length);
  }
  state.keys = std::move(keys);
  return stored_keys;
}

// static
void CrashKeys::SetReportingFunctions(SetFunction set, ClearFunction clear) {
  State().set = set;
  State().clear = clear;
}

// static
const CrashKeyRegistration* CrashKeys::Lookup(StringSlice name) {
  const CrashKeyState& state = State();
  if (!state.keys) return nullptr;
  auto it = state.keys->find(name.AsString());
  return it == state.keys->end() ? nullptr : &it->second;
}

// static
void CrashKeys::SetValue(StringSlice key, StringSlice value) {
  const CrashKeyState& state = State();
  if (!state.set || !state.keys) return;
  const CrashKeyRegistration* registration = Lookup(key);
  if (!registration || !IsChunked(*registration, state.chunk_length)) {
    state.set(key, value);
    return;
  }
  const std::vector<std::string> chunks = ChunkValue(*registration, value);
  const size_t stored_keys =
      StoredKeyCount(registration->max_length, state.chunk_length);
  // Chunks left over from a longer earlier value would otherwise be read back
  // as part of this one.
  if (state.clear) {
    for (size_t i = chunks.size() + 1; i <= stored_keys; ++i)
      state.clear(ChunkName(key, i));
  }
  for (size_t i = 0; i < chunks.size(); ++i)
    state.set(ChunkName(key, i + 1), chunks[i]);
}

// static
std::vector<std::string> CrashKeys::ChunkValue(
    const CrashKeyRegistration& registration, StringSlice value) {
  const StringSlice kept = value.Substr(0, registration.max_length);
  // Without a chunk length the value stays in one piece.
  const size_t chunk_length =
      State().chunk_length ? State().chunk_length : kept.size();
  std::vector<std::string> chunks;
  for (size_t offset = 0; offset < kept.size(); offset += chunk_length)
    chunks.push_back(kept.Substr(offset, chunk_length).AsString());
  return chunks;
}

}  // namespace base
