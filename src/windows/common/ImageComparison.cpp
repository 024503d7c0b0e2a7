#include "ImageComparison.h"

#include <algorithm>
#include <cstring>

#include "ImageAtStart.h"
#include "ImageHeaders.h"
#include "KroError.h"
#include "SysInfo.h"
#include "tstrings.h"

namespace image {

namespace {

// How many bytes from the first difference the error shows.
constexpr std::size_t shownBytes = 16;

std::wstring hexText(std::uint64_t value) {
    return tstrings::unsafe_format(L"0x%I64X", static_cast<unsigned long long>(value));
}

std::wstring bytesText(const BYTE* bytes, std::size_t count) {
    std::wstring text;
    for (std::size_t i = 0; i < count; ++i) {
        text += tstrings::unsafe_format(i == 0 ? L"%02X" : L" %02X", static_cast<unsigned>(bytes[i]));
    }
    return text;
}

ULONGLONG valueAt(const BYTE* bytes, DWORD size) {
    ULONGLONG value = 0;
    std::memcpy(&value, bytes, size);
    return value;
}

std::wstring placeText(const std::string& region) {
    return region.empty() ? std::wstring(L"the headers") : L"section " + tstrings::fromMultiByte(region);
}

const wchar_t* kindText(LoaderWrite::Kind kind) {
    switch (kind) {
        case LoaderWrite::Relocation:
            return L", a relocated address";
        case LoaderWrite::ImportSlot:
            return L", an import slot";
        default:
            return L"";
    }
}

}  // namespace

RunningImageComparison::RunningImageComparison(const std::wstring& filePath)
    : RunningImageComparison(filePath, SysInfo::getCurrentModuleHandle(), &atStart,
                             loaderWritesOf(SysInfo::getCurrentModuleHandle())) {}

RunningImageComparison::RunningImageComparison(const std::wstring& filePath, HMODULE module,
                                               StartBytesFunction startBytes, std::vector<LoaderWrite> writes)
    : path(filePath), base(reinterpret_cast<ULONGLONG>(module)), writes(std::move(writes)) {
    const ImageHeaders headers = ImageHeaders::ofModule(module);
    imageBaseOffset = imageBaseRva(headers);
    const auto* loaded = reinterpret_cast<const BYTE*>(module);
    const DWORD headerSize = headers.nt().OptionalHeader.SizeOfHeaders;
    regions.push_back(Region{std::string(), 0, 0, headerSize, loaded});
    for (const Section& section : headers.sections()) {
        const DWORD size = loadedFileBytes(section.virtualSize, section.fileSize);
        if (size == 0) {
            continue;
        }
        const BYTE* bytes = (section.characteristics & IMAGE_SCN_MEM_WRITE) == 0
                                ? loaded + section.rva
                                : startBytes(section.rva, size);
        if (bytes == nullptr) {
            KRO_THROW("The running program's writable section " << section.name
                                                                << " was not recorded at its start");
        }
        regions.push_back(Region{section.name, section.rva, section.fileOffset, size, bytes});
    }
    for (const LoaderWrite& write : this->writes) {
        for (const Region& region : regions) {
            if (liesWithin(write.rva, 1, region.rva, region.size) &&
                !liesWithin(write.rva, write.size, region.rva, region.size)) {
                KRO_THROW("The running program's loader write at "
                          << hexText(write.rva) << " crosses the end of " << placeText(region.name));
            }
        }
    }
}

void RunningImageComparison::operator()(std::uint64_t offset, const BYTE* bytes, std::size_t size) {
    if (offset != nextOffset) {
        KRO_THROW("The launcher's file [" << path << "] was read out of order: at " << hexText(offset)
                                          << " instead of " << hexText(nextOffset));
    }
    nextOffset += size;
    const std::uint64_t end = offset + size;
    if (offset < regions.front().size) {
        const std::size_t count =
            static_cast<std::size_t>(std::min<std::uint64_t>(end, regions.front().size) - offset);
        headerBytes.insert(headerBytes.end(), bytes, bytes + count);
    }
    for (const Region& region : regions) {
        const std::uint64_t regionEnd = region.fileOffset + region.size;
        if (size == 0 && offset < regionEnd) {
            KRO_THROW("The launcher's file [" << path << "] is not the program that runs: it ends at offset "
                                              << hexText(offset) << ", inside " << placeText(region.name)
                                              << ", which the program holds up to " << hexText(regionEnd)
                                              << "; it was changed after the start, exiting");
        }
        const std::uint64_t from = std::max(offset, region.fileOffset);
        const std::uint64_t to = std::min(end, regionEnd);
        if (from < to) {
            compare(region, static_cast<DWORD>(region.rva + (from - region.fileOffset)),
                    bytes + (from - offset), static_cast<std::size_t>(to - from));
        }
    }
}

void RunningImageComparison::compare(const Region& region, DWORD rva, const BYTE* file, std::size_t size) {
    const BYTE* loaded = region.loaded + (rva - region.rva);
    auto write = std::lower_bound(writes.begin(), writes.end(), rva,
                                  [](const LoaderWrite& w, DWORD at) { return w.rva + w.size <= at; });
    std::size_t done = 0;
    while (done < size) {
        const DWORD at = rva + static_cast<DWORD>(done);
        const bool inWrite = write != writes.end() && write->rva < rva + size;
        const std::size_t plainEnd = inWrite ? std::max<std::size_t>(write->rva, at) - rva : size;
        if (plainEnd > done && std::memcmp(loaded + done, file + done, plainEnd - done) != 0) {
            const auto first = static_cast<std::size_t>(
                std::mismatch(file + done, file + plainEnd, loaded + done).first - file);
            reportDifference(region, rva + static_cast<DWORD>(first), file + first, size - first);
        }
        done = plainEnd;
        if (!inWrite) {
            break;
        }
        // The part of the loader's write that this chunk holds, judged by its rule.
        const std::size_t writeEnd = std::min<std::size_t>(write->rva + write->size - rva, size);
        if (writeEnd <= done) {  // wholly inside the write before it, whose rule judged it
            ++write;
            continue;
        }
        const Rule rule = ruleFor(*write, region);
        bool matches = rule.anything;
        for (int i = 0; i < rule.count && !matches; ++i) {
            const auto* value = reinterpret_cast<const BYTE*>(&rule.values[i]);
            matches = std::memcmp(value + (rva + done - write->rva), file + done, writeEnd - done) == 0;
        }
        if (!matches) {
            reportDifference(region, rva + static_cast<DWORD>(done), file + done, size - done);
        }
        done = writeEnd;
        ++write;
    }
}

RunningImageComparison::Rule RunningImageComparison::ruleFor(const LoaderWrite& write,
                                                             const Region& region) const {
    const ULONGLONG loaded = valueAt(region.loaded + (write.rva - region.rva), write.size);
    switch (write.kind) {
        case LoaderWrite::Relocation:
            if (headerBytes.size() < regions.front().size) {
                KRO_THROW("The launcher's file [" << path << "] was read without its headers first");
            }
            // The program's shift from the base the file prefers.
            return Rule{false, 1, {loaded - (base - valueAt(headerBytes.data() + imageBaseOffset, 8)), 0}};
        case LoaderWrite::ImportSlot:
            return Rule{false, 1, {write.fileValue, 0}};
        case LoaderWrite::SecurityCookie:
            return Rule{false, 2, {loaded, defaultSecurityCookie}};
        case LoaderWrite::ImageBase:
            return Rule{loaded == base, 1, {loaded, 0}};
        default:  // the TLS index
            return Rule{true, 0, {0, 0}};
    }
}

void RunningImageComparison::reportDifference(const Region& region, DWORD rva, const BYTE* file,
                                              std::size_t available) const {
    // What the file should hold from here: the loaded bytes, with each loader write's first rule applied.
    const std::size_t count =
        std::min({shownBytes, available, static_cast<std::size_t>(region.rva + region.size - rva)});
    std::vector<BYTE> needed(region.loaded + (rva - region.rva), region.loaded + (rva - region.rva) + count);
    const wchar_t* kind = L"";
    for (const LoaderWrite& write : writes) {
        for (std::size_t i = 0; i < count; ++i) {
            if (rva + i >= write.rva && rva + i < write.rva + write.size) {
                const Rule rule = ruleFor(write, region);
                needed[i] = rule.anything
                                ? file[i]
                                : reinterpret_cast<const BYTE*>(&rule.values[0])[rva + i - write.rva];
                kind = i == 0 ? kindText(write.kind) : kind;
            }
        }
    }
    const DWORD offset = rva - region.rva;
    KRO_THROW("The launcher's file [" << path << "] is not the program that runs: it differs in "
                                      << placeText(region.name) << " at offset " << hexText(offset) << kind
                                      << " (file offset " << hexText(region.fileOffset + offset)
                                      << "): the file holds " << bytesText(file, count)
                                      << ", the program as loaded needs " << bytesText(needed.data(), count)
                                      << "; it was changed after the start, exiting");
}

}  // namespace image
