// The --check mode: "--check STORE [--json FILE] [--map FILE.png]
// [--decode|--no-decode]". Prints the report to standard output, writes the
// JSON and the picture when asked, logs one line, and gives the exit status.
#pragma once

#include <string>
#include <vector>

// Exit statuses of the check.
inline constexpr int kCheckClean = 0;          // no problem found
inline constexpr int kCheckProblems = 1;       // problems found
inline constexpr int kCheckFailed = 2;         // cannot open the store, bad arguments, or an
                                               // output file cannot be written
inline constexpr int kCheckInterrupted = 130;  // Ctrl+C: the report of what was read

// arguments are the command line's bytes: arguments[1] is "--check".
int RunCheckMode(const std::vector<std::string>& arguments);
