#include "WorkPlace.h"

#include "FileUtils.h"
#include "MachinePlaces.h"
#include "SysInfo.h"
#include "WinErrorHandling.h"

namespace SysInfo {

namespace {

bool canHoldLog(const FileUtils::HeldFolder& folder) {
    return folder.isHeld() && FileUtils::kindOf(folder.handle()) == FileUtils::ObjectKind::Folder;
}

bool isSameFolder(const FileUtils::HeldFolder& a, const FileUtils::HeldFolder& b) {
    FileUtils::FileIdentity first, second;
    return a.isHeld() && b.isHeld() && FileUtils::identityOf(a.handle(), first) &&
           FileUtils::identityOf(b.handle(), second) && first == second;
}

WorkPlace choose() {
    const FileUtils::HeldFolder& temp = heldTempDir();
    std::vector<PlaceCandidate> candidates{{getTempDir(), &temp, unusableBecause(factsOf(temp))}};
    if (!candidates[0].unusable.empty()) {
        const std::vector<PlaceCandidate> others = machineCandidates();
        candidates.insert(candidates.end(), others.begin(), others.end());
    }
    return seams::choosePlace(candidates);
}

}  // namespace

VolumeFacts factsOf(const FileUtils::HeldFolder& folder) {
    VolumeFacts facts;
    facts.held = folder.isHeld();
    facts.error = folder.error();
    if (facts.held) {
        facts.kind = FileUtils::kindOf(folder.handle());
    }
    if (facts.held && facts.kind == FileUtils::ObjectKind::Folder) {
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
    if (facts.kind == FileUtils::ObjectKind::File) {
        return L"is a file, not a folder";
    }
    if (facts.kind == FileUtils::ObjectKind::Device) {
        return L"is a device, not a folder";
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

std::vector<PlaceCandidate> machineCandidates() {
    std::vector<PlaceCandidate> candidates;
    for (const MachinePlace& place : machinePlaces()) {
        if (!isSameFolder(heldTempDir(), *place.folder)) {
            candidates.push_back({place.text, place.folder, unusableBecause(factsOf(*place.folder))});
        }
    }
    return candidates;
}

const WorkPlace& workPlace() {
    static const WorkPlace* const place = new WorkPlace(choose());
    return *place;
}

namespace seams {

WorkPlace choosePlace(const std::vector<PlaceCandidate>& candidates) {
    static const FileUtils::HeldFolder nowhere;
    WorkPlace place;
    place.candidates = candidates;
    const FileUtils::HeldFolder* firstFolder = nullptr;
    for (const PlaceCandidate& candidate : candidates) {
        if (place.logFolder == nullptr && candidate.unusable.empty()) {
            place.logFolder = candidate.folder;
        }
        if (firstFolder == nullptr && canHoldLog(*candidate.folder)) {
            firstFolder = candidate.folder;
        }
    }
    if (!candidates.empty() && canHoldLog(*candidates.front().folder)) {
        place.logFolder = candidates.front().folder;
    }
    if (place.logFolder == nullptr) {
        place.logFolder = firstFolder != nullptr ? firstFolder : &nowhere;
    }
    return place;
}

}  // namespace seams

}  // namespace SysInfo
