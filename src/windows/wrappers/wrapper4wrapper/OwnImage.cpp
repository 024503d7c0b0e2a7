#include "OwnImage.h"

#include <exception>
#include <memory>
#include <vector>

#include "Dll.h"
#include "FileHandles.h"
#include "SysInfo.h"
#include "WinErrorHandling.h"

namespace launcher {

namespace {

// The kernel's name of the file the running image is mapped from, renames since the start included; empty
// when the system gives none. psapi's function is bound at run time: kernel32 exports it only from Windows 7
// on, under another name, and an older loader refuses an image that imports it.
std::wstring mappedImageName() {
    using MappedFileNameFunction = DWORD(WINAPI*)(HANDLE, LPVOID, LPWSTR, DWORD);
    const DllFunction<MappedFileNameFunction> mappedFileName(
        Dll(tstrings::TextBuilder() << "psapi"), tstrings::TextBuilder() << "GetMappedFileNameW", false);
    if (!mappedFileName.isAvailable()) {
        return {};
    }
    std::vector<wchar_t> buffer(32768, L'\0');
    const DWORD length = static_cast<MappedFileNameFunction>(mappedFileName)(
        GetCurrentProcess(), SysInfo::getCurrentModuleHandle(), buffer.data(),
        static_cast<DWORD>(buffer.size()));
    return length == 0 || length >= buffer.size() ? std::wstring() : std::wstring(buffer.data(), length);
}

// True when the file is the one mapped as this process's image: NtAreMappedFilesTheSame compares a view of
// the file with the image itself, however either was named.
bool isRunningImage(HANDLE file) {
    using SameFilesFunction = NTSTATUS(NTAPI*)(PVOID, PVOID);
    const DllFunction<SameFilesFunction> sameFiles(
        Dll(tstrings::TextBuilder() << "ntdll"), tstrings::TextBuilder() << "NtAreMappedFilesTheSame", true);
    const WinAutoHandle<HANDLE> mapping(CreateFileMappingW(file, nullptr, PAGE_READONLY, 0, 0, nullptr));
    if (mapping.get() == nullptr) {
        return false;
    }
    const std::unique_ptr<void, decltype(&UnmapViewOfFile)> view(
        MapViewOfFile(mapping.get(), FILE_MAP_READ, 0, 0, 1), &UnmapViewOfFile);
    return view != nullptr &&
           static_cast<SameFilesFunction>(sameFiles)(SysInfo::getCurrentModuleHandle(), view.get()) == 0;
}

}  // namespace

OwnImage OwnImage::hold() {
    OwnImage image;
    try {
        image.startedAs = SysInfo::getProcessModulePath();
        const std::wstring mapped = mappedImageName();
        if (!mapped.empty()) {
            // Whoever may write the share may also hold a lock on the file: the launcher never waits for it.
            const FileUtils::OpenRequest request{GENERIC_READ, FILE_SHARE_READ, FILE_OPEN,
                                                 FILE_NON_DIRECTORY_FILE | FILE_COMPLETE_IF_OPLOCKED};
            image.file = FileUtils::openInFolder(nullptr, mapped, request, image.openError);
            if (!image.file.owned()) {
                return image;
            }
        } else {
            // The path the process was started from, where the system names no mapping.
            image.file = WinAutoHandle<HANDLE>(CreateFileW(
                image.startedAs.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
            if (image.file.get() == INVALID_HANDLE_VALUE) {
                image.openError = GetLastError();
                image.file.release();
                return image;
            }
        }
        image.same = isRunningImage(image.file.get());
        const std::wstring path = FileUtils::finalPathOf(image.file.get());
        image.path_ = path.empty() ? FileUtils::withoutLongPathPrefix(image.startedAs) : path;
        image.remote = FileUtils::isOnRemoteDevice(image.file.get(), path);
    } catch (const std::exception&) {
        image.same = false;  // reported by verify(): the file held can't be shown to be the image
    }
    return image;
}

void OwnImage::verify() const {
    if (!file.owned()) {
        KRO_THROW_SYSERROR_CODE(CreateFileW, openError, "CreateFile(" << startedAs << ") failed");
    }
    if (!same) {
        KRO_THROW("The launcher's file ["
                  << path_
                  << "] is not the program that runs: it was replaced after the start, "
                     "exiting");
    }
}

}  // namespace launcher
