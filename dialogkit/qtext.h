#pragma once
// The program's UTF-16 texts (tables, settings, language file) as Qt strings.

#include <QString>

#include <string_view>

namespace orv {

inline QString qtext(std::u16string_view text)
{
    return QString::fromUtf16(text.data(), static_cast<qsizetype>(text.size()));
}

} // namespace orv
