// A small JSON document builder for kxctl's --json output: objects keep their
// keys in the order they were added, numbers keep the digits they were given
// (a value in tenths stays 23.5, never 23.499999).
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace kxctl {

class Json {
 public:
  static Json Null() { return Json(Kind::Null, "null"); }
  static Json Bool(bool b) { return Json(Kind::Literal, b ? "true" : "false"); }
  static Json Int(std::int64_t n) { return Json(Kind::Literal, std::to_string(n)); }
  // units / 10^places, written with exactly `places` decimals.
  static Json Fixed(std::int64_t units, int places);
  static Json String(std::string s) { return Json(Kind::String, std::move(s)); }
  static Json Array() { return Json(Kind::Array, {}); }
  static Json Object() { return Json(Kind::Object, {}); }

  // Appends to an array.
  Json& Push(Json value);
  // Adds a key to an object.
  Json& Set(std::string key, Json value);

  // Two-space indented text ending with a line feed.
  std::string Dump() const;
  // The value as it is written inside a document (no line feed after it).
  std::string Text() const;

 private:
  enum class Kind { Null, Literal, String, Array, Object };
  Json(Kind kind, std::string text) : kind_(kind), text_(std::move(text)) {}
  void Write(std::string& out, int indent) const;

  Kind kind_;
  std::string text_;
  std::vector<std::pair<std::string, Json>> items_;  // arrays leave the keys empty
};

// The text of a string in JSON, quotes included.
std::string JsonQuote(const std::string& s);

}  // namespace kxctl
