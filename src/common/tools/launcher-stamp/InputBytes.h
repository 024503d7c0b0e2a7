// Bytes the tool reads at any offset: a file (StampFiles.h), or memory for the fuzz targets.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace stamp {

class PendingOutput;

// Large enough that the count of system calls doesn't matter, small beside any payload.
constexpr std::size_t COPY_CHUNK = 1 << 20;

// Bytes just appended to an output, as the output holds them.
using BytesAdded = std::function<void(const std::uint8_t* bytes, std::size_t size)>;

class InputBytes {
public:
    virtual ~InputBytes() = default;
    InputBytes(const InputBytes&) = delete;
    InputBytes& operator=(const InputBytes&) = delete;

    // The path (UTF-8) and the role that name the input in messages, for example "PAYLOAD".
    const std::string& path() const { return path_; }
    const std::string& role() const { return role_; }
    std::uint64_t size() const { return size_; }
    // Throws BadInput ("ROLE 'path' is truncated") unless size bytes from offset lie within the input.
    void checkRange(std::uint64_t offset, std::uint64_t size) const;
    // size bytes from offset; a range past the end is BadInput as for checkRange().
    std::vector<std::uint8_t> read(std::uint64_t offset, std::size_t size) const;
    // Fills buffer with size bytes from offset; a range past the end is BadInput as for checkRange(). An
    // input that now ends sooner, or that changed since it was opened, throws inputChanged (exit code 1).
    void readInto(std::uint64_t offset, void* buffer, std::size_t size) const;
    // Appends size bytes from offset, which lie within the input, to out, and hands them to added as out
    // holds them, at most COPY_CHUNK at a time: a payload of any size is never held whole. Read and appended
    // here; a file may be copied by the system instead (Linux). Throws as readInto() and out's appends do.
    virtual void appendTo(PendingOutput& out, std::uint64_t offset, std::uint64_t size,
                          const BytesAdded& added) const;

protected:
    InputBytes(std::string path, std::string role) : path_(std::move(path)), role_(std::move(role)) {}
    void setSize(std::uint64_t size) { size_ = size; }

private:
    // Reads at most size bytes from offset, a range that lies within the input as it was opened, and returns
    // how many it read: fewer where the input now ends sooner, none at its end. A failed read throws (exit
    // code 1), and so does a file that the system shows changed since it was opened (inputChanged).
    virtual std::size_t readSome(std::uint64_t offset, void* buffer, std::size_t size) const = 0;

    std::string path_;
    std::string role_;
    std::uint64_t size_ = 0;
};

}  // namespace stamp
