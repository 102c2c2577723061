#pragma once
// Command lines for Windows programs, written so that the C runtime and CommandLineToArgvW
// give back exactly the arguments that went in (UTF-8 text; the special characters are all
// ASCII, so multi-byte characters pass through unchanged).

#include <string>
#include <vector>

namespace vpn {

// `argument` between double quotes: a quote inside is escaped with a backslash, and the
// backslashes that come before a quote, or before the closing quote, are doubled.
std::string quotedArgument(const std::string& argument);

// `argument` unchanged when it is not empty and holds no blank or quote, else quotedArgument.
std::string commandLineArgument(const std::string& argument);

// The arguments, each as commandLineArgument, separated by single spaces.
std::string joinCommandLine(const std::vector<std::string>& arguments);

}  // namespace vpn
