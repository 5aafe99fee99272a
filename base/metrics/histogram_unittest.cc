#include "base/metrics/histogram.h"

#include <climits>
#include <memory>
#include <string>
#include <vector>

#include "base/binary_reader.h"
#include "base/binary_writer.h"
#include "base/bind.h"
#include "base/metrics/bucket_ranges.h"
#include "base/metrics/histogram_registry.h"
#include "base/metrics/histogram_samples.h"
#include "base/metrics/sample_map.h"
#include "base/metrics/sample_vector.h"
#include "base/metrics/sparse_histogram.h"
#include "base/test/histogram_counts.h"
#include "base/values.h"
#include "gtest/gtest.h"

namespace base {
namespace {

const Histogram* AsBucketed(const HistogramBase* histogram) {
  return static_cast<const Histogram*>(histogram);
}

std::vector<int32_t> Boundaries(const HistogramBase* histogram) {
  const BucketRanges* ranges = AsBucketed(histogram)->bucket_ranges();
  return std::vector<int32_t>(ranges->data(), ranges->data() + ranges->size());
}

TEST(HistogramTest, EntryPointsClampOrRefuseTheShape) {
  HistogramRegistry::ScopedMapsForTesting registry;
  struct Case {
    const char* name;
    HistogramBase* (*make)(const char* name);
    // Refused when `buckets` is 0.
    int32_t minimum;
    int32_t maximum;
    int32_t buckets;
  };
  const Case kCases[] = {
      {"Clamp.Buckets",
       [](const char* n) {
         return GetExponentialHistogram(n, 1, 100, 20000, 0);
       },
       1, 100, 16383},
      {"Clamp.Maximum",
       [](const char* n) {
         return GetExponentialHistogram(n, 1, INT_MAX, 10, 0);
       },
       1, 0x7FFFFFFE, 10},
      {"Clamp.Minimum",
       [](const char* n) { return GetExponentialHistogram(n, 0, 100, 10, 0); },
       1, 100, 10},
      {"Clamp.LinearMaximum",
       [](const char* n) { return GetLinearHistogram(n, INT_MAX, 20000); }, 1,
       0x7FFFFFFE, 16383},
      {"Clamp.Counts",
       [](const char* n) { return GetCountsHistogram(n, INT_MAX); }, 1,
       0x7FFFFFFE, 50},
      {"Clamp.Time",
       [](const char* n) {
         return GetTimeHistogram(n, TimeDelta::Max(),
                                 TimeDelta::FromSeconds(30 * 86400));
       },
       1, 0x7FFFFFFE, 50},
      {"Refuse.NoBuckets",
       [](const char* n) { return GetExponentialHistogram(n, 1, 100, 0, 0); }},
      {"Refuse.TwoBuckets",
       [](const char* n) { return GetLinearHistogram(n, 100, 2); }},
      {"Refuse.Flat",
       [](const char* n) { return GetExponentialHistogram(n, 5, 5, 10, 0); }},
      {"Refuse.Inverted",
       [](const char* n) { return GetLinearHistogram(n, 0, 10); }},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    HistogramBase* histogram = c.make(c.name);
    if (c.buckets == 0) {
      EXPECT_EQ(nullptr, histogram);
      continue;
    }
    ASSERT_NE(nullptr, histogram);
    EXPECT_TRUE(
        histogram->HasConstructionArguments(c.minimum, c.maximum, c.buckets));
    const std::vector<int32_t> boundaries = Boundaries(histogram);
    EXPECT_EQ(0, boundaries.front());
    EXPECT_EQ(INT_MAX, boundaries.back());
    EXPECT_EQ(0u, histogram->FindCorruption(*histogram->SnapshotSamples()));
  }
}

TEST(HistogramTest, ExtremeSamplesLandInTheEndBuckets) {
  HistogramRegistry::ScopedMapsForTesting registry;
  HistogramBase* histogram = GetLinearHistogram("Extremes", 4, 5);
  ASSERT_EQ(std::vector<int32_t>({0, 1, 2, 3, 4, INT_MAX}),
            Boundaries(histogram));
  for (int32_t value : {INT_MIN, -1, 0, 3, 4, 1000, INT_MAX})
    histogram->Add(value);
  histogram->AddCount(2, 0);
  histogram->AddCount(2, -4);
  std::unique_ptr<HistogramSamples> samples = histogram->SnapshotSamples();
  EXPECT_EQ(3, samples->GetCount(0));
  EXPECT_EQ(0, samples->GetCount(2));
  EXPECT_EQ(1, samples->GetCount(3));
  EXPECT_EQ(3, samples->GetCount(0x7FFFFFFE));
  EXPECT_EQ(7, samples->TotalCount());
  EXPECT_EQ(7, samples->redundant_count());
  // INT32_MAX counts as the largest sample kept, 0x7FFFFFFE.
  EXPECT_EQ(3 + 4 + 1000 + int64_t{0x7FFFFFFE}, samples->sum());
}

TEST(HistogramTest, DeltasReturnEachSampleOnce) {
  HistogramRegistry::ScopedMapsForTesting registry;
  HistogramBase* bucketed = GetExponentialHistogram("Deltas", 1, 1000, 10, 0);
  HistogramBase* sparse = SparseHistogram::GetOrCreate("Deltas.Sparse");
  for (HistogramBase* histogram : {bucketed, sparse}) {
    SCOPED_TRACE(histogram->histogram_name());
    histogram->AddCount(5, 3);
    histogram->Add(700);
    std::unique_ptr<HistogramSamples> first = histogram->SnapshotDelta();
    EXPECT_EQ(4, first->TotalCount());
    EXPECT_EQ(3, first->GetCount(5));
    EXPECT_EQ(0, histogram->SnapshotDelta()->TotalCount());

    histogram->Add(5);
    std::unique_ptr<HistogramSamples> last = histogram->SnapshotFinalDelta();
    EXPECT_EQ(1, last->TotalCount());
    EXPECT_EQ(5, last->sum());
    // The final delta marks nothing as logged.
    EXPECT_EQ(1, histogram->SnapshotDelta()->GetCount(5));
    EXPECT_EQ(5, TotalCountOf(histogram));
  }
}

std::string Bar(int dashes) {
  return std::string(dashes, '-') + "O" + std::string(72 - dashes, ' ');
}

TEST(HistogramTest, RendersTheTextGolden) {
  HistogramRegistry::ScopedMapsForTesting registry;
  struct Case {
    HistogramBase* histogram;
    std::vector<int32_t> samples;
    std::string expected;
  };
  const Case kCases[] = {
      {GetLinearHistogram("Golden", 4, 5),
       {1, 1, 3, 11},
       "Histogram: Golden recorded 4 samples, mean = 4.0 (flags = 0x1)\n"
       "0  " +
           Bar(0) +
           " (0 = 0.0%)\n"
           "1  " +
           Bar(72) +
           " (2 = 50.0%) {0.0%}\n"
           "2  " +
           Bar(0) +
           " (0 = 0.0%) {50.0%}\n"
           "3  " +
           Bar(36) +
           " (1 = 25.0%) {50.0%}\n"
           "4  " +
           Bar(0) + " (1 = 25.0%) {75.0%}\n"},
      {GetLinearHistogram("Golden.Run", 10, 11),
       {1, 9},
       "Histogram: Golden.Run recorded 2 samples, mean = 5.0 (flags = 0x1)\n"
       "0  " +
           Bar(0) +
           " (0 = 0.0%)\n"
           "1  " +
           Bar(72) +
           " (1 = 50.0%) {0.0%}\n"
           "2  ... \n"
           "9  " +
           Bar(72) +
           " (1 = 50.0%) {50.0%}\n"
           "10 " +
           Bar(0) + " (0 = 0.0%) {100.0%}\n"},
      {SparseHistogram::GetOrCreate("Golden.Sparse"),
       {-5, 0, INT_MAX, 0},
       "Histogram: Golden.Sparse recorded 4 samples (flags = 0x1)\n"
       "-5        " +
           Bar(36) +
           " (1 = 25.0%)\n"
           "0         " +
           Bar(72) +
           " (2 = 50.0%)\n"
           "2147483647" +
           Bar(36) + " (1 = 25.0%)\n"},
      // Nothing to scale bars by: the header alone.
      {GetCountsHistogram("Golden.Empty", 100),
       {},
       "Histogram: Golden.Empty recorded 0 samples (flags = 0x1)\n"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.histogram->histogram_name());
    for (int32_t value : c.samples)
      c.histogram->Add(value);
    std::string text;
    c.histogram->WriteAscii(&text);
    EXPECT_EQ(c.expected, text);
  }
  std::string html;
  GetCountsHistogram("Golden.Empty", 100)->WriteHTML(&html);
  EXPECT_EQ(
      "<PRE>Histogram: Golden.Empty recorded 0 samples (flags = 0x1)<br>"
      "</PRE>",
      html);
}

TEST(HistogramTest, ParametersAndBucketData) {
  HistogramRegistry::ScopedMapsForTesting registry;
  HistogramBase* histogram = GetLinearHistogram("Data", 4, 5);
  histogram->AddCount(2, 3);
  histogram->Add(9);
  DictionaryValue parameters;
  histogram->GetParameters(&parameters);
  std::string type;
  int32_t minimum = 0, maximum = 0, buckets = 0;
  EXPECT_TRUE(parameters.GetString("type", &type));
  EXPECT_TRUE(parameters.GetInteger("min", &minimum));
  EXPECT_TRUE(parameters.GetInteger("max", &maximum));
  EXPECT_TRUE(parameters.GetInteger("bucket_count", &buckets));
  EXPECT_EQ("LINEAR_HISTOGRAM 1 4 5", type + " " + std::to_string(minimum) +
                                          " " + std::to_string(maximum) + " " +
                                          std::to_string(buckets));

  HistogramBase::Count count = 0;
  int64_t sum = 0;
  ListValue buckets_data;
  histogram->GetCountAndBucketData(&count, &sum, &buckets_data);
  EXPECT_EQ(4, count);
  EXPECT_EQ(15, sum);
  ASSERT_EQ(2u, buckets_data.GetSize());
  const Value* value = nullptr;
  const DictionaryValue* bucket = nullptr;
  int32_t low = 0, high = 0, bucket_count = 0;
  ASSERT_TRUE(buckets_data.Get(0, &value) && value->GetAsDictionary(&bucket));
  EXPECT_TRUE(bucket->GetInteger("low", &low) &&
              bucket->GetInteger("high", &high) &&
              bucket->GetInteger("count", &bucket_count));
  EXPECT_EQ(2, low);
  EXPECT_EQ(3, high);
  EXPECT_EQ(3, bucket_count);
  // The last bucket has no upper end.
  ASSERT_TRUE(buckets_data.Get(1, &value) && value->GetAsDictionary(&bucket));
  EXPECT_TRUE(bucket->GetInteger("low", &low));
  EXPECT_FALSE(bucket->GetInteger("high", &high));
  EXPECT_EQ(4, low);
}

// What `AddFromPickle` makes of `triples` after a sum and a count.
BinaryWriter Pickle(int64_t sum, int32_t count,
                    const std::vector<std::vector<uint32_t>>& triples) {
  BinaryWriter writer;
  writer.WriteUint32(static_cast<uint32_t>(sum));
  writer.WriteUint32(static_cast<uint32_t>(static_cast<uint64_t>(sum) >> 32));
  writer.WriteUint32(static_cast<uint32_t>(count));
  for (const auto& triple : triples) {
    for (uint32_t field : triple)
      writer.WriteUint32(field);
  }
  return writer;
}

// A payload that ends after the sum.
BinaryWriter SumOnly(int64_t sum) {
  BinaryWriter writer;
  writer.WriteUint32(static_cast<uint32_t>(sum));
  writer.WriteUint32(static_cast<uint32_t>(static_cast<uint64_t>(sum) >> 32));
  return writer;
}

TEST(SampleSetTest, PicklesRoundTripAndRefuseStrayTriples) {
  BucketRanges ranges(6);
  const int32_t kBoundaries[] = {0, 1, 2, 3, 4, INT_MAX};
  for (size_t i = 0; i < ranges.size(); ++i)
    ranges.set_range(i, kBoundaries[i]);
  ranges.ResetChecksum();

  SampleVector vector(7, &ranges);
  vector.Accumulate(0, 2);
  vector.Accumulate(4, 1);
  vector.Accumulate(0x7FFFFFFE, 3);
  SampleMap map(8);
  for (int32_t value : {-5, 0, INT_MAX, INT_MAX})
    map.Accumulate(value, 1);

  // Each set read back into an empty one of its kind equals the original.
  struct RoundTrip {
    HistogramSamples* original;
    std::unique_ptr<HistogramSamples> copy;
  };
  RoundTrip trips[] = {{&vector, std::make_unique<SampleVector>(7, &ranges)},
                       {&map, std::make_unique<SampleMap>(8)}};
  for (RoundTrip& trip : trips) {
    BinaryWriter writer;
    ASSERT_TRUE(trip.original->Serialize(&writer));
    BinaryReader reader(writer);
    ASSERT_TRUE(trip.copy->AddFromPickle(&reader));
    EXPECT_EQ(trip.original->sum(), trip.copy->sum());
    EXPECT_EQ(trip.original->redundant_count(), trip.copy->redundant_count());
    EXPECT_EQ(trip.original->TotalCount(), trip.copy->TotalCount());
    trip.copy->Subtract(*trip.original);
    EXPECT_TRUE(trip.copy->Iterator()->Done());
    EXPECT_EQ(0, trip.copy->sum());
  }
  EXPECT_EQ(0, trips[1].copy->GetCount(INT_MAX));

  // An empty set is its sum and count: 12 bytes.
  BinaryWriter empty;
  SampleMap(1).Serialize(&empty);
  EXPECT_EQ(12u, empty.payload_size());

  struct Stray {
    const char* what;
    HistogramSamples* target;
    BinaryWriter pickle;
    bool accepted;
  };
  SampleVector vector_target(7, &ranges);
  SampleMap map_target(8);
  Stray strays[] = {
      {"no count", &map_target, SumOnly(5), false},
      {"map, wider than one value", &map_target,
       Pickle(5, 1, {{5, 6, 1}, {5, 7, 1}}), false},
      {"vector, off the boundaries", &vector_target,
       Pickle(1, 1, {{0, 1, 1}, {1, 3, 1}}), false},
      {"vector, matching", &vector_target, Pickle(3, 2, {{0, 1, 1}, {3, 4, 1}}),
       true},
  };
  for (Stray& stray : strays) {
    SCOPED_TRACE(stray.what);
    BinaryReader reader(stray.pickle);
    EXPECT_EQ(stray.accepted, stray.target->AddFromPickle(&reader));
  }
  // Triples before the stray one stay added.
  EXPECT_EQ(1, map_target.GetCount(5));
  EXPECT_EQ(2, vector_target.GetCount(0));
  EXPECT_EQ(1, vector_target.GetCount(3));
}

TEST(SparseHistogramTest, KeepsExtremeValuesApart) {
  HistogramRegistry::ScopedMapsForTesting registry;
  HistogramBase* histogram = SparseHistogram::GetOrCreate("Sparse.Extremes");
  EXPECT_EQ(histogram, SparseHistogram::GetOrCreate("Sparse.Extremes"));
  for (int32_t value : {-5, 0, INT_MAX, INT_MAX})
    histogram->Add(value);
  histogram->AddCount(0, 0);
  std::unique_ptr<HistogramSamples> samples = histogram->SnapshotSamples();
  std::vector<std::vector<int64_t>> triples;
  for (auto it = samples->Iterator(); !it->Done(); it->Next()) {
    HistogramBase::Sample minimum = 0;
    int64_t maximum = 0;
    HistogramBase::Count count = 0;
    it->Get(&minimum, &maximum, &count);
    triples.push_back({minimum, maximum, count});
  }
  EXPECT_EQ((std::vector<std::vector<int64_t>>{
                {-5, -4, 1}, {0, 1, 1}, {INT_MAX, int64_t{INT_MAX} + 1, 2}}),
            triples);
  // The same triples fold back in, INT32_MAX's included.
  BinaryWriter writer;
  samples->Serialize(&writer);
  BinaryReader reader(writer);
  EXPECT_TRUE(histogram->AddSamplesFromPickle(&reader));
  EXPECT_EQ(4, CountOf(histogram, INT_MAX));
  EXPECT_EQ(8, TotalCountOf(histogram));
}

TEST(HistogramTest, FindCorruptionSeesBrokenRangesAndCounts) {
  BucketRanges ranges(5);
  const int32_t kBoundaries[] = {0, 1, 10, 100, INT_MAX};
  for (size_t i = 0; i < ranges.size(); ++i)
    ranges.set_range(i, kBoundaries[i]);
  ranges.ResetChecksum();
  Histogram histogram("Corruption", 1, 100, &ranges);
  histogram.AddCount(5, 10);

  struct Case {
    const char* what;
    int32_t count_delta;
    bool break_order;
    uint32_t expected;
  };
  HistogramBase* high =
      GetCountsHistogram("Histogram.InconsistentCountHigh", 1000000);
  HistogramBase* low =
      GetCountsHistogram("Histogram.InconsistentCountLow", 1000000);
  const int64_t high_before = high->SnapshotSamples()->sum();
  const int64_t low_before = low->SnapshotSamples()->sum();
  const Case kCases[] = {
      {"intact", 0, false, 0},
      // Up to five samples in flight are what unsynchronised readers see.
      {"five high", 5, false, 0},
      {"six high", 6, false, kCountTooHigh},
      {"six low", -6, false, kCountTooLow},
      {"out of order", 0, true, kBoundariesOutOfOrder | kRangesChecksumWrong},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.what);
    std::unique_ptr<HistogramSamples> samples = histogram.SnapshotSamples();
    // A redundant count that disagrees with the counts.
    BinaryWriter adjust = Pickle(0, c.count_delta, {});
    BinaryReader reader(adjust);
    samples->AddFromPickle(&reader);
    if (c.break_order)
      ranges.set_range(2, 1);
    EXPECT_EQ(c.expected, histogram.FindCorruption(*samples));
    ranges.set_range(2, 10);
  }
  // Each difference is reported, as large as it is.
  EXPECT_EQ(high_before + 5 + 6, high->SnapshotSamples()->sum());
  EXPECT_EQ(low_before + 6, low->SnapshotSamples()->sum());
}

TEST(HistogramRegistryTest, WithoutMapsEveryRequestMakesANewHistogram) {
  HistogramRegistry::ScopedMapsForTesting no_registry(false);
  HistogramBase* first = GetLinearHistogram("Registry.None", 4, 5);
  HistogramBase* second = GetLinearHistogram("Registry.None", 4, 5);
  ASSERT_NE(nullptr, first);
  ASSERT_NE(nullptr, second);
  EXPECT_NE(first, second);
  EXPECT_EQ(nullptr, HistogramRegistry::Find("Registry.None"));
  // Each still counts on its own.
  first->Add(1);
  EXPECT_EQ(1, TotalCountOf(first));
  EXPECT_EQ(0, TotalCountOf(second));
}

TEST(HistogramRegistryTest, WithMapsNamesAndShapesAreShared) {
  HistogramRegistry::ScopedMapsForTesting registry;
  HistogramBase* first = GetExponentialHistogram("Registry.A", 1, 500, 20, 0);
  EXPECT_EQ(first, GetExponentialHistogram("Registry.A", 1, 500, 20, 0));
  EXPECT_EQ(first, HistogramRegistry::Find("Registry.A"));
  // Another shape under the name is refused; another name shares ranges.
  EXPECT_EQ(nullptr, GetExponentialHistogram("Registry.A", 1, 500, 21, 0));
  HistogramBase* twin = GetExponentialHistogram("Registry.B", 1, 500, 20, 0);
  EXPECT_NE(first, twin);
  EXPECT_EQ(AsBucketed(first)->bucket_ranges(),
            AsBucketed(twin)->bucket_ranges());
}

TEST(HistogramRegistryTest, CallbackRunsForHistogramsRegisteredAfterIt) {
  HistogramRegistry::ScopedMapsForTesting registry;
  std::vector<int32_t> seen;
  registry.SetCallback("Registry.Watched", Bind<void(HistogramBase::Sample)>(
                                               [](std::vector<int32_t>* seen,
                                                  HistogramBase::Sample value) {
                                                 seen->push_back(value);
                                               },
                                               &seen));
  HistogramBase* watched = GetLinearHistogram("Registry.Watched", 10, 11);
  HistogramBase* other = SparseHistogram::GetOrCreate("Registry.Other");
  EXPECT_TRUE(watched->flags() & HistogramBase::CallbackExists);
  EXPECT_FALSE(other->flags() & HistogramBase::CallbackExists);
  watched->Add(7);
  watched->AddCount(12, 2);
  other->Add(3);
  // Called with the value as recorded, once per call.
  EXPECT_EQ(std::vector<int32_t>({7, 12}), seen);
}

}  // namespace
}  // namespace base
