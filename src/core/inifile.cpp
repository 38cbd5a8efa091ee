#include "inifile.h"

#include <fstream>
#include <sstream>

#include "textutil.h"

namespace corvalis {

namespace {
// Sidecars are a few hundred bytes; anything past this is not read.
constexpr std::streamsize kMaxIniBytes = 1 << 20;
}  // namespace

bool IniFile::Load(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::string text(static_cast<std::size_t>(kMaxIniBytes), '\0');
    in.read(text.data(), kMaxIniBytes);
    text.resize(static_cast<std::size_t>(in.gcount()));
    LoadFromText(text);
    return true;
}

void IniFile::LoadFromText(const std::string& text) {
    values.clear();
    std::string section;
    std::size_t pos = 0;
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
