#include "inifile.h"

#include "safefile.h"
#include "textutil.h"

namespace corvalis {

namespace {
// Sidecars are a few hundred bytes; anything past this is not read.
constexpr std::size_t kMaxIniBytes = 1 << 20;
}  // namespace

bool IniFile::Load(const std::string& path) {
    // A FIFO or a device in place of the sidecar is not waited on.
    std::string text;
    if (ReadRegularFile(path, kMaxIniBytes - 1, text, FinalLink::Follow) != ReadOutcome::Read)
        return false;
    LoadFromText(text);
    return true;
}

void IniFile::LoadFromText(const std::string& text) {
    values.clear();
    std::string section;
    // Editors on Windows start UTF-8 files with a byte-order mark.
    std::size_t pos = text.rfind("\xEF\xBB\xBF", 0) == 0 ? 3 : 0;
    while (pos <= text.size()) {
        std::size_t end = text.find_first_of("\r\n", pos);
        if (end == std::string::npos) end = text.size();
        std::string_view line = Trim(std::string_view(text).substr(pos, end - pos));
        pos = end + 1;
        if (line.empty() || line.front() == ';' || line.front() == '#') continue;
        if (line.front() == '[') {
            const std::size_t close = line.find(']');
            section = AsciiLower(Trim(line.substr(
                1, close == std::string_view::npos ? std::string_view::npos : close - 1)));
            continue;
        }
        const std::size_t eq = line.find('=');
        if (eq == std::string_view::npos) continue;
        std::string key = section + '\n' + AsciiLower(Trim(line.substr(0, eq)));
        values.emplace(std::move(key), std::string(Trim(line.substr(eq + 1))));
    }
}

std::int64_t IniFile::ReadInteger(const std::string& section, const std::string& key,
                                  std::int64_t fallback) const {
    auto it = values.find(AsciiLower(section) + '\n' + AsciiLower(key));
    if (it == values.end()) return fallback;
    return ParseStrictInteger(it->second).value_or(fallback);
}

}  // namespace corvalis
