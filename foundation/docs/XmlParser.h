// A thin holder of one MSXML DOM document (COM) that answers the few
// questions the backend replies and the notification reader ask.
//
// COM is initialised on the constructing thread and uninitialised by the
// destructor, so an object is created, used and destroyed on one thread.
// Documents come from the network: external entities are never resolved and
// document type declarations are refused.
#pragma once

#include <windows.h>
#include <msxml2.h>

#include <string>

#include "classlib/ComPtr.h"

class CMyXMLParser {
 public:
  CMyXMLParser();
  virtual ~CMyXMLParser();
  CMyXMLParser(const CMyXMLParser&) = delete;
  CMyXMLParser& operator=(const CMyXMLParser&) = delete;

  bool HasDocument() const { return static_cast<bool>(document_); }

  // Keeps a copy of text and loads it; true only for a well-formed document.
  bool LoadXML(const std::wstring& text);
  // First node matching the XPath expression; empty when none.
  cl::ComPtr<IXMLDOMNode> SelectSingleNode(const std::wstring& xpath);
  // Elements with that tag in document order; empty on failure.
  cl::ComPtr<IXMLDOMNodeList> GetElementsByTagName(const std::wstring& tag);
  // Text (own and descendants') of the first element with that tag; "" when none.
  std::wstring GetElementText(const std::wstring& tag);
  // Value of the attribute on the first element with that tag where it is a
  // non-empty string; "" when none.
  std::wstring GetElementAttribute(const std::wstring& tag, const std::wstring& attribute);
  // The attribute of the first element with that tag: true when present,
  // out := its string value or "".
  bool GetFirstElementAttribute(const std::wstring& tag, const std::wstring& attribute,
                                std::wstring& out);

  const std::wstring& Text() const { return text_; }

 private:
  std::wstring text_;
  cl::ComPtr<IXMLDOMDocument> document_;
  bool comInitialised_ = false;
};
