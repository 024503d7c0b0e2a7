// The image's headers read from memory and from its file: sections found where the file holds them, and
// headers that don't fit the bytes given refused.
#include "ImageHeaders.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "SysInfo.h"
#include "TestSupport.h"

TEST(ImageHeaders, ALoadedSectionIsFoundInTheFileItCameFrom) {
    const HMODULE module = SysInfo::getCurrentModuleHandle();
    const image::ImageHeaders headers = image::ImageHeaders::ofModule(module);
    const image::Section* text = nullptr;
    for (const image::Section& section : headers.sections()) {
        text = section.name == ".text" ? &section : text;
    }
    ASSERT_NE(text, nullptr);
    // Some bytes in the middle of the code, which nothing changes at load unless relocated.
    const DWORD rva = text->rva + text->fileSize / 2;
    DWORD offset = 0;
    ASSERT_TRUE(headers.fileOffsetOf(rva, 64, offset));
    EXPECT_EQ(offset, text->fileOffset + text->fileSize / 2);
    const std::string file = testsupport::readFileBytes(SysInfo::getProcessModulePath());
    ASSERT_GE(file.size(), offset + 64u);
    EXPECT_EQ(file.substr(offset, 64), std::string(reinterpret_cast<const char*>(module) + rva, 64));
    // Beyond the file's bytes of a section (all of .bss, whose bytes are zero in memory only), or across two
    // sections: not in the file.
    for (const image::Section& section : headers.sections()) {
        if (section.virtualSize > section.fileSize) {
            EXPECT_FALSE(headers.fileOffsetOf(section.rva + section.fileSize, 1, offset)) << section.name;
        }
    }
    EXPECT_FALSE(headers.fileOffsetOf(text->rva + text->fileSize - 8, 16, offset));
    EXPECT_EQ(headers.directory(IMAGE_NUMBEROF_DIRECTORY_ENTRIES).Size, 0u);
}

TEST(ImageHeaders, HeadersThatDoNotFitTheBytesAreRefused) {
    const auto* base = reinterpret_cast<const BYTE*>(SysInfo::getCurrentModuleHandle());
    const image::ImageHeaders whole(base, 4096);
    const std::size_t tableEnd = whole.ntOffset() + sizeof(IMAGE_NT_HEADERS64) +
                                 whole.sections().size() * sizeof(IMAGE_SECTION_HEADER);
    for (const std::size_t size :
         {std::size_t{0}, std::size_t{63}, std::size_t{whole.ntOffset() + 100}, tableEnd - 1}) {
        EXPECT_ANY_THROW(image::ImageHeaders(base, size)) << size;
    }
    std::vector<BYTE> notAnImage(base, base + 4096);
    notAnImage[whole.ntOffset()] = 'X';
    EXPECT_ANY_THROW(image::ImageHeaders(notAnImage.data(), notAnImage.size()));
}
