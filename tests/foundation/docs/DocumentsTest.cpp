#include <gtest/gtest.h>

#include <string>

#include "foundation/docs/JsonDocument.h"
#include "foundation/docs/XmlParser.h"

namespace {

const wchar_t kReply[] =
    L"<?xml version=\"1.0\" encoding=\"utf-8\"?>"
    L"<response>"
    L"  <status code=\"0\">OK</status>"
    L"  <item/><item name=\"\"/><item name=\"x\"/><item name=\"y\"/>"
    L"  <message>Hello <b>big</b> world</message>"
    L"</response>";

TEST(XmlParser, AnswersFromAWellFormedDocument) {
  CMyXMLParser xml;
  ASSERT_TRUE(xml.HasDocument());
  ASSERT_TRUE(xml.LoadXML(kReply));
  EXPECT_EQ(std::wstring(kReply), xml.Text());
  EXPECT_EQ(L"OK", xml.GetElementText(L"status"));
  EXPECT_EQ(L"Hello big world", xml.GetElementText(L"message"));  // descendants' text too
  EXPECT_EQ(L"", xml.GetElementText(L"absent"));
  // Missing, empty, then x: the first non-empty value.
  EXPECT_EQ(L"x", xml.GetElementAttribute(L"item", L"name"));
  EXPECT_EQ(L"", xml.GetElementAttribute(L"item", L"other"));
  EXPECT_EQ(L"0", xml.GetElementAttribute(L"status", L"code"));

  std::wstring value = L"stale";
  EXPECT_FALSE(xml.GetFirstElementAttribute(L"item", L"name", value));  // first item has none
  EXPECT_TRUE(xml.GetFirstElementAttribute(L"status", L"code", value));
  EXPECT_EQ(L"0", value);
  EXPECT_FALSE(xml.GetFirstElementAttribute(L"absent", L"code", value));

  cl::ComPtr<IXMLDOMNode> node = xml.SelectSingleNode(L"/response/status");
  ASSERT_TRUE(static_cast<bool>(node));
  EXPECT_FALSE(static_cast<bool>(xml.SelectSingleNode(L"/response/nothing")));
  cl::ComPtr<IXMLDOMNodeList> items = xml.GetElementsByTagName(L"item");
  ASSERT_TRUE(static_cast<bool>(items));
  long count = 0;
  items->get_length(&count);
  EXPECT_EQ(4, count);
}

TEST(XmlParser, MalformedAndHostileDocumentsAreRejected) {
  const std::wstring cases[] = {
      L"",
      L"<a><b></a>",
      L"not xml at all",
      L"<a attr=\"unterminated></a>",
      std::wstring(100000, L'<'),
      // Entity expansion and external entities: document type declarations
      // are refused outright.
      L"<?xml version=\"1.0\"?><!DOCTYPE l [<!ENTITY a \"aaaaaaaaaa\">"
      L"<!ENTITY b \"&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;\"><!ENTITY c \"&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;\">]>"
      L"<l>&c;</l>",
      L"<?xml version=\"1.0\"?><!DOCTYPE r [<!ENTITY x SYSTEM \"file:///c:/windows/win.ini\">]>"
      L"<r>&x;</r>",
  };
  for (const std::wstring& text : cases) {
    CMyXMLParser xml;
    EXPECT_FALSE(xml.LoadXML(text)) << std::string(text.begin(), text.begin() + std::min<size_t>(40, text.size()));
    EXPECT_EQ(L"", xml.GetElementText(L"r"));
  }
  // A failed load leaves nothing of the earlier document to answer from, and
  // a good document still loads afterwards.
  CMyXMLParser xml;
  ASSERT_TRUE(xml.LoadXML(L"<r>old</r>"));
  EXPECT_FALSE(xml.LoadXML(L"<r>"));
  EXPECT_EQ(L"", xml.GetElementText(L"r"));
  ASSERT_TRUE(xml.LoadXML(L"<r>old</r>"));
  EXPECT_FALSE(xml.LoadXML(cases[6]));
  EXPECT_EQ(L"", xml.GetElementText(L"r"));
  EXPECT_TRUE(xml.LoadXML(L"<a>1</a>"));
  EXPECT_EQ(L"1", xml.GetElementText(L"a"));
}

TEST(JsonDocument, StrictParsing) {
  JsonDocument doc;
  ASSERT_TRUE(doc.Parse(R"({"name":"Rx","port":7000,"interfaces":[{"ip":"127.0.0.1","mac":""}]})"));
  Json::Value root = doc.GetRoot();
  EXPECT_EQ("Rx", root["name"].asString());
  EXPECT_EQ(7000, root["port"].asInt());
  EXPECT_EQ("127.0.0.1", root["interfaces"][0]["ip"].asString());
  EXPECT_TRUE(doc.Parse("[1,2]"));
  EXPECT_TRUE(doc.GetRoot().isArray());

  // The empty text leaves the last root alone.
  EXPECT_FALSE(doc.Parse(""));
  EXPECT_TRUE(doc.GetRoot().isArray());
  EXPECT_EQ("", doc.Text());

  const std::string rejected[] = {
      "42",                          // the root must be an array or an object
      "\"text\"",
      "{\"a\":1 /* comment */}",     // no comments
      "// comment\n{\"a\":1}",
      "{\"a\":1,}",                  // no trailing comma
      "{\"a\":1}{",                  // nothing after the root
      "{\"a\":1,\"a\":2}",           // no duplicate keys
      "{'a':1}",
      "{\"a\":[1 // c\n]}",
      "{\"a\":",
      std::string(100000, '['),      // nesting past the parser's limit
      std::string(300, '[') + std::string(300, ']'),
  };
  for (const std::string& text : rejected) {
    EXPECT_FALSE(doc.Parse(text)) << text.substr(0, 40);
    EXPECT_TRUE(doc.GetRoot().isNull());
    EXPECT_EQ(text, doc.Text());
  }
  EXPECT_TRUE(doc.Parse(std::string(100, '[') + std::string(100, ']')));
  EXPECT_TRUE(doc.Parse(R"({"url":"http://x/y","q":"a\"/*b*/"})"));  // slashes inside strings
  EXPECT_EQ("a\"/*b*/", doc.GetRoot()["q"].asString());
}

}  // namespace
