// The ordinary log "viewer.log": one timestamped line per event.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <string>

namespace corvalis {

inline constexpr int LogLineLimit = 2000;
// A log larger than this (in bytes) is emptied before the next line, like one
// over LogLineLimit lines; no more than this is ever read of it.
inline constexpr std::size_t LogByteLimit = 4 << 20;
// A message longer than this (in bytes, after escaping) is cut, ending in "...".
inline constexpr std::size_t LogMessageLimit = 4096;

// Folder of the running executable, with a trailing '/'; empty when unknown.
std::string ExecutableDir();

// Path of the ordinary log: beside the executable, or in the per-user state
// folder ($XDG_STATE_HOME or ~/.local/state, then Corvalis/) when the
// executable's folder cannot be written.
std::string LogFilePath();
std::string ChooseLogFilePath(const std::string& exeDir, bool exeDirWritable);

// Appends one timestamped line to the ordinary log, its control characters
// shown as escapes (EscapeControl) and cut to LogMessageLimit. Never fails visibly.
void LogLine(const std::string& text);

// Appends text as it is (only cut to LogMessageLimit) to the log at path;
// used by LogLine and by tests. The log is replaced through a new file beside
// it; a log that is a symbolic link or not a regular file is left alone and
// the line dropped.
void AppendLogLine(const std::string& path, const std::string& text);

// printf-style formatting into a std::string ("." decimal point always).
std::string Format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

// Every "/" replaced by the platform's separator ("\" on Windows, so on POSIX
// the text comes back unchanged).
std::string NormalizeSlashes(const std::string& text);
// The rule with an explicit separator, so that the Windows behaviour stays testable.
std::string NormalizeSlashes(const std::string& text, char separator);

// A report line: written to the log and, without the timestamp, to standard
// output, escaped and cut as LogLine does. Write errors on standard output (a
// closed pipe) are ignored.
void ReportLine(const std::string& text);

}  // namespace corvalis
