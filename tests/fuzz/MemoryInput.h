// A fuzz target's input as the tool's parsers read files.
#pragma once

#include <cstring>
#include <vector>

#include "InputBytes.h"

namespace stampfuzz {

class MemoryInput final : public stamp::InputBytes {
public:
    MemoryInput(const std::uint8_t* data, std::size_t size)
        : InputBytes("fuzz", "LAUNCHER"), bytes_(data, data + size) {
        setSize(size);
    }

private:
    std::size_t readSome(std::uint64_t offset, void* buffer, std::size_t size) const override {
        std::memcpy(buffer, bytes_.data() + offset, size);
        return size;
    }

    std::vector<std::uint8_t> bytes_;
};

}  // namespace stampfuzz
