// The launcher: entry point and launch sequence.
#include <windows.h>

#include <exception>
#include <string>
#include <utility>

#include "ChildProcess.h"
#include "Dll.h"
#include "ExceptionReporting.h"
#include "FileUtils.h"
#include "LeftoverSweep.h"
#include "Log.h"
#include "OwnImage.h"
#include "PayloadSource.h"
#include "PrivilegeGate.h"
#include "SecureDirectory.h"
#include "Security.h"
#include "WorkPlace.h"

#ifdef KRO_LAUNCHER_TEST_HOOKS
#include "TestHooks.h"
#define KRO_TEST_HOOK(call) testhooks::call
#else
#define KRO_TEST_HOOK(call) ((void)0)
#endif

namespace {

// The longest path from which Windows starts a program (CreateProcessW takes no longer one).
constexpr std::size_t longestStartablePath = MAX_PATH - 1;

int run(const launcher::OwnImage& image) {
    int exitCode = -1;
    try {
        if (!security::isProcessElevated()) {
            // Nobody would see a notice on an invisible window station (a service, a scheduled task): there
            // MessageBoxW never returns, so the run ends as a silent one.
            if (!isSilentInstall() && isWindowStationVisible()) {
                showAdminErrorMessageBox();
            }
            KRO_LOG(ERROR, "Administrator privileges are required to run this application, exiting.");
            return exitCode;
        }
        // Before anything is written: what this process and the installer create belongs to Administrators.
        if (!security::makeAdministratorsDefaultOwner()) {
            KRO_LOG(ERROR,
                    "The process is elevated but not as an administrator: its token may not make "
                    "Administrators the owner of what it creates, exiting.");
            return exitCode;
        }
        image.verify();
        const SysInfo::WorkPlace& place = SysInfo::workPlace();
        if (place.folder == nullptr) {
            KRO_LOG(ERROR, place.failure);
            return exitCode;
        }
        if (!place.warning.empty()) {
            KRO_LOG(WARNING, place.warning);
        }
        launcher::removeLeftovers(*place.folder);
        KRO_TEST_HOOK(pauseAt(L"before-directory", std::wstring()));
        const launcher::SecureDirectory secureDirectory = createSecureDirectory(*place.folder);
        KRO_TEST_HOOK(pauseAt(L"directory-created", secureDirectory.path()));
        const std::wstring ownFileName = FileUtils::getFileName(image.path());
        const std::wstring childPath = FileUtils::joinPath(secureDirectory.path(), ownFileName);
        if (childPath.size() > longestStartablePath) {
            KRO_LOG(ERROR, "The installer's path ["
                               << childPath << "] is " << childPath.size()
                               << " characters long; Windows starts no program from a path "
                                  "longer than "
                               << longestStartablePath << " characters, exiting.");
            return exitCode;
        }

        WinAutoHandle<HANDLE> installer;
        if (image.isRemote()) {
            // Never extract onto a network drive: run a local copy of this launcher, which then goes through
            // the whole sequence itself. The copy is made from the file held since the start.
            KRO_LOG(INFO, "on network drive");
            KRO_LOG(INFO, "extractedExe: " << childPath);
            KRO_LOG(INFO, "getwherethisexeis: " << image.path());
            KRO_LOG(INFO, "before copying...");
            installer = secureDirectory.copyFile(ownFileName, image.handle(), image.path());
            KRO_LOG(INFO, "after copying");
        } else {
            KRO_LOG(INFO, "NOT on network drive");
            // Held from here on: nobody may change, replace or rename the installer before it starts.
            installer =
                secureDirectory.writeFile(ownFileName, launcher::payloadBytes(image.handle(), image.path()));
            KRO_TEST_HOOK(plant(secureDirectory.path()));
            KRO_TEST_HOOK(pauseAt(L"installer-written", childPath));
            if (!isSecureDirectoryIntact(secureDirectory.path(), childPath)) {
                KRO_LOG(ERROR, "Secure directory is tempered, exiting...");
                return exitCode;
            }
        }
        const std::wstring commandLine = getCommandLine(childPath);
        exitCode = static_cast<int>(execProcessWaitForFinish(childPath, commandLine, std::move(installer)));
        KRO_TEST_HOOK(pauseAt(L"installer-ended", secureDirectory.path()));
    } catch (const std::exception& e) {
        reportException(KRO_CODE_SITE, e);
    } catch (...) {
        reportUnknownException(KRO_CODE_SITE);
    }
    return exitCode;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int) {
    restrictLibrarySearch();
#ifdef KRO_LAUNCHER_TEST_HOOKS
    testhooks::pauseAt(L"image-not-held", std::wstring());
    launcher::SecureDirectory::setReleaseHook(
        [](const std::wstring& path) { testhooks::pauseAt(L"hold-released", path); });
    launcher::setOwnershipOverride(&testhooks::everyDirectoryIsAdministrators);
#endif
    // First, before anything else can take time: from here on nobody can put another program under its name.
    const launcher::OwnImage image = launcher::OwnImage::hold();
    return run(image);
}
