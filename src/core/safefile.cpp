#include "safefile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <ctime>

#include "textutil.h"

namespace corvalis {

namespace {

// Closes the descriptor it holds.
class FileDescriptor {
public:
    explicit FileDescriptor(int value) : fd(value) {}
    ~FileDescriptor() {
        if (fd >= 0) ::close(fd);
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int get() const { return fd; }
    // Closes now; false when the close reports a lost write.
    bool Close() {
        const int result = ::close(fd);
        fd = -1;
        return result == 0;
    }

private:
    int fd;
};

bool WriteAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

// "<folder>.<name>.<unique>" beside path: hidden, and never the name of a store.
std::string TemporaryName(const std::string& path) {
    static std::atomic<unsigned> counter{0};
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    const unsigned long long unique = (static_cast<unsigned long long>(::getpid()) << 32) ^
                                      static_cast<unsigned long long>(now.tv_nsec) ^
                                      (counter.fetch_add(1) * 0x9E3779B9ull);
    std::string name(DirPart(path));
    name += '.';
    name += FileNamePart(path);
    name += '.';
    name += std::to_string(unique % 1000000007ull);
    return name;
}

std::string Reason(const char* what, const std::string& path) {
    return std::string(what) + ": " + path + " (" + std::strerror(errno) + ")";
}

}  // namespace

ReadOutcome ReadRegularFile(const std::string& path, std::size_t maxBytes, std::string& bytes,
                            FinalLink links) {
    bytes.clear();
    const int noFollow = links == FinalLink::Refuse ? O_NOFOLLOW : 0;
    FileDescriptor file(
        ::open(path.c_str(), O_RDONLY | noFollow | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
    if (file.get() < 0) return errno == ENOENT ? ReadOutcome::Missing : ReadOutcome::Refused;
    struct stat info {};
    if (::fstat(file.get(), &info) != 0 || !S_ISREG(info.st_mode)) return ReadOutcome::Refused;
    const std::size_t wanted =
        info.st_size >= 0 && static_cast<std::uint64_t>(info.st_size) <= maxBytes
            ? static_cast<std::size_t>(info.st_size) + 1
            : maxBytes + 1;
    bytes.resize(wanted);
    std::size_t got = 0;
    while (got < wanted) {
        const ssize_t n = ::read(file.get(), bytes.data() + got, wanted - got);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            bytes.clear();
            return ReadOutcome::Refused;
        }
        if (n == 0) break;
        got += static_cast<std::size_t>(n);
    }
    bytes.resize(got);
    return ReadOutcome::Read;
}

bool WriteFileAtomically(const std::string& path, std::string_view bytes, std::string& error) {
    struct stat existing {};
    const bool replacing = ::lstat(path.c_str(), &existing) == 0;
    if (!replacing && errno != ENOENT) {
        error = Reason("cannot inspect", path);
        return false;
    }
    if (replacing && !S_ISREG(existing.st_mode)) {
        error = "not a regular file: " + path;
        return false;
    }
    std::string temporary;
    int fd = -1;
    for (int attempt = 0; attempt < 16 && fd < 0; ++attempt) {
        temporary = TemporaryName(path);
        fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST) break;
    }
    if (fd < 0) {
        error = Reason("cannot create a file beside", path);
        return false;
    }
    FileDescriptor file(fd);
    bool ok = WriteAll(file.get(), bytes) &&
              (!replacing || ::fchmod(file.get(), existing.st_mode & 07777) == 0);
    ok = file.Close() && ok;
    if (!ok) {
        error = Reason("cannot write", temporary);
    } else if (::rename(temporary.c_str(), path.c_str()) != 0) {
        ok = false;
        error = Reason("cannot replace", path);
    }
    if (!ok) ::unlink(temporary.c_str());
    return ok;
}

}  // namespace corvalis
