// How image and resource formats lay out their bytes: little-endian fields, and offsets and sizes rounded up
// to an alignment.
#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

namespace stamp {

// The field of type Value at offset; the caller has checked that it lies within bytes.
template <class Value>
Value fieldAt(const std::vector<std::uint8_t>& bytes, std::size_t offset) {
    Value value;
    std::memcpy(&value, bytes.data() + offset, sizeof value);
    return value;
}

template <class Value>
void appendField(std::vector<std::uint8_t>& bytes, Value value) {
    const auto* raw = reinterpret_cast<const std::uint8_t*>(&value);
    bytes.insert(bytes.end(), raw, raw + sizeof value);
}

inline std::uint64_t alignUp(std::uint64_t value, std::uint64_t alignment) {
    return (value + alignment - 1) / alignment * alignment;
}

}  // namespace stamp
