#include "base/metrics/persistent_histogram_allocator.h"

#include <windows.h>

#include <climits>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "base/files/file_path.h"
#include "base/metrics/bucket_ranges.h"
#include "base/metrics/histogram.h"
#include "base/metrics/histogram_registry.h"
#include "base/metrics/histogram_samples.h"
#include "base/metrics/persistent_sample_map.h"
#include "base/metrics/sample_map.h"
#include "base/metrics/sparse_histogram.h"
#include "base/process/launch.h"
#include "base/process/process.h"
#include "base/test/histogram_counts.h"
#include "base/test/shared_segment.h"
#include "gtest/gtest.h"

namespace base {
namespace {

using Reference = PersistentMemoryAllocator::Reference;
using Allocator = PersistentHistogramAllocator;

std::unique_ptr<Allocator> MakeAllocator(std::vector<uint64_t>* memory,
                                         uint32_t page_size = 4096) {
  return std::make_unique<Allocator>(PersistentMemoryAllocator::Create(
      memory->data(), static_cast<uint32_t>(memory->size() * 8), page_size, 1,
      false));
}

// Installs an allocator for the process's get-or-create calls while it
// lives.
class ScopedGlobalAllocator {
 public:
  explicit ScopedGlobalAllocator(Allocator* allocator)
      : previous_(Allocator::SetGlobalForTesting(allocator)) {}
  ~ScopedGlobalAllocator() { Allocator::SetGlobalForTesting(previous_); }

 private:
  Allocator* const previous_;
};

class PersistentHistogramAllocatorTest : public testing::Test {
 protected:
  // Made here, on the heap and in the process's registry, before any test
  // installs an allocator whose segment would end with the test.
  static void SetUpTestSuite() {
    std::vector<uint64_t> memory(512);
    MakeAllocator(&memory)->GetHistogram(0);
    results_ =
        HistogramRegistry::Find("Metrics.CreatePersistentHistogram.Result");
    negatives_ = GetLinearHistogram("Metrics.NegativeSamples.Reason", 2, 3);
  }

  static HistogramBase::Count Results(Allocator::RecordResult result) {
    return CountOf(results_, result);
  }

  static HistogramBase* results_;
  static HistogramBase* negatives_;
};

HistogramBase* PersistentHistogramAllocatorTest::results_ = nullptr;
HistogramBase* PersistentHistogramAllocatorTest::negatives_ = nullptr;

TEST_F(PersistentHistogramAllocatorTest, FullSegmentFallsBackToTheHeap) {
  ASSERT_NE(nullptr, results_);
  HistogramRegistry::ScopedMapsForTesting registry;
  std::vector<uint64_t> memory(4096 / 8);
  std::unique_ptr<Allocator> allocator = MakeAllocator(&memory);
  ASSERT_NE(0u, allocator->memory_allocator()->Allocate(3900, 1));
  ScopedGlobalAllocator global(allocator.get());
  const HistogramBase::Count full = Results(Allocator::kAllocatorFull);

  HistogramBase* histogram = GetExponentialHistogram(
      "Persistent.Fallback", 1, 1000, 50, HistogramBase::MetricsTargeted);
  ASSERT_NE(nullptr, histogram);
  EXPECT_EQ(HistogramBase::MetricsTargeted, histogram->flags());
  histogram->Add(20);
  EXPECT_EQ(1, CountOf(histogram, 20));
  EXPECT_EQ(full + 1, Results(Allocator::kAllocatorFull));
  EXPECT_TRUE(allocator->memory_allocator()->IsFull());
}

TEST_F(PersistentHistogramAllocatorTest,
       AnotherAllocatorRebuildsTheHistograms) {
  std::vector<uint64_t> memory(64 * 1024 / 8);
  std::unique_ptr<Allocator> writer = MakeAllocator(&memory);
  HistogramBase* exponential = nullptr;
  HistogramBase* linear = nullptr;
  HistogramBase* sparse = nullptr;
  {
    HistogramRegistry::ScopedMapsForTesting registry;
    ScopedGlobalAllocator global(writer.get());
    exponential = GetExponentialHistogram("Persistent.Exponential", 1, 1000, 10,
                                          HistogramBase::MetricsTargeted);
    linear = GetLinearHistogram("Persistent.Linear", 6, 7);
    sparse = SparseHistogram::GetOrCreate("Persistent.Sparse");
  }
  for (HistogramBase* histogram : {exponential, linear, sparse}) {
    ASSERT_NE(nullptr, histogram);
    EXPECT_EQ(HistogramBase::MetricsTargeted | HistogramBase::Persistent,
              histogram->flags());
  }
  exponential->AddCount(30, 3);
  linear->Add(5);
  sparse->AddCount(-7, 2);
  sparse->Add(INT_MAX);

  HistogramRegistry::ScopedMapsForTesting registry;
  std::unique_ptr<Allocator> reader = MakeAllocator(&memory);
  reader->ImportHistograms();
  HistogramBase* const originals[] = {exponential, linear, sparse};
  for (HistogramBase* original : originals) {
    SCOPED_TRACE(original->histogram_name());
    HistogramBase* imported =
        HistogramRegistry::Find(original->histogram_name());
    ASSERT_NE(nullptr, imported);
    EXPECT_NE(original, imported);
    EXPECT_EQ(original->GetHistogramType(), imported->GetHistogramType());
    EXPECT_EQ(original->NameHash(), imported->NameHash());
    std::string original_text;
    std::string imported_text;
    original->WriteAscii(&original_text);
    imported->WriteAscii(&imported_text);
    EXPECT_EQ(original_text, imported_text);
  }
  // Both sides count into the same records, also for values new to one.
  HistogramBase* imported_sparse = HistogramRegistry::Find("Persistent.Sparse");
  imported_sparse->Add(-7);
  sparse->Add(12);
  EXPECT_EQ(3, CountOf(sparse, -7));
  EXPECT_EQ(1, CountOf(imported_sparse, 12));
  HistogramRegistry::Find("Persistent.Exponential")->Add(30);
  EXPECT_EQ(4, CountOf(exponential, 30));

  // Logged sparse samples keep records under the next id.
  sparse->SnapshotDelta();
  PersistentMemoryAllocator::Iterator records(writer->memory_allocator());
  int live = 0;
  int logged = 0;
  while (Reference ref =
             records.GetNextOfType(Allocator::kTypeIdSampleRecord)) {
    const uint64_t id = *writer->memory_allocator()->GetPayload<uint64_t>(
        ref, Allocator::kTypeIdSampleRecord);
    live += id == sparse->NameHash();
    logged += id == sparse->NameHash() + 1;
  }
  EXPECT_EQ(3, live);
  EXPECT_EQ(3, logged);
}

// The payload of the histogram record at `ref`, as uint32 fields.
uint32_t* RecordFields(Allocator* allocator, Reference ref) {
  return static_cast<uint32_t*>(allocator->memory_allocator()->GetBlockData(
      ref, Allocator::kTypeIdHistogram, 88));
}

TEST_F(PersistentHistogramAllocatorTest, DamagedRecordsAreRefused) {
  struct Case {
    const char* what;
    void (*damage)(Allocator* allocator, Reference ref, uint32_t* fields);
    Allocator::RecordResult result;
  };
  // Field indexes: 0 type, 4 bucket count, 5 boundaries, 6 checksum,
  // 7 counts, 8 and 14 the metadata ids, 20 the name.
  const Case kCases[] = {
      {"intact", [](Allocator*, Reference, uint32_t*) {}, Allocator::kBuilt},
      {"name not terminated",
       [](Allocator* allocator, Reference ref, uint32_t* fields) {
         memset(fields + 20, 'x',
                allocator->memory_allocator()->GetAllocSize(ref) - 80);
       },
       Allocator::kBadRecord},
      {"no id",
       [](Allocator*, Reference, uint32_t* fields) {
         fields[8] = fields[9] = 0;
       },
       Allocator::kBadRecord},
      {"boundaries not rising",
       [](Allocator* allocator, Reference, uint32_t* fields) {
         auto* boundaries =
             static_cast<int32_t*>(allocator->memory_allocator()->GetBlockData(
                 fields[5], Allocator::kTypeIdRanges, 8));
         boundaries[2] = boundaries[1];
       },
       Allocator::kBadBoundaries},
      {"checksum differs",
       [](Allocator*, Reference, uint32_t* fields) { ++fields[6]; },
       Allocator::kBadBoundaries},
      {"boundaries short of INT32_MAX",
       [](Allocator* allocator, Reference, uint32_t* fields) {
         BucketRanges ranges(fields[4] + 1);
         auto* boundaries =
             static_cast<int32_t*>(allocator->memory_allocator()->GetBlockData(
                 fields[5], Allocator::kTypeIdRanges, 8));
         boundaries[fields[4]] = 5000;
         for (uint32_t i = 0; i <= fields[4]; ++i)
           ranges.set_range(i, boundaries[i]);
         fields[6] = ranges.CalculateChecksum();
       },
       Allocator::kBadBoundaries},
      {"bucket count beyond the boundaries",
       [](Allocator*, Reference, uint32_t* fields) { fields[4] = 0x3FFFFFFE; },
       Allocator::kBadBoundaries},
      {"counts block too small",
       [](Allocator*, Reference, uint32_t* fields) { fields[7] = fields[5]; },
       Allocator::kBadCounts},
      {"unknown type",
       [](Allocator*, Reference, uint32_t* fields) { fields[0] = 9; },
       Allocator::kUnknownType},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.what);
    HistogramRegistry::ScopedMapsForTesting registry;
    std::vector<uint64_t> memory(16 * 1024 / 8);
    std::unique_ptr<Allocator> allocator = MakeAllocator(&memory);
    {
      ScopedGlobalAllocator global(allocator.get());
      ASSERT_NE(nullptr, GetLinearHistogram("Persistent.Damaged", 10, 11));
    }
    PersistentMemoryAllocator::Iterator iterator(allocator->memory_allocator());
    const Reference ref = iterator.GetNextOfType(Allocator::kTypeIdHistogram);
    c.damage(allocator.get(), ref, RecordFields(allocator.get(), ref));
    const HistogramBase::Count before = Results(c.result);
    std::unique_ptr<HistogramBase> rebuilt = allocator->GetHistogram(ref);
    EXPECT_EQ(c.result == Allocator::kBuilt, rebuilt != nullptr);
    EXPECT_EQ(before + 1, Results(c.result));
  }
}

TEST_F(PersistentHistogramAllocatorTest, SubtractingMoreThanCountedLeavesZero) {
  std::vector<uint64_t> memory(4096 / 8);
  std::unique_ptr<Allocator> allocator = MakeAllocator(&memory);
  HistogramSampleMetadata meta = {};
  PersistentSampleMap map(99, allocator.get(), &meta);
  map.Accumulate(9, 3);
  SampleMap taken(99);
  taken.Accumulate(9, 5);
  taken.Accumulate(4, 1);
  const HistogramBase::Count below = CountOf(negatives_, 1);
  const HistogramBase::Count missing = CountOf(negatives_, 0);
  map.Subtract(taken);
  EXPECT_EQ(0, map.GetCount(9));
  EXPECT_EQ(0, map.GetCount(4));
  EXPECT_EQ(below + 1, CountOf(negatives_, 1));
  EXPECT_EQ(missing + 1, CountOf(negatives_, 0));
  EXPECT_EQ(99u, meta.id);
}

// The child's histograms as metrics_tool's share-child makes them.
constexpr int kChildHistograms = 40;
constexpr uint32_t kSharedSize = 1024 * 1024;

FilePath MetricsToolPath() {
  wchar_t module[MAX_PATH];
  const DWORD length = ::GetModuleFileNameW(nullptr, module, MAX_PATH);
  return FilePath(std::wstring(module, length))
      .DirName()
      .Append(L"metrics_tool.exe");
}

TEST_F(PersistentHistogramAllocatorTest, TwoProcessesShareOneSegment) {
  const std::wstring name =
      L"Local\\tarvo-metrics-test-" + std::to_wstring(::GetCurrentProcessId());
  SharedSegment segment = SharedSegment::Create(name, kSharedSize);
  ASSERT_TRUE(segment.IsValid());
  Allocator allocator(PersistentMemoryAllocator::Create(
      segment.data(), kSharedSize, 4096, 7, false));
  ASSERT_NE(nullptr, allocator.memory_allocator());
  HistogramRegistry::ScopedMapsForTesting registry;

  Process child =
      LaunchProcess(L"\"" + MetricsToolPath().value() + L"\" share-child " +
                        name + L" " + std::to_wstring(kSharedSize) + L" " +
                        std::to_wstring(kChildHistograms),
                    ProcessLaunchOptions());
  ASSERT_TRUE(child.IsValid());
  // Import while the child still makes histograms, then once more.
  int exit_code = -1;
  while (!child.WaitForExitWithTimeout(TimeDelta(), &exit_code))
    allocator.ImportHistograms();
  ASSERT_EQ(0, exit_code);
  allocator.ImportHistograms();

  for (int i = 0; i < kChildHistograms; ++i) {
    SCOPED_TRACE(i);
    HistogramBase* histogram =
        HistogramRegistry::Find("Shared." + std::to_string(i));
    ASSERT_NE(nullptr, histogram);
    EXPECT_EQ(i + 1, CountOf(histogram, i));
    EXPECT_EQ(i + 1, TotalCountOf(histogram));
  }
  HistogramBase* sparse = HistogramRegistry::Find("Shared.Sparse");
  ASSERT_NE(nullptr, sparse);
  EXPECT_EQ(kChildHistograms, TotalCountOf(sparse));
  EXPECT_EQ(1, CountOf(sparse, kChildHistograms - 1));

  // Every record the child published is walked once.
  PersistentMemoryAllocator::Iterator iterator(allocator.memory_allocator());
  int records = 0;
  while (Reference ref = iterator.GetNextOfType(Allocator::kTypeIdHistogram)) {
    const char* record_name =
        reinterpret_cast<const char*>(RecordFields(&allocator, ref) + 20);
    records += strncmp(record_name, "Shared.", 7) == 0;
  }
  EXPECT_EQ(kChildHistograms + 1, records);
  EXPECT_FALSE(allocator.memory_allocator()->IsCorrupt());
}

}  // namespace
}  // namespace base
