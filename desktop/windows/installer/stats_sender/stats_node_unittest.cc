#include "desktop/windows/installer/stats_sender/stats_node.h"

#include <windows.h>

#include <thread>
#include <vector>

#include "base/json/json_writer.h"
#include "base/time/tick_source.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

// The tick clock stopped at a real reading, so that elapsed times are exact
// and the wall clock, which is laid over the ticks, never runs backwards.
int64_t g_frozen_ticks = 0;
int64_t FrozenNow() {
  return g_frozen_ticks;
}

class StatsNodeTest : public testing::Test {
 protected:
  std::string Json() const {
    std::string json;
    EXPECT_TRUE(base::WriteJson(root_, &json));
    return json;
  }

  base::DictionaryValue root_;
  base::Lock lock_;
  StatsNode node_{&root_, &lock_, base::TickTime::Now()};
};

TEST_F(StatsNodeTest, DottedKeysMakeDictionaries) {
  node_.SetInteger("os.version.major", 10);
  node_.SetString("os.name", "Windows");
  node_.SetString("os.version.gone", "x");
  node_.Remove("os.version.gone");
  EXPECT_EQ(R"({"os":{"name":"Windows","version":{"major":10}}})", Json());
}

TEST_F(StatsNodeTest, IncrementCountsFromZeroAndStopsAtTheTop) {
  node_.Increment("retries.download");
  node_.Increment("retries.download");
  node_.Increment("retries.unpack");
  node_.SetInteger("big", INT32_MAX);
  node_.Increment("big");
  EXPECT_EQ(R"({"big":2147483647,"retries":{"download":2,"unpack":1}})",
            Json());
}

TEST_F(StatsNodeTest, AddListEntryAppendsDictionaries) {
  std::unique_ptr<StatsNode> first = node_.AddListEntry("fetch.attempts");
  EXPECT_EQ(R"({"fetch":{"attempts":[{}]}})", Json());
  std::unique_ptr<StatsNode> second = node_.AddListEntry("fetch.attempts");
  first->SetString("url", "a");
  second->SetInteger("code", 404);
  second->AddListEntry("redirects")->SetString("to", "b");
  EXPECT_EQ(
      R"({"fetch":{"attempts":[{"url":"a"},{"code":404,"redirects":[{"to":"b"}]}]}})",
      Json());
}

TEST_F(StatsNodeTest, SetTimeAndElapsedWritesTwoKeysBelowTheKey) {
  g_frozen_ticks = base::TickTime::Now().ToInternalValue();
  base::TickSource::NowFunction real =
      base::TickSource::SwapForTesting(&FrozenNow);
  StatsNode node(&root_, &lock_,
                 base::TickTime::FromInternalValue(g_frozen_ticks - 1'234'567));
  node.SetTimeAndElapsed("install.done");
  base::TickSource::SwapForTesting(real);

  std::string time;
  ASSERT_TRUE(root_.GetString("install.done.time", &time));
  EXPECT_EQ(R"({"install":{"done":{"elapsed":1234,"time":")" + time + R"("}}})",
            Json());
}

TEST_F(StatsNodeTest, SetTimeStampsTheCurrentTime) {
  const std::string before = FormatStatsTimestamp(base::Time::Now());
  node_.SetTime("started");
  const std::string after = FormatStatsTimestamp(base::Time::Now());
  std::string stamp;
  ASSERT_TRUE(root_.GetString("started", &stamp));
  EXPECT_LE(before, stamp);
  EXPECT_LE(stamp, after);
}

TEST(StatsTimestampTest, UtcWithMilliseconds) {
  const SYSTEMTIME utc = {2024, 1, 3, 31, 17, 5, 9, 42};
  FILETIME file_time;
  ASSERT_TRUE(::SystemTimeToFileTime(&utc, &file_time));
  EXPECT_EQ("2024-01-31 17:05:09.042",
            FormatStatsTimestamp(base::Time::FromFileTime(file_time)));
}

TEST_F(StatsNodeTest, ConcurrentIncrementsAreAllCounted) {
  constexpr int kThreads = 8;
  constexpr int kIncrements = 2000;
  std::vector<std::thread> threads;
  for (int i = 0; i < kThreads; ++i) {
    threads.emplace_back([node = node_]() mutable {
      for (int n = 0; n < kIncrements; ++n)
        node.Increment("downloads.chunks");
    });
  }
  for (std::thread& thread : threads)
    thread.join();
  EXPECT_EQ(R"({"downloads":{"chunks":16000}})", Json());
}

}  // namespace
}  // namespace installer
