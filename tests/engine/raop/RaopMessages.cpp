#include <mutex>

#include "FakeRaopReceiver.h"
#include "engine/raop/RaopUtil.h"

namespace {
std::mutex g_lock;
std::vector<std::string> g_lines;

void Collect(const char* line) {
  std::lock_guard<std::mutex> g(g_lock);
  g_lines.push_back(line);
}
}  // namespace

RaopMessages::RaopMessages() {
  clear();
  raopcl_set_message_hook(&Collect);
}

RaopMessages::~RaopMessages() { raopcl_set_message_hook(nullptr); }

std::vector<std::string> RaopMessages::lines() {
  std::lock_guard<std::mutex> g(g_lock);
  return g_lines;
}

bool RaopMessages::contains(const std::string& text) {
  std::lock_guard<std::mutex> g(g_lock);
  for (const auto& l : g_lines) {
    if (l.find(text) != std::string::npos) return true;
  }
  return false;
}

void RaopMessages::clear() {
  std::lock_guard<std::mutex> g(g_lock);
  g_lines.clear();
}
