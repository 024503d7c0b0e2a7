#include "OwnImage.h"

#include <exception>
#include <memory>
#include <optional>
#include <vector>

#include "Dll.h"
#include "FileUtils.h"
#include "Log.h"
#include "SysInfo.h"
#include "WinErrorHandling.h"

namespace launcher {

namespace {

// The devices a share's files are named under: the multiple UNC provider, which every redirector registers
// with, and the SMB redirector itself.
const wchar_t* const redirectorDevices[] = {L"\\Device\\Mup\\", L"\\Device\\LanmanRedirector\\"};

// The redirector device that name starts with (case aside); null for a name of any other device.
const wchar_t* redirectorOf(const std::wstring& name) {
    for (const wchar_t* device : redirectorDevices) {
        const std::wstring prefix(device);
        if (tstrings::equals(name.substr(0, prefix.size()), prefix, tstrings::IGNORE_CASE)) {
            return device;
        }
    }
    return nullptr;
}

// A share's name without the parts a redirector puts before "server\share": a mapped drive's
// "\Device\LanmanRedirector\;Z:<logon session>\server\share\a" (also seen under
// "\Device\Mup\;LanmanRedirector") gives "\Device\Mup\server\share\a", which names the same file in every
// logon session. Empty when the name has no such part.
std::wstring withoutLogonSession(const std::wstring& name) {
    const wchar_t* device = redirectorOf(name);
    if (device == nullptr) {
        return {};
    }
    std::size_t at = std::wstring(device).size() - 1;  // the backslash behind the device's name
    while (at + 1 < name.size() && name[at + 1] == L';') {
        at = name.find(L'\\', at + 1);
        if (at == std::wstring::npos) {
            return {};
        }
    }
    return at + 1 == std::wstring(device).size() ? std::wstring() : L"\\Device\\Mup" + name.substr(at);
}

// The kernel's name of a path in any of the forms GetModuleFileNameW gives ("C:\a", "\\server\share\a",
// "\\?\C:\a", "\\?\UNC\server\share\a").
std::wstring kernelNameOf(const std::wstring& path) {
    if (path.rfind(L"\\\\?\\", 0) == 0 || path.rfind(L"\\\\.\\", 0) == 0) {
        return L"\\??\\" + path.substr(4);
    }
    if (path.rfind(L"\\\\", 0) == 0) {
        return L"\\??\\UNC\\" + path.substr(2);
    }
    return L"\\??\\" + path;
}

// The kernel's name of the file the running image is mapped from, renames since the start included; empty,
// with why in reason, when the system gives none.
std::wstring mappedImageName(OwnImage::MappedFileNameFunction mappedFileName, std::wstring& reason) {
    if (mappedFileName == nullptr) {
        reason = L"the system names no file for the running image (GetMappedFileNameW is not available)";
        return {};
    }
    std::vector<wchar_t> buffer(32768, L'\0');
    const DWORD length = mappedFileName(GetCurrentProcess(), SysInfo::getCurrentModuleHandle(), buffer.data(),
                                        static_cast<DWORD>(buffer.size()));
    if (length == 0 || length >= buffer.size()) {
        reason = L"the system names no file for the running image (" +
                 formatSystemError(GetLastError(), nullptr) + L")";
        return {};
    }
    return std::wstring(buffer.data(), length);
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

const wchar_t* const notHeld = L"The launcher's file can't be held as the program that runs: ";

}  // namespace

OwnImage OwnImage::hold() {
    try {
        const std::wstring startedAs = SysInfo::getProcessModulePath();
        std::optional<DllFunction<MappedFileNameFunction>> mappedFileName;
        try {
            mappedFileName.emplace(Dll(tstrings::TextBuilder() << "psapi"),
                                   tstrings::TextBuilder() << "GetMappedFileNameW", false);
        } catch (const std::exception&) {
            // No psapi: the mapping's name is not asked for.
        }
        return hold(mappedFileName && mappedFileName->isAvailable()
                        ? static_cast<MappedFileNameFunction>(*mappedFileName)
                        : nullptr,
                    startedAs, FileUtils::boundNtCreateFile());
    } catch (const std::exception& e) {
        OwnImage image;
        image.reasons = L"it can't be looked for (" + tstrings::fromMultiByte(e.what()) + L")";
        return image;
    }
}

OwnImage OwnImage::hold(MappedFileNameFunction mappedFileName, const std::wstring& startedAs,
                        FileUtils::NtCreateFileFunction ntCreateFile) {
    OwnImage image;
    image.path_ = FileUtils::withoutLongPathPrefix(startedAs);
    const std::wstring mapped = mappedImageName(mappedFileName, image.reasons);
    const std::wstring shareName = withoutLogonSession(mapped);
    image.remote =
        redirectorOf(mapped) != nullptr || FileUtils::getPathLocation(image.path_) == FileUtils::Network;
    for (const std::wstring& name : {mapped, shareName}) {
        if (!name.empty() && image.tryHold(name, name, ntCreateFile)) {
            return image;
        }
    }
    image.tryHold(kernelNameOf(startedAs), image.path_, ntCreateFile);
    return image;
}

bool OwnImage::tryHold(const std::wstring& name, const std::wstring& shownAs,
                       FileUtils::NtCreateFileFunction ntCreateFile) {
    std::wstring reason;
    try {
        // FILE_COMPLETE_IF_OPLOCKED: where another holds an opportunistic lock on the file, the open fails at
        // once instead of waiting for its holder to let go. Only local file systems honour it; an SMB server
        // ignores it and waits for the holder for as long as its own break timer allows.
        const FileUtils::OpenRequest request{GENERIC_READ, FILE_SHARE_READ, FILE_OPEN,
                                             FILE_NON_DIRECTORY_FILE | FILE_COMPLETE_IF_OPLOCKED};
        DWORD error = ERROR_SUCCESS;
        WinAutoHandle<HANDLE> opened = FileUtils::openInFolder(nullptr, name, request, error, ntCreateFile);
        if (!opened.owned()) {
            reason = L"can't be opened (" + formatSystemError(error, nullptr) + L")";
        } else if (!isRunningImage(opened.get())) {
            reason = L"is not the program that runs: it was replaced after the start";
        } else {
            const std::wstring finalPath = FileUtils::finalPathOf(opened.get());
            path_ = finalPath.empty() ? path_ : finalPath;
            remote = FileUtils::isOnRemoteDevice(opened.get(), finalPath);
            file = std::move(opened);
            return true;
        }
    } catch (const std::exception& e) {
        reason = L"can't be checked (" + tstrings::fromMultiByte(e.what()) + L")";
    }
    reasons += (reasons.empty() ? L"[" : L"; [") + shownAs + L"] " + reason;
    return false;
}

void OwnImage::verify() const {
    if (isHeld()) {
        return;
    }
    if (remote) {
        KRO_THROW(notHeld << reasons << ", exiting");
    }
    KRO_LOG(WARNING, notHeld << reasons << "; the run goes on from the program in memory");
}

}  // namespace launcher
