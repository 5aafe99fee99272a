// Writes what the diagnostics keep, so that tests can check the bytes with
// another implementation, and plays the second process of a shared segment.
//   metrics_tool ranges     stdin lines "<kind> <minimum> <maximum> <buckets>"
//                           (kind exponential, linear, counts or time); for
//                           each "<minimum> <maximum> <buckets> <flags>
//                           <checksum> <boundaries...>" or "refused"
//   metrics_tool hash       stdin lines of hex-encoded names; each name's id
//                           in hex
//   metrics_tool pickle     "<what> <hex payload>" lines: identity and
//                           samples of a fixed set of histograms
//   metrics_tool segment <histograms> <activities>
//                           writes a segment of histograms and one of a
//                           thread's activities, and prints what they hold
//   metrics_tool share-child <mapping> <size> <count>
//                           makes <count> histograms in the shared segment

#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "base/binary_writer.h"
#include "base/files/file_path.h"
#include "base/files/file_util.h"
#include "base/location.h"
#include "base/metrics/bucket_ranges.h"
#include "base/metrics/custom_histogram.h"
#include "base/metrics/histogram.h"
#include "base/metrics/histogram_samples.h"
#include "base/metrics/persistent_histogram_allocator.h"
#include "base/metrics/persistent_memory_allocator.h"
#include "base/metrics/sparse_histogram.h"
#include "base/posted_task.h"
#include "base/process/process.h"
#include "base/strings/string_format.h"
#include "base/strings/utf_string_conversions.h"
#include "base/test/shared_segment.h"
#include "base/threading/thread_name_registry.h"
#include "base/trace_event/activity_scope.h"
#include "base/trace_event/global_activity_tracker.h"

namespace base {
namespace {

std::string Hex(const uint8_t* data, size_t size) {
  std::string hex;
  for (size_t i = 0; i < size; ++i)
    AppendFormat(&hex, "%02x", data[i]);
  return hex;
}

std::string PayloadHex(const BinaryWriter& writer) {
  return Hex(writer.payload(), writer.payload_size());
}

HistogramBase* MakeHistogram(const std::string& kind, const std::string& name,
                             int64_t minimum, int64_t maximum,
                             int64_t buckets) {
  if (kind == "exponential") {
    return GetExponentialHistogram(name, static_cast<int32_t>(minimum),
                                   static_cast<int32_t>(maximum),
                                   static_cast<int32_t>(buckets), 0);
  }
  if (kind == "linear") {
    return GetLinearHistogram(name, static_cast<int32_t>(maximum),
                              static_cast<int32_t>(buckets));
  }
  if (kind == "counts")
    return GetCountsHistogram(name, static_cast<int32_t>(maximum));
  return GetTimeHistogram(name, TimeDelta::FromMilliseconds(minimum),
                          TimeDelta::FromMilliseconds(maximum));
}

int Ranges() {
  std::string line;
  for (int number = 0; std::getline(std::cin, line); ++number) {
    std::istringstream fields(line);
    std::string kind;
    int64_t minimum = 0;
    int64_t maximum = 0;
    int64_t buckets = 0;
    fields >> kind >> minimum >> maximum >> buckets;
    const auto* histogram = static_cast<const Histogram*>(
        MakeHistogram(kind, "Tool.Ranges." + std::to_string(number), minimum,
                      maximum, buckets));
    if (!histogram) {
      std::cout << "refused\n";
      continue;
    }
    const BucketRanges* ranges = histogram->bucket_ranges();
    std::cout << histogram->declared_min() << ' ' << histogram->declared_max()
              << ' ' << histogram->GetBucketCount() << ' ' << histogram->flags()
              << ' ' << ranges->checksum();
    for (size_t i = 0; i < ranges->size(); ++i)
      std::cout << ' ' << ranges->range(i);
    std::cout << '\n';
  }
  return 0;
}

int Hash() {
  std::string line;
  while (std::getline(std::cin, line)) {
    std::string name;
    for (size_t i = 0; i + 1 < line.size(); i += 2)
      name.push_back(
          static_cast<char>(std::stoi(line.substr(i, 2), nullptr, 16)));
    std::cout << FormatString(
        "%016llx\n", static_cast<unsigned long long>(HashHistogramName(name)));
  }
  return 0;
}

void PrintIdentityAndSamples(const std::string& what,
                             const HistogramBase& histogram) {
  BinaryWriter info;
  histogram.SerializeInfo(&info);
  BinaryWriter samples;
  histogram.SnapshotSamples()->Serialize(&samples);
  std::cout << what << "-info " << PayloadHex(info) << '\n'
            << what << "-samples " << PayloadHex(samples) << '\n';
}

int Pickle() {
  HistogramBase* exponential = GetExponentialHistogram(
      "Tool.Pickle", 1, 1000, 10,
      HistogramBase::MetricsTargeted | HistogramBase::MetricsStability);
  for (int32_t value : {-3, 0, 1, 5, 5, 999, 1000, INT_MAX})
    exponential->Add(value);
  exponential->AddCount(50, 3);
  PrintIdentityAndSamples("exponential", *exponential);

  HistogramBase* sparse = SparseHistogram::GetOrCreate("Tool.PickleSparse");
  for (int32_t value : {-5, 0, INT_MAX, 0})
    sparse->Add(value);
  PrintIdentityAndSamples("sparse", *sparse);

  BucketRanges ranges(5);
  const int32_t kBoundaries[] = {0, 1, 10, 100, INT_MAX};
  for (size_t i = 0; i < ranges.size(); ++i)
    ranges.set_range(i, kBoundaries[i]);
  ranges.ResetChecksum();
  CustomHistogram custom("Tool.PickleCustom", 1, 100, &ranges);
  custom.Add(10);
  PrintIdentityAndSamples("custom", custom);
  return 0;
}

bool WriteSegment(const wchar_t* path, const void* data, uint32_t size) {
  return WriteBufferToFile(FilePath(path), static_cast<const char*>(data),
                           static_cast<int>(size)) == static_cast<int>(size);
}

// Histograms made through the get-or-create entry points with the segment's
// allocator installed, as a process that kept its histograms there would.
bool WriteHistogramSegment(const wchar_t* path) {
  constexpr uint32_t kSize = 64 * 1024;
  std::vector<uint64_t> memory(kSize / 8);
  auto allocator = std::make_unique<PersistentHistogramAllocator>(
      PersistentMemoryAllocator::Create(memory.data(), kSize, 4096, 0x1234,
                                        false));
  PersistentHistogramAllocator::SetGlobalForTesting(allocator.get());

  HistogramBase* exponential = GetExponentialHistogram(
      "Tool.Exponential", 1, 1000, 10, HistogramBase::MetricsTargeted);
  for (int32_t value : {0, 1, 2, 7, 7, 500})
    exponential->Add(value);
  // Counted as logged: the second half of the counts.
  exponential->SnapshotDelta();
  for (int32_t value : {1000, 5000})
    exponential->Add(value);

  HistogramBase* linear = GetLinearHistogram("Tool.Linear", 6, 7);
  for (int32_t value = 0; value <= 7; ++value)
    linear->AddCount(value, value + 1);

  HistogramBase* sparse = SparseHistogram::GetOrCreate("Tool.Sparse");
  for (int32_t value : {-5, 0, INT_MAX, 0})
    sparse->Add(value);

  PersistentHistogramAllocator::SetGlobalForTesting(nullptr);
  return WriteSegment(path, memory.data(), kSize);
}

// The calling thread's activities, one more deep than its tracker has
// slots, and a log message.
bool WriteActivitySegment(const wchar_t* path) {
  constexpr uint32_t kSize = 16 * 1024;
  constexpr uint32_t kTrackerSize = 80 + 4 * 128;
  std::vector<uint64_t> memory(kSize / 8);
  GlobalActivityTracker* global = GlobalActivityTracker::CreateForTesting(
      PersistentMemoryAllocator::Create(memory.data(), kSize, kSize, 0x5678,
                                        false),
      kTrackerSize);
  ThreadNameRegistry::GetInstance()->SetName(GetCurrentThreadId(),
                                             "ToolMainThread");
  static int lock = 0;
  PostedTask task(SourceLocation("Posting", "tool.cc", 1,
                                 reinterpret_cast<const void*>(0x7000)),
                  Closure(), TickTime(), true);
  task.sequence_num = 77;
  const void* const event = reinterpret_cast<void*>(0x1234);
  bool written = false;
  {
    TaskRunActivityScope run(reinterpret_cast<const void*>(0x1000), task);
    // After the tracker: an overflow would show as a broken header here.
    RecordLogMessageForActivityTracker(global, "tool message");
    LockAcquireActivityScope acquire(reinterpret_cast<const void*>(0x2000),
                                     &lock);
    EventWaitActivityScope wait(reinterpret_cast<const void*>(0x3000),
                                const_cast<void*>(event));
    ThreadJoinActivityScope join(reinterpret_cast<const void*>(0x4000),
                                 GetCurrentThread());
    ProcessWaitActivityScope process(Process::Current());
    written = WriteSegment(path, memory.data(), kSize);
  }
  std::cout << "pid " << GetCurrentProcessId() << '\n'
            << "tid " << GetCurrentThreadId() << '\n'
            << FormatString("lock %llx\n",
                            static_cast<unsigned long long>(
                                reinterpret_cast<uintptr_t>(&lock)));
  GlobalActivityTracker::ReleaseForTesting();
  return written;
}

int Segment(const wchar_t* histograms, const wchar_t* activities) {
  return WriteHistogramSegment(histograms) && WriteActivitySegment(activities)
             ? 0
             : 1;
}

// The child's side of a segment shared with a test: histograms "Shared.<i>"
// with i + 1 samples of i, and a sparse one with a sample per histogram.
int ShareChild(const wchar_t* mapping, uint32_t size, int count) {
  SharedSegment segment = SharedSegment::Open(mapping, size);
  if (!segment.IsValid())
    return 2;
  auto allocator = std::make_unique<PersistentHistogramAllocator>(
      PersistentMemoryAllocator::Create(segment.data(), size, 4096, 0, false));
  if (!allocator->memory_allocator())
    return 3;
  PersistentHistogramAllocator::SetGlobalForTesting(allocator.get());
  HistogramBase* sparse = SparseHistogram::GetOrCreate("Shared.Sparse");
  for (int i = 0; i < count; ++i) {
    HistogramBase* histogram =
        GetExponentialHistogram("Shared." + std::to_string(i), 1, 1000, 20,
                                HistogramBase::MetricsTargeted);
    if (!histogram)
      return 4;
    histogram->AddCount(i, i + 1);
    sparse->Add(i);
  }
  PersistentHistogramAllocator::SetGlobalForTesting(nullptr);
  return 0;
}

}  // namespace
}  // namespace base

int wmain(int argc, wchar_t** argv) {
  _setmode(_fileno(stdin), _O_BINARY);
  _setmode(_fileno(stdout), _O_BINARY);
  const std::wstring mode = argc > 1 ? argv[1] : L"";
  if (mode == L"ranges")
    return base::Ranges();
  if (mode == L"hash")
    return base::Hash();
  if (mode == L"pickle")
    return base::Pickle();
  if (mode == L"segment" && argc == 4)
    return base::Segment(argv[2], argv[3]);
  if (mode == L"share-child" && argc == 5) {
    return base::ShareChild(argv[2], static_cast<uint32_t>(_wtoi(argv[3])),
                            _wtoi(argv[4]));
  }
  std::cerr << "usage: metrics_tool ranges|hash|pickle|segment|share-child\n";
  return 2;
}
