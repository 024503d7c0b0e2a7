#include "StampCases.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>
#include <random>

namespace stampcases {

namespace {

template <class Value>
void put(std::string& bytes, std::size_t at, Value value) {
    std::memcpy(&bytes[at], &value, sizeof value);
}

// The RVA of file offset at, which lies in image's resource section.
std::uint32_t rvaAt(std::string& image, std::size_t at) {
    const stamp::image::SectionHeader* resources = resourceSectionIn(image);
    return static_cast<std::uint32_t>(resources->virtualAddress + at - resources->pointerToRawData);
}

// Makes the resource data entry that names size bytes at rva name newSize bytes at newRva; false when there
// is none.
bool retargetEntry(std::string& image, std::uint32_t rva, std::uint32_t size, std::uint32_t newRva,
                   std::uint32_t newSize) {
    const std::uint32_t entry[] = {rva, size};
    const std::size_t found = image.find(std::string(reinterpret_cast<const char*>(entry), sizeof entry),
                                         resourceSectionIn(image)->pointerToRawData);
    if (found == std::string::npos) {
        return false;
    }
    put(image, found, newRva);
    put(image, found + sizeof newRva, newSize);
    return true;
}

}  // namespace

std::string argument(const fs::path& path) {
    return path.u8string();
}

std::string readBytes(const fs::path& path) {
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

void writeBytes(const fs::path& path, const std::string& bytes) {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    ASSERT_TRUE(file.good()) << "cannot write " << argument(path);
}

std::vector<std::string> entriesOf(const fs::path& folder) {
    std::vector<std::string> names;
    std::error_code error;
    for (const fs::directory_entry& entry : fs::directory_iterator(folder, error)) {
        names.push_back(entry.path().filename().u8string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

ScratchFolder::ScratchFolder(const char* prefix) {
    std::random_device random;
    path_ = fs::temp_directory_path() / (std::string(prefix) + "-" + std::to_string(random()));
    fs::create_directories(path_);
}

ScratchFolder::~ScratchFolder() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
}

std::string iconFile(const std::vector<std::string>& images) {
    std::string file(6 + 16 * images.size(), '\0');
    put<std::uint16_t>(file, 2, 1);
    put(file, 4, static_cast<std::uint16_t>(images.size()));
    for (std::size_t i = 0; i < images.size(); ++i) {
        const std::size_t entry = 6 + 16 * i;
        file[entry] = file[entry + 1] = static_cast<char>(16 * (i + 1));
        put<std::uint16_t>(file, entry + 4, 1);
        put<std::uint16_t>(file, entry + 6, 32);
        put(file, entry + 8, static_cast<std::uint32_t>(images[i].size()));
        put(file, entry + 12, static_cast<std::uint32_t>(file.size()));
        file += images[i];
    }
    return file;
}

std::string bitmapImage(char fill) {
    std::string image(40 + 64, fill);
    put<std::uint32_t>(image, 0, 40);
    return image;
}

std::string pngImage() {
    return std::string("\x89PNG\r\n\x1A\n", 8) + "not decoded by the tool";
}

std::string multipliedIcon(std::uint16_t count) {
    std::string icon(6 + 16 * static_cast<std::size_t>(count), '\0');
    put<std::uint16_t>(icon, 2, 1);
    put(icon, 4, count);
    for (std::size_t i = 0; i < count; ++i) {
        put(icon, 6 + 16 * i + 8, static_cast<std::uint32_t>(icon.size() - 6));
        put<std::uint32_t>(icon, 6 + 16 * i + 12, 6);
    }
    icon[6] = 40;
    return icon;
}

std::string nestedVersionBlock(std::size_t depth) {
    std::string block;
    for (std::size_t level = 0; level < depth; ++level) {
        // length, value, type, key ""
        const std::uint16_t node[] = {static_cast<std::uint16_t>(8 * (depth - level)), 0, 0, 0};
        block.append(reinterpret_cast<const char*>(node), sizeof node);
    }
    return block;
}

stamp::image::NtHeaders64* ntHeadersIn(std::string& image) {
    stamp::image::DosHeader dos{};
    std::memcpy(&dos, image.data(), sizeof dos);
    return reinterpret_cast<stamp::image::NtHeaders64*>(
        &image[static_cast<std::size_t>(dos.newHeaderOffset)]);
}

stamp::image::SectionHeader* resourceSectionIn(std::string& image) {
    stamp::image::NtHeaders64* nt = ntHeadersIn(image);
    auto* sections = reinterpret_cast<stamp::image::SectionHeader*>(nt + 1);
    const std::uint32_t rva =
        nt->optionalHeader.dataDirectory[stamp::image::DIRECTORY_RESOURCE].virtualAddress;
    return std::find_if(
        sections, sections + nt->fileHeader.numberOfSections,
        [&](const stamp::image::SectionHeader& section) { return section.virtualAddress == rva; });
}

std::string launcherWithVersion(const std::string& block, const fs::path& folder) {
    const fs::path carrier = folder / "carrier.exe";
    const fs::path base = folder / "base.exe";
    const std::string carried = "MZ" + std::string(6, '\0') + block;
    writeBytes(carrier, carried);
    const std::string stub = argument(windowsProgram("setup-stub.exe"));
    EXPECT_EQ(0, runTool({"--payload", argument(carrier), "--output", argument(base), stub}).exitCode);
    std::string image = readBytes(base);
    fs::remove(carrier);
    fs::remove(base);
    const std::size_t start = resourceSectionIn(image)->pointerToRawData;
    const std::uint32_t carriedAt = rvaAt(image, image.find(carried, start));
    EXPECT_TRUE(retargetEntry(image, carriedAt, static_cast<std::uint32_t>(carried.size()), carriedAt, 8));
    // The stub's version block is the first "VS_VERSION_INFO" node whose entry names it.
    const std::string key("V\0S\0_\0V\0E\0R\0S\0I\0O\0N\0_\0I\0N\0F\0O\0", 30);
    for (std::size_t at = image.find(key, start); at != std::string::npos; at = image.find(key, at + 1)) {
        std::uint16_t length = 0;
        std::memcpy(&length, &image[at - 6], sizeof length);
        if (retargetEntry(image, rvaAt(image, at - 6), length, carriedAt + 8,
                          static_cast<std::uint32_t>(block.size()))) {
            return image;
        }
    }
    ADD_FAILURE() << "no version resource found";
    return image;
}

}  // namespace stampcases
