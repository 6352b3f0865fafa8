// SPDX-License-Identifier: GPL-3.0-or-later
// Formatting and reading of spinner texts, independent of the process's C locale.
#include "SpinText.h"

#include <QLocale>
#include <cmath>

namespace kelvane::spintext {

namespace {

bool isAsciiDigit(QChar c) {
  return c >= QLatin1Char('0') && c <= QLatin1Char('9');
}

// Rounds the 15 significant digits of |v| to `decimals` places, half away from zero, and returns
// the digits of the integer part and of the fraction.
void fixedDigits(double v, int decimals, QString& intPart, QString& fracPart) {
  const QString e = QString::number(std::fabs(v), 'e', 14);  // d.dddddddddddddde+XX
  const int ePos = e.indexOf(QLatin1Char('e'));
  QString digits = e.left(1) + e.mid(2, ePos - 2);
  const int exp10 = e.mid(ePos + 1).toInt();
  // digits[k] has the weight 10^(exp10 - k); keep those with weight >= 10^-decimals.
  const int keep = exp10 + 1 + decimals;
  if (keep < 0) {
    digits.clear();
  } else if (keep < digits.size()) {
    const bool up = digits.at(keep) >= QLatin1Char('5');
    digits.truncate(keep);
    if (up) {
      int k = keep - 1;
      while (k >= 0 && digits.at(k) == QLatin1Char('9')) {
        digits[k] = QLatin1Char('0');
        --k;
      }
      if (k >= 0) {
        digits[k] = QChar(digits.at(k).unicode() + 1);
      } else {
        digits.prepend(QLatin1Char('1'));
      }
    }
  }
  // Point position: digits before the point, counted from digits' start.
  int pointAt = exp10 + 1;
  if (digits.size() > keep && keep >= 0) pointAt += digits.size() - keep;  // carry added a digit
  if (keep < 0) pointAt = 0;
  while (digits.size() < pointAt + decimals) digits.append(QLatin1Char('0'));
  if (pointAt <= 0) {
    digits.prepend(QString(-pointAt, QLatin1Char('0')));
    pointAt = 0;
  }
  intPart = digits.left(pointAt);
  if (intPart.isEmpty()) intPart = QStringLiteral("0");
  fracPart = digits.mid(pointAt, decimals);
}

}  // namespace

QChar systemDecimalSeparator() {
  const QString p = QLocale::system().decimalPoint();
  if (p.size() != 1 || isAsciiDigit(p.at(0)) || p.at(0) == QLatin1Char('-')) {
    return QLatin1Char('.');
  }
  return p.at(0);
}

QString formatNumber(double v, int precision, QChar sep) {
  if (!std::isfinite(v)) return QString::number(v);
  if (precision < 0) {
    QString s = QLocale::c().toString(v, 'g', 4).toUpper();
    s.replace(QLatin1Char('.'), sep);
    return s;
  }
  QString intPart, fracPart;
  fixedDigits(v, precision, intPart, fracPart);
  bool zero = true;
  for (QChar c : intPart + fracPart) {
    if (c != QLatin1Char('0')) zero = false;
  }
  QString s;
  if (v < 0 && !zero) s += QLatin1Char('-');
  s += intPart;
  if (precision > 0) {
    s += sep;
    s += fracPart;
  }
  return s;
}

QString formatValue(double v, int precision, const QString& unit, QChar sep) {
  QString s = formatNumber(v, precision, sep);
  if (!unit.isEmpty()) {
    s += QLatin1Char(' ');
    s += unit;
  }
  return s;
}

QString numberPart(const QString& text, const QString& unit) {
  if (unit.isEmpty()) return text;
  const int at = text.indexOf(unit);
  if (at >= 2) return text.left(at).trimmed();
  const int space = text.indexOf(QLatin1Char(' '));
  if (space >= 1) return text.left(space);
  return text;
}

std::optional<double> parseNumber(const QString& text, const QString& unit, QChar sep) {
  QString s = numberPart(text, unit);
  if (s.isEmpty() || s == QLatin1String("-")) return 0.0;
  s.remove(QLatin1Char(' '));
  for (QChar& c : s) {
    if (!isAsciiDigit(c) && c != QLatin1Char('-')) c = sep;
  }
  if (s.isEmpty()) return std::nullopt;  // blanks only
  if (s.front() == sep) s.prepend(QLatin1Char('0'));
  if (s.back() == sep) s.append(QLatin1Char('0'));
  // Only digits, "-" and the separator are left; read it with "." as the point.
  if (sep != QLatin1Char('.')) s.replace(sep, QLatin1Char('.'));
  bool ok = false;
  const double v = QLocale::c().toDouble(s, &ok);
  if (!ok || !std::isfinite(v)) return std::nullopt;
  return v;
}

}  // namespace kelvane::spintext
