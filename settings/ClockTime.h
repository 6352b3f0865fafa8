// SPDX-License-Identifier: GPL-3.0-or-later
// Wall-clock helpers for the RDS clock time: UTC now, the local offset, and ISO 8601 times.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace kelvane {

// UTC now, in seconds since 1970-01-01.
double NowUtc();
// The local time zone's offset from UTC at that moment, in half hours (rounded toward zero,
// limited to the -31 .. 31 the RDS clock can send).
int LocalOffsetHalfHours(double utc);
// "2026-12-09T14:37:05Z" (the seconds, their fraction and the Z optional; a space may stand
// for the T) as seconds since 1970. Years 1970 .. 2199. Nullopt with a one-line reason for
// anything else, e.g. a time with a zone other than UTC.
std::optional<double> ParseUtcTime(std::string_view text, std::string& why);

}  // namespace kelvane
