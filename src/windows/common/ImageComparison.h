// A copy of the running program's file, checked chunk by chunk as it is read against the program as it was
// loaded: the headers and every section's bytes from the file, read-only ones against the image in memory,
// writable ones against their copy from the start (ImageAtStart), with the loader's own writes accounted for
// (LoaderWrites): a relocated address must hold the file's value plus the program's shift from its preferred
// base, an import slot the import lookup table's entry. Bytes the loader never maps (a section's raw tail
// beyond its size in memory, the space between sections, a signature behind the last one) are no part of the
// running program and are not compared.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "LoaderWrites.h"

namespace image {

class RunningImageComparison {
public:
    // The bytes a writable section's loaded range held at start (ImageAtStart's atStart), or null.
    using StartBytesFunction = const BYTE* (*)(DWORD rva, DWORD size);

    // Compares with this process's executable as loaded; filePath names the file in the error's text. Throws
    // loaderWritesOf's errors, and KroError<std::runtime_error> when the writable sections were not recorded
    // at start.
    explicit RunningImageComparison(const std::wstring& filePath);
    // The same against any module loaded in this process, its writable sections' start bytes and the loader's
    // writes given.
    RunningImageComparison(const std::wstring& filePath, HMODULE module, StartBytesFunction startBytes,
                           std::vector<LoaderWrite> writes);

    // Takes the file's next size bytes, which start at offset: chunks come in order from 0, without gaps, and
    // an empty chunk marks the file's end. Throws KroError<std::runtime_error> "The launcher's file [path] is
    // not the program that runs: it differs in <the headers | section NAME> at offset 0x.. (file offset
    // 0x..): the file holds <bytes>, the program as loaded needs <bytes> ..." at the first difference, and
    // "...: it ends at offset 0x.., inside <...> ..." when the file ends before the program's bytes do.
    void operator()(std::uint64_t offset, const BYTE* bytes, std::size_t size);

private:
    // A stretch of the file that the loader maps: the headers, or a section's bytes.
    struct Region {
        std::string name;
        DWORD rva;
        std::uint64_t fileOffset;
        DWORD size;
        const BYTE*
            loaded;  // what was loaded there: the image's memory, or the writable section's start copy
    };
    // How the file's bytes at a loader write are judged.
    struct Rule {
        bool anything;  // the loader replaces whatever the file holds
        int count;
        ULONGLONG values[2];
    };

    void compare(const Region& region, DWORD rva, const BYTE* file, std::size_t size);
    Rule ruleFor(const LoaderWrite& write, const Region& region) const;
    [[noreturn]] void reportDifference(const Region& region, DWORD rva, const BYTE* file,
                                       std::size_t available) const;

    std::wstring path;
    ULONGLONG base;
    std::vector<Region> regions;
    std::vector<LoaderWrite> writes;
    std::vector<BYTE> headerBytes;  // the file's headers, for its preferred base
    DWORD imageBaseOffset = 0;      // where the headers hold it
    std::uint64_t nextOffset = 0;
};

}  // namespace image
