// The image layout's reader, and the signature check that reads a payload's headers, on any bytes: they
// accept or refuse (BadInput), and never read outside the input.
#include "MemoryInput.h"
#include "PeImage.h"
#include "Signature.h"
#include "StampError.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const stampfuzz::MemoryInput input(data, size);
    stamp::carriesSignature(input, 0, size);
    try {
        const stamp::PeImage image(input);
        // An accepted layout's resource section lies within the file.
        if (image.resourceOffset() + image.resourceSize() > size) {
            __builtin_trap();
        }
        image.isSigned();
    } catch (const stamp::BadInput&) {
    }
    return 0;
}
