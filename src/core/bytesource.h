// Positional reads from an archive's bytes: a file read with pread (never
// mapped, never written), or bytes held in memory (tests and fuzzing).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace corvalis {

class ByteSource {
public:
    virtual ~ByteSource() = default;
    // The size when the source was opened.
    virtual std::uint64_t size() const = 0;
    // Reads exactly count bytes at offset into out; false when they cannot
    // all be read (past the end, or an I/O error).
    virtual bool ReadAt(std::uint64_t offset, std::size_t count, std::uint8_t* out) = 0;
};

// Owns a file descriptor; closes it when it dies.
class FileDescriptor {
public:
    explicit FileDescriptor(int fd = -1) : fd_(fd) {}
    ~FileDescriptor();
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int get() const { return fd_; }
    int release() {
        const int fd = fd_;
        fd_ = -1;
        return fd;
    }

private:
    int fd_;
};

class FileByteSource : public ByteSource {
public:
    // Opens a regular file for reading. Errors: "cannot open file: <reason>",
    // "not a regular file."
    static std::unique_ptr<FileByteSource> Open(const std::string& path, std::string& errorText);

    std::uint64_t size() const override { return size_; }
    bool ReadAt(std::uint64_t offset, std::size_t count, std::uint8_t* out) override;

private:
    FileByteSource(int fd, std::uint64_t size) : fd_(fd), size_(size) {}
    FileDescriptor fd_;
    std::uint64_t size_;
};

class MemoryByteSource : public ByteSource {
public:
    explicit MemoryByteSource(std::vector<std::uint8_t> bytes) : bytes_(std::move(bytes)) {}
    std::uint64_t size() const override { return bytes_.size(); }
    bool ReadAt(std::uint64_t offset, std::size_t count, std::uint8_t* out) override;

private:
    std::vector<std::uint8_t> bytes_;
};

// Whether [offset, offset + length) lies within size bytes (no wrap-around).
inline bool RangeWithin(std::uint64_t offset, std::uint64_t length, std::uint64_t size) {
    return offset <= size && length <= size - offset;
}

}  // namespace corvalis
