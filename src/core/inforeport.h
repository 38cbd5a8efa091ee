// The --info report: describes one store in the log without showing it.
#pragma once

#include <string>

namespace corvalis {

void RunInfoReport(const std::string& path);

}  // namespace corvalis
