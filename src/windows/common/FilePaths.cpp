#include "FileUtils.h"

#include <windows.h>

namespace FileUtils {

namespace {

bool isSeparator(wchar_t c) {
    return c == L'\\' || c == L'/';
}

}  // namespace

std::wstring getFileName(const std::wstring& path) {
    const std::size_t last = path.find_last_of(L"\\/");
    if (last == std::wstring::npos) {
        return path;
    }
    return path.substr(last + 1);
}

std::wstring getDirectory(const std::wstring& path) {
    const std::size_t last = path.find_last_of(L"\\/");
    if (last == std::wstring::npos) {
        return {};
    }
    const std::size_t end = path.find_last_not_of(L"\\/", last);
    if (end == std::wstring::npos) {
        return {};
    }
    return path.substr(0, end + 1);
}

std::wstring removeTrailingSeparators(const std::wstring& path) {
    const std::size_t end = path.find_last_not_of(L"\\/");
    if (end == std::wstring::npos) {
        return {};
    }
    return path.substr(0, end + 1);
}

std::wstring joinPath(const std::wstring& folder, const std::wstring& name) {
    if (folder.empty()) {
        return name;
    }
    if (name.empty()) {
        return folder;
    }
    const std::size_t skip = isSeparator(name[0]) ? 1 : 0;
    return removeTrailingSeparators(folder) + L'\\' + name.substr(skip);
}

bool pathExists(const std::wstring& path) {
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool isDirectory(const std::wstring& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

PathLocation getPathLocation(const std::wstring& path) {
    if (!path.empty() && path[0] == L'\\' && path.size() != 1) {
        return Network;
    }
    if (path.size() < 2) {
        return Invalid;
    }
    const std::wstring root = path.substr(0, 2) + L'\\';
    switch (GetDriveTypeW(root.c_str())) {
        case DRIVE_REMOVABLE:
        case DRIVE_FIXED:
        case DRIVE_RAMDISK:
            return Local;
        case DRIVE_REMOTE:
            return Network;
        default:
            return Other;
    }
}

std::wstring invalidFileNameChars() {
    std::wstring chars;
    for (wchar_t c = 0; c < 32; ++c) {
        chars += c;
    }
    return chars + L"<>:\"|?*/\\";
}

}  // namespace FileUtils
