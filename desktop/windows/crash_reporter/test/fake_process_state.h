#ifndef DESKTOP_WINDOWS_CRASH_REPORTER_TEST_FAKE_PROCESS_STATE_H_
#define DESKTOP_WINDOWS_CRASH_REPORTER_TEST_FAKE_PROCESS_STATE_H_

#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "desktop/windows/crash_reporter/process_state.h"

namespace installer::test {

// A crashed process made up in full: its memory is a few regions of bytes,
// everything else reads as unmapped.
class FakeProcessState : public ProcessState {
 public:
  class Module : public ModuleInfo {
   public:
    Module(std::string name, std::string version, uint64_t base, uint32_t size,
           uint64_t code_end, uint32_t timestamp)
        : name_(std::move(name)), version_(std::move(version)), base_(base),
          size_(size), code_end_(code_end), timestamp_(timestamp) {}
    const char* GetName() const override { return name_.c_str(); }
    uint64_t GetBase() const override { return base_; }
    uint32_t GetSize() const override { return size_; }
    uint64_t GetCodeBase() const override { return base_; }
    uint64_t GetCodeEnd() const override { return code_end_; }
    const char* GetVersion() const override { return version_.c_str(); }
    uint32_t GetTimestamp() const override { return timestamp_; }

   private:
    std::string name_;
    std::string version_;
    uint64_t base_;
    uint32_t size_;
    uint64_t code_end_;
    uint32_t timestamp_;
  };

  class Thread : public ThreadInfo {
   public:
    Thread(uint32_t id, int32_t priority, bool crashed, uint64_t stack_size,
           const ThreadRegisters& registers)
        : id_(id), priority_(priority), crashed_(crashed),
          stack_size_(stack_size), registers_(registers) {}
    uint32_t GetThreadId() const override { return id_; }
    int32_t GetPriority() const override { return priority_; }
    const ThreadRegisters& GetRegisters() const override { return registers_; }
    uint64_t GetStackSize() const override { return stack_size_; }
    bool IsCrashed() const override { return crashed_; }

   private:
    uint32_t id_;
    int32_t priority_;
    bool crashed_;
    uint64_t stack_size_;
    ThreadRegisters registers_;
  };

  FakeProcessState(uint32_t exception_code, uint64_t exception_address)
      : exception_code_(exception_code),
        exception_address_(exception_address) {}

  void AddMemory(uint64_t address, std::vector<uint8_t> bytes) {
    memory_[address] = std::move(bytes);
  }
  // A region of `size` bytes whose every 8-byte slot holds its own address.
  void AddSelfPointingMemory(uint64_t address, size_t size) {
    std::vector<uint8_t> bytes(size);
    for (size_t offset = 0; offset + 8 <= size; offset += 8) {
      const uint64_t value = address + offset;
      std::memcpy(bytes.data() + offset, &value, 8);
    }
    AddMemory(address, std::move(bytes));
  }
  void AddModule(std::unique_ptr<Module> module, bool is_main) {
    if (is_main)
      main_ = module.get();
    modules_.push_back(std::move(module));
  }
  void AddThread(std::unique_ptr<Thread> thread) {
    threads_.push_back(std::move(thread));
  }

  bool CanReadByte(uint64_t address) const override {
    size_t available = 0;
    return Find(address, &available) != nullptr;
  }
  uint32_t GetExceptionCode() const override { return exception_code_; }
  const char* GetExceptionName() const override { return nullptr; }
  uint64_t GetExceptionAddress() const override { return exception_address_; }
  const std::vector<std::unique_ptr<ThreadInfo>>& GetThreads() const override {
    return threads_;
  }
  const ModuleInfo* GetMainModule() const override { return main_; }
  const std::vector<std::unique_ptr<ModuleInfo>>& GetModules() const override {
    return modules_;
  }
  std::unique_ptr<MemoryReader> CreateMemoryReader() const override {
    return std::make_unique<Reader>(this);
  }

 private:
  // Reads up to the end of the region that holds the address.
  class Reader : public MemoryReader {
   public:
    explicit Reader(const FakeProcessState* state) : state_(state) {}
    const uint8_t* Read(uint64_t address,
                        size_t size,
                        size_t* bytes_read) override {
      size_t available = 0;
      const uint8_t* bytes = state_->Find(address, &available);
      *bytes_read = bytes ? std::min(size, available) : 0;
      return bytes && size ? bytes : nullptr;
    }

   private:
    const FakeProcessState* state_;
  };

  const uint8_t* Find(uint64_t address, size_t* available) const {
    auto region = memory_.upper_bound(address);
    if (region == memory_.begin())
      return nullptr;
    --region;
    const uint64_t offset = address - region->first;
    if (offset >= region->second.size())
      return nullptr;
    *available = region->second.size() - offset;
    return region->second.data() + offset;
  }

  uint32_t exception_code_;
  uint64_t exception_address_;
  std::map<uint64_t, std::vector<uint8_t>> memory_;
  std::vector<std::unique_ptr<ModuleInfo>> modules_;
  const ModuleInfo* main_ = nullptr;
  std::vector<std::unique_ptr<ThreadInfo>> threads_;
};

}  // namespace installer::test

#endif  // DESKTOP_WINDOWS_CRASH_REPORTER_TEST_FAKE_PROCESS_STATE_H_
