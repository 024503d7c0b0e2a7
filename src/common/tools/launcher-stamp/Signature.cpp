#include "Signature.h"

#include <cstddef>

#include "ImageFormat.h"

namespace stamp {

namespace {

// Where the data directories and their count start in the optional header of each kind.
constexpr std::size_t DIRECTORIES_32 = 96;
constexpr std::size_t DIRECTORIES_64 = offsetof(image::OptionalHeader64, dataDirectory);
constexpr std::size_t COUNT_BEFORE_DIRECTORIES = sizeof(std::uint32_t);

template <class Value>
bool readAt(const InputBytes& file, std::uint64_t offset, std::uint64_t end, Value& value) {
    if (offset > end || sizeof value > end - offset) {
        return false;
    }
    file.readInto(offset, &value, sizeof value);
    return true;
}

}  // namespace

bool carriesSignature(const InputBytes& file, std::uint64_t offset, std::uint64_t size) {
    const std::uint64_t end = offset + size;
    image::DosHeader dos{};
    if (!readAt(file, offset, end, dos) || dos.magic != image::DOS_SIGNATURE || dos.newHeaderOffset <= 0) {
        return false;
    }
    const std::uint64_t nt = offset + static_cast<std::uint64_t>(dos.newHeaderOffset);
    std::uint32_t signature = 0;
    image::FileHeader header{};
    std::uint16_t magic = 0;
    const std::uint64_t optional = nt + sizeof signature + sizeof header;
    if (!readAt(file, nt, end, signature) || signature != image::NT_SIGNATURE ||
        !readAt(file, nt + sizeof signature, end, header) || !readAt(file, optional, end, magic) ||
        (magic != image::OPTIONAL_MAGIC_32 && magic != image::OPTIONAL_MAGIC_64)) {
        return false;
    }
    const std::size_t directories = magic == image::OPTIONAL_MAGIC_64 ? DIRECTORIES_64 : DIRECTORIES_32;
    std::uint32_t count = 0;
    image::DataDirectory certificates{};
    const std::size_t certificatesAt = directories + image::DIRECTORY_SECURITY * sizeof certificates;
    if (header.sizeOfOptionalHeader < certificatesAt + sizeof certificates ||
        !readAt(file, optional + directories - COUNT_BEFORE_DIRECTORIES, end, count) ||
        count <= image::DIRECTORY_SECURITY || !readAt(file, optional + certificatesAt, end, certificates)) {
        return false;
    }
    // The certificate table's address is a file offset.
    return certificates.size != 0 && certificates.virtualAddress != 0 &&
           static_cast<std::uint64_t>(certificates.virtualAddress) + certificates.size <= size;
}

}  // namespace stamp
