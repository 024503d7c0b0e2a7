// The version block's reader and writer on any bytes: a block it accepts is written back as one it reads
// again to the same bytes, edited or not.
#include "StampError.h"
#include "VersionBlock.h"

namespace {

void expectStable(const std::vector<std::uint8_t>& written) {
    if (stamp::VersionBlock(written).serialize() != written) {
        __builtin_trap();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    try {
        stamp::VersionBlock block(std::vector<std::uint8_t>(data, data + size));
        block.fileVersion();
        block.strings();
        expectStable(block.serialize());
        block.setString(u"ProductName", u"Fuzzed");
        block.setFileVersion({1, 2, 3, 4});
        expectStable(block.serialize());
    } catch (const stamp::BadInput&) {
    }
    return 0;
}
