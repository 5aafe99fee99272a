#ifndef DESKTOP_WINDOWS_INSTALLER_XML_XML_READER_H_
#define DESKTOP_WINDOWS_INSTALLER_XML_XML_READER_H_

#include <string>

#include "base/files/file_path.h"
#include "base/win/com_ptr.h"

struct IXMLDOMDocument;
struct IXMLDOMNode;

namespace installer {

// A cursor over the elements of an XML document parsed by MSXML 3.0. Text
// crosses this interface as UTF-8. Text, comment and processing-instruction
// nodes are stepped over as if absent. COM must be initialised on the calling
// thread, which is the only one to use the object.
class XmlReader {
 public:
  enum MoveResult {
    kMoved = 0,
    // No such element; the cursor stays.
    kNoSuchElement = 1,
    // A COM call failed; the cursor stays.
    kFailed = 2,
  };

  XmlReader();
  ~XmlReader();
  XmlReader(const XmlReader&) = delete;
  XmlReader& operator=(const XmlReader&) = delete;

  // A fresh, synchronous, non-validating document that resolves nothing
  // outside itself and keeps white space as written.
  bool CreateDocument(std::string* error);
  // Parses the file; the cursor then stands on the document node, so the
  // first GoToFirstChild reaches the root element.
  bool LoadFile(const base::FilePath& path, std::string* error);

  MoveResult GoToFirstChild();
  MoveResult GoToNextSibling();
  // Only to an element: from the root element the answer is kNoSuchElement.
  MoveResult GoToParent();

  bool GetName(std::string* name) const;
  // The text content of the current node and its descendants, outer blanks
  // included: a file name may begin with one.
  bool GetText(std::string* text) const;
  // False when the current node is not an element or lacks the attribute.
  bool GetAttribute(const std::string& name, std::string* value) const;

 private:
  // Makes the first element among `node` and its following siblings
  // current.
  MoveResult MoveToElementFrom(base::win::ComPtr<IXMLDOMNode> node);

  base::win::ComPtr<IXMLDOMDocument> document_;
  base::win::ComPtr<IXMLDOMNode> current_;
};

}  // namespace installer

#endif  // DESKTOP_WINDOWS_INSTALLER_XML_XML_READER_H_
