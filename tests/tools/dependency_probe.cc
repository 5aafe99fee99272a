// A command-line probe of the three vendored dependencies, driven by the
// end-to-end tests against real peers (hashlib, 7zz, zipfile):
//   dependency_probe sha256 FILE          prints the hex digest
//   dependency_probe cleanse              checks that OPENSSL_cleanse zeroes
//   dependency_probe extract7z ARCHIVE DIR extracts every entry into DIR
//   dependency_probe zip OUT.zip NAME=FILE... stores the files deflated

#include <windows.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

extern "C" {
#include "7z.h"
#include "7zAlloc.h"
#include "7zCrc.h"
#include "7zFile.h"
}
#include "openssl/mem.h"
#include "openssl/sha.h"
#include "zip.h"

namespace {

std::wstring Widen(const std::string& text) {
  std::wstring out(text.size(), L'\0');
  int n = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                              out.data(), static_cast<int>(out.size()));
  out.resize(n > 0 ? n : 0);
  return out;
}

struct FileCloser {
  void operator()(FILE* f) const { fclose(f); }
};
using ScopedFile = std::unique_ptr<FILE, FileCloser>;

bool ReadWholeFile(const std::string& path, std::vector<unsigned char>* data) {
  ScopedFile file(_wfopen(Widen(path).c_str(), L"rb"));
  if (!file) return false;
  unsigned char chunk[1 << 16];
  size_t n;
  while ((n = fread(chunk, 1, sizeof(chunk), file.get())) > 0)
    data->insert(data->end(), chunk, chunk + n);
  return true;
}

int Sha256(const char* path) {
  std::vector<unsigned char> data;
  if (!ReadWholeFile(path, &data)) return 2;
  SHA256_CTX context;
  SHA256_Init(&context);
  SHA256_Update(&context, data.data(), data.size());
  unsigned char digest[SHA256_DIGEST_LENGTH];
  SHA256_Final(digest, &context);
  for (unsigned char byte : digest) std::printf("%02x", byte);
  std::printf("\n");
  return 0;
}

int Cleanse() {
  unsigned char secret[37];
  std::memset(secret, 0xA5, sizeof(secret));
  OPENSSL_cleanse(secret, sizeof(secret));
  for (unsigned char byte : secret)
    if (byte != 0) return 1;
  std::printf("cleansed\n");
  return 0;
}

const ISzAlloc kAlloc = {SzAlloc, SzFree};
const ISzAlloc kAllocTemp = {SzAllocTemp, SzFreeTemp};

// Creates the parent folders of `path` (a path with backslashes).
void CreateParents(const std::wstring& path) {
  for (size_t i = path.find(L'\\', 3); i != std::wstring::npos; i = path.find(L'\\', i + 1))
    CreateDirectoryW(path.substr(0, i).c_str(), nullptr);
}

int Extract7z(const char* archive, const char* destination) {
  CFileInStream file;
  if (InFile_OpenW(&file.file, Widen(archive).c_str()) != 0) return 2;
  FileInStream_CreateVTable(&file);
  CLookToRead2 look;
  LookToRead2_CreateVTable(&look, False);
  std::vector<Byte> look_buffer(1 << 16);
  look.buf = look_buffer.data();
  look.bufSize = look_buffer.size();
  look.realStream = &file.vt;
  LookToRead2_INIT(&look);
  CrcGenerateTable();

  CSzArEx db;
  SzArEx_Init(&db);
  SRes result = SzArEx_Open(&db, &look.vt, &kAlloc, &kAllocTemp);
  UInt32 block_index = 0xFFFFFFFF;
  Byte* out_buffer = nullptr;
  size_t out_buffer_size = 0;
  const std::wstring root = Widen(destination);
  for (UInt32 i = 0; result == SZ_OK && i < db.NumFiles; ++i) {
    std::vector<UInt16> name(SzArEx_GetFileNameUtf16(&db, i, nullptr));
    SzArEx_GetFileNameUtf16(&db, i, name.data());
    std::wstring relative(name.begin(), name.end() - 1);
    for (wchar_t& c : relative)
      if (c == L'/') c = L'\\';
    const std::wstring target = root + L"\\" + relative;
    CreateParents(target);
    if (SzArEx_IsDir(&db, i)) {
      CreateDirectoryW(target.c_str(), nullptr);
      continue;
    }
    size_t offset = 0, size = 0;
    result = SzArEx_Extract(&db, &look.vt, i, &block_index, &out_buffer, &out_buffer_size,
                            &offset, &size, &kAlloc, &kAllocTemp);
    if (result != SZ_OK) break;
    ScopedFile out(_wfopen(target.c_str(), L"wb"));
    if (!out || fwrite(out_buffer + offset, 1, size, out.get()) != size) result = SZ_ERROR_WRITE;
  }
  ISzAlloc_Free(&kAlloc, out_buffer);
  SzArEx_Free(&db, &kAlloc);
  File_Close(&file.file);
  if (result != SZ_OK) {
    std::fprintf(stderr, "7z error %d\n", result);
    return 1;
  }
  return 0;
}

int Zip(int count, char** entries, const char* output) {
  zipFile zip = zipOpen64(output, APPEND_STATUS_CREATE);
  if (!zip) return 2;
  int status = ZIP_OK;
  for (int i = 0; i < count && status == ZIP_OK; ++i) {
    std::string entry = entries[i];
    const size_t equals = entry.find('=');
    if (equals == std::string::npos) return 2;
    std::vector<unsigned char> data;
    if (!ReadWholeFile(entry.substr(equals + 1), &data)) return 2;
    zip_fileinfo info = {};
    status = zipOpenNewFileInZip64(zip, entry.substr(0, equals).c_str(), &info, nullptr, 0,
                                   nullptr, 0, nullptr, Z_DEFLATED, Z_DEFAULT_COMPRESSION,
                                   data.size() >= 0xFFFFFFFFu);
    if (status == ZIP_OK && !data.empty())
      status = zipWriteInFileInZip(zip, data.data(), static_cast<unsigned>(data.size()));
    if (status == ZIP_OK) status = zipCloseFileInZip(zip);
  }
  const int close_status = zipClose(zip, nullptr);
  return status == ZIP_OK && close_status == ZIP_OK ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string command = argc > 1 ? argv[1] : "";
  if (command == "sha256" && argc == 3) return Sha256(argv[2]);
  if (command == "cleanse" && argc == 2) return Cleanse();
  if (command == "extract7z" && argc == 4) return Extract7z(argv[2], argv[3]);
  if (command == "zip" && argc >= 3) return Zip(argc - 3, argv + 3, argv[2]);
  std::fprintf(stderr, "usage: dependency_probe sha256|cleanse|extract7z|zip ...\n");
  return 2;
}
