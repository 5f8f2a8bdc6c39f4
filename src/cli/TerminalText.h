#pragma once

#include <string>
#include <string_view>

namespace sarnika::cli {

// Text from a cache (URLs, file names, messages quoting them) made safe to print on a terminal:
// C0 and C1 controls, DEL and bytes that are not valid UTF-8 become "\xNN" (tab, LF and CR
// "\t", "\n", "\r"), and the characters that reorder or hide text (bidirectional embeddings,
// overrides, isolates and marks, line and paragraph separators) "\u{XXXX}". Everything else is
// kept as it is. For every human-readable line; --json output stays exact.
std::string terminalText(std::string_view text);

} // namespace sarnika::cli
