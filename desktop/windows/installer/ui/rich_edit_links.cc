#include "desktop/windows/installer/ui/rich_edit_links.h"

#include <commctrl.h>

#include <algorithm>
#include <cstring>
#include <string_view>

#include "base/logging.h"

namespace installer {
namespace {

constexpr std::wstring_view kAnchorStart = L"<a ";
constexpr std::wstring_view kTargetStart = L"href=\"";
constexpr std::wstring_view kAnchorEnd = L"</a>";

constexpr char kFieldStart[] = "{\\field{\\*\\fldinst{HYPERLINK \"";
constexpr char kFieldResult[] = "\"}}{\\fldrslt{\\ul ";
constexpr char kFieldEnd[] = "}}}";
constexpr char kLineBreak[] = "\\line";
// What a control shows when it cannot make a link of a field: the field's
// instruction as text.
constexpr std::wstring_view kShownInstruction = L"HYPERLINK ";

void AppendEscaped(std::wstring_view text, std::wstring* output) {
  for (wchar_t c : text) {
    if (c == L'$')
      output->push_back(L'$');
    output->push_back(c);
  }
}

// Where the marker "$<digit>" first stands in converted text, whose own "$"
// are doubled.
size_t FindMarker(const std::wstring& text, wchar_t digit) {
  for (size_t i = 0; i + 1 < text.size(); ++i) {
    if (text[i] != L'$')
      continue;
    if (text[i + 1] == digit)
      return i;
    ++i;
  }
  return std::wstring::npos;
}

// The control keeps "\r\n" as one character.
LONG ControlPosition(const std::wstring& text, size_t index) {
  size_t pairs = 0;
  for (size_t i = 0; i + 1 < index; ++i) {
    if (text[i] == L'\r' && text[i + 1] == L'\n')
      ++pairs;
  }
  return static_cast<LONG>(index - pairs);
}

DWORD CALLBACK AppendStreamedBytes(DWORD_PTR cookie,
                                   LPBYTE buffer,
                                   LONG size,
                                   LONG* written) {
  reinterpret_cast<std::string*>(cookie)->append(
      reinterpret_cast<const char*>(buffer), size);
  *written = size;
  return 0;
}

struct StreamSource {
  const std::string* bytes;
  size_t position;
};

DWORD CALLBACK ReadStreamedBytes(DWORD_PTR cookie,
                                 LPBYTE buffer,
                                 LONG size,
                                 LONG* read) {
  auto* source = reinterpret_cast<StreamSource*>(cookie);
  const size_t left = source->bytes->size() - source->position;
  const size_t wanted = size > 0 ? static_cast<size_t>(size) : 0;
  const size_t count = std::min(wanted, left);
  std::memcpy(buffer, source->bytes->data() + source->position, count);
  source->position += count;
  *read = static_cast<LONG>(count);
  return 0;
}

std::string StreamOutRtf(HWND control) {
  std::string rtf;
  EDITSTREAM stream = {reinterpret_cast<DWORD_PTR>(&rtf), 0,
                       &AppendStreamedBytes};
  ::SendMessageW(control, EM_STREAMOUT, SF_RTF,
                 reinterpret_cast<LPARAM>(&stream));
  return rtf;
}

// The callback hands the bytes out in the pieces the control asks for, so
// an RTF text of any length goes in.
void StreamInRtf(HWND control, const std::string& rtf) {
  StreamSource source = {&rtf, 0};
  EDITSTREAM stream = {reinterpret_cast<DWORD_PTR>(&source), 0,
                       &ReadStreamedBytes};
  ::SendMessageW(control, EM_STREAMIN, SF_RTF,
                 reinterpret_cast<LPARAM>(&stream));
}

// Reads only the end of the first line: a line longer than any buffer the
// control would fill is fine.
bool FirstLineShowsFieldInstruction(HWND control) {
  const LONG length =
      static_cast<LONG>(::SendMessageW(control, EM_LINELENGTH, 0, 0));
  const LONG tail_length = static_cast<LONG>(kShownInstruction.size());
  if (length < tail_length)
    return false;
  std::wstring tail(kShownInstruction.size() + 1, L'\0');
  TEXTRANGEW range = {{length - tail_length, length}, tail.data()};
  const LRESULT copied = ::SendMessageW(control, EM_GETTEXTRANGE, 0,
                                        reinterpret_cast<LPARAM>(&range));
  tail.resize(copied > 0 ? static_cast<size_t>(copied) : 0);
  return tail == kShownInstruction;
}

void SetSelectionColor(HWND control, COLORREF color) {
  CHARFORMAT2W format = {};
  format.cbSize = sizeof(format);
  format.dwMask = CFM_COLOR;
  format.crTextColor = color;
  ::SendMessageW(control, EM_SETCHARFORMAT, SCF_SELECTION,
                 reinterpret_cast<LPARAM>(&format));
}

}  // namespace

void LoadRichEditLibrary() {
  INITCOMMONCONTROLSEX controls = {
      sizeof(controls), ICC_WIN95_CLASSES | ICC_USEREX_CLASSES |
                            ICC_STANDARD_CLASSES | ICC_LINK_CLASS};
  if (!::InitCommonControlsEx(&controls))
    PLOG(ERROR) << "InitCommonControlsEx failed.";
  if (!::LoadLibraryW(L"Msftedit.dll"))
    PLOG(ERROR) << "Loading library Msftedit.dll failed.";
}

std::wstring ConvertLinkMarkup(const std::wstring& text) {
  const std::wstring_view view(text);
  std::wstring result;
  size_t position = 0;
  for (size_t anchor = view.find(kAnchorStart); anchor != view.npos;
       anchor = view.find(kAnchorStart, position)) {
    AppendEscaped(view.substr(position, anchor - position), &result);
    result += L"$1";
    position = anchor + kAnchorStart.size();
    // The target is looked for inside this anchor's opening tag only: an
    // anchor without one must not take the next anchor's.
    const size_t tag_end = view.find(L'>', position);
    const size_t target = view.substr(0, tag_end).find(kTargetStart, position);
    if (target != view.npos) {
      const size_t target_start = target + kTargetStart.size();
      const size_t quote = view.find(L'"', target_start);
      if (quote != view.npos) {
        AppendEscaped(view.substr(target_start, quote - target_start), &result);
        result += L"$2";
        position = quote + 1;
      }
    }
    const size_t text_start = view.find(L'>', position);
    if (text_start != view.npos) {
      const size_t text_end = view.find(kAnchorEnd, text_start + 1);
      if (text_end != view.npos) {
        AppendEscaped(view.substr(text_start + 1, text_end - text_start - 1),
                      &result);
        result += L"$3";
        position = text_end + kAnchorEnd.size();
      }
    }
  }
  AppendEscaped(view.substr(position), &result);
  return result;
}

std::string ReplaceLinkMarkers(const std::string& rtf, bool link_on_new_line) {
  std::string result;
  result.reserve(rtf.size());
  for (size_t i = 0; i < rtf.size(); ++i) {
    if (rtf[i] != '$' || i + 1 == rtf.size()) {
      result.push_back(rtf[i]);
      continue;
    }
    switch (rtf[i + 1]) {
      case '$':
        result.push_back('$');
        break;
      case '1':
        if (link_on_new_line)
          result += kLineBreak;
        result += kFieldStart;
        break;
      case '2':
        result += kFieldResult;
        break;
      case '3':
        result += kFieldEnd;
        break;
      default:
        result.push_back('$');
        continue;
    }
    ++i;
  }
  return result;
}

void SetRichTextWithLinks(HWND control,
                          const std::wstring& text,
                          COLORREF link_color) {
  const std::wstring converted = ConvertLinkMarkup(text);
  ::SetWindowTextW(control, converted.c_str());
  const size_t link_start = FindMarker(converted, L'1');
  const size_t link_end = FindMarker(converted, L'3');
  if (link_start != std::wstring::npos && link_end != std::wstring::npos &&
      link_start < link_end) {
    SetRichEditRangeColor(control, link_color,
                          {ControlPosition(converted, link_start),
                           ControlPosition(converted, link_end + 2)});
  }
  const std::string rtf = StreamOutRtf(control);
  StreamInRtf(control, ReplaceLinkMarkers(rtf, false));
  if (FirstLineShowsFieldInstruction(control))
    StreamInRtf(control, ReplaceLinkMarkers(rtf, true));
}

void SetRichEditTextColor(HWND control, COLORREF color) {
  SetRichEditRangeColor(control, color, {0, -1});
}

void SetRichEditRangeColor(HWND control, COLORREF color, CHARRANGE range) {
  ::SendMessageW(control, EM_EXSETSEL, 0, reinterpret_cast<LPARAM>(&range));
  SetSelectionColor(control, color);
  // Nothing stays selected: a read-only text shows no selection.
  CHARRANGE empty = {0, 0};
  ::SendMessageW(control, EM_EXSETSEL, 0, reinterpret_cast<LPARAM>(&empty));
}

}  // namespace installer
