// The headless modes that run while the window is being created.
#pragma once

#include <QStringList>

#include <functional>
#include <string>

namespace corvalis {
class MapSession;
}

// Runs "--info PATH" or "--selftest PATH" when the command line asks for one
// (letter case matters; arguments after the path are ignored); false when it
// asks for neither. The self-check opens its store through openInWindow.
bool RunDiagnosticMode(const QStringList& arguments, corvalis::MapSession& session,
                       const std::function<void(const std::string&)>& openInWindow);
