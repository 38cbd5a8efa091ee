// A minimal INI reader: [sections] and key=value lines, names compared
// without regard to ASCII letter case, first occurrence wins.
#pragma once

#include <cstdint>
#include <map>
#include <string>

namespace corvalis {

class IniFile {
public:
    bool Load(const std::string& path);
    void LoadFromText(const std::string& text);
    // The value as an integer; fallback when missing or not a whole integer.
    std::int64_t ReadInteger(const std::string& section, const std::string& key,
                             std::int64_t fallback) const;

private:
    std::map<std::string, std::string> values;  // "section\nkey" lower-cased -> value
};

}  // namespace corvalis
