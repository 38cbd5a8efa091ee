#include "diagnosticmodes.h"

#include "checkmode.h"
#include "inforeport.h"
#include "logging.h"
#include "selfcheck.h"

bool RunDiagnosticMode(const std::vector<std::string>& arguments, corvalis::MapSession& session,
                       const std::function<void(const std::string&)>& openInWindow,
                       int& exitStatus) {
    exitStatus = 0;
    if (arguments.size() < 3) return false;
    const std::string& mode = arguments[1];
    const std::string path = corvalis::NormalizeSlashes(arguments[2]);
    if (mode == "--info") {
        corvalis::RunInfoReport(path);
        return true;
    }
    if (mode == "--check") {
        exitStatus = RunCheckMode(arguments);
        return true;
    }
    if (mode == "--selftest") {
        corvalis::LogLine("selftest mode entered");
        RunSelfCheck(session, openInWindow, path);
        corvalis::LogLine("selftest finished, terminating");
        return true;
    }
    return false;
}
