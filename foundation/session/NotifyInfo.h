// The notification holder of the session configuration: an XML document
// describing one message for the session window's status line (text, link,
// number, kind, severity, expiry), and its reader.
//
//   <info no="12" kind="updates" severity="2" until="20170131 18:00:00"/>
//   <text>...</text> <link>...</link>
//
// Nothing loads a document yet, so every read reports no notification.
#pragma once

#include <ctime>
#include <memory>
#include <string>

class CMyXMLParser;

// Kind codes of the "kind" attribute (compared without regard to case).
enum NotifyKind { NOTIFY_SYSTEM = 0, NOTIFY_UPDATES = 1, NOTIFY_PROMOTION = 2, NOTIFY_OTHERS = 3 };

struct NotifyItem {
  int id = 0;        // the holder's loaded value
  int no = 0;
  int kind = 0;      // NotifyKind, -1 for an unknown word
  int severity = 0;
  time_t until = 0;  // local time
};

class NotifyInfo {
 public:
  NotifyInfo();
  ~NotifyInfo();
  NotifyInfo(const NotifyInfo&) = delete;
  NotifyInfo& operator=(const NotifyInfo&) = delete;

  // 0 when there is no document. Otherwise text and link := the first
  // "text" and "link" elements' texts (each "" when missing) and the result
  // is 1 when text is not empty; with an item asked for, the result is
  // ParseNotifyInfo's instead.
  int ReadNotification(std::wstring& text, std::wstring& link, NotifyItem* item);
  // Resets item and fills it from the first "info" element's attributes; 1
  // only when all four are present and not empty and "until" is a valid
  // time ("YYYYMMDD hh:mm:ss"), else 0 (a missing attribute leaves 0).
  int ParseNotifyInfo(NotifyItem* item);

  // 0: no document; any other value marks it loaded and becomes NotifyItem::id.
  int loaded = 0;
  std::unique_ptr<CMyXMLParser> parser;
};

// -1 for any word but the four kinds.
int NotifyKindFromText(const std::wstring& text);
// "YYYYMMDD hh:mm:ss" as local time; false for a text that is no valid time
// (year from 1900, month 1-12, day 1-31, hour 0-23, minute and second 0-59).
bool ParseNotifyUntil(const std::wstring& text, time_t* out);
