#include "FileHandles.h"

#include <algorithm>
#include <cwchar>
#include <iterator>

#include "Dll.h"
#include "FileUtils.h"
#include "tstrings.h"

namespace FileUtils {

namespace {

using StatusToErrorFunction = ULONG(NTAPI*)(NTSTATUS);
using QueryVolumeFunction = NTSTATUS(NTAPI*)(HANDLE, PIO_STATUS_BLOCK, PVOID, ULONG, ULONG);

// The ntdll functions, bound on first use and kept for the life of the process.
struct NtFunctions {
    DllFunction<NtCreateFileFunction> createFile;
    DllFunction<StatusToErrorFunction> statusToError;
    DllFunction<QueryVolumeFunction> queryVolume;
};

const NtFunctions& ntFunctions() {
    static const NtFunctions functions{
        DllFunction<NtCreateFileFunction>(Dll(tstrings::TextBuilder() << "ntdll"),
                                          tstrings::TextBuilder() << "NtCreateFile", true),
        DllFunction<StatusToErrorFunction>(Dll(tstrings::TextBuilder() << "ntdll"),
                                           tstrings::TextBuilder() << "RtlNtStatusToDosError", true),
        DllFunction<QueryVolumeFunction>(Dll(tstrings::TextBuilder() << "ntdll"),
                                         tstrings::TextBuilder() << "NtQueryVolumeInformationFile", true)};
    return functions;
}

seams::InformationFunction informationQueryInUse = nullptr;

// What a held folder's handle may do: list it, traverse it, read its attributes.
constexpr ACCESS_MASK heldAccess = FILE_LIST_DIRECTORY | FILE_TRAVERSE | FILE_READ_ATTRIBUTES | SYNCHRONIZE;

std::wstring finalPathIn(HANDLE handle, FinalPathFunction getFinalPath, DWORD volumeForm) {
    std::wstring buffer(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = getFinalPath(handle, &buffer[0], static_cast<DWORD>(buffer.size()),
                                          FILE_NAME_NORMALIZED | volumeForm);
        if (length == 0) {
            return {};
        }
        if (length < buffer.size()) {
            buffer.resize(length);
            return buffer;
        }
        buffer.resize(length + 1);
    }
}

// FileFsDeviceInformation of NtQueryVolumeInformationFile.
struct DeviceInformation {
    ULONG deviceType;
    ULONG characteristics;
};
constexpr ULONG fileFsDeviceInformation = 4;
constexpr ULONG remoteDevice = 0x10;             // FILE_REMOTE_DEVICE
constexpr ULONG networkFileSystemDevice = 0x14;  // FILE_DEVICE_NETWORK_FILE_SYSTEM

// FileIdInfo (Windows 8 and later, so not named by headers that target Windows 7) and its FILE_ID_INFO.
const auto fileIdInfo = static_cast<FILE_INFO_BY_HANDLE_CLASS>(18);
struct FileIdInformation {
    ULONGLONG volumeSerialNumber;
    FILE_ID_128 fileId;
};

}  // namespace

namespace seams {

void setInformationQuery(InformationFunction query) {
    informationQueryInUse = query;
}

InformationFunction informationQuery() {
    return informationQueryInUse != nullptr ? informationQueryInUse : &GetFileInformationByHandleEx;
}

}  // namespace seams

bool listFolder(HANDLE folder, const std::function<bool(const FolderEntry&)>& onEntry) {
    std::vector<LONGLONG> buffer(8192);  // 64 KiB, aligned as the records need
    auto kind = FileIdBothDirectoryRestartInfo;
    for (;;) {
        if (!GetFileInformationByHandleEx(folder, kind, buffer.data(),
                                          static_cast<DWORD>(buffer.size() * sizeof(LONGLONG)))) {
            return GetLastError() == ERROR_NO_MORE_FILES;
        }
        kind = FileIdBothDirectoryInfo;
        const char* record = reinterpret_cast<const char*>(buffer.data());
        for (;;) {
            const auto* info = reinterpret_cast<const FILE_ID_BOTH_DIR_INFO*>(record);
            const std::wstring name(info->FileName, info->FileNameLength / sizeof(wchar_t));
            if (name != L"." && name != L".." && !onEntry(FolderEntry{name, info->FileAttributes})) {
                return true;
            }
            if (info->NextEntryOffset == 0) {
                break;
            }
            record += info->NextEntryOffset;
        }
    }
}

bool listFolder(HANDLE folder, std::vector<FolderEntry>& entries) {
    return listFolder(folder, [&](const FolderEntry& entry) {
        entries.push_back(entry);
        return true;
    });
}

std::wstring withoutLongPathPrefix(const std::wstring& path) {
    if (path.rfind(L"\\\\?\\UNC\\", 0) == 0) {
        return L"\\\\" + path.substr(8);
    }
    if (path.rfind(L"\\\\?\\", 0) == 0 && path.size() >= 6 && path[5] == L':') {
        return path.substr(4);
    }
    return path;
}

std::wstring finalPathOf(HANDLE handle, FinalPathFunction getFinalPath) {
    const std::wstring dos = finalPathIn(handle, getFinalPath, VOLUME_NAME_DOS);
    return !dos.empty() ? withoutLongPathPrefix(dos) : finalPathIn(handle, getFinalPath, VOLUME_NAME_GUID);
}

std::wstring ntPathOf(HANDLE handle, FinalPathFunction getFinalPath) {
    return finalPathIn(handle, getFinalPath, VOLUME_NAME_NT);
}

bool operator==(const FileIdentity& a, const FileIdentity& b) {
    return a.volume == b.volume &&
           std::equal(std::begin(a.id.Identifier), std::end(a.id.Identifier), std::begin(b.id.Identifier));
}

bool identityOf(HANDLE handle, FileIdentity& identity) {
    FileIdInformation info{};
    if (seams::informationQuery()(handle, fileIdInfo, &info, sizeof(info))) {
        identity.volume = info.volumeSerialNumber;
        identity.id = info.fileId;
        return true;
    }
    // FAT has no 128-bit ids; its 64-bit index is unique on it.
    BY_HANDLE_FILE_INFORMATION information{};
    if (!GetFileInformationByHandle(handle, &information)) {
        return false;
    }
    identity = FileIdentity{};
    identity.volume = information.dwVolumeSerialNumber;
    const ULONGLONG index =
        (static_cast<ULONGLONG>(information.nFileIndexHigh) << 32) | information.nFileIndexLow;
    for (std::size_t i = 0; i < sizeof(index); ++i) {
        identity.id.Identifier[i] = static_cast<BYTE>(index >> (8 * i));
    }
    return true;
}

DWORD attributesOf(HANDLE handle) {
    FILE_BASIC_INFO basic{};
    return seams::informationQuery()(handle, FileBasicInfo, &basic, sizeof(basic)) ? basic.FileAttributes
                                                                                   : INVALID_FILE_ATTRIBUTES;
}

ObjectKind kindOf(HANDLE handle) {
    if (GetFileType(handle) != FILE_TYPE_DISK) {
        return ObjectKind::Device;
    }
    const DWORD attributes = attributesOf(handle);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0
               ? ObjectKind::Folder
               : ObjectKind::File;
}

FolderNames FolderNames::inside(const std::wstring& name) const {
    return {joinPath(path, name), ntPath.empty() ? std::wstring() : joinPath(ntPath, name)};
}

FolderNames namesOf(HANDLE folder, const std::wstring& path) {
    if (!path.empty() && tstrings::equals(finalPathOf(folder), path, tstrings::IGNORE_CASE)) {
        return {path, std::wstring()};
    }
    return {path, ntPathOf(folder)};
}

bool namesEntry(HANDLE handle, const FolderNames& folder, const std::wstring& name) {
    const FolderNames entry = folder.inside(name);
    if (folder.ntPath.empty()) {
        return !folder.path.empty() &&
               tstrings::equals(finalPathOf(handle), entry.path, tstrings::IGNORE_CASE);
    }
    return tstrings::equals(ntPathOf(handle), entry.ntPath, tstrings::IGNORE_CASE);
}

bool isOnRemoteDevice(HANDLE handle, const std::wstring& path) {
    IO_STATUS_BLOCK status{};
    DeviceInformation device{};
    if (static_cast<QueryVolumeFunction>(ntFunctions().queryVolume)(handle, &status, &device, sizeof(device),
                                                                    fileFsDeviceInformation) >= 0 &&
        ((device.characteristics & remoteDevice) != 0 || device.deviceType == networkFileSystemDevice)) {
        return true;
    }
    if (path.rfind(L"\\\\", 0) == 0 && path.rfind(L"\\\\?\\", 0) != 0) {
        return true;  // \\server\share
    }
    return path.size() >= 2 && path[1] == L':' &&
           GetDriveTypeW((path.substr(0, 2) + L'\\').c_str()) == DRIVE_REMOTE;
}

bool keepsAccessLists(HANDLE handle) {
    DWORD flags = 0;
    return GetVolumeInformationByHandleW(handle, nullptr, 0, nullptr, nullptr, &flags, nullptr, 0) &&
           (flags & FILE_PERSISTENT_ACLS) != 0;
}

NtCreateFileFunction boundNtCreateFile() {
    return ntFunctions().createFile;
}

WinAutoHandle<HANDLE> openInFolder(HANDLE folder, const std::wstring& name, const OpenRequest& request,
                                   DWORD& error, NtCreateFileFunction ntCreateFile) {
    UNICODE_STRING text{};
    text.Buffer = const_cast<PWSTR>(name.c_str());
    text.Length = static_cast<USHORT>(name.size() * sizeof(wchar_t));
    text.MaximumLength = text.Length;
    OBJECT_ATTRIBUTES attributes{};
    InitializeObjectAttributes(&attributes, &text, OBJ_CASE_INSENSITIVE, folder, request.descriptor);
    IO_STATUS_BLOCK status{};
    HANDLE handle = nullptr;
    const NTSTATUS result = ntCreateFile(&handle, request.access, &attributes, &status, nullptr,
                                         FILE_ATTRIBUTE_NORMAL, request.share, request.disposition,
                                         request.options | FILE_SYNCHRONOUS_IO_NONALERT, nullptr, 0);
    if (result < 0) {
        // The system reports a name whose deletion is pending as a denied access; it is a name that is taken.
        constexpr NTSTATUS deletePending = static_cast<NTSTATUS>(0xC0000056);
        error = result == deletePending
                    ? ERROR_DELETE_PENDING
                    : static_cast<StatusToErrorFunction>(ntFunctions().statusToError)(result);
        return WinAutoHandle<HANDLE>();
    }
    WinAutoHandle<HANDLE> opened(handle);
    constexpr NTSTATUS oplockBreakInProgress = 0x108;  // a success code: the open went through meanwhile
    if (result == oplockBreakInProgress) {
        error = errorOplockBreakInProgress;
        return WinAutoHandle<HANDLE>();
    }
    error = ERROR_SUCCESS;
    return opened;
}

HeldFolder HeldFolder::open(const std::wstring& path, FinalPathFunction getFinalPath) {
    return openWith(path, heldAccess, getFinalPath);
}

HeldFolder HeldFolder::openForAttributes(const std::wstring& path, FinalPathFunction getFinalPath) {
    return openWith(path, FILE_READ_ATTRIBUTES | SYNCHRONIZE, getFinalPath);
}

HeldFolder HeldFolder::openWith(const std::wstring& path, ACCESS_MASK access,
                                FinalPathFunction getFinalPath) {
    HeldFolder folder;
    const std::wstring opened = !path.empty() && path.back() == L':' ? path + L'\\' : path;
    folder.handle_ =
        WinAutoHandle<HANDLE>(CreateFileW(opened.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                          OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (folder.handle_.get() == INVALID_HANDLE_VALUE) {
        folder.error_ = GetLastError();
        folder.handle_.release();
        return folder;
    }
    folder.canList_ = (access & FILE_LIST_DIRECTORY) != 0;
    folder.path_ = finalPathOf(folder.handle_.get(), getFinalPath);
    folder.ntPath_ = ntPathOf(folder.handle_.get(), getFinalPath);
    folder.pathIsFinal_ = !folder.path_.empty();
    if (folder.path_.empty() && !folder.ntPath_.empty()) {
        // A volume the mount manager doesn't know: paths go by the name it was opened by, and what matters is
        // checked by kernel names.
        folder.path_ = longPathOnDrive(FileUtils::removeTrailingSeparators(opened), folder.ntPath_);
        if (folder.path_.size() == 2 && folder.path_[1] == L':') {
            folder.path_ += L'\\';
        }
    }
    return folder;
}

HeldFolder HeldFolder::held() const {
    HeldFolder folder;
    const OpenRequest request{heldAccess, FILE_SHARE_READ | FILE_SHARE_WRITE, FILE_OPEN, 0};
    folder.handle_ = openInFolder(handle_.get(), std::wstring(), request, folder.error_);
    if (folder.handle_.owned()) {
        folder.path_ = path_;
        folder.ntPath_ = ntPath_;
        folder.pathIsFinal_ = pathIsFinal_;
        folder.canList_ = true;
    }
    return folder;
}

std::wstring longPathOnDrive(const std::wstring& opened, const std::wstring& ntPath,
                             DosDeviceFunction dosDevice) {
    if (opened.size() < 2 || opened[1] != L':') {
        return opened;
    }
    std::wstring device(MAX_PATH, L'\0');
    const DWORD length =
        dosDevice(opened.substr(0, 2).c_str(), &device[0], static_cast<DWORD>(device.size()));
    device.resize(length == 0 ? 0 : wcslen(device.c_str()));
    if (device.empty() || ntPath.size() < device.size() ||
        !tstrings::equals(ntPath.substr(0, device.size()), device, tstrings::IGNORE_CASE) ||
        (ntPath.size() > device.size() && ntPath[device.size()] != L'\\')) {
        return opened;
    }
    return opened.substr(0, 2) + (ntPath.size() > device.size() ? ntPath.substr(device.size()) : L"\\");
}

}  // namespace FileUtils
