// SHA-256, for the payload's digest that inspect shows.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace stamp {

class Sha256 {
public:
    Sha256();
    void add(const void* data, std::size_t size);
    // The digest of everything added, in lower-case hexadecimal; the object is spent afterwards.
    std::string hex();

private:
    void compress(const std::uint8_t* block);

    std::array<std::uint32_t, 8> state_;
    std::array<std::uint8_t, 64> block_{};
    std::size_t blockUsed_ = 0;
    std::uint64_t length_ = 0;
};

}  // namespace stamp
