// SPDX-License-Identifier: GPL-3.0-or-later
// Text from the command line or the file system made safe to print on a terminal.
#pragma once

#include <string>
#include <string_view>

namespace kelvane::cli {

// Escapes every byte that could drive a terminal: C0 controls, DEL, the C1 controls in their
// UTF-8 form and any byte that is not part of valid UTF-8 become \xNN (ESC shows as \x1b).
// Printable ASCII and valid UTF-8 characters are kept, so names in any language read as typed.
std::string EscapeControls(std::string_view text);

}  // namespace kelvane::cli
