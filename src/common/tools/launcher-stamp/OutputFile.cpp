#include "OutputFile.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

#include "StampError.h"

namespace stamp {

PendingOutput openOutput(const std::string& path, bool force) {
    const PathKind kind = pathKind(path);
    if (kind == PathKind::folder) {
        throw BadInput("OUT '" + path + "' is a folder");
    }
    if (!force && kind == PathKind::file) {
        throw outputExists(path);
    }
    try {
        return PendingOutput(path);
    } catch (const BadInput& error) {
        // The file layers call a folder that takes no file bad input; to the tool's user it is a failed
        // write.
        throw std::runtime_error(error.what());
    }
}

void OutputFile::write(const void* data, std::size_t size) {
    sum(static_cast<const std::uint8_t*>(data), size);
    pending_.append(data, size);
    position_ += size;
}

void OutputFile::padTo(std::uint64_t position) {
    static const std::uint8_t zeros[4096] = {};
    while (position_ < position) {
        write(zeros, static_cast<std::size_t>(std::min<std::uint64_t>(position - position_, sizeof zeros)));
    }
}

void OutputFile::copyFrom(const InputBytes& input, std::uint64_t offset, std::uint64_t size) {
    input.checkRange(offset, size);
    input.appendTo(pending_, offset, size, [this](const std::uint8_t* bytes, std::size_t count) {
        sum(bytes, count);
        position_ += count;
    });
}

// The image checksum adds the file as little-endian 16-bit words with end-around carry, then the length.
// That is the ones' complement sum, which comes out the same summed four bytes at a time (2^16 leaves the
// same remainder as 1 modulo 65535). Four-byte words add into 64 bits without a carry to pass on (below
// 16 GiB a call), so the compiler spreads the additions over vector lanes. A write that starts at an odd
// position first completes the word the last one began.
void OutputFile::sum(const std::uint8_t* data, std::size_t size) {
    std::size_t i = 0;
    if (size != 0 && (position_ & 1) != 0) {
        addToSum(static_cast<std::uint64_t>(data[0]) << 8);
        i = 1;
    }
    std::uint64_t words = 0;
    const std::size_t fours = (size - i) / sizeof(std::uint32_t);
    for (std::size_t n = 0; n < fours; ++n, i += sizeof(std::uint32_t)) {
        std::uint32_t four = 0;
        std::memcpy(&four, data + i, sizeof four);
        words += four;
    }
    for (; i + 1 < size; i += 2) {
        words += data[i] | static_cast<std::uint64_t>(data[i + 1]) << 8;
    }
    if (i < size) {
        words += data[i];
    }
    addToSum(words);
}

void OutputFile::addToSum(std::uint64_t value) {
    wordSum_ += value;
    wordSum_ += wordSum_ < value ? 1 : 0;  // the carry out of 64 bits goes around
}

std::uint32_t OutputFile::imageChecksum() const {
    std::uint64_t folded = wordSum_;
    while (folded >> 16) {
        folded = (folded & 0xFFFF) + (folded >> 16);
    }
    return static_cast<std::uint32_t>(folded + position_);
}

void OutputFile::overwrite(std::uint64_t offset, const void* data, std::size_t size) {
    pending_.overwrite(offset, data, size);
}

}  // namespace stamp
