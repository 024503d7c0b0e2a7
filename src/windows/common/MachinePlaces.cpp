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

// The machine-wide folders' paths on this system, read once.
const std::vector<std::wstring>& placeTexts() {
    static const auto* const texts =
        new std::vector<std::wstring>(seams::machinePlaceTexts(windowsDirectory(), systemWideTemp()));
    return *texts;
}

}  // namespace

const std::vector<MachinePlace>& machinePlaces() {
    // Never destroyed: the log may write into one of them until the very end.
    static const std::vector<MachinePlace>* const places = [] {
        auto* opened = new std::vector<MachinePlace>();
        for (const std::wstring& text : placeTexts()) {
            opened->push_back(
                {text, new FileUtils::HeldFolder(FileUtils::HeldFolder::openForAttributes(text))});
        }
        return opened;
    }();
    return *places;
}

bool isMachineWide(const FileUtils::HeldFolder& folder) {
    if (!folder.isHeld() || folder.path().empty() || !folder.names().ntPath.empty()) {
        return false;  // without a final path there is nothing the system vouches for
    }
    for (const std::wstring& text : placeTexts()) {
        if (tstrings::equals(folder.path(), text, tstrings::IGNORE_CASE)) {
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
