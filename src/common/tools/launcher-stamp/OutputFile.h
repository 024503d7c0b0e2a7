// The image being written, front to back. Every byte is summed as the image checksum sums it, so the
// checksum is known without reading the file back.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "InputBytes.h"
#include "StampFiles.h"

namespace stamp {

// OUT's pending file, under the rules for every OUT: not a folder, and replaced only with force (either is
// BadInput). A folder that can't take the file (missing, read-only) is a failed write: it throws
// std::runtime_error ("cannot write OUT ..."), exit code 1.
PendingOutput openOutput(const std::string& path, bool force);

class OutputFile {
public:
    // Writes into pending, which the caller owns and commits.
    explicit OutputFile(PendingOutput& pending) : pending_(pending) {}

    std::uint64_t position() const { return position_; }
    void write(const void* data, std::size_t size);
    void write(const std::vector<std::uint8_t>& bytes) { write(bytes.data(), bytes.size()); }
    // Zero bytes up to position (which must not lie behind).
    void padTo(std::uint64_t position);
    // size bytes of input from offset, appended and summed as InputBytes::appendTo() hands them over; a range
    // past the input's end is BadInput, and everything else throws as appendTo() does.
    void copyFrom(const InputBytes& input, std::uint64_t offset, std::uint64_t size);
    // The image checksum of everything written, the checksum field itself written as zero.
    std::uint32_t imageChecksum() const;
    // Overwrites bytes already written, for the checksum field; they are not summed again.
    void overwrite(std::uint64_t offset, const void* data, std::size_t size);

private:
    void sum(const std::uint8_t* data, std::size_t size);
    void addToSum(std::uint64_t value);

    PendingOutput& pending_;
    std::uint64_t position_ = 0;
    std::uint64_t wordSum_ = 0;
};

}  // namespace stamp
