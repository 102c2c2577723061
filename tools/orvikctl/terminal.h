#pragma once
// The terminal behind standard input, one implementation per platform.

#include <string>

namespace orvikctl {

// True when standard input is a terminal (a console on Windows).
bool standardInputIsTerminal();

// Writes `prompt` to standard error and reads one line from the terminal, without showing
// the typed characters when `echo` is false. The line comes without its line end, as UTF-8.
// False at the end of input or when the terminal cannot be read.
bool askOnTerminal(const std::string& prompt, bool echo, std::string& line);

}  // namespace orvikctl
