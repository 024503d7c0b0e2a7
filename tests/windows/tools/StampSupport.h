// What the Windows-only launcher-stamp tests share: the tool run as a real process, the inputs of the shared
// cases (StampCases.h), and the system's own reading of what it wrote.
#pragma once

#include <windows.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "StampCases.h"
#include "TestSupport.h"
#include "WinAutoHandle.h"
#include "tstrings.h"

namespace stamptest {

using testsupport::binPath;
using testsupport::readFileBytes;
using testsupport::ScratchDir;
using testsupport::writeFileBytes;

using stampcases::bitmapImage;
using stampcases::entriesOf;
using stampcases::iconFile;
using stampcases::multipliedIcon;
using stampcases::nestedVersionBlock;
using stampcases::pngImage;

// Runs the tool to its end in dir; one still running after a minute has hung, and is ended.
inline stampcases::ToolRun runStamp(const ScratchDir&, const std::vector<std::wstring>& arguments) {
    std::vector<std::string> utf8;
    for (const std::wstring& each : arguments) {
        utf8.push_back(tstrings::toMultiByte(each));
    }
    return stampcases::runTool(utf8);
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
