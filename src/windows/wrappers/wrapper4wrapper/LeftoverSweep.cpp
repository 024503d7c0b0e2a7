#include "LeftoverSweep.h"

#include <vector>

#include "ExceptionReporting.h"
#include "FileRemoval.h"
#include "FileUtils.h"
#include "Log.h"
#include "SecureDirectory.h"
#include "Security.h"
#include "tstrings.h"

namespace launcher {

namespace {

OwnershipOverride ownershipOverride = nullptr;

const FileUtils::OpenRequest listingRequest{
    FILE_LIST_DIRECTORY | SYNCHRONIZE, FILE_SHARE_READ | FILE_SHARE_WRITE, FILE_OPEN, FILE_DIRECTORY_FILE};

// Made by an administrator, with the launcher's own protection: nobody else can have put anything inside.
bool isOurs(HANDLE directory, const security::SecurityDescriptor& model) {
    return (ownershipOverride != nullptr && ownershipOverride()) ||
           security::isHandleProtectedAs(directory, model);
}

}  // namespace

bool isLeftoverName(const std::wstring& name) {
    const std::wstring prefix = L"kro";
    const std::wstring suffix = L".tmp";
    if (name.size() <= prefix.size() + suffix.size() || name.compare(0, prefix.size(), prefix) != 0 ||
        name.compare(name.size() - suffix.size(), suffix.size(), suffix) != 0) {
        return false;
    }
    std::size_t first = prefix.size();
    const std::size_t end = name.size() - suffix.size();
    if (name[first] == L'-') {
        ++first;
    }
    if (first == end) {
        return false;
    }
    for (std::size_t i = first; i < end; ++i) {
        if (name[i] < L'0' || name[i] > L'9') {
            return false;
        }
    }
    return true;
}

void removeLeftovers(const FileUtils::HeldFolder& folder) {
    try {
        if (!folder.isHeld() || folder.path().empty()) {
            return;
        }
        // A folder opened for its attributes alone (a machine-wide one) is listed through a handle of its
        // own, which anybody who holds the folder sharing nothing refuses: then the sweep waits for another
        // run.
        WinAutoHandle<HANDLE> ownListing;
        if (!folder.canList()) {
            DWORD error = ERROR_SUCCESS;
            ownListing = FileUtils::openInFolder(folder.handle(), std::wstring(), listingRequest, error);
            if (!ownListing.owned()) {
                return;
            }
        }
        const HANDLE listed = ownListing.owned() ? ownListing.get() : folder.handle();
        const security::SecurityDescriptor model(tstrings::TextBuilder() << secureDirectorySddl);
        const FileUtils::RemovalLimits limits{GetTickCount64() + sweepBudgetMs,
                                              FileUtils::deepestRemovedFolder};
        int removed = 0;
        std::vector<std::wstring> left;
        FileUtils::listFolder(listed, [&](const FileUtils::FolderEntry& entry) {
            if (!isLeftoverName(entry.name) || (entry.attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
                return true;
            }
            DWORD error = ERROR_SUCCESS;
            WinAutoHandle<HANDLE> directory =
                FileUtils::openForRemoval(folder.handle(), entry.name, FILE_LIST_DIRECTORY | READ_CONTROL,
                                          FILE_SHARE_READ | FILE_SHARE_WRITE, FILE_DIRECTORY_FILE, error);
            // Held by a running launcher, gone meanwhile, locked, a link the system followed, or not ours.
            if (directory.owned() && FileUtils::isEntryItself(directory.get(), folder.names(), entry.name) &&
                isOurs(directory.get(), model)) {
                const std::wstring path = FileUtils::joinPath(folder.path(), entry.name);
                if (FileUtils::removeOpened(directory, path, limits).empty()) {
                    ++removed;
                } else {
                    left.push_back(path);
                }
            }
            return removed + static_cast<int>(left.size()) < leftoversPerRun &&
                   GetTickCount64() < limits.deadline;
        });
        if (left.empty() && removed > 0) {
            KRO_LOG(INFO, "Leftovers of earlier runs removed: " << removed);
        } else if (!left.empty()) {
            KRO_LOG(WARNING, "Leftovers of earlier runs removed: " << removed << "; left for the next run: "
                                                                   << listedPaths(left));
        }
    } catch (...) {
        reportCaughtException(KRO_CODE_SITE);
    }
}

void setOwnershipOverride(OwnershipOverride override) {
    ownershipOverride = override;
}

}  // namespace launcher
