// Texts and names shown on a terminal or in JSON: whatever bytes they hold,
// one line that says exactly what they are.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <string>

namespace pack {

// Text for a terminal: control characters and bytes that are not UTF-8 as
// \n, \r, \t or \xNN, as --describe shows them; the rest as it is.
std::string Printable(const std::string &text);
// A control character as \n, \r, \t, or \xNN (\u00NN in JSON).
std::string EscapeControl(uint8_t c, bool json);

// text between quotes, quotes, backslashes and control characters escaped,
// for a terminal or (json) for JSON; unless utf8, every byte beyond ASCII as
// \xNN.
std::string Quoted(const std::string &text, bool utf8, bool json);

}  // namespace pack
