// Reading and replacing files in folders that others can write to: a final
// symbolic link is never followed, and only regular files are read or replaced.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace corvalis {

enum class ReadOutcome {
    Read,     // bytes holds the file's start (its whole content when not over maxBytes)
    Missing,  // nothing at the path
    Refused,  // a symbolic link, not a regular file, or unreadable
};

enum class FinalLink { Refuse, Follow };

// Reads at most maxBytes + 1 bytes of the regular file at path, so a result
// longer than maxBytes tells that the file is larger. Never blocks on a FIFO
// or a device. A final symbolic link is refused unless links says Follow.
ReadOutcome ReadRegularFile(const std::string& path, std::size_t maxBytes, std::string& bytes,
                            FinalLink links = FinalLink::Refuse);

// Writes bytes to a new file beside path (created exclusively, never through a
// link) and renames it over path, so readers see the old content or the new,
// never a part. Refuses when path names a symbolic link or anything but a
// regular file. A replaced file keeps its permission bits. On false, error
// tells why and path is unchanged.
bool WriteFileAtomically(const std::string& path, std::string_view bytes, std::string& error);

}  // namespace corvalis
