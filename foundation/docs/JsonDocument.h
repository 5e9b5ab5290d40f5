// A JSON text kept together with its parsed root, read by jsoncpp in strict
// mode: no comments, the root must be an array or an object, no trailing
// text, no duplicate keys. Malformed or hostile input (including nesting
// deep enough to exhaust the parser) gives false, never an exception.
#pragma once

#include <json/json.h>

#include <string>

class JsonDocument {
 public:
  JsonDocument();

  // text := the given text. False for an empty text (root untouched) and for
  // anything strict mode rejects (root is then null).
  bool Parse(const std::string& text);
  Json::Value GetRoot() const { return root_; }
  const std::string& Text() const { return text_; }

  // Deepest nesting accepted.
  static constexpr int kMaxDepth = 256;

 private:
  std::string text_;
  Json::Value features_;  // the reader's settings
  Json::Value root_;
};
