// The files the stamping tool reads and writes, one implementation per system (StampFilesWindows.cpp,
// StampFilesPosix.cpp): inputs read at any offset, and the output written under a temporary name that no
// failure leaves behind. Paths are UTF-8.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "InputBytes.h"

namespace stamp {

class InputFile final : public InputBytes {
public:
    // role names the file in messages, for example "PAYLOAD". A missing or unreadable file, or a folder, is
    // BadInput ("cannot read ROLE 'path': why").
    InputFile(const std::string& path, const char* role);
    ~InputFile() override;
#ifdef __linux__
    // Copied by the system from file to file (copy_file_range), never through the tool's memory, and handed
    // to added where out's own file holds it; read and appended where the system can't copy between the two.
    void appendTo(PendingOutput& out, std::uint64_t offset, std::uint64_t size,
                  const BytesAdded& added) const override;
#endif

private:
    std::size_t readSome(std::uint64_t offset, void* buffer, std::size_t size) const override;

    struct Native;
    std::unique_ptr<Native> native_;
};

// The output, written front to back, that only commit() gives its name: until then a failure or a kill
// leaves neither a half-written target nor the temporary file behind.
class PendingOutput {
public:
    // A target whose folder can't take the temporary file is BadInput ("cannot write OUT ...").
    explicit PendingOutput(const std::string& target);
    PendingOutput(const PendingOutput&) = delete;
    PendingOutput& operator=(const PendingOutput&) = delete;
    // Removes the temporary file unless committed.
    ~PendingOutput();

    // Appends the bytes; a failed write (a full disk) throws (exit code 1).
    void append(const void* data, std::size_t size);
    // Rewrites bytes already appended; throws as append() does.
    void overwrite(std::uint64_t offset, const void* data, std::size_t size);
    // Gives the file the target's name, waiting a moment for a program that holds the target (Windows);
    // replace allows an existing target to be replaced. A target that appeared meanwhile without replace is
    // BadInput (outputExists); any other failure throws and leaves the temporary file to the destructor.
    void commit(bool replace);

private:
    friend class InputFile;  // copies into the output's file
    struct Native;
    std::unique_ptr<Native> native_;
};

enum class PathKind { missing, file, folder };

// What the path names now; anything there that is not a folder counts as a file.
PathKind pathKind(const std::string& path);

}  // namespace stamp
