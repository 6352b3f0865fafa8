// SPDX-License-Identifier: GPL-3.0-or-later
// Calendar arithmetic without the C library's time zone state for parsing.
#include "ClockTime.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <ctime>

namespace kelvane {
namespace {

// Days from 1970-01-01 to y-m-d in the proleptic Gregorian calendar.
long DaysFromCivil(long y, unsigned m, unsigned d) {
  y -= m <= 2;
  const long era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<long>(doe) - 719468;
}

bool DaysInMonthOk(long y, unsigned m, unsigned d) {
  static const unsigned kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
  const unsigned days = m == 2 && leap ? 29 : kDays[m - 1];
  return d >= 1 && d <= days;
}

// Exactly `n` digits at s[pos]; advances pos.
bool Digits(std::string_view s, std::size_t& pos, int n, long& out) {
  if (pos + static_cast<std::size_t>(n) > s.size()) return false;
  out = 0;
  for (int i = 0; i < n; ++i, ++pos) {
    if (s[pos] < '0' || s[pos] > '9') return false;
    out = out * 10 + (s[pos] - '0');
  }
  return true;
}

}  // namespace

double NowUtc() {
  using namespace std::chrono;
  return duration<double>(system_clock::now().time_since_epoch()).count();
}

int LocalOffsetHalfHours(double utc) {
  const std::time_t t = static_cast<std::time_t>(std::floor(utc));
  std::tm local{};
  if (!localtime_r(&t, &local)) return 0;
  return std::clamp(static_cast<int>(local.tm_gmtoff / 1800), -31, 31);
}

std::optional<double> ParseUtcTime(std::string_view text, std::string& why) {
  why = "'" + std::string(text) +
        "' is not an ISO 8601 UTC time such as 2026-12-09T14:37:00Z (years 1970 .. 2199)";
  std::size_t p = 0;
  long y = 0, mo = 0, d = 0, h = 0, mi = 0, sec = 0;
  if (!Digits(text, p, 4, y) || p >= text.size() || text[p++] != '-' || !Digits(text, p, 2, mo) ||
      p >= text.size() || text[p++] != '-' || !Digits(text, p, 2, d) || p >= text.size() ||
      (text[p] != 'T' && text[p] != 't' && text[p] != ' ') || !Digits(text, ++p, 2, h) ||
      p >= text.size() || text[p++] != ':' || !Digits(text, p, 2, mi)) {
    return std::nullopt;
  }
  double fraction = 0.0;
  if (p < text.size() && text[p] == ':') {
    if (!Digits(text, ++p, 2, sec)) return std::nullopt;
    if (p < text.size() && text[p] == '.') {
      double scale = 0.1;
      const std::size_t first = ++p;
      for (; p < text.size() && text[p] >= '0' && text[p] <= '9'; ++p, scale /= 10) {
        fraction += (text[p] - '0') * scale;
      }
      if (p == first) return std::nullopt;
    }
  }
  if (p < text.size() && (text[p] == 'Z' || text[p] == 'z')) ++p;
  if (p != text.size()) return std::nullopt;
  if (y < 1970 || y > 2199 || mo < 1 || mo > 12 ||
      !DaysInMonthOk(y, static_cast<unsigned>(mo), static_cast<unsigned>(d)) || h > 23 || mi > 59 ||
      sec > 59) {
    return std::nullopt;
  }
  const long days = DaysFromCivil(y, static_cast<unsigned>(mo), static_cast<unsigned>(d));
  why.clear();
  return static_cast<double>(days) * 86400.0 + static_cast<double>(h * 3600 + mi * 60 + sec) +
         fraction;
}

}  // namespace kelvane
