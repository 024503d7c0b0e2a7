#include "InputBytes.h"

#include "StampError.h"

namespace stamp {

std::vector<std::uint8_t> InputBytes::read(std::uint64_t offset, std::size_t size) const {
    std::vector<std::uint8_t> bytes(size);
    if (size != 0) {
        readInto(offset, bytes.data(), size);
    }
    return bytes;
}

void InputBytes::checkRange(std::uint64_t offset, std::uint64_t size) const {
    if (offset > size_ || size > size_ - offset) {
        throw BadInput(role_ + " '" + path_ + "' is truncated");
    }
}

void InputBytes::readInto(std::uint64_t offset, void* buffer, std::size_t size) const {
    checkRange(offset, size);
    auto* bytes = static_cast<std::uint8_t*>(buffer);
    while (size != 0) {
        const std::size_t read = readSome(offset, bytes, size);
        if (read == 0) {
            throw inputChanged(role_, path_);  // it ends before the size it had when it was opened
        }
        bytes += read;
        offset += read;
        size -= read;
    }
}

}  // namespace stamp
