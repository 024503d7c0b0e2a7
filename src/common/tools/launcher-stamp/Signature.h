// Whether a Windows image carries an Authenticode signature: a certificate table, present, not validated.
#pragma once

#include <cstdint>

#include "InputBytes.h"

namespace stamp {

// True when the image of size bytes from offset in file (a 32- or 64-bit program) names a certificate table
// that lies within it; false for anything else, an image too short or malformed included.
bool carriesSignature(const InputBytes& file, std::uint64_t offset, std::uint64_t size);

}  // namespace stamp
