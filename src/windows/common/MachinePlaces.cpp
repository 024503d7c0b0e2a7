#include "MachinePlaces.h"

#include <windows.h>

#include "FileUtils.h"
#include "tstrings.h"

namespace SysInfo {

namespace {

// TEMP as the system configures it for every session: HKLM's environment, expanded.
std::wstring systemWideTemp() {
    std::vector<wchar_t> buffer(32768, L'\0');
    DWORD size = static_cast<DWORD>(buffer.size() * sizeof(wchar_t));
    if (RegGetValueW(HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment",
                     L"TEMP", RRF_RT_REG_SZ, nullptr, buffer.data(), &size) != ERROR_SUCCESS) {
        return {};
    }
    return FileUtils::removeTrailingSeparators(buffer.data());
}

std::wstring windowsDirectory() {
    wchar_t buffer[MAX_PATH] = {};
    const UINT length = GetSystemWindowsDirectoryW(buffer, MAX_PATH);
    return length == 0 || length >= MAX_PATH ? std::wstring() : FileUtils::removeTrailingSeparators(buffer);
}

struct OpenedPlaces {
    std::vector<MachinePlace> places;
    std::vector<FileUtils::FileIdentity> identities;  // of those that could be opened
};

const OpenedPlaces& openedPlaces() {
    // Never destroyed: the log may write into one of them until the very end.
    static const OpenedPlaces* const opened = [] {
        auto* result = new OpenedPlaces();
        for (const std::wstring& text : seams::machinePlaceTexts(windowsDirectory(), systemWideTemp())) {
            const auto* folder = new FileUtils::HeldFolder(FileUtils::HeldFolder::openForAttributes(text));
            FileUtils::FileIdentity identity;
            if (folder->isHeld() && FileUtils::identityOf(folder->handle(), identity)) {
                result->identities.push_back(identity);
            }
            result->places.push_back({text, folder});
        }
        return result;
    }();
    return *opened;
}

}  // namespace

const std::vector<MachinePlace>& machinePlaces() {
    return openedPlaces().places;
}

bool isMachineWide(const FileUtils::HeldFolder& folder) {
    FileUtils::FileIdentity identity;
    if (!folder.isHeld() || !FileUtils::identityOf(folder.handle(), identity)) {
        return false;
    }
    for (const FileUtils::FileIdentity& machine : openedPlaces().identities) {
        if (machine == identity) {
            return true;
        }
    }
    return false;
}

FileUtils::HeldFolder openPlace(const std::wstring& path) {
    FileUtils::HeldFolder found = FileUtils::HeldFolder::openForAttributes(path);
    if (!found.isHeld() || isMachineWide(found) ||
        FileUtils::kindOf(found.handle()) != FileUtils::ObjectKind::Folder) {
        return found;
    }
    return found.held();
}

namespace seams {

std::vector<std::wstring> machinePlaceTexts(const std::wstring& windowsDirectory,
                                            const std::wstring& systemTemp) {
    std::vector<std::wstring> places;
    const std::wstring candidates[] = {
        windowsDirectory.empty() ? std::wstring() : windowsDirectory + L"\\SystemTemp", systemTemp,
        windowsDirectory.empty() ? std::wstring() : windowsDirectory + L"\\Temp"};
    for (const std::wstring& candidate : candidates) {
        bool named = candidate.empty();
        for (const std::wstring& place : places) {
            named = named || tstrings::equals(candidate, place, tstrings::IGNORE_CASE);
        }
        if (!named) {
            places.push_back(candidate);
        }
    }
    return places;
}

}  // namespace seams

}  // namespace SysInfo
