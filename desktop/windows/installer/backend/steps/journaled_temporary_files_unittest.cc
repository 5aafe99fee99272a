#include "desktop/windows/installer/backend/steps/journaled_temporary_files.h"

#include <windows.h>

#include <string>
#include <vector>

#include "base/files/file_path.h"
#include "base/files/important_file_writer.h"
#include "base/test/temp_tree.h"
#include "desktop/windows/installer/journal/run_journal.h"
#include "gtest/gtest.h"

namespace installer {
namespace {

using base::FilePath;
using base::TempTree;

// Each journal line written, with whether the file it names was there at
// that moment; lost lines fail as on a full volume.
struct WrittenLine {
  std::string text;
  bool file_was_there;
};
std::vector<WrittenLine> g_lines;
bool g_volume_full = false;

BOOL WINAPI NotingWrite(HANDLE file,
                        LPCVOID data,
                        DWORD size,
                        LPDWORD written,
                        LPOVERLAPPED overlapped) {
  if (g_volume_full) {
    *written = 0;
    ::SetLastError(ERROR_DISK_FULL);
    return FALSE;
  }
  std::string text(static_cast<const char*>(data), size);
  const size_t tab = text.find('\t');
  const std::string path = tab == std::string::npos
                               ? std::string()
                               : text.substr(tab + 1, text.size() - tab - 2);
  g_lines.push_back(
      {text, !path.empty() && TempTree::Exists(FilePath::FromUTF8(path))});
  return ::WriteFile(file, data, size, written, overlapped);
}

// A run's journal kept in `folder`, its writes noted.
class NotedRun {
 public:
  explicit NotedRun(const FilePath& folder)
      : previous_(RunJournal::SwapFileCallsForTesting(
            {&NotingWrite, &::FlushFileBuffers})) {
    g_lines.clear();
    g_volume_full = false;
    RunJournal::Get()->Start(folder);
  }
  ~NotedRun() {
    RunJournal::Get()->Finish();
    RunJournal::SwapFileCallsForTesting(previous_);
    g_volume_full = false;
  }

 private:
  const RunJournal::FileCalls previous_;
};

// A temporary file is journaled before it exists and made under that very
// name, or not made at all: not over a file already there (which a
// recovery would then remove as the run's), nor without its line, nor
// under another name, nor under a name longer than the folder's limit
// leaves room for. A name a store may make for the run is journaled the
// same way, unless it is taken.
TEST(JournaledTemporaryFilesTest, EachFileIsJournaledBeforeItIsMade) {
  const struct {
    const char* label;
    const wchar_t* target;
    int stagings;
    bool taken;
    bool volume_full;
    DWORD error;  // ERROR_SUCCESS: made
  } kCases[] = {
      {"free name", L"installer_prefs.json", 1, false, false, ERROR_SUCCESS},
      {"name taken", L"installer_prefs.json", 1, true, false,
       ERROR_FILE_EXISTS},
      {"line lost", L"installer_prefs.json", 1, false, true, ERROR_WRITE_FAULT},
      // The store's write of the preferences' staged copy.
      {"prefs staged twice", L"installer_prefs.json", 2, false, false,
       ERROR_SUCCESS},
      {"status staged twice", L"installation_status.xml", 2, false, false,
       ERROR_FILENAME_EXCED_RANGE},
  };
  for (const auto& test : kCases) {
    SCOPED_TRACE(test.label);
    TempTree tree;
    FilePath temporary = tree.Path(test.target);
    for (int staging = 0; staging < test.stagings; ++staging)
      temporary = base::ImportantFileWriter::MakeTemporaryPath(temporary);
    const FilePath set_aside = tree.Path(L"installer_prefs.json.0123abcd.bad");
    if (test.taken) {
      tree.WriteFile(temporary.BaseName().value().c_str(), "another's");
      tree.WriteFile(set_aside.BaseName().value().c_str(), "another's");
    }
    NotedRun run(tree.root());
    g_volume_full = test.volume_full;
    JournaledTemporaryFiles temporaries;

    base::NewFileInFolder::Result made = temporaries.Make(temporary);
    const bool expected = temporaries.Expect(set_aside);

    EXPECT_EQ(test.error, made.error);
    EXPECT_EQ(test.error == ERROR_SUCCESS, made.file.IsValid());
    EXPECT_EQ(!test.taken && !test.volume_full, expected);
    if (made.file.IsValid()) {
      EXPECT_EQ(temporary.value(), made.path);
      made.file.Close();
      EXPECT_EQ("", TempTree::ReadFile(temporary));
      ASSERT_EQ(2u, g_lines.size());
      EXPECT_EQ("temporary\t" + temporary.AsUTF8() + "\n", g_lines[0].text);
      EXPECT_EQ("temporary\t" + set_aside.AsUTF8() + "\n", g_lines[1].text);
      EXPECT_FALSE(g_lines[0].file_was_there);
    } else {
      EXPECT_EQ(expected ? 1u : 0u, g_lines.size());
      EXPECT_EQ(test.taken ? "another's" : "<missing>",
                TempTree::ReadFile(temporary));
    }
  }
}

}  // namespace
}  // namespace installer
