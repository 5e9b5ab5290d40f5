#include "foundation/session/NotifyInfo.h"

#include <gtest/gtest.h>

#include <ctime>
#include <memory>
#include <string>

#include "foundation/docs/XmlParser.h"

namespace {

// A holder marked loaded (id 17) with the document, as a loader would leave it.
std::unique_ptr<NotifyInfo> Holder(const std::wstring& xml, int loaded = 17) {
  auto holder = std::make_unique<NotifyInfo>();
  holder->parser = std::make_unique<CMyXMLParser>();
  EXPECT_TRUE(holder->parser->LoadXML(xml));
  holder->loaded = loaded;
  return holder;
}

std::wstring Doc(const std::wstring& info, const std::wstring& rest = L"<text>Hello</text><link>https://x/</link>") {
  return L"<notice>" + info + rest + L"</notice>";
}

time_t Local(int y, int mo, int d, int h, int mi, int s) {
  struct tm t = {};
  t.tm_year = y - 1900;
  t.tm_mon = mo - 1;
  t.tm_mday = d;
  t.tm_hour = h;
  t.tm_min = mi;
  t.tm_sec = s;
  t.tm_isdst = -1;
  return mktime(&t);
}

}  // namespace

TEST(NotifyInfo, NoDocumentMeansNoNotification) {
  NotifyInfo empty;
  std::wstring text = L"keep", link = L"keep";
  NotifyItem item;
  EXPECT_EQ(0, empty.ReadNotification(text, link, &item));
  EXPECT_EQ(0, empty.ParseNotifyInfo(&item));

  auto notLoaded = Holder(Doc(L""), 0);
  EXPECT_EQ(0, notLoaded->ReadNotification(text, link, &item));
  EXPECT_EQ(L"keep", text);
  EXPECT_EQ(L"keep", link);

  auto noText = Holder(Doc(L"", L"<link>https://x/</link>"));
  EXPECT_EQ(0, noText->ReadNotification(text, link, nullptr));
  EXPECT_EQ(L"", text);
  EXPECT_EQ(L"https://x/", link);

  auto textOnly = Holder(Doc(L"", L"<text>Hi</text>"));
  EXPECT_EQ(1, textOnly->ReadNotification(text, link, nullptr));
  EXPECT_EQ(L"Hi", text);
  EXPECT_EQ(L"", link);
}

TEST(NotifyInfo, AttributesTable) {
  const time_t until = Local(2017, 1, 31, 18, 0, 0);
  const struct {
    const wchar_t* info;
    int result;
    int no, kind, severity;
    time_t until;
  } cases[] = {
      {L"<info no='12' kind='updates' severity='2' until='20170131 18:00:00'/>", 1, 12, 1, 2, until},
      {L"<info no='1' kind='SYSTEM' severity='0' until='20170131 18:00:00'/>", 1, 1, 0, 0, until},
      {L"<info no='1' kind='Promotion' severity='3' until='20170131 18:00:00'/>", 1, 1, 2, 3, until},
      {L"<info no='1' kind='others' severity='3' until='20170131 18:00:00'/>", 1, 1, 3, 3, until},
      {L"<info no='1' kind='news' severity='3' until='20170131 18:00:00'/>", 1, 1, -1, 3, until},
      // A missing or empty attribute leaves its field 0 (kind too) and the result 0.
      {L"<info no='4' severity='3' until='20170131 18:00:00'/>", 0, 4, 0, 3, until},
      {L"<info no='4' kind='' severity='3' until='20170131 18:00:00'/>", 0, 4, 0, 3, until},
      {L"<info kind='updates' severity='3'/>", 0, 0, 1, 3, 0},
      {L"", 0, 0, 0, 0, 0},
  };
  for (const auto& c : cases) {
    auto holder = Holder(Doc(c.info));
    NotifyItem item;
    item.no = 99;
    std::wstring text, link;
    EXPECT_EQ(c.result, holder->ReadNotification(text, link, &item)) << std::string(c.info, c.info + wcslen(c.info));
    EXPECT_EQ(L"Hello", text);
    EXPECT_EQ(17, item.id);
    EXPECT_EQ(c.no, item.no);
    EXPECT_EQ(c.kind, item.kind);
    EXPECT_EQ(c.severity, item.severity);
    EXPECT_EQ(c.until, item.until);
  }
}

TEST(NotifyInfo, UntilMustBeAValidTime) {
  time_t t = 0;
  ASSERT_TRUE(ParseNotifyUntil(L"20170131 18:00:00", &t));
  struct tm local = *localtime(&t);
  EXPECT_EQ(117, local.tm_year);
  EXPECT_EQ(0, local.tm_mon);
  EXPECT_EQ(31, local.tm_mday);
  EXPECT_EQ(18, local.tm_hour);
  EXPECT_EQ(0, local.tm_min);

  for (const wchar_t* bad : {L"20171331 18:00:00", L"20170132 18:00:00", L"20170100 18:00:00",
                             L"18991231 23:59:59", L"20170131 24:00:00", L"20170131 18:60:00",
                             L"20170131 18:00:60", L"2017013 18:00:00", L"20170131T18:00:00",
                             L"20170131 18:00:00Z", L"2017-1-31 18:00", L"", L"tomorrow"}) {
    EXPECT_FALSE(ParseNotifyUntil(bad, &t)) << std::string(bad, bad + wcslen(bad));
    auto holder = Holder(Doc(std::wstring(L"<info no='1' kind='system' severity='1' until='") + bad + L"'/>"));
    NotifyItem item;
    std::wstring text, link;
    EXPECT_EQ(0, holder->ReadNotification(text, link, &item)) << std::string(bad, bad + wcslen(bad));
  }
}
