#include "desktop/windows/installer/xml/xml_reader.h"

#include <windows.h>

#include <oleauto.h>

#include <utility>

#include "base/files/new_file_in_folder.h"
#include "base/logging.h"
#include "base/strings/utf_string_conversions.h"
#include "base/win/scoped_bstr.h"
#include "base/win/scoped_variant.h"
#include "desktop/windows/installer/xml/msxml_ids.h"

namespace installer {

namespace {

using base::win::ComPtr;
using base::win::ScopedBstr;
using base::win::ScopedVariant;

// Far beyond any document the installer writes.
constexpr size_t kMaxDocumentSize = 64 << 20;

void LogComFailure(const char* call, HRESULT result) {
  LOG(ERROR) << call << " failed: 0x" << std::hex
             << static_cast<unsigned long>(result);
}

std::string BstrToUtf8(BSTR text) {
  return base::WidePieceToUtf8(
      base::WideStringSlice(text, ::SysStringLen(text)));
}

// Running out of memory here leaves nothing sensible to report.
void Utf8ToBstr(const std::string& utf8, ScopedBstr* bstr) {
  std::wstring wide = base::Utf8ToWide(utf8);
  bstr->Reset(::SysAllocString(wide.c_str()));
  CHECK(bstr->Get()) << "Out of memory converting " << utf8;
}

}  // namespace

XmlReader::XmlReader() = default;

XmlReader::~XmlReader() = default;

bool XmlReader::CreateDocument(std::string* error) {
  current_.Reset();
  HRESULT result = document_.CreateInstance(kDomDocument30Clsid);
  if (FAILED(result)) {
    LogComFailure("Creating DOMDocument30", result);
    *error = "Cannot create DOM document instance";
    return false;
  }
  if (FAILED(result = document_->put_async(VARIANT_FALSE)) ||
      FAILED(result = document_->put_validateOnParse(VARIANT_FALSE)) ||
      FAILED(result = document_->put_resolveExternals(VARIANT_FALSE)) ||
      FAILED(result = document_->put_preserveWhiteSpace(VARIANT_TRUE))) {
    LogComFailure("Setting the DOM document's parameters", result);
    document_.Reset();
    *error = "Cannot set the parameters on DOM document";
    return false;
  }
  return true;
}

bool XmlReader::LoadFile(const base::FilePath& path, std::string* error) {
  // The document's own reader would follow a link and read any size: the
  // file may lie in a folder that a less trusted process can write.
  std::string bytes;
  if (!base::NewFileInFolder::ReadToString(path.value(), kMaxDocumentSize,
                                           &bytes)) {
    PLOG(ERROR) << "Reading " << path.AsUTF8();
    *error = "Cannot load the document from file";
    return false;
  }
  if (!CreateDocument(error))
    return false;
  ScopedVariant source(bytes);
  CHECK(source.type() != VT_EMPTY) << "Out of memory holding a document";
  VARIANT_BOOL loaded = VARIANT_FALSE;
  // A file that is not well-formed answers S_FALSE rather than an error.
  HRESULT result = document_->load(source.Get(), &loaded);
  if (result != S_OK || loaded != VARIANT_TRUE) {
    LogComFailure("Loading the XML document", result);
    *error = "Cannot load the document from file";
    return false;
  }
  result = document_.QueryInterface(&current_);
  if (FAILED(result)) {
    LogComFailure("Querying the document node", result);
    *error = "Cannot query the current node";
    return false;
  }
  return true;
}

XmlReader::MoveResult XmlReader::GoToFirstChild() {
  if (!current_)
    return kFailed;
  ComPtr<IXMLDOMNode> child;
  HRESULT result = current_->get_firstChild(child.Receive());
  if (FAILED(result)) {
    LogComFailure("IXMLDOMNode::get_firstChild", result);
    return kFailed;
  }
  return MoveToElementFrom(std::move(child));
}

XmlReader::MoveResult XmlReader::GoToNextSibling() {
  if (!current_)
    return kFailed;
  ComPtr<IXMLDOMNode> sibling;
  HRESULT result = current_->get_nextSibling(sibling.Receive());
  if (FAILED(result)) {
    LogComFailure("IXMLDOMNode::get_nextSibling", result);
    return kFailed;
  }
  return MoveToElementFrom(std::move(sibling));
}

XmlReader::MoveResult XmlReader::GoToParent() {
  if (!current_)
    return kFailed;
  ComPtr<IXMLDOMNode> parent;
  HRESULT result = current_->get_parentNode(parent.Receive());
  if (FAILED(result)) {
    LogComFailure("IXMLDOMNode::get_parentNode", result);
    return kFailed;
  }
  if (!parent)
    return kNoSuchElement;
  DOMNodeType type;
  result = parent->get_nodeType(&type);
  if (FAILED(result)) {
    LogComFailure("IXMLDOMNode::get_nodeType", result);
    return kFailed;
  }
  if (type != NODE_ELEMENT)
    return kNoSuchElement;
  current_ = std::move(parent);
  return kMoved;
}

XmlReader::MoveResult XmlReader::MoveToElementFrom(ComPtr<IXMLDOMNode> node) {
  while (node) {
    DOMNodeType type;
    HRESULT result = node->get_nodeType(&type);
    if (FAILED(result)) {
      LogComFailure("IXMLDOMNode::get_nodeType", result);
      return kFailed;
    }
    if (type == NODE_ELEMENT) {
      current_ = std::move(node);
      return kMoved;
    }
    ComPtr<IXMLDOMNode> next;
    result = node->get_nextSibling(next.Receive());
    if (FAILED(result)) {
      LogComFailure("IXMLDOMNode::get_nextSibling", result);
      return kFailed;
    }
    node = std::move(next);
  }
  return kNoSuchElement;
}

bool XmlReader::GetName(std::string* name) const {
  if (!current_)
    return false;
  ScopedBstr text;
  HRESULT result = current_->get_nodeName(text.Receive());
  if (FAILED(result)) {
    LogComFailure("IXMLDOMNode::get_nodeName", result);
    return false;
  }
  *name = BstrToUtf8(text.Get());
  return true;
}

bool XmlReader::GetText(std::string* text) const {
  if (!current_)
    return false;
  ScopedBstr content;
  HRESULT result = current_->get_text(content.Receive());
  if (FAILED(result)) {
    LogComFailure("IXMLDOMNode::get_text", result);
    return false;
  }
  *text = BstrToUtf8(content.Get());
  return true;
}

bool XmlReader::GetAttribute(const std::string& name,
                             std::string* value) const {
  ComPtr<IXMLDOMElement> element;
  if (FAILED(current_.QueryInterface(&element)))
    return false;
  ScopedBstr attribute_name;
  Utf8ToBstr(name, &attribute_name);
  ScopedVariant attribute;
  // A missing attribute answers S_FALSE with a null value.
  HRESULT result =
      element->getAttribute(attribute_name.Get(), attribute.Receive());
  if (result != S_OK || attribute.type() == VT_NULL)
    return false;
  if (attribute.type() == VT_BSTR) {
    *value = BstrToUtf8(V_BSTR(&attribute.Get()));
    return true;
  }
  ScopedVariant converted;
  // The source is only read; mingw's declaration merely lacks the const.
  result = ::VariantChangeType(
      converted.Receive(), const_cast<VARIANT*>(&attribute.Get()), 0, VT_BSTR);
  if (FAILED(result)) {
    LogComFailure("Converting an attribute to text", result);
    return false;
  }
  *value = BstrToUtf8(V_BSTR(&converted.Get()));
  return true;
}

}  // namespace installer
