// Texts from a trace (process names, command lines, the focused package) are
// chosen by apps: these put them into each output so that they stay text.
#pragma once

#include <string>
#include <string_view>

namespace replay {

// For the report and the terminal: printable ASCII and valid UTF-8 as they
// are; backslash, control bytes (C0, DEL, C1), bidirectional controls, line
// separators and bytes that are no UTF-8 as \\, \n, \t, \r or \xHH.
std::string shown(std::string_view text);
// shown(text) cut to at most width bytes, never inside a character.
std::string shown(std::string_view text, size_t width);

// A JSON string with its quotes: valid UTF-8 whatever the input (a byte that
// is no UTF-8 becomes U+FFFD), every control character, < > & and the line
// separators as \u escapes.
std::string json_string(std::string_view text);

// For a gnuplot title: letters, digits and " .,:_/+=()-" kept, every other
// byte a '?', so that no quote, backquote, macro or newline reaches gnuplot.
std::string gnuplot_title(std::string_view text);

// A folder name from a file name: letters, digits, '.', '_' and '-' kept,
// others '_', no leading '.', at most 100 bytes, "trace" when empty.
std::string folder_name(std::string_view file_name);

}  // namespace replay
