// Text between the program (single-byte code page 1252 in std::string) and
// Qt (UTF-16 QString). Characters without a code page 1252 form become '?'.
#pragma once

#include <string>
#include <string_view>

#include <QString>

#include "platform/text.h"

namespace fw {

inline QString QStr(std::string_view ansi) { return QString::fromStdString(platform::Cp1252ToUtf8(ansi)); }
inline std::string AnsiStr(const QString& text) { return platform::Utf8ToCp1252(text.toStdString()); }

}  // namespace fw
