#include "foundation/docs/XmlParser.h"

#include <oleauto.h>

#include "foundation/log/Logger.h"

namespace {

// DOMDocument (version independent) and IXMLDOMDocument.
const CLSID kClsidDomDocument = {0x2933BF90, 0x7B36, 0x11D2,
                                 {0xB2, 0x0E, 0x00, 0xC0, 0x4F, 0x98, 0x3E, 0x60}};
const IID kIidXmlDomDocument = {0x2933BF81, 0x7B36, 0x11D2,
                                {0xB2, 0x0E, 0x00, 0xC0, 0x4F, 0x98, 0x3E, 0x60}};
const IID kIidXmlDomDocument2 = {0x2933BF95, 0x7B36, 0x11D2,
                                 {0xB2, 0x0E, 0x00, 0xC0, 0x4F, 0x98, 0x3E, 0x60}};
const IID kIidXmlDomElement = {0x2933BF86, 0x7B36, 0x11D2,
                               {0xB2, 0x0E, 0x00, 0xC0, 0x4F, 0x98, 0x3E, 0x60}};

// A BSTR owned for the length of one call.
class Bstr {
 public:
  explicit Bstr(const std::wstring& s)
      : b_(SysAllocStringLen(s.data(), static_cast<UINT>(s.size()))) {}
  Bstr() = default;
  ~Bstr() { SysFreeString(b_); }
  Bstr(const Bstr&) = delete;
  Bstr& operator=(const Bstr&) = delete;
  BSTR get() const { return b_; }
  BSTR* put() {
    SysFreeString(b_);
    b_ = nullptr;
    return &b_;
  }
  std::wstring str() const { return b_ ? std::wstring(b_, SysStringLen(b_)) : std::wstring(); }

 private:
  BSTR b_ = nullptr;
};

void SetProperty(IXMLDOMDocument2* doc, const wchar_t* name, VARIANT value) {
  Bstr n(name);
  doc->setProperty(n.get(), value);  // an unknown property is no reason to fail
}

}  // namespace

CMyXMLParser::CMyXMLParser() {
  HRESULT hr = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  // S_FALSE also counts one initialisation to undo; a thread already in the
  // multithreaded apartment has nothing to undo.
  comInitialised_ = SUCCEEDED(hr);
  hr = CoCreateInstance(kClsidDomDocument, nullptr, CLSCTX_SERVER, kIidXmlDomDocument,
                        reinterpret_cast<void**>(document_.put()));
  if (FAILED(hr) || !document_) {
    document_.reset();
    ZtLogger::Instance().Error("CreateXMLDOMDocument error: %d", static_cast<int>(hr));
    return;
  }
  document_->put_async(VARIANT_FALSE);
  document_->put_validateOnParse(VARIANT_FALSE);
  document_->put_resolveExternals(VARIANT_FALSE);
  cl::ComPtr<IXMLDOMDocument2> doc2;
  if (SUCCEEDED(document_->QueryInterface(kIidXmlDomDocument2,
                                          reinterpret_cast<void**>(doc2.put())))) {
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_BOOL;
    v.boolVal = VARIANT_TRUE;
    SetProperty(doc2.get(), L"ProhibitDTD", v);
    VARIANT lang;
    VariantInit(&lang);
    lang.vt = VT_BSTR;
    lang.bstrVal = SysAllocString(L"XPath");
    SetProperty(doc2.get(), L"SelectionLanguage", lang);
    VariantClear(&lang);
  }
}

CMyXMLParser::~CMyXMLParser() {
  document_.reset();
  if (comInitialised_) CoUninitialize();
}

bool CMyXMLParser::LoadXML(const std::wstring& text) {
  text_ = text;
  if (!document_) return false;
  // No reply or notification needs a document type declaration, and not
  // every parser honours ProhibitDTD: entity expansion is refused here.
  if (text.find(L"<!DOCTYPE") != std::wstring::npos) {
    ZtLogger::Instance().Error("LoadXML error: %d", static_cast<int>(E_INVALIDARG));
    Bstr empty(L"");
    VARIANT_BOOL ignored;
    document_->loadXML(empty.get(), &ignored);  // no answers from an earlier document
    return false;
  }
  Bstr b(text);
  VARIANT_BOOL loaded = VARIANT_FALSE;
  HRESULT hr = document_->loadXML(b.get(), &loaded);
  if (hr != S_OK || loaded != VARIANT_TRUE) {
    ZtLogger::Instance().Error("LoadXML error: %d", static_cast<int>(hr));
    return false;
  }
  return true;
}

cl::ComPtr<IXMLDOMNode> CMyXMLParser::SelectSingleNode(const std::wstring& xpath) {
  cl::ComPtr<IXMLDOMNode> node;
  if (!document_) return node;
  Bstr b(xpath);
  if (document_->selectSingleNode(b.get(), node.put()) != S_OK) node.reset();
  return node;
}

cl::ComPtr<IXMLDOMNodeList> CMyXMLParser::GetElementsByTagName(const std::wstring& tag) {
  cl::ComPtr<IXMLDOMNodeList> list;
  if (!document_) return list;
  Bstr b(tag);
  if (FAILED(document_->getElementsByTagName(b.get(), list.put()))) list.reset();
  return list;
}

std::wstring CMyXMLParser::GetElementText(const std::wstring& tag) {
  cl::ComPtr<IXMLDOMNodeList> list = GetElementsByTagName(tag);
  if (!list) return std::wstring();
  cl::ComPtr<IXMLDOMNode> node;
  if (list->get_item(0, node.put()) != S_OK || !node) return std::wstring();
  Bstr text;
  if (FAILED(node->get_text(text.put()))) return std::wstring();
  return text.str();
}

std::wstring CMyXMLParser::GetElementAttribute(const std::wstring& tag,
                                               const std::wstring& attribute) {
  cl::ComPtr<IXMLDOMNodeList> list = GetElementsByTagName(tag);
  if (!list) return std::wstring();
  long count = 0;
  if (FAILED(list->get_length(&count))) return std::wstring();
  Bstr name(attribute);
  for (long i = 0; i < count; ++i) {
    cl::ComPtr<IXMLDOMNode> node;
    if (list->get_item(i, node.put()) != S_OK || !node) continue;
    cl::ComPtr<IXMLDOMElement> element;
    if (FAILED(node->QueryInterface(kIidXmlDomElement, reinterpret_cast<void**>(element.put())))) {
      continue;
    }
    VARIANT value;
    VariantInit(&value);
    std::wstring found;
    if (element->getAttribute(name.get(), &value) == S_OK && value.vt == VT_BSTR && value.bstrVal) {
      found.assign(value.bstrVal, SysStringLen(value.bstrVal));
    }
    VariantClear(&value);
    if (!found.empty()) return found;
  }
  return std::wstring();
}

bool CMyXMLParser::GetFirstElementAttribute(const std::wstring& tag, const std::wstring& attribute,
                                            std::wstring& out) {
  cl::ComPtr<IXMLDOMNodeList> list = GetElementsByTagName(tag);
  if (!list) return false;
  cl::ComPtr<IXMLDOMNode> node;
  if (list->get_item(0, node.put()) != S_OK || !node) return false;
  cl::ComPtr<IXMLDOMNamedNodeMap> attributes;
  if (node->get_attributes(attributes.put()) != S_OK || !attributes) return false;
  Bstr name(attribute);
  cl::ComPtr<IXMLDOMNode> item;
  if (attributes->getNamedItem(name.get(), item.put()) != S_OK || !item) return false;
  VARIANT value;
  VariantInit(&value);
  out.clear();
  if (SUCCEEDED(item->get_nodeValue(&value)) && value.vt == VT_BSTR && value.bstrVal) {
    out.assign(value.bstrVal, SysStringLen(value.bstrVal));
  }
  VariantClear(&value);
  return true;
}
