// The headless modes that run while the window is being created.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace corvalis {
class MapSession;
}

// Runs "--info PATH", "--selftest PATH" or "--check PATH [options]" when the
// command line asks for one (letter case matters; --info and --selftest
// ignore arguments after the path); false when it asks for none. The
// self-check opens its store through openInWindow. exitStatus is set to the
// status the program ends with (the check's; 0 for the others).
// arguments are the command line's bytes, arguments[0] the program.
bool RunDiagnosticMode(const std::vector<std::string>& arguments, corvalis::MapSession& session,
                       const std::function<void(const std::string&)>& openInWindow,
                       int& exitStatus);
