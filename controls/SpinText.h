// SPDX-License-Identifier: GPL-3.0-or-later
// Text form of a spinner's value: formatting, unit stripping and the forgiving number reader.
#pragma once

#include <QChar>
#include <QString>
#include <optional>

namespace kelvane::spintext {

// The user's decimal separator (from the system locale); "." when the locale has none usable.
QChar systemDecimalSeparator();

// Fixed point with `precision` decimals (rounded half away from zero on the 15-digit decimal
// form), or, for precision -1, the general form with 4 significant digits.
QString formatNumber(double v, int precision, QChar sep);

// The number followed by one space and the unit, or the number alone without a unit.
QString formatValue(double v, int precision, const QString& unit, QChar sep);

// The number part of a spinner's text: what lies before the unit.
QString numberPart(const QString& text, const QString& unit);

// Reads the text; any character that is not a digit or "-" counts as the decimal separator.
// Empty and "-" read as 0. Returns nothing when the result still does not convert.
std::optional<double> parseNumber(const QString& text, const QString& unit, QChar sep);

}  // namespace kelvane::spintext
