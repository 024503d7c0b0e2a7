#include "PlaceHandover.h"

#include <exception>

#include "ExceptionReporting.h"
#include "LeftoverSweep.h"
#include "Log.h"

namespace launcher {

namespace {

SecureDirectory makeSecureDirectory(const FileUtils::HeldFolder& parent) {
    return createSecureDirectory(parent);
}

// Why the place refused the directory: the error's own text, which names the path and the system's code.
std::wstring refusal(const std::exception* error) {
    return L"refused the working directory (" + (error != nullptr ? textOf(*error) : L"unknown error") + L")";
}

// Adds the places that are not listed yet.
void addUnlisted(std::vector<SysInfo::PlaceCandidate>& listed,
                 const std::vector<SysInfo::PlaceCandidate>& more) {
    for (const SysInfo::PlaceCandidate& candidate : more) {
        bool found = false;
        for (const SysInfo::PlaceCandidate& known : listed) {
            found = found || known.folder == candidate.folder;
        }
        if (!found) {
            listed.push_back(candidate);
        }
    }
}

}  // namespace

std::unique_ptr<SecureDirectory> createInFirstPlace(const SysInfo::WorkPlace& place) {
    return seams::createInFirstPlace(place, &makeSecureDirectory, &SysInfo::machineCandidates);
}

namespace seams {

std::unique_ptr<SecureDirectory> createInFirstPlace(const SysInfo::WorkPlace& place, DirectoryMaker make,
                                                    MorePlaces more) {
    std::vector<SysInfo::PlaceCandidate> candidates = place.candidates;
    std::wstring everyReason;  // every place and why, for the ERROR record
    std::wstring handedOver;   // TEMP and the places that refused, for the WARNING record
    for (std::size_t i = 0; i < candidates.size(); ++i) {
        const SysInfo::PlaceCandidate candidate = candidates[i];  // a copy: the list may grow below
        std::wstring why = candidate.unusable;
        if (why.empty()) {
            removeLeftovers(*candidate.folder);
            try {
                std::unique_ptr<SecureDirectory> made(new SecureDirectory(make(*candidate.folder)));
                if (i > 0) {
                    KRO_LOG(WARNING, handedOver << "; the working directory goes to ["
                                                << candidate.folder->path() << "] instead");
                }
                return made;
            } catch (const std::exception& e) {
                why = refusal(&e);
            } catch (...) {
                why = refusal(nullptr);
            }
        }
        const std::wstring named = (i == 0 ? L"TEMP [" : L"[") + candidate.text + L"] " + why;
        everyReason += (everyReason.empty() ? L"" : L"; ") + named;
        if (i == 0 || candidate.unusable.empty()) {
            handedOver += (handedOver.empty() ? L"" : L"; ") + named;
        }
        if (i + 1 == candidates.size() && more != nullptr) {
            addUnlisted(candidates, more());
            more = nullptr;
        }
    }
    KRO_LOG(ERROR, "No folder can hold the working directory: " << everyReason << "; exiting.");
    return nullptr;
}

}  // namespace seams

}  // namespace launcher
