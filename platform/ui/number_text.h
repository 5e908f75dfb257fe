// Exact decimals as the user's locale writes them: the text a number field shows and the reading of
// what the user typed, without passing through a double (which would accept "1e40" and lose digits).
#pragma once

#include "foundation/decimal.h"

#include <QLocale>
#include <QString>

#include <optional>

namespace ui {

// `value` rounded half-even to `places` digits after the separator, written with exactly that many,
// with the locale's decimal separator and (unless the locale omits them) group separators.
QString decimalText(const foundation::Decimal& value, int places, const QLocale& locale = QLocale());

// The exact number `text` writes as the locale does (its decimal separator, group separators
// optional, a leading sign allowed, surrounding blanks ignored), without exponent; nothing for any
// other text, an empty one included.
std::optional<foundation::Decimal> parseDecimal(const QString& text, const QLocale& locale = QLocale());

} // namespace ui
