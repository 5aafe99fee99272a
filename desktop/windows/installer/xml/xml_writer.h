#ifndef DESKTOP_WINDOWS_INSTALLER_XML_XML_WRITER_H_
#define DESKTOP_WINDOWS_INSTALLER_XML_XML_WRITER_H_

#include <string>

#include "base/win/com_ptr.h"

struct IXMLDOMDocument;
struct IXMLDOMNode;

namespace installer {

// Builds an XML document element by element in an MSXML 3.0 DOM and turns it
// into indented text. Text crosses this interface as UTF-8. COM must be
// initialised on the calling thread, which is the only one to use the object.
class XmlWriter {
 public:
  XmlWriter();
  ~XmlWriter();
  XmlWriter(const XmlWriter&) = delete;
  XmlWriter& operator=(const XmlWriter&) = delete;

  // Starts a new, empty document; the cursor stands on the document node.
  bool Create();
  // Appends an element to the current node and makes it current.
  bool StartElement(const std::string& name);
  // Back to the parent element; on the root element the cursor stays.
  bool EndElement();
  // Both refuse a text with a character that XML cannot hold (a control
  // character other than tab and line ends, U+FFFE, U+FFFF).
  bool AddAttribute(const std::string& name, const std::string& value);
  // Replaces whatever the current element holds with `text`.
  bool Characters(const std::string& text);

  // The document as UTF-8 text without byte-order mark: the line
  // <?xml version="1.0"?>, then one element per line, indented by one blank
  // per level, every line ended by "\n". An element without content is
  // written as <name/>; one that holds text is written whole on one line,
  // since blanks added inside it would change its text. Text escapes & < >
  // and line ends, attribute values also " and tabs. False when the
  // document has no root element.
  bool Serialize(std::string* text) const;

 private:
  base::win::ComPtr<IXMLDOMDocument> document_;
  base::win::ComPtr<IXMLDOMNode> current_;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_XML_XML_WRITER_H_
