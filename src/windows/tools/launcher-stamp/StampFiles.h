// The files the stamping tool reads and writes: inputs read at any offset, and the output written front to
// back under a temporary name, with the image checksum summed on the way.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "WinAutoHandle.h"

namespace stamp {

class InputFile {
public:
    // role names the file in messages, for example "PAYLOAD". A missing or unreadable file is BadInput.
    InputFile(const std::wstring& path, const char* role);

    const std::wstring& path() const { return path_; }
    const std::string& role() const { return role_; }
    std::uint64_t size() const { return size_; }
    // size bytes from offset; a range past the end is BadInput ("is truncated").
    std::vector<std::uint8_t> read(std::uint64_t offset, std::size_t size) const;
    // Fills buffer with size bytes from offset; a range past the end is BadInput.
    void readInto(std::uint64_t offset, void* buffer, DWORD size) const;

private:
    std::wstring path_;
    std::string role_;
    WinAutoHandle<HANDLE> handle_;
    std::uint64_t size_ = 0;
};

// A file written from front to back. Every byte is summed as the image checksum sums it, so the checksum is
// known without reading the file back.
class OutputFile {
public:
    // Owns nothing: the handle belongs to the caller.
    explicit OutputFile(HANDLE handle) : handle_(handle) {}

    std::uint64_t position() const { return position_; }
    void write(const void* data, std::size_t size);
    void write(const std::vector<std::uint8_t>& bytes) { write(bytes.data(), bytes.size()); }
    // Zero bytes up to position (which must not lie behind).
    void padTo(std::uint64_t position);
    // size bytes of input from offset, through a fixed buffer: a payload of any size is never held whole.
    void copyFrom(const InputFile& input, std::uint64_t offset, std::uint64_t size);
    // The image checksum of everything written, the checksum field itself written as zero.
    std::uint32_t imageChecksum() const;
    // Overwrites bytes already written, for the checksum field; they are not summed again.
    void overwrite(std::uint64_t offset, const void* data, DWORD size);

private:
    void sum(const std::uint8_t* data, std::size_t size);

    HANDLE handle_;
    std::uint64_t position_ = 0;
    std::uint64_t wordSum_ = 0;
};

// The output under a temporary name in its folder until commit() moves it into place; dropped unless
// committed, so a failure never leaves a half-written OUT or the temporary file behind, even when the tool is
// killed: the file is marked for deletion until the commit.
class PendingOutput {
public:
    explicit PendingOutput(const std::wstring& target);
    PendingOutput(const PendingOutput&) = delete;
    PendingOutput& operator=(const PendingOutput&) = delete;
    ~PendingOutput();

    HANDLE handle() const { return handle_.get(); }
    const std::wstring& temporaryPath() const { return temporary_; }
    // Flushes the file and moves it to the target, waiting up to 2 s for a program that holds the target;
    // replace allows an existing target to be replaced. A target that appeared meanwhile without replace is
    // BadInput.
    void commit(bool replace);

private:
    std::wstring target_;
    std::wstring temporary_;
    WinAutoHandle<HANDLE> handle_;
    bool committed_ = false;
};

}  // namespace stamp
