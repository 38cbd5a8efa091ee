#include "logging.h"

#include <langinfo.h>
#include <locale.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <vector>

#include "safefile.h"
#include "textcodec.h"
#include "textutil.h"

namespace corvalis {

std::string ExecutableDir() {
    std::vector<char> buf(4096);
    for (;;) {
        const ssize_t n = ::readlink("/proc/self/exe", buf.data(), buf.size());
        if (n < 0) return {};
        if (static_cast<std::size_t>(n) < buf.size()) {
            return std::string(DirPart(std::string_view(buf.data(), static_cast<std::size_t>(n))));
        }
        buf.resize(buf.size() * 2);
    }
}

std::string LogFilePath() {
    const std::string dir = ExecutableDir();
    return ChooseLogFilePath(dir, !dir.empty() && ::access(dir.c_str(), W_OK) == 0);
}

std::string ChooseLogFilePath(const std::string& exeDir, bool exeDirWritable) {
    if (!exeDir.empty() && exeDirWritable) return exeDir + "viewer.log";
    // An installed program cannot write beside itself: use the per-user state folder.
    std::string state;
    if (const char* xdg = std::getenv("XDG_STATE_HOME"); xdg && *xdg) {
        state = xdg;
    } else if (const char* home = std::getenv("HOME"); home && *home) {
        state = std::string(home) + "/.local/state";
    }
    if (!state.empty()) {
        const std::filesystem::path folder = std::filesystem::path(state) / "Corvalis";
        std::error_code ec;
        std::filesystem::create_directories(folder, ec);
        if (!ec) return (folder / "viewer.log").string();
    }
    return "viewer.log";
}

namespace {

std::string Timestamp() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char buf[32];
    std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M:%S", &local);
    return buf;
}

// Splits at CR LF, LF or CR; a final line break adds no empty line.
std::vector<std::string> SplitLines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0, i = 0;
    while (i < text.size()) {
        const char c = text[i];
        if (c == '\r' || c == '\n') {
            lines.emplace_back(text, start, i - start);
            i += (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ? 2 : 1;
            start = i;
        } else {
            ++i;
        }
    }
    if (start < text.size()) lines.emplace_back(text, start, text.size() - start);
    return lines;
}

// The message as the log and the report show it: escaped, then cut. Only as
// much of it is escaped as can reach the cut.
std::string SafeMessage(const std::string& text) {
    const std::string_view head = std::string_view(text).substr(0, LogMessageLimit + 1);
    return CutText(EscapeControl(head), LogMessageLimit);
}

}  // namespace

void AppendLogLine(const std::string& path, const std::string& text) {
    try {
        std::string raw;
        if (ReadRegularFile(path, LogByteLimit, raw) == ReadOutcome::Refused) return;
        const bool tooLarge = raw.size() > LogByteLimit;
        if (tooLarge) raw.resize(3);  // of an oversized log only the byte-order mark counts
        LogEncoding encoding = LogEncoding::Ansi;
        // Held in the file's own encoding, UTF-16 as UTF-8.
        std::vector<std::string> lines = SplitLines(DecodeLogFile(raw, encoding));
        if (tooLarge || lines.size() > static_cast<std::size_t>(LogLineLimit)) lines.clear();
        const std::string line = Timestamp() + "  " + CutText(text, LogMessageLimit);
        lines.push_back(encoding == LogEncoding::Ansi ? Utf8ToNarrow(line) : line);

        std::string body;
        for (const std::string& l : lines) {
            body += l;
            body += "\r\n";
        }
        std::string error;
        WriteFileAtomically(path, EncodeLogFile(body, encoding), error);
    } catch (...) {
        // The line is dropped; logging never disturbs the program.
    }
}

void LogLine(const std::string& text) {
    try {
        AppendLogLine(LogFilePath(), SafeMessage(text));
    } catch (...) {
        // Out of memory: the line is dropped.
    }
}

std::string Format(const char* fmt, ...) {
    static locale_t cLocale = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
    const locale_t previous = uselocale(cLocale);
    va_list args;
    va_start(args, fmt);
    va_list copy;
    va_copy(copy, args);
    char small[512];
    const int n = std::vsnprintf(small, sizeof small, fmt, args);
    std::string out;
    if (n >= 0 && static_cast<std::size_t>(n) < sizeof small) {
        out.assign(small, static_cast<std::size_t>(n));
    } else if (n >= 0) {
        out.resize(static_cast<std::size_t>(n));
        std::vsnprintf(out.data(), out.size() + 1, fmt, copy);
    }
    va_end(copy);
    va_end(args);
    uselocale(previous);
    return out;
}

std::string NormalizeSlashes(const std::string& text, char separator) {
    std::string out = text;
    for (char& c : out)
        if (c == '/') c = separator;
    return out;
}

std::string NormalizeSlashes(const std::string& text) {
#ifdef _WIN32
    return NormalizeSlashes(text, '\\');
#else
    return NormalizeSlashes(text, '/');
#endif
}

void ReportLine(const std::string& text) {
    std::string line;
    try {
        line = SafeMessage(text);
        AppendLogLine(LogFilePath(), line);
        line += '\n';
    } catch (...) {
        return;  // out of memory: like LogLine, the line is dropped
    }
    // A reader that went away (a closed pipe) only loses the rest of the output.
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fflush(stdout);
}

}  // namespace corvalis
