// Runs one crash upload for the end-to-end tests, which serve the requests
// themselves and check what arrives with Python's own parsers:
//
//   crash_upload_tool REQUEST.json
//
// The request is a JSON dictionary whose "command" picks the operation:
//   "multipart": MultipartUpload of "fields" and "files" to "url", with
//       "suffix" and an optional "timeout" (ms).
//   "transport": a MultipartBodyBuilder fed the "parts" in order (["field",
//       name, value] or ["file", name, file name, path, content type]),
//       gzipped when "gzip" says so, sent over WinHTTP to "url" with a
//       Content-Length ("length_delta" is added to the real length). Wine's
//       WinHTTP loses chunked bodies, so the body is measured first.
//   "handshake": CrashServerHandshake with "crash_url", "origin", "timeout".
//   "zip": ZipCrashLog of "source" into "zip".
//   "crash_server_job": RunCrashServerUpload of "file" with "fields" and
//       "zip", or, with "queued", PostCrashServerUpload with "delete", then
//       waits until the queued job has run and released its hold.
//   "alternative_job": the alternative job's body for "file" with "fields"
//       and "gzip", sent to the alternative URL with a Content-Length.
// The server URLs come from the environment, as in the reporter. Prints one
// JSON line: "ok", and "code", "body", "result", "report_id", "location" as
// the command has them. Log lines go to standard error.

#include <windows.h>

#include <cstdio>
#include <memory>
#include <string>

#include "base/command_line.h"
#include "base/files/file_path.h"
#include "base/files/file_util.h"
#include "base/json/json_reader.h"
#include "base/json/json_writer.h"
#include "base/strings/string_number_conversions.h"
#include "base/strings/utf_string_conversions.h"
#include "base/values.h"
#include "desktop/windows/crash_reporter/alternative_upload_job.h"
#include "desktop/windows/crash_reporter/crash_server_handshake.h"
#include "desktop/windows/crash_reporter/crash_server_urls.h"
#include "desktop/windows/crash_reporter/crash_uploads.h"
#include "desktop/windows/crash_reporter/reporter_quit_signal.h"
#include "util/file/zip_crash_log.h"
#include "util/net/http_transport.h"
#include "util/net/multipart_body_builder.h"
#include "util/net/multipart_upload.h"
#include "util/net/string_http_body_stream.h"

namespace {

using base::DictionaryValue;

std::wstring WideString(const DictionaryValue& request, const char* key) {
  std::wstring value;
  request.GetWideString(key, &value);
  return value;
}

std::string Utf8String(const DictionaryValue& request, const char* key) {
  std::string value;
  request.GetString(key, &value);
  return value;
}

bool Flag(const DictionaryValue& request, const char* key) {
  bool value = false;
  request.GetBoolean(key, &value);
  return value;
}

std::unique_ptr<util::UploadFormFields> WideMap(const DictionaryValue& request,
                                                const char* key) {
  auto map = std::make_unique<util::UploadFormFields>();
  const base::Value* value = nullptr;
  const DictionaryValue* dictionary = nullptr;
  if (!request.Get(key, &value) || !value->GetAsDictionary(&dictionary))
    return map;
  for (DictionaryValue::Iterator it(*dictionary); !it.IsAtEnd(); it.Advance()) {
    std::wstring text;
    it.value().GetAsWideString(&text);
    (*map)[base::Utf8ToWide(it.key())] = text;
  }
  return map;
}

std::string ListString(const base::ListValue& list, size_t index) {
  const base::Value* value = nullptr;
  std::string text;
  if (list.Get(index, &value))
    value->GetAsString(&text);
  return text;
}

std::unique_ptr<util::MultipartBodyBuilder> BuilderFromParts(
    const DictionaryValue& request) {
  auto builder = std::make_unique<util::MultipartBodyBuilder>();
  builder->SetGzipEnabled(Flag(request, "gzip"));
  const base::ListValue* parts = nullptr;
  if (!request.GetList("parts", &parts))
    return builder;
  for (size_t i = 0; i < parts->GetSize(); ++i) {
    const base::Value* entry = nullptr;
    const base::ListValue* part = nullptr;
    if (!parts->Get(i, &entry) || !entry->GetAsList(&part))
      continue;
    if (ListString(*part, 0) == "field") {
      builder->AddFormField(ListString(*part, 1), ListString(*part, 2));
    } else {
      builder->AddFile(ListString(*part, 1), ListString(*part, 2),
                       base::FilePath::FromUTF8(ListString(*part, 3)),
                       ListString(*part, 4));
    }
  }
  return builder;
}

bool Drain(util::HttpBodyStream* stream, std::string* body) {
  char buffer[8192];
  for (;;) {
    const int64_t count = stream->GetBytesBuffer(buffer, sizeof(buffer));
    if (count < 0)
      return false;
    if (count == 0)
      return true;
    body->append(buffer, static_cast<size_t>(count));
  }
}

// Sends the builder's body with a measured Content-Length.
bool SendWithLength(const util::MultipartBodyBuilder& builder,
                    const std::string& url,
                    int length_delta) {
  std::string body;
  if (!Drain(builder.GetBodyStream().get(), &body))
    return false;
  std::unique_ptr<util::HttpTransport> transport = util::HttpTransport::Create();
  util::HttpHeaders headers;
  builder.PopulateContentHeaders(&headers);
  for (const auto& [name, value] : headers)
    transport->SetHeader(name, value);
  transport->SetHeader("Content-Length",
                       base::Int64ToString(static_cast<int64_t>(body.size()) + length_delta));
  transport->SetURL(url);
  transport->SetBodyStream(std::make_unique<util::StringHttpBodyStream>(body));
  return transport->ExecuteSynchronously(nullptr);
}

int Integer(const DictionaryValue& request, const char* key) {
  int32_t value = 0;
  request.GetInteger(key, &value);
  return value;
}

void Run(const DictionaryValue& request, DictionaryValue* result) {
  const std::string command = Utf8String(request, "command");
  bool ok = false;
  if (command == "multipart") {
    std::wstring body;
    int code = -1;
    std::optional<uint32_t> timeout;
    if (request.Get("timeout", static_cast<const base::Value**>(nullptr)))
      timeout = static_cast<uint32_t>(Integer(request, "timeout"));
    ok = util::MultipartUpload(WideString(request, "suffix"),
                               WideString(request, "url"),
                               *WideMap(request, "fields"),
                               *WideMap(request, "files"), timeout, &body, &code);
    result->SetInteger("code", code);
    result->SetString("body", base::WideToUtf8(body));
  } else if (command == "transport") {
    ok = SendWithLength(*BuilderFromParts(request), Utf8String(request, "url"),
                        Integer(request, "length_delta"));
  } else if (command == "handshake") {
    installer::InitCrashServerUrls();
    std::wstring report_id;
    std::wstring location;
    const int handshake = installer::CrashServerHandshake(
        WideString(request, "crash_url"), WideString(request, "origin"),
        &report_id, &location, Integer(request, "timeout"));
    ok = true;
    result->SetInteger("result", handshake);
    result->SetString("report_id", base::WideToUtf8(report_id));
    result->SetString("location", base::WideToUtf8(location));
  } else if (command == "zip") {
    std::string made;
    ok = util::ZipCrashLog(Utf8String(request, "source"), Utf8String(request, "zip"),
                           &made);
    result->SetString("made", made);
  } else if (command == "crash_server_job") {
    installer::InitCrashServerUrls();
    const base::FilePath file(WideString(request, "file"));
    if (Flag(request, "queued")) {
      // Its hold is released once the job has run and is gone.
      installer::ReporterQuitSignal* quit_signal =
          installer::ReporterQuitSignal::Instance();
      quit_signal->CreateQuitEvent();
      ok = installer::PostCrashServerUpload(file, WideMap(request, "fields"),
                                            Flag(request, "delete"));
      if (ok)
        quit_signal->Wait();
    } else {
      ok = installer::RunCrashServerUpload(file, WideMap(request, "fields"),
                                           Flag(request, "zip"));
    }
  } else if (command == "alternative_job") {
    installer::InitCrashServerUrls();
    installer::AlternativeUploadJob job(base::FilePath(WideString(request, "file")),
                                        WideMap(request, "fields"),
                                        /*delete_file=*/false, Flag(request, "gzip"));
    ok = SendWithLength(*job.BuildBody(),
                        base::WideToUtf8(installer::GetAlternativeCrashServerUrl()), 0);
  }
  result->SetByKey("ok", base::MakeBooleanValue(ok));
}

}  // namespace

int main() {
  base::CommandLine::Init();
  const base::CommandLine::StringVector& argv =
      base::CommandLine::ForCurrentProcess()->argv();
  std::string text;
  if (argv.size() != 2 || !base::ReadFileToString(base::FilePath(argv[1]), &text)) {
    std::fputs("usage: crash_upload_tool REQUEST.json\n", stderr);
    return 2;
  }
  base::DictionaryValueOwner request = base::DictionaryValue::From(base::ReadJson(text));
  if (!request) {
    std::fputs("the request is not a JSON dictionary\n", stderr);
    return 2;
  }
  base::DictionaryValue result;
  Run(*request, &result);
  std::string json;
  base::WriteJson(result, &json);
  std::printf("%s\n", json.c_str());
  return 0;
}
