#include "WorkPlace.h"

#include <exception>

#include "FileUtils.h"
#include "SysInfo.h"
#include "WinErrorHandling.h"
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

// Folders that must stay open until the process ends (the log writes into one until the very end).
FileUtils::HeldFolder& keep(FileUtils::HeldFolder folder) {
    static std::vector<FileUtils::HeldFolder*>* const kept = new std::vector<FileUtils::HeldFolder*>();
    kept->push_back(new FileUtils::HeldFolder(std::move(folder)));
    return *kept->back();
}

WorkPlace choose() {
    const FileUtils::HeldFolder& temp = heldTempDir();
    const std::wstring tempText = getTempDir();
    std::vector<seams::PlaceCandidate> candidates{{tempText, &temp, unusableBecause(factsOf(temp))}};
    if (!candidates[0].unusable.empty()) {
        try {
            for (const std::wstring& place :
                 seams::machinePlaces(tempText, windowsDirectory(), systemWideTemp())) {
                const FileUtils::HeldFolder& folder = keep(FileUtils::HeldFolder::open(place));
                candidates.push_back({place, &folder, unusableBecause(factsOf(folder))});
            }
        } catch (const std::exception&) {
            // No machine-wide place, then: the choice below says that TEMP can't be used.
        }
    }
    return seams::choosePlace(candidates);
}

}  // namespace

VolumeFacts factsOf(const FileUtils::HeldFolder& folder) {
    VolumeFacts facts;
    facts.held = folder.isHeld();
    facts.error = folder.error();
    if (facts.held) {
        facts.remote = FileUtils::isOnRemoteDevice(folder.handle(), folder.path());
        facts.accessLists = FileUtils::keepsAccessLists(folder.handle());
        facts.kernelNamed = !folder.ntPath().empty() && !folder.path().empty();
    }
    return facts;
}

std::wstring unusableBecause(const VolumeFacts& facts) {
    if (!facts.held) {
        return L"can't be opened (" + formatSystemError(facts.error, nullptr) + L")";
    }
    if (facts.remote) {
        return L"is on a network drive";
    }
    if (!facts.kernelNamed) {
        return L"has no kernel name to check the started installer against";
    }
    if (!facts.accessLists) {
        return L"keeps no access lists";
    }
    return {};
}

const WorkPlace& workPlace() {
    static const WorkPlace* const place = new WorkPlace(choose());
    return *place;
}

namespace seams {

WorkPlace choosePlace(const std::vector<PlaceCandidate>& candidates) {
    WorkPlace place;
    std::wstring reasons;
    for (const PlaceCandidate& candidate : candidates) {
        if (place.logFolder == nullptr && candidate.folder->isHeld()) {
            place.logFolder = candidate.folder;
        }
        if (candidate.unusable.empty()) {
            place.folder = candidate.folder;
            break;
        }
        reasons += (reasons.empty() ? L"TEMP [" : L"; [") + candidate.text + L"] " + candidate.unusable;
    }
    if (candidates.front().folder->isHeld()) {
        place.logFolder = candidates.front().folder;
    } else if (place.folder != nullptr) {
        place.logFolder = place.folder;
    }
    if (place.logFolder == nullptr) {
        place.logFolder = candidates.front().folder;
    }
    if (place.folder == nullptr) {
        place.failure = L"No folder can hold the working directory: " + reasons + L"; exiting.";
    } else if (place.folder != candidates.front().folder) {
        place.warning = L"TEMP [" + candidates.front().text + L"] " + candidates.front().unusable +
                        L"; the working directory goes to [" + place.folder->path() + L"] instead";
    }
    return place;
}

std::vector<std::wstring> machinePlaces(const std::wstring& temp, const std::wstring& windowsDirectory,
                                        const std::wstring& systemTemp) {
    std::vector<std::wstring> places;
    const std::wstring candidates[] = {
        windowsDirectory.empty() ? std::wstring() : windowsDirectory + L"\\SystemTemp", systemTemp,
        windowsDirectory.empty() ? std::wstring() : windowsDirectory + L"\\Temp"};
    for (const std::wstring& candidate : candidates) {
        bool named = candidate.empty() || tstrings::equals(candidate, temp, tstrings::IGNORE_CASE);
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
