#include "base/metrics/histogram.h"

#include <climits>
#include <iterator>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "base/metrics/histogram_registry.h"
#include "base/metrics/sparse_histogram.h"
#include "gtest/gtest.h"

namespace base {
namespace {

const Histogram* AsBucketed(const HistogramBase* histogram) {
  return dynamic_cast<const Histogram*>(histogram);
}

// Boundaries start at 0, rise strictly and end at INT32_MAX.
void ExpectValidRanges(const Histogram& histogram) {
  const std::vector<int32_t>& ranges = histogram.ranges();
  ASSERT_GE(ranges.size(), 4u);
  EXPECT_EQ(0, ranges.front());
  EXPECT_EQ(INT32_MAX, ranges.back());
  for (size_t i = 1; i < ranges.size(); ++i)
    EXPECT_LT(ranges[i - 1], ranges[i]) << i;
}

TEST(HistogramTest, SameNameGivesSameHistogram) {
  HistogramBase* first = GetLinearHistogram("HistogramTest.Same", 4, 5);
  ASSERT_NE(nullptr, first);
  EXPECT_EQ("HistogramTest.Same", first->name());
  EXPECT_EQ(first, GetLinearHistogram("HistogramTest.Same", 4, 5));
  // Other parameters or another kind still find the first one.
  EXPECT_EQ(first,
            GetExponentialHistogram("HistogramTest.Same", 1, 100, 10, 0));
  EXPECT_EQ(first, SparseHistogram::GetOrCreate("HistogramTest.Same"));
  EXPECT_EQ(first, HistogramRegistry::Find("HistogramTest.Same"));
  EXPECT_EQ(nullptr, HistogramRegistry::Find("HistogramTest.Unknown"));

  HistogramBase* sparse = SparseHistogram::GetOrCreate("HistogramTest.Sparse");
  EXPECT_NE(first, sparse);
  EXPECT_EQ(sparse, SparseHistogram::GetOrCreate("HistogramTest.Sparse"));
}

TEST(HistogramTest, LinearBucketsCountSamples) {
  // As the message-loop problems use it: samples 0 to 3, 4 and up overflow.
  HistogramBase* histogram = GetLinearHistogram("HistogramTest.Linear", 4, 5);
  const Histogram* bucketed = AsBucketed(histogram);
  ASSERT_NE(nullptr, bucketed);
  EXPECT_EQ(std::vector<int32_t>({0, 1, 2, 3, 4, INT32_MAX}),
            bucketed->ranges());
  EXPECT_EQ(kBaseHistogramFlags, bucketed->flags());

  // Histograms outlive the test, so counts are compared as increments.
  struct Expected {
    int32_t value;
    int64_t added;
  };
  const Expected kCounts[] = {{INT32_MIN, 2}, {0, 2}, {1, 1}, {2, 2},
                              {3, 1},         {4, 4}, {77, 4}};
  std::vector<int64_t> before;
  for (const Expected& e : kCounts)
    before.push_back(histogram->GetCount(e.value));
  const int64_t total_before = histogram->TotalCount();

  for (int32_t sample : {-1, 0, 1, 2, 2, 3, 4, 5, 1000, INT32_MAX})
    histogram->AddSample(sample);
  for (size_t i = 0; i < std::size(kCounts); ++i) {
    EXPECT_EQ(kCounts[i].added,
              histogram->GetCount(kCounts[i].value) - before[i])
        << kCounts[i].value;
  }
  EXPECT_EQ(10, histogram->TotalCount() - total_before);
}

TEST(HistogramTest, ParametersAreClamped) {
  struct Case {
    const char* name;
    int32_t minimum;
    int32_t maximum;
    int32_t bucket_count;
    int32_t expected_minimum;
    int32_t expected_maximum;
    size_t expected_buckets;
  };
  const Case kCases[] = {
      {"HistogramTest.Clamp.Plain", 1, 10000, 50, 1, 10000, 50},
      {"HistogramTest.Clamp.Zero", 0, 10000, 50, 1, 10000, 50},
      {"HistogramTest.Clamp.Negative", -5, 100, 10, 1, 100, 10},
      {"HistogramTest.Clamp.Huge", 1, INT32_MAX, 20000, 1, 0x7FFFFFFE, 16383},
      {"HistogramTest.Clamp.Dense", 1, 30, 31, 1, 30, 31},
      // Beyond clamping: too many buckets for the values, or no room at all.
      {"HistogramTest.Clamp.Crowded", 1, 10, 50, 1, 10, 11},
      {"HistogramTest.Clamp.Flat", 5, 5, 10, 4, 5, 3},
      {"HistogramTest.Clamp.Inverted", 100, 10, 0, 9, 10, 3},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    const Histogram* histogram = AsBucketed(GetExponentialHistogram(
        c.name, c.minimum, c.maximum, c.bucket_count, 0));
    ASSERT_NE(nullptr, histogram);
    EXPECT_EQ(c.expected_minimum, histogram->minimum());
    EXPECT_EQ(c.expected_maximum, histogram->maximum());
    EXPECT_EQ(c.expected_buckets, histogram->bucket_count());
    ExpectValidRanges(*histogram);
  }
}

TEST(HistogramTest, ExponentialBucketsWiden) {
  // As the preferences store's read sizes use it.
  const Histogram* histogram = AsBucketed(
      GetExponentialHistogram("HistogramTest.Exponential", 1, 10000, 50, 0));
  ASSERT_NE(nullptr, histogram);
  ExpectValidRanges(*histogram);
  const std::vector<int32_t>& ranges = histogram->ranges();
  for (size_t i = 2; i + 2 < ranges.size(); ++i) {
    EXPECT_LE(ranges[i] - ranges[i - 1], ranges[i + 1] - ranges[i]) << i;
  }
  // The upper boundaries grow by a roughly even factor.
  const double factor = static_cast<double>(ranges[48]) / ranges[47];
  EXPECT_NEAR(factor, static_cast<double>(ranges[40]) / ranges[39], 0.02);
}

TEST(HistogramTest, TimeHistogramSpansMilliseconds) {
  const Histogram* histogram =
      AsBucketed(GetTimeHistogram("HistogramTest.Time", 1, 10000));
  ASSERT_NE(nullptr, histogram);
  EXPECT_EQ(1, histogram->minimum());
  EXPECT_EQ(10000, histogram->maximum());
  EXPECT_EQ(50u, histogram->bucket_count());
  EXPECT_EQ(kBaseHistogramFlags, histogram->flags());

  // A bound beyond 31 bits still clamps into range.
  const Histogram* long_one = AsBucketed(
      GetTimeHistogram("HistogramTest.LongTime", 0, int64_t{1} << 40));
  ASSERT_NE(nullptr, long_one);
  EXPECT_EQ(1, long_one->minimum());
  EXPECT_EQ(0x7FFFFFFE, long_one->maximum());
}

TEST(HistogramTest, SparseCountsEachValue) {
  HistogramBase* histogram =
      SparseHistogram::GetOrCreate("HistogramTest.Errors");
  const int32_t kValues[] = {5, 1234, -7, INT32_MAX, 6};
  const int64_t kAdded[] = {3, 1, 1, 1, 0};
  std::vector<int64_t> before;
  for (int32_t value : kValues)
    before.push_back(histogram->GetCount(value));
  const int64_t total_before = histogram->TotalCount();

  for (int32_t code : {5, 1234, 5, -7, INT32_MAX, 5})
    histogram->AddSample(code);
  for (size_t i = 0; i < std::size(kValues); ++i) {
    EXPECT_EQ(kAdded[i], histogram->GetCount(kValues[i]) - before[i])
        << kValues[i];
  }
  EXPECT_EQ(6, histogram->TotalCount() - total_before);
}

TEST(HistogramTest, ConcurrentLookupsAndSamplesAreExact) {
  constexpr int kThreads = 8;
  constexpr int kSamples = 20000;
  std::vector<HistogramBase*> linear(kThreads);
  std::vector<HistogramBase*> sparse(kThreads);
  HistogramBase* racing = GetLinearHistogram("HistogramTest.Racing", 6, 7);
  HistogramBase* racing_sparse =
      SparseHistogram::GetOrCreate("HistogramTest.RacingSparse");
  const int64_t before[] = {racing->TotalCount(), racing->GetCount(0),
                            racing->GetCount(6), racing_sparse->TotalCount(),
                            racing_sparse->GetCount(0)};
  // A name no run has used yet: its creation itself is raced.
  static int run = 0;
  const std::string fresh_name =
      "HistogramTest.RacingCreation." + std::to_string(run++);
  std::vector<HistogramBase*> fresh(kThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t, &linear, &sparse, &fresh, &fresh_name] {
      fresh[t] = GetExponentialHistogram(fresh_name, 1, 1000, 20, 0);
      linear[t] = GetLinearHistogram("HistogramTest.Racing", 6, 7);
      sparse[t] = SparseHistogram::GetOrCreate("HistogramTest.RacingSparse");
      for (int i = 0; i < kSamples; ++i) {
        linear[t]->AddSample(i % 8);
        sparse[t]->AddSample(i % 3);
      }
    });
  }
  for (std::thread& thread : threads)
    thread.join();
  EXPECT_EQ(1u, std::set<HistogramBase*>(linear.begin(), linear.end()).size());
  EXPECT_EQ(1u, std::set<HistogramBase*>(sparse.begin(), sparse.end()).size());
  EXPECT_EQ(1u, std::set<HistogramBase*>(fresh.begin(), fresh.end()).size());
  EXPECT_EQ(fresh[0], HistogramRegistry::Find(fresh_name));

  const int64_t total = int64_t{kThreads} * kSamples;
  EXPECT_EQ(racing, linear[0]);
  EXPECT_EQ(racing_sparse, sparse[0]);
  EXPECT_EQ(total, racing->TotalCount() - before[0]);
  EXPECT_EQ(total / 8, racing->GetCount(0) - before[1]);
  EXPECT_EQ(total / 4, racing->GetCount(6) - before[2]);  // samples 6 and 7
  EXPECT_EQ(total, racing_sparse->TotalCount() - before[3]);
  const int64_t zeros = int64_t{kThreads} * ((kSamples + 2) / 3);
  EXPECT_EQ(zeros, racing_sparse->GetCount(0) - before[4]);
}

}  // namespace
}  // namespace base
