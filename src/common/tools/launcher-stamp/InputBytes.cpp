#include "InputBytes.h"

#include <algorithm>

#include "StampError.h"
#include "StampFiles.h"

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

void InputBytes::appendTo(PendingOutput& out, std::uint64_t offset, std::uint64_t size,
                          const BytesAdded& added) const {
    std::vector<std::uint8_t> buffer(static_cast<std::size_t>(std::min<std::uint64_t>(size, COPY_CHUNK)));
    while (size != 0) {
        const std::size_t chunk = static_cast<std::size_t>(std::min<std::uint64_t>(size, buffer.size()));
        readInto(offset, buffer.data(), chunk);
        out.append(buffer.data(), chunk);
        added(buffer.data(), chunk);
        offset += chunk;
        size -= chunk;
    }
}

}  // namespace stamp
