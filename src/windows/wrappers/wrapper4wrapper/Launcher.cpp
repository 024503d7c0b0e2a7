// The launcher: entry point and launch sequence.
#include <windows.h>

#include <exception>
#include <string>
#include <utility>

#include "ChildProcess.h"
#include "Dll.h"
#include "ExceptionReporting.h"
#include "FileUtils.h"
#include "Log.h"
#include "PrivilegeGate.h"
#include "Resources.h"
#include "SecureDirectory.h"
#include "Security.h"
#include "SysInfo.h"

#ifdef KRO_LAUNCHER_TEST_HOOKS
#include "TestHooks.h"
#define KRO_TEST_HOOK(call) testhooks::call
#else
#define KRO_TEST_HOOK(call) ((void)0)
#endif

namespace {

// Holds the secure directory against rename and deletion by others while the sequence runs, and removes it
// with everything in it when the sequence ends, however it ends. A program that has just ended can hold its
// image or working directory a moment longer (security software on Windows holds a new executable longer
// still), so what is left is tried again every 2 ms for up to 5 s before it is given up.
class SecureDirectoryRemoval {
public:
    explicit SecureDirectoryRemoval(const std::wstring& path)
        : path(path), deleter(false), hold((deleter.appendDirectory(path), FileUtils::openLocked(path))) {}
    ~SecureDirectoryRemoval() {
        hold.reset();
        deleter.execute();
        for (int retry = 0; retry < maxRetries && FileUtils::pathExists(path); ++retry) {
            Sleep(retryDelayMs);
            deleter.appendDirectory(path);
            deleter.execute();
        }
    }
    SecureDirectoryRemoval(const SecureDirectoryRemoval&) = delete;
    SecureDirectoryRemoval& operator=(const SecureDirectoryRemoval&) = delete;

private:
    static constexpr int retryDelayMs = 2;
    static constexpr int maxRetries = 2500;

    std::wstring path;
    FileUtils::ScopedDeleter
        deleter;  // built before the hold: a failure to take the hold still removes the folder
    WinAutoHandle<HANDLE> hold;
};

int run() {
    int exitCode = -1;
    try {
        if (!security::isProcessElevated()) {
            if (!isSilentInstall()) {
                showAdminErrorMessageBox();
            }
            KRO_LOG(ERROR, "Administrator privileges are required to run this application, exiting.");
            return exitCode;
        }
        KRO_TEST_HOOK(beforeSecureDirectory());
        const std::wstring secureDirectory = createSecureDirectory();
        const SecureDirectoryRemoval removal(secureDirectory);
        const std::wstring ownFileName = FileUtils::getFileName(SysInfo::getProcessModulePath());
        const std::wstring childPath = FileUtils::joinPath(secureDirectory, ownFileName);
        const std::wstring ownModulePath = SysInfo::getProcessModulePath();

        if (FileUtils::getPathLocation(ownModulePath) == FileUtils::Network) {
            // Never extract onto a network drive: run a local copy of this launcher, which then goes through
            // the whole sequence itself.
            KRO_LOG(INFO, "on network drive");
            KRO_LOG(INFO, "extractedExe: " << childPath);
            KRO_LOG(INFO, "getwherethisexeis: " << ownModulePath);
            KRO_LOG(INFO, "before copying...");
            FileUtils::copyFile(ownModulePath, childPath);
            WinAutoHandle<HANDLE> imageLock = FileUtils::openLocked(childPath);
            KRO_LOG(INFO, "after copying");
            const std::wstring commandLine = getCommandLine(childPath);
            exitCode =
                static_cast<int>(execProcessWaitForFinish(childPath, commandLine, std::move(imageLock)));
        } else {
            KRO_LOG(INFO, "NOT on network drive");
            Resource(PAYLOAD_RESOURCE_ID, 10 /* RT_RCDATA */, SysInfo::getCurrentModuleHandle())
                .saveToFile(childPath);
            // Nobody may change, replace or rename the installer between here and its start.
            WinAutoHandle<HANDLE> imageLock = FileUtils::openLocked(childPath);
            KRO_TEST_HOOK(afterExtraction(secureDirectory, childPath));
            if (isSecureDirectoryIntact(secureDirectory, childPath)) {
                const std::wstring commandLine = getCommandLine(childPath);
                exitCode =
                    static_cast<int>(execProcessWaitForFinish(childPath, commandLine, std::move(imageLock)));
            } else {
                KRO_LOG(ERROR, "Secure directory is tempered, exiting...");
            }
        }
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
    return run();
}
