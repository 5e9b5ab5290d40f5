#include "foundation/session/NotifyInfo.h"

#include <cstdio>
#include <cwchar>
#include <cwctype>

#include "foundation/docs/XmlParser.h"

NotifyInfo::NotifyInfo() = default;
NotifyInfo::~NotifyInfo() = default;

int NotifyKindFromText(const std::wstring& text) {
  const wchar_t* const kinds[] = {L"SYSTEM", L"UPDATES", L"PROMOTION", L"OTHERS"};
  for (int i = 0; i < 4; ++i) {
    if (_wcsicmp(text.c_str(), kinds[i]) == 0) return i;
  }
  return -1;
}

bool ParseNotifyUntil(const std::wstring& text, time_t* out) {
  // Exactly "YYYYMMDD hh:mm:ss"; read as "YYYY:MM:DD hh:mm:ss".
  static const wchar_t kShape[] = L"dddddddd dd:dd:dd";
  if (text.size() != wcslen(kShape)) return false;
  for (size_t i = 0; i < text.size(); ++i) {
    if (kShape[i] == L'd' ? !iswdigit(text[i]) : text[i] != kShape[i]) return false;
  }
  std::wstring spaced = text;
  spaced.insert(6, L":");
  spaced.insert(4, L":");
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
  int n = swscanf(spaced.c_str(), L"%04d:%02d:%02d %02d:%02d:%02d", &year, &month, &day, &hour, &minute,
                  &second);
  if (n != 6) return false;
  if (year < 1900 || month < 1 || month > 12 || day < 1 || day > 31 || hour < 0 || hour > 23 ||
      minute < 0 || minute > 59 || second < 0 || second > 59) {
    return false;
  }
  struct tm t = {};
  t.tm_year = year - 1900;
  t.tm_mon = month - 1;
  t.tm_mday = day;
  t.tm_hour = hour;
  t.tm_min = minute;
  t.tm_sec = second;
  t.tm_isdst = -1;  // the system decides
  time_t value = mktime(&t);
  if (value == static_cast<time_t>(-1)) return false;
  *out = value;
  return true;
}

int NotifyInfo::ReadNotification(std::wstring& text, std::wstring& link, NotifyItem* item) {
  if (!parser || !loaded) return 0;
  text = parser->GetElementText(L"text");
  link = parser->GetElementText(L"link");
  if (text.empty()) return 0;
  if (item) return ParseNotifyInfo(item);
  return 1;
}

int NotifyInfo::ParseNotifyInfo(NotifyItem* item) {
  if (!parser || !item) return 0;
  *item = NotifyItem();
  item->id = loaded;
  int present = 0;
  std::wstring value;
  if (parser->GetFirstElementAttribute(L"info", L"no", value) && !value.empty()) {
    item->no = _wtoi(value.c_str());
    ++present;
  }
  if (parser->GetFirstElementAttribute(L"info", L"kind", value) && !value.empty()) {
    item->kind = NotifyKindFromText(value);
    ++present;
  }
  if (parser->GetFirstElementAttribute(L"info", L"severity", value) && !value.empty()) {
    item->severity = _wtoi(value.c_str());
    ++present;
  }
  if (parser->GetFirstElementAttribute(L"info", L"until", value) && !value.empty()) {
    // A date that is no date makes the whole notice unusable.
    if (!ParseNotifyUntil(value, &item->until)) return 0;
    ++present;
  }
  return present == 4 ? 1 : 0;
}
