// This test program's own file compared with the program as loaded: the same bytes pass, the loader's writes
// accounted for; a changed byte is named with its place and bytes; a file cut short is refused.
#include "ImageComparison.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "SysInfo.h"
#include "TestSupport.h"
#include "tstrings.h"

namespace {

const HMODULE module = SysInfo::getCurrentModuleHandle();
const image::ImageHeaders headers = image::ImageHeaders::ofModule(module);
const std::vector<image::LoaderWrite> writes = image::loaderWritesOf(module);
const std::string file = testsupport::readFileBytes(SysInfo::getProcessModulePath());

bool inHeaders(DWORD rva) {
    return rva < headers.nt().OptionalHeader.SizeOfHeaders;
}

DWORD fileOffsetOf(DWORD rva) {
    DWORD offset = rva;
    return inHeaders(rva) || headers.fileOffsetOf(rva, 1, offset) ? offset : 0;
}

// Feeds the bytes to a comparison in chunks, then their end; the error's text, empty when they passed.
std::string compared(const std::string& bytes, std::size_t chunk = 1 << 20) {
    try {
        image::RunningImageComparison same(L"C:\\copy.exe");
        for (std::size_t at = 0; at < bytes.size(); at += chunk) {
            same(at, reinterpret_cast<const BYTE*>(bytes.data()) + at, std::min(chunk, bytes.size() - at));
        }
        same(bytes.size(), nullptr, 0);
    } catch (const std::exception& e) {
        const std::string text = e.what();
        return text.substr(text.find("The launcher's file"));
    }
    return {};
}

std::string hex(std::uint64_t value) {
    return tstrings::toMultiByte(tstrings::unsafe_format(L"0x%I64X", value));
}

std::string bytesAt(const std::string& bytes, std::size_t at) {
    std::wstring text;
    for (std::size_t i = at; i < at + 16; ++i) {
        text += tstrings::unsafe_format(i == at ? L"%02X" : L" %02X", bytes[i] & 0xFF);
    }
    return tstrings::toMultiByte(text);
}

// An address in the section whose 16 bytes the loader writes nowhere.
DWORD plainRvaIn(const char* name) {
    const image::Section& section = *std::find_if(headers.sections().begin(), headers.sections().end(),
                                                  [&](const image::Section& s) { return s.name == name; });
    DWORD rva = section.rva + 16;
    for (const image::LoaderWrite& write : writes) {
        rva = write.rva < rva + 16 && write.rva + write.size > rva ? write.rva + write.size : rva;
    }
    return rva;
}

const image::LoaderWrite& firstWrite(image::LoaderWrite::Kind kind) {
    return *std::find_if(writes.begin(), writes.end(),
                         [&](const image::LoaderWrite& w) { return w.kind == kind; });
}

// The file as if the program had been loaded 64 KiB above its preferred base: the base it names and every
// relocated address 64 KiB lower.
std::string shifted() {
    std::string bytes = file;
    for (const image::LoaderWrite& write : writes) {
        if (write.kind == image::LoaderWrite::Relocation || write.kind == image::LoaderWrite::ImageBase) {
            std::uint64_t value = 0;
            std::memcpy(&value, bytes.data() + fileOffsetOf(write.rva), 8);
            value -= 0x10000;
            std::memcpy(&bytes[fileOffsetOf(write.rva)], &value, 8);
        }
    }
    return bytes;
}

}  // namespace

TEST(ImageComparison, TheProgramsOwnFilePassesInAnyChunks) {
    ASSERT_FALSE(file.empty());
    // 4093-byte chunks split loader writes between two chunks.
    EXPECT_EQ("", compared(file, 4093));
    EXPECT_EQ("", compared(shifted()));
}

TEST(ImageComparison, EachDifferenceIsNamedWithItsPlaceAndBytes) {
    ASSERT_FALSE(file.empty());
    const std::string moved = shifted();
    const struct {
        const std::string& bytes;
        DWORD rva;
        std::string kind;
    } rows[] = {
        {file, 0x4E, ""},  // the DOS stub's text
        {file, plainRvaIn(".rdata"), ""},
        {file, plainRvaIn(".data"), ""},
        {moved, firstWrite(image::LoaderWrite::Relocation).rva, ", a relocated address"},
        {file, firstWrite(image::LoaderWrite::ImportSlot).rva, ", an import slot"},
    };
    for (const auto& row : rows) {
        const DWORD at = fileOffsetOf(row.rva);
        const image::Section* section = headers.sectionOf(row.rva, 1);
        std::string changed = row.bytes;
        changed[at] = static_cast<char>(changed[at] ^ 0x5A);
        EXPECT_EQ("The launcher's file [C:\\copy.exe] is not the program that runs: it differs in " +
                      (inHeaders(row.rva)
                           ? "the headers at offset " + hex(row.rva)
                           : "section " + section->name + " at offset " + hex(row.rva - section->rva)) +
                      row.kind + " (file offset " + hex(at) + "): the file holds " + bytesAt(changed, at) +
                      ", the program as loaded needs " + bytesAt(row.bytes, at) +
                      "; it was changed after the start, exiting",
                  compared(changed));
    }
    const image::Section& last = headers.sections().back();
    EXPECT_EQ("The launcher's file [C:\\copy.exe] is not the program that runs: it ends at offset " +
                  hex(last.fileOffset + 1) + ", inside section " + last.name +
                  ", which the program holds up to " +
                  hex(last.fileOffset + std::min(last.virtualSize, last.fileSize)) +
                  "; it was changed after the start, exiting",
              compared(file.substr(0, last.fileOffset + 1)));
}
