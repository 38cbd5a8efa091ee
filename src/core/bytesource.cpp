#include "bytesource.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>

namespace corvalis {

FileDescriptor::~FileDescriptor() {
    if (fd_ >= 0) ::close(fd_);
}

std::unique_ptr<FileByteSource> FileByteSource::Open(const std::string& path,
                                                     std::string& errorText) {
    // Non-blocking, so that opening a FIFO does not wait for a writer; it is
    // refused just below as not a regular file.
    FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (fd.get() < 0) {
        errorText = std::string("cannot open file: ") + std::strerror(errno);
        return nullptr;
    }
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0) {
        errorText = std::string("cannot open file: ") + std::strerror(errno);
        return nullptr;
    }
    if (!S_ISREG(st.st_mode)) {
        errorText = "not a regular file.";
        return nullptr;
    }
    const int flags = ::fcntl(fd.get(), F_GETFL);
    if (flags >= 0) ::fcntl(fd.get(), F_SETFL, flags & ~O_NONBLOCK);
    const auto size = static_cast<std::uint64_t>(st.st_size);
    return std::unique_ptr<FileByteSource>(new FileByteSource(fd.release(), size));
}

bool FileByteSource::ReadAt(std::uint64_t offset, std::size_t count, std::uint8_t* out) {
    if (!RangeWithin(offset, count, size_) || offset > static_cast<std::uint64_t>(INT64_MAX))
        return false;
    std::size_t done = 0;
    while (done < count) {
        const ssize_t n =
            ::pread(fd_.get(), out + done, count - done, static_cast<off_t>(offset + done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;  // an error, or the file shrank since it was opened
        done += static_cast<std::size_t>(n);
    }
    return true;
}

bool MemoryByteSource::ReadAt(std::uint64_t offset, std::size_t count, std::uint8_t* out) {
    if (!RangeWithin(offset, count, bytes_.size())) return false;
    if (count > 0) std::memcpy(out, bytes_.data() + offset, count);
    return true;
}

}  // namespace corvalis
