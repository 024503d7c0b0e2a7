// The launcher: entry point and launch sequence.
#include <windows.h>

#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <utility>

#include "ChildEnvironment.h"
#include "ChildProcess.h"
#include "Dll.h"
#include "ExceptionReporting.h"
#include "FileUtils.h"
#include "ImageComparison.h"
#include "LeftoverSweep.h"
#include "Log.h"
#include "OwnImage.h"
#include "PayloadSource.h"
#include "PlaceHandover.h"
#include "PrivilegeGate.h"
#include "Resources.h"
#include "SecureDirectory.h"
#include "Security.h"
#include "SysInfo.h"
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

// After the error's own record, for a launcher that carries no installer: what it is and what to do.
constexpr const char* noPayloadRecord =
    "This launcher carries no installer: it is the stub, which runs only an installer put into it. Put one "
    "in with launcher-stamp (launcher-stamp --payload INSTALLER --output setup.exe setup-stub.exe), the "
    "LAUNCHER_PAYLOAD configure option or add_setup_launcher(), then run the launcher that makes.";

int run(const launcher::OwnImage& image) {
    int exitCode = -1;
    bool carriesNoPayload = false;
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
        KRO_TEST_HOOK(pauseAt(L"before-directory", std::wstring()));
        const std::unique_ptr<launcher::SecureDirectory> made =
            launcher::createInFirstPlace(SysInfo::workPlace());
        if (made == nullptr) {
            return exitCode;
        }
        const launcher::SecureDirectory& secureDirectory = *made;
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
            // the whole sequence itself. The copy is made from the file held since the start, and each chunk
            // is compared with the running program before it is written: a writer on the server itself is
            // bound by no share mode.
            KRO_LOG(INFO, "on network drive");
            KRO_LOG(INFO, "extractedExe: " << childPath);
            KRO_LOG(INFO, "getwherethisexeis: " << image.path());
            KRO_LOG(INFO, "before copying...");
            ::image::RunningImageComparison sameAsRunning(image.path());
            installer =
                secureDirectory.copyFile(ownFileName, image.handle(), image.path(), std::ref(sameAsRunning));
            KRO_LOG(INFO, "after copying");
        } else {
            KRO_LOG(INFO, "NOT on network drive");
            carriesNoPayload =
                !Resource(PAYLOAD_RESOURCE_ID, 10 /* RT_RCDATA */, SysInfo::getCurrentModuleHandle())
                     .exists();
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
        // The copy on the network branch makes the same choice of place itself, and logs beside this run.
        const std::wstring environment =
            image.isRemote() ? std::wstring() : launcher::installerEnvironment(secureDirectory.place());
        exitCode = static_cast<int>(
            execProcessWaitForFinish(childPath, commandLine, std::move(installer), environment));
        KRO_TEST_HOOK(pauseAt(L"installer-ended", secureDirectory.path()));
    } catch (const std::exception& e) {
        reportException(KRO_CODE_SITE, e);
    } catch (...) {
        reportUnknownException(KRO_CODE_SITE);
    }
    if (carriesNoPayload) {
        KRO_LOG(ERROR, noPayloadRecord);
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
