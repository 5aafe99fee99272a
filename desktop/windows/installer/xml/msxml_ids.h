#ifndef DESKTOP_WINDOWS_INSTALLER_XML_MSXML_IDS_H_
#define DESKTOP_WINDOWS_INSTALLER_XML_MSXML_IDS_H_

#include <windows.h>
#include <msxml2.h>

// mingw's MSXML header declares these identifiers but no import library
// defines them, and it gives the interfaces no __uuidof: both are stated
// here with their published values.

__CRT_UUID_DECL(IXMLDOMNode,
                0x2933bf80, 0x7b36, 0x11d2,
                0xb2, 0x0e, 0x00, 0xc0, 0x4f, 0x98, 0x3e, 0x60)
__CRT_UUID_DECL(IXMLDOMDocument,
                0x2933bf81, 0x7b36, 0x11d2,
                0xb2, 0x0e, 0x00, 0xc0, 0x4f, 0x98, 0x3e, 0x60)
__CRT_UUID_DECL(IXMLDOMElement,
                0x2933bf86, 0x7b36, 0x11d2,
                0xb2, 0x0e, 0x00, 0xc0, 0x4f, 0x98, 0x3e, 0x60)

namespace installer {

// The MSXML 3.0 DOM document class.
inline constexpr CLSID kDomDocument30Clsid = {
    0xf5078f32, 0xc551, 0x11d3, {0x89, 0xb9, 0x00, 0x00, 0xf8, 0x1f, 0xe2, 0x21}};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_XML_MSXML_IDS_H_
