#include "app/ReceiverMaps.h"

#include <cwctype>

#include "classlib/Str.h"
#include "foundation/log/Logger.h"

// Right after the application object (main.cpp), before other modules' statics.
__attribute__((init_priority(102))) ReceiverMap g_mapFoundReceivers;
__attribute__((init_priority(103))) ReceiverMap g_mapListedReceivers;

std::wstring ReceiverKey(const std::string& address) { return cl::FormatW(L"%-15S", address.c_str()); }

ScopedMutex::ScopedMutex(HANDLE mutex) : mutex_(mutex) {
  if (mutex_) WaitForSingleObject(mutex_, INFINITE);
}

ScopedMutex::~ScopedMutex() {
  if (mutex_) ReleaseMutex(mutex_);
}

bool AddFoundReceiver(HANDLE foundMutex, const ReceiverEntry& entry) {
  if (entry.port != kReceiverAudioPort) return false;
  const std::wstring key = ReceiverKey(entry.address);
  ScopedMutex lock(foundMutex);
  auto it = g_mapFoundReceivers.find(key);
  if (it != g_mapFoundReceivers.end()) {
    it->second = entry;
    return true;
  }
  if (g_mapFoundReceivers.size() >= kMaxFoundReceivers) {
    ZtLogger::Instance().Warn("[UI] found receivers full (%u), %s at %s not added",
                              static_cast<unsigned>(g_mapFoundReceivers.size()), entry.name.c_str(),
                              entry.address.c_str());
    return false;
  }
  g_mapFoundReceivers.emplace(key, entry);
  return true;
}

bool RemoveFoundReceiver(HANDLE foundMutex, const std::string& name) {
  ScopedMutex lock(foundMutex);
  for (auto it = g_mapFoundReceivers.begin(); it != g_mapFoundReceivers.end(); ++it) {
    if (it->second.name == name) {
      g_mapFoundReceivers.erase(it);
      return true;
    }
  }
  return false;
}

namespace {

std::wstring Trim(const std::wstring& text) {
  size_t b = 0, e = text.size();
  while (b < e && iswspace(text[b])) ++b;
  while (e > b && iswspace(text[e - 1])) --e;
  return text.substr(b, e - b);
}

// CString::Tokenize: skips leading delimiters, returns the run up to the
// next delimiter and moves past it; empty (and pos npos) at the end.
std::wstring Tokenize(const std::wstring& text, wchar_t delimiter, size_t& pos) {
  if (pos == std::wstring::npos) return L"";
  while (pos < text.size() && text[pos] == delimiter) ++pos;
  if (pos >= text.size()) {
    pos = std::wstring::npos;
    return L"";
  }
  size_t end = text.find(delimiter, pos);
  std::wstring token = text.substr(pos, end == std::wstring::npos ? std::wstring::npos : end - pos);
  pos = end == std::wstring::npos ? text.size() : end + 1;
  return token;
}

bool AllDigits(const std::wstring& text) {
  if (text.empty()) return false;
  for (wchar_t c : text) {
    if (c < L'0' || c > L'9') return false;
  }
  return true;
}

// Decimal digits only, value at most limit.
bool DecimalNumber(const std::wstring& text, size_t maxDigits, unsigned limit, unsigned* value) {
  if (!AllDigits(text)) return false;
  size_t first = text.find_first_not_of(L'0');
  if (first == std::wstring::npos) first = text.size();  // all zeros
  if (text.size() - first > maxDigits) return false;
  unsigned v = 0;
  for (size_t i = first; i < text.size(); ++i) v = v * 10 + static_cast<unsigned>(text[i] - L'0');
  if (v > limit) return false;
  *value = v;
  return true;
}

}  // namespace

void RemoveOwnAddresses(ReceiverMap& listed, const std::vector<AdapterRecord>& adapters) {
  for (const AdapterRecord& adapter : adapters) {
    if (adapter.address == L"localhost\n") {
      listed.erase(ReceiverKey("127.0.0.1"));
      continue;
    }
    const std::wstring own = Trim(adapter.address);
    for (auto it = listed.begin(); it != listed.end(); ++it) {
      if (Trim(it->first) == own) {
        listed.erase(it);
        break;
      }
    }
  }
}

bool ReceiverAtPosition(const ReceiverMap& map, int k, ReceiverEntry& out) {
  if (k < 0 || static_cast<size_t>(k) >= map.size()) return false;
  auto it = map.begin();
  std::advance(it, k);
  out = it->second;
  return true;
}

TypedTarget ParseTypedTarget(const std::wstring& text) {
  TypedTarget target;
  if (text.empty()) return target;
  size_t pos = 0;
  std::wstring parts[4];
  parts[0] = Tokenize(text, L'.', pos);
  parts[1] = Tokenize(text, L'.', pos);
  parts[2] = Tokenize(text, L'.', pos);
  parts[3] = Tokenize(text, L':', pos);
  for (const std::wstring& p : parts) {
    if (p.empty()) {
      target.kind = TypedTarget::kConnectionId;
      return target;
    }
  }
  unsigned port = kReceiverAudioPort;
  const std::wstring portText = Tokenize(text, L':', pos);
  if (!portText.empty() && (!DecimalNumber(portText, 5, 65535, &port) || port == 0)) return target;
  unsigned n[4];
  for (int i = 0; i < 4; ++i) {
    // Three digits at most, as typed: "0010" is no address part.
    if (parts[i].size() > 3 || !DecimalNumber(parts[i], 3, 255, &n[i])) return target;
  }
  target.kind = TypedTarget::kAddress;
  target.address = cl::FormatA("%u.%u.%u.%u", n[0], n[1], n[2], n[3]);
  target.port = static_cast<int>(port);
  return target;
}

LookupAction DecideLookupResult(WPARAM wParam, LPARAM lParam, size_t reachableCount) {
  LookupAction action;
  if (wParam == 1) {
    if (lParam >= 0 && static_cast<size_t>(lParam) < reachableCount) {
      action.kind = LookupAction::kAddReceiver;
      action.index = static_cast<size_t>(lParam);
    }
  } else if (wParam == 2) {
    action.kind = LookupAction::kMessageBox;
    action.stringId = lParam == 3 ? 347 : 319;
  } else if (wParam == 0 && lParam == 0) {
    action.kind = LookupAction::kMessageBox;
    action.stringId = 318;
  }
  return action;
}

RECT EvenCaptureArea(POINT start, POINT end) {
  RECT r;
  r.left = start.x < end.x ? start.x : end.x;
  r.top = start.y < end.y ? start.y : end.y;
  r.right = start.x < end.x ? end.x : start.x;
  r.bottom = start.y < end.y ? end.y : start.y;
  if ((r.right - r.left) % 2 != 0) r.right -= 1;
  if ((r.bottom - r.top) % 2 != 0) r.bottom -= 1;
  return r;
}
