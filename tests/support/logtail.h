// The viewer's log as the tests read it: emptied between tests, its lines
// without their timestamp prefix.
#pragma once

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "logging.h"

namespace testsupport {

inline void ClearLog() {
    std::remove(corvalis::LogFilePath().c_str());
}

inline std::vector<std::string> LogMessages() {
    std::vector<std::string> out;
    std::ifstream in(corvalis::LogFilePath());
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        out.push_back(line.size() > 21 ? line.substr(21) : line);
    }
    return out;
}

inline int CountMessages(const std::string& prefix) {
    int n = 0;
    for (const auto& m : LogMessages()) n += m.rfind(prefix, 0) == 0 ? 1 : 0;
    return n;
}

inline int GridLines() {
    return CountMessages("grid z=");
}

}  // namespace testsupport
