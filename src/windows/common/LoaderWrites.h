// Where the loader writes into an image it maps, read from the loaded image's own tables: the base
// relocations it applies where the image does not sit at its preferred address, the import address slots it
// fills, the TLS index it assigns, the /GS cookie it may set, and the image base in the headers. A copy of
// the image's file differs from the loaded image only there; every other byte the file supplies is loaded as
// the file holds it.
#pragma once

#include <windows.h>

#include <vector>

#include "ImageHeaders.h"

namespace image {

// The default /GS cookie that linkers write into an image; the loader may replace it before any code runs.
constexpr ULONGLONG defaultSecurityCookie = 0x00002B992DDFA232ull;

struct LoaderWrite {
    enum Kind {
        Relocation,      // the file's value plus the image's shift from its preferred base
        ImportSlot,      // the file holds fileValue (the import lookup table's entry), memory a function's
                         // address
        TlsIndex,        // the index the loader assigns; the file's value is never used
        SecurityCookie,  // the file's value, or defaultSecurityCookie replaced by the loader
        ImageBase,       // the header's image base, which the loader may set to where it mapped the image
    };
    DWORD rva;
    DWORD size;  // 4 or 8 bytes
    Kind kind;
    ULONGLONG fileValue;  // import slots only
};

// Where the headers hold the image's preferred base address (offset from the image's start).
DWORD imageBaseRva(const ImageHeaders& headers);

// The places in the module loaded in this process, sorted by address. Throws KroError<std::runtime_error>
// "The running image's <table> ..." when one of its tables lies outside the image, or holds what a copy can't
// be checked against: a relocation of a kind other than 64-bit, 32-bit or padding, or an import without a
// lookup table.
std::vector<LoaderWrite> loaderWritesOf(HMODULE module);

}  // namespace image
