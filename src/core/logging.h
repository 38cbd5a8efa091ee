// The ordinary log "viewer.log": one timestamped line per event.
#pragma once

#include <cstdarg>
#include <string>

namespace corvalis {

inline constexpr int LogLineLimit = 2000;

// Folder of the running executable, with a trailing '/'; empty when unknown.
std::string ExecutableDir();

// Path of the ordinary log: beside the executable, or in the per-user state
// folder ($XDG_STATE_HOME or ~/.local/state, then Corvalis/) when the
// executable's folder cannot be written.
std::string LogFilePath();
std::string ChooseLogFilePath(const std::string& exeDir, bool exeDirWritable);

// Appends one timestamped line to the ordinary log. Never fails visibly.
void LogLine(const std::string& text);

// The same with an explicit file; used by LogLine and by tests.
void AppendLogLine(const std::string& path, const std::string& text);

// printf-style formatting into a std::string ("." decimal point always).
std::string Format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

// Every "/" replaced by the platform's separator ("\" on Windows, so on POSIX
// the text comes back unchanged).
std::string NormalizeSlashes(const std::string& text);
// The rule with an explicit separator, so that the Windows behaviour stays testable.
std::string NormalizeSlashes(const std::string& text, char separator);

// A report line: written to the log and, without the timestamp, to standard output.
void ReportLine(const std::string& text);

}  // namespace corvalis
