// The files of a folder, their bytes and modification times, to show that
// nothing was written.
#pragma once

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>

namespace testsupport {

struct FileState {
    std::string bytes;
    std::filesystem::file_time_type time;
    bool operator==(const FileState&) const = default;
};

inline std::map<std::string, FileState> Snapshot(const std::filesystem::path& dir) {
    std::map<std::string, FileState> files;
    for (const auto& e : std::filesystem::directory_iterator(dir)) {
        std::ifstream in(e.path(), std::ios::binary);
        files[e.path().filename().string()] = {
            std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()),
            std::filesystem::last_write_time(e.path())};
    }
    return files;
}

// Dates every file of dir back by 400 days, so that a write cannot keep its time.
inline void AgeFiles(const std::filesystem::path& dir) {
    const auto old = std::filesystem::file_time_type::clock::now() - std::chrono::hours(24 * 400);
    for (const auto& e : std::filesystem::directory_iterator(dir))
        std::filesystem::last_write_time(e.path(), old);
}

// Copies a generated fixture store into dir.
inline void CopyFixture(const std::string& name, const std::filesystem::path& dir) {
    std::filesystem::copy_file(std::filesystem::path(CORVALIS_FIXTURE_DIR) / name, dir / name);
}

}  // namespace testsupport
