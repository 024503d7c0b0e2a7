#include "FileHandles.h"

#include <exception>

#include "Dll.h"
#include "ExceptionReporting.h"
#include "FileUtils.h"
#include "Log.h"
#include "tstrings.h"

namespace FileUtils {

namespace {

using StatusToErrorFunction = ULONG(NTAPI*)(NTSTATUS);

// The two ntdll functions, bound on first use and kept for the life of the process.
struct NtFunctions {
    DllFunction<NtCreateFileFunction> createFile;
    DllFunction<StatusToErrorFunction> statusToError;
};

const NtFunctions& ntFunctions() {
    static const NtFunctions functions{
        DllFunction<NtCreateFileFunction>(Dll(tstrings::TextBuilder() << "ntdll"),
                                          tstrings::TextBuilder() << "NtCreateFile", true),
        DllFunction<StatusToErrorFunction>(Dll(tstrings::TextBuilder() << "ntdll"),
                                           tstrings::TextBuilder() << "RtlNtStatusToDosError", true)};
    return functions;
}

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

}  // namespace

bool listFolder(HANDLE folder, std::vector<FolderEntry>& entries) {
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
            if (name != L"." && name != L"..") {
                entries.push_back(FolderEntry{name, info->FileAttributes});
            }
            if (info->NextEntryOffset == 0) {
                break;
            }
            record += info->NextEntryOffset;
        }
    }
}

namespace {

// A read-only file can't be marked for deletion: its attribute goes first, as deleteFile does it.
bool deleteClearingReadOnly(HANDLE handle, DWORD attributes, const std::wstring& path) {
    if (deleteByHandle(handle)) {
        return true;
    }
    if (GetLastError() != ERROR_ACCESS_DENIED || (attributes & FILE_ATTRIBUTE_READONLY) == 0) {
        return false;
    }
    FILE_BASIC_INFO basic{};
    const DWORD kept = attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY);
    basic.FileAttributes = kept != 0 ? kept : FILE_ATTRIBUTE_NORMAL;
    if (!SetFileInformationByHandle(handle, FileBasicInfo, &basic, sizeof(basic))) {
        return false;
    }
    KRO_LOG(TRACE, "Discarded R/O attribute from [" << path << "] file");
    return deleteByHandle(handle);
}

bool removeEntry(HANDLE folder, const FolderEntry& entry, const std::wstring& path,
                 std::vector<std::wstring>& left) {
    const bool listedAsFolder = (entry.attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
                                (entry.attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0;
    const ACCESS_MASK listing = listedAsFolder ? FILE_LIST_DIRECTORY : 0;
    const OpenRequest request{DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES | SYNCHRONIZE | listing,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, FILE_OPEN,
                              FILE_OPEN_REPARSE_POINT};
    DWORD error = ERROR_SUCCESS;
    WinAutoHandle<HANDLE> handle = openInFolder(folder, entry.name, request, error);
    if (!handle.owned()) {
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
    }
    // Opened as a link, a link's final path is its own. Any other path means the system followed it.
    if (!tstrings::equals(finalPathOf(handle.get()), path, tstrings::IGNORE_CASE)) {
        return false;
    }
    const DWORD attributes = attributesOf(handle.get());
    const bool folderItself =
        attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    if (folderItself && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
        const std::vector<std::wstring> inside = removeFolderContents(handle.get(), path);
        if (!inside.empty()) {
            left.insert(left.end(), inside.begin(), inside.end());
            return true;  // what is left inside is named already
        }
    }
    if (!deleteClearingReadOnly(handle.get(), attributes, path)) {
        return false;
    }
    handle.reset();
    KRO_LOG(TRACE, "Deleted [" << path << "] " << (folderItself ? "directory" : "file"));
    return true;
}

}  // namespace

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

bool operator==(const FileIdentity& a, const FileIdentity& b) {
    return a.volume == b.volume && a.index == b.index;
}

bool identityOf(HANDLE handle, FileIdentity& identity) {
    BY_HANDLE_FILE_INFORMATION information{};
    if (!GetFileInformationByHandle(handle, &information)) {
        return false;
    }
    identity.volume = information.dwVolumeSerialNumber;
    identity.index = (static_cast<ULONGLONG>(information.nFileIndexHigh) << 32) | information.nFileIndexLow;
    return true;
}

DWORD attributesOf(HANDLE handle) {
    FILE_ATTRIBUTE_TAG_INFO tag{};
    return GetFileInformationByHandleEx(handle, FileAttributeTagInfo, &tag, sizeof(tag))
               ? tag.FileAttributes
               : INVALID_FILE_ATTRIBUTES;
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
    error = ERROR_SUCCESS;
    return WinAutoHandle<HANDLE>(handle);
}

HeldFolder HeldFolder::open(const std::wstring& path, FinalPathFunction getFinalPath) {
    HeldFolder folder;
    const std::wstring opened = !path.empty() && path.back() == L':' ? path + L'\\' : path;
    folder.handle_ = WinAutoHandle<HANDLE>(CreateFileW(
        opened.c_str(), FILE_LIST_DIRECTORY | FILE_TRAVERSE | FILE_READ_ATTRIBUTES | SYNCHRONIZE,
        FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (folder.handle_.get() == INVALID_HANDLE_VALUE) {
        folder.error_ = GetLastError();
        folder.handle_.release();
        return folder;
    }
    folder.path_ = finalPathOf(folder.handle_.get(), getFinalPath);
    return folder;
}

bool deleteByHandle(HANDLE handle) {
    FILE_DISPOSITION_INFO disposition{};
    disposition.DeleteFile = TRUE;
    return SetFileInformationByHandle(handle, FileDispositionInfo, &disposition, sizeof(disposition)) !=
           FALSE;
}

std::vector<std::wstring> removeFolderContents(HANDLE folder, const std::wstring& folderPath) {
    std::vector<std::wstring> left;
    try {
        std::vector<FolderEntry> entries;
        if (!listFolder(folder, entries)) {
            left.push_back(folderPath);
            return left;
        }
        for (const FolderEntry& entry : entries) {
            const std::wstring path = joinPath(folderPath, entry.name);
            if (!removeEntry(folder, entry, path, left)) {
                left.push_back(path);
            }
        }
    } catch (const std::exception& e) {
        reportException(KRO_CODE_SITE, e);
        left.push_back(folderPath);
    } catch (...) {
        reportUnknownException(KRO_CODE_SITE);
        left.push_back(folderPath);
    }
    return left;
}

}  // namespace FileUtils
