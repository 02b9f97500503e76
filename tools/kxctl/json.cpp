#include "kxctl/json.h"

#include <cstdio>
#include <cstdlib>

namespace kxctl {

Json Json::Fixed(std::int64_t units, int places) {
  if (places <= 0) return Int(units);
  std::int64_t scale = 1;
  for (int i = 0; i < places; ++i) scale *= 10;
  const bool negative = units < 0;
  const std::uint64_t magnitude = negative ? 0 - static_cast<std::uint64_t>(units) : static_cast<std::uint64_t>(units);
  std::string fraction = std::to_string(magnitude % static_cast<std::uint64_t>(scale));
  fraction.insert(0, static_cast<std::size_t>(places) - fraction.size(), '0');
  return Json(Kind::Literal, (negative ? "-" : "") + std::to_string(magnitude / static_cast<std::uint64_t>(scale)) +
                                 "." + fraction);
}

Json& Json::Push(Json value) {
  items_.emplace_back(std::string{}, std::move(value));
  return items_.back().second;
}

Json& Json::Set(std::string key, Json value) {
  items_.emplace_back(std::move(key), std::move(value));
  return items_.back().second;
}

std::string JsonQuote(const std::string& s) {
  std::string out = "\"";
  for (const char ch : s) {
    const auto c = static_cast<unsigned char>(ch);
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (c < 0x20) {
          char buf[8];
          std::snprintf(buf, sizeof buf, "\\u%04X", c);
          out += buf;
        } else {
          out += ch;
        }
    }
  }
  return out + "\"";
}

void Json::Write(std::string& out, int indent) const {
  switch (kind_) {
    case Kind::Null:
    case Kind::Literal: out += text_; return;
    case Kind::String: out += JsonQuote(text_); return;
    case Kind::Array:
    case Kind::Object: break;
  }
  const bool object = kind_ == Kind::Object;
  if (items_.empty()) {
    out += object ? "{}" : "[]";
    return;
  }
  out += object ? "{\n" : "[\n";
  const std::string pad(static_cast<std::size_t>(indent + 2), ' ');
  for (std::size_t i = 0; i < items_.size(); ++i) {
    out += pad;
    if (object) out += JsonQuote(items_[i].first) + ": ";
    items_[i].second.Write(out, indent + 2);
    out += i + 1 < items_.size() ? ",\n" : "\n";
  }
  out += std::string(static_cast<std::size_t>(indent), ' ') + (object ? "}" : "]");
}

std::string Json::Text() const {
  std::string out;
  Write(out, 0);
  return out;
}

std::string Json::Dump() const {
  std::string out;
  Write(out, 0);
  return out + "\n";
}

}  // namespace kxctl
