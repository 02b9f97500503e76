// Catalogue texts and core strings as QStrings for the widgets.
#pragma once

#include <QString>

#include <string_view>

#include "core/text/messages.h"

namespace kx::app {

inline QString ToQString(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// The catalogue text of a message, exactly as listed.
inline QString QText(Msg msg) { return ToQString(Text(msg)); }

// A file error as the windows show it: the catalogue's text and, on a line of
// its own, the system's reason ("No such file or directory", ...) when known.
inline QString WithReason(const QString& text, std::string_view reason) {
  return reason.empty() ? text : text + QStringLiteral("\n") + ToQString(reason);
}

}  // namespace kx::app
