#include "desktop/windows/installer/xml/xml_writer.h"

#include <windows.h>

#include <oleauto.h>

#include <utility>
#include <vector>

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

void LogComFailure(const char* call, HRESULT result) {
  LOG(ERROR) << call << " failed: 0x" << std::hex
             << static_cast<unsigned long>(result);
}

// Running out of memory here leaves nothing sensible to report.
void Utf8ToBstr(const std::string& utf8, ScopedBstr* bstr) {
  std::wstring wide = base::Utf8ToWide(utf8);
  bstr->Reset(::SysAllocString(wide.c_str()));
  CHECK(bstr->Get()) << "Out of memory converting " << utf8;
}

struct Escape {
  wchar_t character;
  // Null where the character stands for itself.
  const wchar_t* in_text;
  const wchar_t* in_attribute;
};

constexpr Escape kEscapes[] = {
    {L'&', L"&amp;", L"&amp;"},
    {L'<', L"&lt;", L"&lt;"},
    {L'>', L"&gt;", L"&gt;"},
    {L'"', nullptr, L"&quot;"},
    // A parser reads a raw carriage return as a line feed, and inside an
    // attribute value it reads line feeds and tabs as blanks. Line feeds in
    // text are written as references too, to keep one element per line.
    {L'\r', L"&#13;", L"&#13;"},
    {L'\n', L"&#10;", L"&#10;"},
    {L'\t', nullptr, L"&#9;"},
};

const Escape* FindEscape(wchar_t character) {
  for (const Escape& escape : kEscapes) {
    if (escape.character == character)
      return &escape;
  }
  return nullptr;
}

// XML 1.0 has no way to write the other control characters, not even as
// references, nor U+FFFE and U+FFFF.
bool IsForbidden(wchar_t character) {
  return (character < 0x20 && character != L'\t' && character != L'\n' &&
          character != L'\r') ||
         character == 0xFFFE || character == 0xFFFF;
}

void LogForbidden(wchar_t character) {
  LOG(ERROR) << "XML cannot hold the character U+" << std::hex
             << static_cast<unsigned>(character);
}

// MSXML would drop such characters from text silently.
bool CanHold(const std::wstring& text) {
  for (wchar_t character : text) {
    if (IsForbidden(character)) {
      LogForbidden(character);
      return false;
    }
  }
  return true;
}

enum class Context { kText, kAttribute };

// False for a character that no XML document can hold.
bool AppendEscaped(const std::wstring& text,
                   Context context,
                   std::wstring* output) {
  for (wchar_t character : text) {
    const Escape* escape = character <= L'>' ? FindEscape(character) : nullptr;
    const wchar_t* replacement = !escape ? nullptr
                                 : context == Context::kText
                                     ? escape->in_text
                                     : escape->in_attribute;
    if (replacement) {
      output->append(replacement);
    } else if (!IsForbidden(character)) {
      output->push_back(character);
    } else {
      LogForbidden(character);
      return false;
    }
  }
  return true;
}

bool ReadName(IXMLDOMNode* node, std::wstring* name) {
  ScopedBstr text;
  HRESULT result = node->get_nodeName(text.Receive());
  if (FAILED(result)) {
    LogComFailure("IXMLDOMNode::get_nodeName", result);
    return false;
  }
  name->assign(text.Get(), text.Length());
  return true;
}

// The raw value of a text or attribute node: unlike its text, it keeps
// outer blanks.
bool ReadValue(IXMLDOMNode* node, std::wstring* value) {
  ScopedVariant variant;
  HRESULT result = node->get_nodeValue(variant.Receive());
  if (FAILED(result) || variant.type() != VT_BSTR) {
    LogComFailure("IXMLDOMNode::get_nodeValue", result);
    return false;
  }
  BSTR text = V_BSTR(&variant.Get());
  value->assign(text, ::SysStringLen(text));
  return true;
}

// One child of an element: an element, or the value of a text node.
struct Child {
  ComPtr<IXMLDOMNode> element;
  std::wstring text;
};

// Writes the elements the writer built, as its header describes.
class DomSerializer {
 public:
  // An element inside text is written without line breaks or indentation.
  bool AppendElement(IXMLDOMNode* element, int depth, bool inside_text) {
    std::wstring name;
    if (!ReadName(element, &name))
      return false;
    if (!inside_text)
      output_.append(depth, L' ');
    output_ += L'<';
    output_ += name;
    std::vector<Child> children;
    bool holds_text = false;
    if (!AppendAttributes(element) ||
        !ReadChildren(element, &children, &holds_text)) {
      return false;
    }
    if (children.empty()) {
      output_ += L"/>";
    } else {
      const bool one_line = inside_text || holds_text;
      output_ += one_line ? L">" : L">\n";
      for (const Child& child : children) {
        const bool written =
            child.element
                ? AppendElement(child.element.Get(), depth + 1, one_line)
                : AppendEscaped(child.text, Context::kText, &output_);
        if (!written)
          return false;
      }
      if (!one_line)
        output_.append(depth, L' ');
      output_ += L"</";
      output_ += name;
      output_ += L'>';
    }
    if (!inside_text)
      output_ += L'\n';
    return true;
  }

  const std::wstring& output() const { return output_; }

 private:
  bool AppendAttributes(IXMLDOMNode* element) {
    ComPtr<IXMLDOMNamedNodeMap> attributes;
    HRESULT result = element->get_attributes(attributes.Receive());
    long count = 0;
    if (FAILED(result) || !attributes ||
        FAILED(result = attributes->get_length(&count))) {
      LogComFailure("Listing an element's attributes", result);
      return false;
    }
    for (long i = 0; i < count; ++i) {
      ComPtr<IXMLDOMNode> attribute;
      result = attributes->get_item(i, attribute.Receive());
      if (FAILED(result) || !attribute) {
        LogComFailure("IXMLDOMNamedNodeMap::get_item", result);
        return false;
      }
      std::wstring name;
      std::wstring value;
      if (!ReadName(attribute.Get(), &name) ||
          !ReadValue(attribute.Get(), &value)) {
        return false;
      }
      output_ += L' ';
      output_ += name;
      output_ += L"=\"";
      if (!AppendEscaped(value, Context::kAttribute, &output_))
        return false;
      output_ += L'"';
    }
    return true;
  }

  // Empty text nodes are left out: they change nothing a reader sees.
  bool ReadChildren(IXMLDOMNode* element,
                    std::vector<Child>* children,
                    bool* holds_text) {
    ComPtr<IXMLDOMNode> node;
    HRESULT result = element->get_firstChild(node.Receive());
    while (SUCCEEDED(result) && node) {
      DOMNodeType type;
      result = node->get_nodeType(&type);
      if (FAILED(result))
        break;
      Child child;
      if (type == NODE_TEXT) {
        if (!ReadValue(node.Get(), &child.text))
          return false;
        *holds_text |= !child.text.empty();
      } else if (type != NODE_ELEMENT) {
        LOG(ERROR) << "Cannot write a DOM node of type " << type;
        return false;
      }
      ComPtr<IXMLDOMNode> next;
      result = node->get_nextSibling(next.Receive());
      if (type == NODE_ELEMENT)
        child.element = std::move(node);
      if (child.element || !child.text.empty())
        children->push_back(std::move(child));
      node = std::move(next);
    }
    if (FAILED(result)) {
      LogComFailure("Walking an element's children", result);
      return false;
    }
    return true;
  }

  std::wstring output_;
};

}  // namespace

XmlWriter::XmlWriter() = default;

XmlWriter::~XmlWriter() = default;

bool XmlWriter::Create() {
  current_.Reset();
  HRESULT result = document_.CreateInstance(kDomDocument30Clsid);
  if (FAILED(result)) {
    LogComFailure("Creating DOMDocument30", result);
    return false;
  }
  if (FAILED(result = document_->put_async(VARIANT_FALSE)) ||
      FAILED(result = document_->put_validateOnParse(VARIANT_FALSE)) ||
      FAILED(result = document_->put_resolveExternals(VARIANT_FALSE)) ||
      FAILED(result = document_.QueryInterface(&current_))) {
    LogComFailure("Preparing the DOM document", result);
    document_.Reset();
    return false;
  }
  return true;
}

bool XmlWriter::StartElement(const std::string& name) {
  if (!current_)
    return false;
  ScopedBstr element_name;
  Utf8ToBstr(name, &element_name);
  ComPtr<IXMLDOMElement> element;
  HRESULT result =
      document_->createElement(element_name.Get(), element.Receive());
  if (FAILED(result)) {
    LogComFailure("IXMLDOMDocument::createElement", result);
    return false;
  }
  ComPtr<IXMLDOMNode> appended;
  result = current_->appendChild(element.Get(), appended.Receive());
  if (FAILED(result)) {
    LogComFailure("IXMLDOMNode::appendChild", result);
    return false;
  }
  current_ = std::move(appended);
  return true;
}

bool XmlWriter::EndElement() {
  if (!current_)
    return false;
  ComPtr<IXMLDOMNode> parent;
  HRESULT result = current_->get_parentNode(parent.Receive());
  DOMNodeType type = NODE_INVALID;
  if (FAILED(result) ||
      (parent && FAILED(result = parent->get_nodeType(&type)))) {
    LogComFailure("Finding the parent element", result);
    return false;
  }
  if (type == NODE_ELEMENT)
    current_ = std::move(parent);
  return true;
}

bool XmlWriter::AddAttribute(const std::string& name,
                             const std::string& value) {
  ComPtr<IXMLDOMElement> element;
  HRESULT result = current_.QueryInterface(&element);
  if (FAILED(result)) {
    LogComFailure("Querying the current element", result);
    return false;
  }
  ScopedBstr attribute_name;
  Utf8ToBstr(name, &attribute_name);
  std::wstring wide_value = base::Utf8ToWide(value);
  if (!CanHold(wide_value))
    return false;
  ScopedVariant attribute_value(wide_value.c_str());
  CHECK(V_BSTR(&attribute_value.Get())) << "Out of memory converting " << value;
  result = element->setAttribute(attribute_name.Get(), attribute_value.Get());
  if (FAILED(result)) {
    LogComFailure("IXMLDOMElement::setAttribute", result);
    return false;
  }
  return true;
}

bool XmlWriter::Characters(const std::string& text) {
  if (!current_)
    return false;
  std::wstring wide_text = base::Utf8ToWide(text);
  if (!CanHold(wide_text))
    return false;
  ScopedBstr content(wide_text.c_str());
  CHECK(content.Get()) << "Out of memory converting " << text;
  HRESULT result = current_->put_text(content.Get());
  if (FAILED(result)) {
    LogComFailure("IXMLDOMNode::put_text", result);
    return false;
  }
  return true;
}

bool XmlWriter::Serialize(std::string* text) const {
  if (!document_)
    return false;
  ComPtr<IXMLDOMElement> root;
  HRESULT result = document_->get_documentElement(root.Receive());
  if (FAILED(result) || !root) {
    LogComFailure("Finding the root element", result);
    return false;
  }
  DomSerializer serializer;
  if (!serializer.AppendElement(root.Get(), 0, false))
    return false;
  *text = "<?xml version=\"1.0\"?>\n" + base::WideToUtf8(serializer.output());
  return true;
}

}  // namespace installer
