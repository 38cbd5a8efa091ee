// What the program says about itself on the command line: --help (-h) and
// --version. Plain C++, answered before the toolkit starts.
#pragma once

#include <optional>
#include <string>

namespace corvalis {

// "corvalis 0.1.0" and a line end.
std::string VersionText();

// Every mode and option, for --help and the manual page.
std::string UsageText();

// The text to print when the first argument is --help, -h or --version
// (whatever follows it); nothing for any other command line, whose single
// argument stays a store path.
std::optional<std::string> InformationalOutput(int argc, const char* const* argv);

}  // namespace corvalis
