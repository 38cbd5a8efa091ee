// The built-in self-check run by "--selftest <path>".
#pragma once

#include <string>

class TFormMain;

// Runs the checks against the reference store at path, using the window for
// the checks that need one. Returns the number of failed checks.
int RunSelfCheck(TFormMain& form, const std::string& path);
