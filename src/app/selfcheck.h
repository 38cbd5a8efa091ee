// The built-in self-check run by "--selftest <path>".
#pragma once

#include <functional>
#include <string>

namespace corvalis {
class MapSession;
}

// Runs the checks against the reference store at path. The window checks
// open the store the way the user does (openInWindow) and then look at the
// window's map session. Returns the number of failed checks.
int RunSelfCheck(corvalis::MapSession& session,
                 const std::function<void(const std::string&)>& openInWindow,
                 const std::string& path);
