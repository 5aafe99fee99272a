// Allocation through the module's dispatch chain and the message buffer
// built on it, against the C runtime's heap for scale.

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "base/allocator/allocator_shim.h"
#include "base/metrics/heap_usage_scope.h"
#include "base/metrics/thread_heap_usage.h"
#include "base/binary_reader.h"
#include "base/binary_writer.h"
#include "bench/bench_harness.h"

namespace {

constexpr int kBatch = 1000;

void AllocateBatch(void* (*allocate)(size_t), void (*release)(void*)) {
  void* blocks[kBatch];
  for (int i = 0; i < kBatch; ++i) {
    blocks[i] = allocate(16 + (i % 16) * 8);
    bench::DoNotOptimize(blocks[i]);
  }
  for (int i = 0; i < kBatch; ++i)
    release(blocks[i]);
}

void NewBatch() {
  std::vector<std::unique_ptr<char[]>> blocks(kBatch);
  for (int i = 0; i < kBatch; ++i)
    blocks[i] = std::make_unique<char[]>(16 + (i % 16) * 8);
  bench::DoNotOptimize(blocks.data());
}

void MessageRoundTrip() {
  base::BinaryWriter writer;
  writer.WriteString(":Installer message:");
  writer.WriteUint32(5);
  writer.WriteUint32(37055);
  writer.WriteWideString(L"C:\\Users\\someone\\AppData\\Local\\Tarvo");
  writer.WriteString("could not create the installation folder");
  base::BinaryReader reader(writer);
  std::string text;
  std::wstring wide;
  uint32_t number;
  reader.ReadString(&text);
  reader.ReadUint32(&number);
  reader.ReadUint32(&number);
  reader.ReadWideString(&wide);
  reader.ReadString(&text);
  bench::DoNotOptimize(text.data());
}

}  // namespace

int main(int argc, char** argv) {
  bench::ReadArguments(argc, argv);
  bench::Report("AllocatorNew/AllocatorFree (16-136 B)",
                bench::MeasureRate([] {
                  AllocateBatch(&base::AllocatorNew, &base::AllocatorFree);
                }, kBatch) / 1e6,
                "M pairs/s");
  bench::Report("malloc/free of the runtime (16-136 B)",
                bench::MeasureRate([] { AllocateBatch(&malloc, &free); },
                                   kBatch) / 1e6,
                "M pairs/s");
  bench::Report("new[]/delete[] (16-136 B)",
                bench::MeasureRate(&NewBatch, kBatch) / 1e6, "M pairs/s");
  bench::Report("BinaryWriter+BinaryReader error message",
                bench::MeasureRate(&MessageRoundTrip, 1) / 1e6, "M msgs/s");

  // The hooks stay in for the rest of the process: measured last.
  base::InsertHeapUsageHooks();
  base::HeapUsageScope scope;
  scope.Start();
  bench::Report("AllocatorNew/AllocatorFree (16-136 B), heap-usage hooks in",
                bench::MeasureRate([] {
                  AllocateBatch(&base::AllocatorNew, &base::AllocatorFree);
                }, kBatch) / 1e6,
                "M pairs/s");
  scope.Stop(true);
  return 0;
}
