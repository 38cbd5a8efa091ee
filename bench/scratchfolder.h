// The benchmarks' scratch folder: made on first use under the system temp
// folder, removed with everything in it at exit.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

#include <stdlib.h>

namespace benchsupport {

// A fresh folder under the system temp folder, removed with everything in it.
class ScratchFolder {
public:
    ScratchFolder() {
        std::string tmpl =
            (std::filesystem::temp_directory_path() / "corvalis-bench-XXXXXX").string();
        if (mkdtemp(tmpl.data()) == nullptr) std::abort();
        dir_ = tmpl;
    }
    ~ScratchFolder() {
        std::error_code ec;
        std::filesystem::remove_all(dir_, ec);
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;
    std::string File(const std::string& name) const { return (dir_ / name).string(); }

private:
    std::filesystem::path dir_;
};

inline ScratchFolder& Scratch() {
    static ScratchFolder folder;
    return folder;
}

}  // namespace benchsupport
