// The headless modes that run while the window is being created.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace corvalis {
class MapSession;
}

// Runs "--info PATH" or "--selftest PATH" when the command line asks for one
// (letter case matters; arguments after the path are ignored); false when it
// asks for neither. The self-check opens its store through openInWindow.
// arguments are the command line's bytes, arguments[0] the program.
bool RunDiagnosticMode(const std::vector<std::string>& arguments, corvalis::MapSession& session,
                       const std::function<void(const std::string&)>& openInWindow);
