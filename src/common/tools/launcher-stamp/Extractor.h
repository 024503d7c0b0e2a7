// The installer a launcher carries, written out unchanged.
#pragma once

#include <cstdint>
#include <string>

namespace stamp {

// Writes the payload of the launcher at launcher to output, under the rules of every OUT (not a folder,
// replaced only with force, never left half-written) and returns its size. A file that is not one of our
// launchers, or one without a payload, is BadInput; a failed write throws and leaves no output.
std::uint64_t extractPayload(const std::string& launcher, const std::string& output, bool force);

}  // namespace stamp
