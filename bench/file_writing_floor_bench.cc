// The least one Windows process spends to make a tree of files: for each
// file CreateFileW, one WriteFile of its size, SetFileTime and CloseHandle,
// on as many threads as the package reader writes with, and nothing else
// (no archive, no log, no install steps). Timed beside the silent
// installation of the same tree (bench/silent_install_vs_7zz.sh), it shows
// how much of the installer's time is the system's own cost per file.
//   file_writing_floor_bench LIST DESTINATION
// LIST has one line per file, "<size> <relative path>", a folder's files
// after each other; the folders are made as the files need them.

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "base/strings/utf_string_conversions.h"
#include "base/win/scoped_handle.h"

namespace {

// The package reader's writing threads.
constexpr int kThreads = 4;

struct Entry {
  std::wstring path;
  size_t size = 0;
};

bool ReadList(const char* list_path,
              const std::wstring& destination,
              std::vector<Entry>* entries) {
  std::ifstream list(list_path);
  std::string line;
  while (std::getline(list, line)) {
    const size_t space = line.find(' ');
    if (space == std::string::npos)
      return false;
    std::wstring relative = base::Utf8ToWide(line.substr(space + 1));
    std::replace(relative.begin(), relative.end(), L'/', L'\\');
    entries->push_back(
        {destination + L"\\" + relative, std::stoul(line.substr(0, space))});
  }
  return !entries->empty();
}

// Every folder on the way to each file, parents first, once.
void MakeFolders(const std::vector<Entry>& entries) {
  std::wstring made;
  for (const Entry& entry : entries) {
    const std::wstring folder = entry.path.substr(0, entry.path.rfind(L'\\'));
    if (folder == made)
      continue;
    for (size_t end = folder.find(L'\\', 3); end != std::wstring::npos;
         end = folder.find(L'\\', end + 1)) {
      ::CreateDirectoryW(folder.substr(0, end).c_str(), nullptr);
    }
    ::CreateDirectoryW(folder.c_str(), nullptr);
    made = folder;
  }
}

// 0, or the Windows error of the call that failed.
DWORD WriteOne(const Entry& entry, const std::vector<char>& data) {
  static const FILETIME kTime = {0x4a8e0000, 0x01d9a000};
  base::win::ScopedHandle file(
      ::CreateFileW(entry.path.c_str(), GENERIC_WRITE, 0, nullptr,
                    CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  DWORD written = 0;
  const bool done =
      file.IsValid() &&
      ::WriteFile(file.Get(), data.data(), static_cast<DWORD>(entry.size),
                  &written, nullptr) &&
      ::SetFileTime(file.Get(), nullptr, nullptr, &kTime);
  return done ? ERROR_SUCCESS : ::GetLastError();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: file_writing_floor_bench LIST DESTINATION\n");
    return 2;
  }
  std::vector<Entry> entries;
  if (!ReadList(argv[1], base::Utf8ToWide(argv[2]), &entries)) {
    std::fprintf(stderr, "unreadable list: %s\n", argv[1]);
    return 2;
  }
  size_t largest = 0;
  for (const Entry& entry : entries)
    largest = std::max(largest, entry.size);
  const std::vector<char> data(largest, 'x');

  const auto start = std::chrono::steady_clock::now();
  MakeFolders(entries);
  std::atomic<size_t> next{0};
  std::atomic<DWORD> error{ERROR_SUCCESS};
  std::vector<std::thread> threads;
  for (int i = 0; i < kThreads; ++i) {
    threads.emplace_back([&] {
      for (size_t at = next++; at < entries.size() && !error; at = next++) {
        if (const DWORD failed = WriteOne(entries[at], data))
          error = failed;
      }
    });
  }
  for (std::thread& thread : threads)
    thread.join();
  if (error) {
    std::fprintf(stderr, "writing failed: error %lu\n", error.load());
    return 1;
  }
  const std::chrono::duration<double> took =
      std::chrono::steady_clock::now() - start;
  std::printf("%zu files in %.2f s\n", entries.size(), took.count());
  return 0;
}
