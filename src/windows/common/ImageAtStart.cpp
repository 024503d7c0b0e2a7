#include "ImageAtStart.h"

#include <cstddef>
#include <cstring>

#include "ImageHeaders.h"

namespace image {

namespace {

struct RecordedSection {
    DWORD rva;
    DWORD size;
    const BYTE* bytes;
};

// Written by the callback before any initialiser of the program runs: constant-initialised, so that no
// initialiser writes them again. The copy they point to lives until the process ends.
constexpr std::size_t mostRecordedSections = 16;
RecordedSection recorded[mostRecordedSections] = {};
std::size_t recordedCount = 0;

DWORD fileBytesOf(const IMAGE_SECTION_HEADER& section) {
    return loadedFileBytes(section.Misc.VirtualSize, section.SizeOfRawData);
}

bool isRecorded(const IMAGE_SECTION_HEADER& section) {
    return (section.Characteristics & IMAGE_SCN_MEM_WRITE) != 0 && fileBytesOf(section) != 0;
}

// The executable's TLS callback. The loader has checked the headers it mapped, so they are read as they are.
// Without memory for the copy nothing is recorded, and a comparison that needs it refuses.
void NTAPI recordWritableSections(PVOID module, DWORD reason, PVOID) {
    if (reason != DLL_PROCESS_ATTACH || recordedCount != 0) {
        return;
    }
    const auto* base = static_cast<const BYTE*>(module);
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(
        base + reinterpret_cast<const IMAGE_DOS_HEADER*>(base)->e_lfanew);
    const IMAGE_SECTION_HEADER* sections = IMAGE_FIRST_SECTION(nt);
    SIZE_T total = 0;
    std::size_t count = 0;
    for (WORD i = 0; i < nt->FileHeader.NumberOfSections; ++i) {
        if (isRecorded(sections[i])) {
            total += fileBytesOf(sections[i]);
            ++count;
        }
    }
    if (count == 0 || count > mostRecordedSections) {
        return;
    }
    auto* copy = static_cast<BYTE*>(VirtualAlloc(nullptr, total, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
    if (copy == nullptr) {
        return;
    }
    for (WORD i = 0; i < nt->FileHeader.NumberOfSections; ++i) {
        if (isRecorded(sections[i])) {
            const DWORD size = fileBytesOf(sections[i]);
            std::memcpy(copy, base + sections[i].VirtualAddress, size);
            recorded[recordedCount++] = RecordedSection{sections[i].VirtualAddress, size, copy};
            copy += size;
        }
    }
}

}  // namespace

const BYTE* atStart(DWORD rva, DWORD size) {
    for (std::size_t i = 0; i < recordedCount; ++i) {
        const RecordedSection& section = recorded[i];
        if (liesWithin(rva, size, section.rva, section.size)) {
            return section.bytes + (rva - section.rva);
        }
    }
    return nullptr;
}

}  // namespace image

// The callback's place in the executable's TLS callback list: ".CRT$XLB" sorts after the list's start and
// before the C runtime's own callbacks. Kept by the linker, and with it this file, as long as atStart is
// used.
#ifdef _MSC_VER
#pragma comment(linker, "/INCLUDE:_tls_used")
#pragma comment(linker, "/INCLUDE:imageAtStartCallback")
#pragma const_seg(".CRT$XLB")
extern "C" const PIMAGE_TLS_CALLBACK imageAtStartCallback = image::recordWritableSections;
#pragma const_seg()
#else
extern "C" __attribute__((section(".CRT$XLB"), used)) const PIMAGE_TLS_CALLBACK imageAtStartCallback =
    image::recordWritableSections;
#endif
