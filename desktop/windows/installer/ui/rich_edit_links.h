#ifndef DESKTOP_WINDOWS_INSTALLER_UI_RICH_EDIT_LINKS_H_
#define DESKTOP_WINDOWS_INSTALLER_UI_RICH_EDIT_LINKS_H_

#include <windows.h>

#include <richedit.h>

#include <string>

namespace installer {

// Texts with HTML-like anchors (<a href="target">text</a>) shown as links in
// a Rich Edit control: the anchors become markers in plain text, the plain
// text is set, streamed out as RTF, and the markers are replaced there by
// HYPERLINK fields.

// Registers the common controls and loads the Rich Edit library; any number
// of times. Failures are logged; the caller goes on.
void LoadRichEditLibrary();

// The text with "$1" where a link starts, "$2" between its target and its
// text and "$3" where it ends. A "$" of the text itself is doubled, so that
// it never reads as a marker.
std::wstring ConvertLinkMarkup(const std::wstring& text);

// `rtf` with the markers replaced by the pieces of an RTF HYPERLINK field and
// every doubled "$" made single again. With `link_on_new_line`, each link
// starts on a line of its own.
std::string ReplaceLinkMarkers(const std::string& rtf, bool link_on_new_line);

// Shows `text` (anchor markup allowed) in `control`, the first link in
// `link_color`.
void SetRichTextWithLinks(HWND control,
                          const std::wstring& text,
                          COLORREF link_color);

void SetRichEditTextColor(HWND control, COLORREF color);
void SetRichEditRangeColor(HWND control, COLORREF color, CHARRANGE range);

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_UI_RICH_EDIT_LINKS_H_
