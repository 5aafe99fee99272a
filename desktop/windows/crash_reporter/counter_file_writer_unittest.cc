#include "desktop/windows/crash_reporter/counter_file_writer.h"

#include <windows.h>

#include <optional>
#include <string>
#include <vector>

#include "base/files/file.h"
#include "base/files/file_enumerator.h"
#include "base/files/file_util.h"
#include "base/test/scoped_temp_folder.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

// Who holds the counter file open without sharing, and until when.
enum class Lock { kNone, kUntilWriterEnds, kReleasedBeforeWriterEnds };

struct CounterCase {
  const char* name;
  std::optional<std::string> existing;  // No file when absent.
  Lock lock;
  std::vector<const char*> crashes;     // One count each, the first wakes.
  std::string expected;
};

const CounterCase kCases[] = {
    {"TwoCrashesBeforeAnyWriteAddTwo", std::nullopt, Lock::kNone,
     {"browser", "browser"}, R"({"browser":2})"},
    {"ForeignKeysKeptAndNonIntegersDropped",
     R"({"renderer":1,"note":"text","browser":3})", Lock::kNone,
     {"browser", "installer"}, R"({"browser":4,"installer":1,"renderer":1})"},
    // What a rewrite cut short by a crash used to leave behind.
    {"EmptyFileCountsAsNoCounts", "", Lock::kNone, {"browser"},
     R"({"browser":1})"},
    {"FileOtherThanDictionaryIsNeverOverwritten", "[1,2]", Lock::kNone,
     {"browser"}, "[1,2]"},
    {"LockedFileGetsCountsOnceReleased", R"({"browser":1})",
     Lock::kReleasedBeforeWriterEnds, {"browser"}, R"({"browser":2})"},
    {"FileLockedToTheEndKeepsItsContents", R"({"browser":1})",
     Lock::kUntilWriterEnds, {"browser"}, R"({"browser":1})"},
};

class CounterFileWriterTest : public testing::TestWithParam<CounterCase> {};

std::vector<std::wstring> FolderEntries(const base::FilePath& folder) {
  std::vector<std::wstring> names;
  base::FileEnumerator entries(folder, false, base::FileEnumerator::kFiles, L"");
  for (base::FilePath path = entries.Next(); !path.empty(); path = entries.Next())
    names.push_back(path.BaseName().value());
  return names;
}

TEST_P(CounterFileWriterTest, MergesIntoFile) {
  const CounterCase& test = GetParam();
  base::ScopedTempFolder folder;
  const base::FilePath path = folder.path().Append(L"crash_counters.json");
  if (test.existing) {
    ASSERT_EQ(static_cast<int>(test.existing->size()),
              base::WriteBufferToFile(path, test.existing->data(),
                                      static_cast<int>(test.existing->size())));
  }
  base::File holder;
  if (test.lock != Lock::kNone) {
    holder.Initialize(path, base::File::kOpen | base::File::kRead |
                                base::File::kExclusiveRead |
                                base::File::kExclusiveWrite);
    ASSERT_TRUE(holder.IsValid());
  }
  {
    CounterFileWriter writer(path);
    bool wake = true;
    for (const char* crash : test.crashes) {
      writer.AddCount(crash, 1, wake);
      wake = false;
    }
    if (test.lock == Lock::kReleasedBeforeWriterEnds)
      holder.Close();
  }
  holder.Close();

  std::string contents;
  ASSERT_TRUE(base::ReadFileToString(path, &contents));
  EXPECT_EQ(test.expected, contents);
  // Nothing left beside it: the temporary file of each rewrite took its place.
  EXPECT_EQ(std::vector<std::wstring>{L"crash_counters.json"},
            FolderEntries(folder.path()));
}

INSTANTIATE_TEST_SUITE_P(, CounterFileWriterTest, testing::ValuesIn(kCases),
                         [](const testing::TestParamInfo<CounterCase>& info) {
                           return std::string(info.param.name);
                         });

}  // namespace
}  // namespace installer
