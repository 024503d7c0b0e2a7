// What the launcher-stamp tests share: the tool run as a real process, the inputs they build (icons, images)
// and the system's own reading of what it wrote.
#pragma once

#include <windows.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "WinAutoHandle.h"

namespace stamptest {

using testsupport::binPath;
using testsupport::readFileBytes;
using testsupport::ScratchDir;
using testsupport::writeFileBytes;

struct StampRun {
    DWORD exitCode = 0;
    bool finished = true;
    std::string output;  // standard output and error together
};

// Runs the tool to its end; one still running after a minute has hung, and is ended (finished is false).
inline StampRun runStamp(const ScratchDir& dir, const std::vector<std::wstring>& arguments) {
    testsupport::ProcessOptions options;
    options.outputPath = dir / L"stamp-output.txt";
    StampRun run;
    run.finished = testsupport::startProcess(binPath(L"launcher-stamp.exe"), arguments, options)
                       .waitAtMost(60000, run.exitCode);
    run.output = readFileBytes(options.outputPath);
    DeleteFileW(options.outputPath.c_str());
    return run;
}

// The names in a folder, sorted.
inline std::vector<std::wstring> entriesOf(const std::wstring& dir) {
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW found{};
    const HANDLE search = FindFirstFileW((dir + L"\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) {
        return names;
    }
    do {
        const std::wstring name = found.cFileName;
        if (name != L"." && name != L"..") {
            names.push_back(name);
        }
    } while (FindNextFileW(search, &found));
    FindClose(search);
    std::sort(names.begin(), names.end());
    return names;
}

// An .ico file of the images, each described as 16 * (index + 1) pixels square, 32 bits.
inline std::string iconFile(const std::vector<std::string>& images) {
    std::string file(6 + 16 * images.size(), '\0');
    const WORD header[] = {0, 1, static_cast<WORD>(images.size())};
    std::memcpy(&file[0], header, sizeof header);
    for (std::size_t i = 0; i < images.size(); ++i) {
        char* entry = &file[6 + 16 * i];
        entry[0] = entry[1] = static_cast<char>(16 * (i + 1));
        const WORD planesAndBits[] = {1, 32};
        const DWORD sizeAndOffset[] = {static_cast<DWORD>(images[i].size()), static_cast<DWORD>(file.size())};
        std::memcpy(entry + 4, planesAndBits, sizeof planesAndBits);
        std::memcpy(entry + 8, sizeAndOffset, sizeof sizeAndOffset);
        file += images[i];
    }
    return file;
}

inline std::string bitmapImage(char fill) {
    std::string image(40 + 64, fill);
    const DWORD headerSize = 40;
    std::memcpy(&image[0], &headerSize, sizeof headerSize);
    return image;
}

inline std::string pngImage() {
    return std::string("\x89PNG\r\n\x1A\n", 8) + "not decoded by the tool";
}

// The resources of an image file, read as the system reads them.
class ResourceReader {
public:
    explicit ResourceReader(const std::wstring& path)
        : module_(LoadLibraryExW(path.c_str(), nullptr,
                                 LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE)) {}
    bool loaded() const { return module_.get() != nullptr; }
    bool has(WORD id, LPCWSTR type) const {
        return FindResourceW(module_.get(), MAKEINTRESOURCEW(id), type) != nullptr;
    }
    std::string bytes(WORD id, LPCWSTR type) const {
        const HRSRC resource = FindResourceW(module_.get(), MAKEINTRESOURCEW(id), type);
        if (resource == nullptr) {
            return {};
        }
        const void* data = LockResource(LoadResource(module_.get(), resource));
        return std::string(static_cast<const char*>(data), SizeofResource(module_.get(), resource));
    }

private:
    WinAutoHandle<HMODULE> module_;
};

inline std::wstring versionString(const std::wstring& path, const std::wstring& key) {
    std::vector<std::uint8_t> block(GetFileVersionInfoSizeW(path.c_str(), nullptr));
    if (block.empty() ||
        !GetFileVersionInfoW(path.c_str(), 0, static_cast<DWORD>(block.size()), block.data())) {
        return L"<no version block>";
    }
    wchar_t* value = nullptr;
    UINT length = 0;
    const std::wstring query = L"\\StringFileInfo\\040904b0\\" + key;
    if (!VerQueryValueW(block.data(), query.c_str(), reinterpret_cast<void**>(&value), &length)) {
        return L"<missing>";
    }
    return std::wstring(value);
}

}  // namespace stamptest
