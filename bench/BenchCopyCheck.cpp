// The network branch's copy, timed alone: a program carrying the payload as the launcher does holds its own
// file and copies it into a working directory in TEMP from that handle, as the network branch does. MODE
// "copy" checks nothing, "compare" compares each chunk with the running program as it is read (what the
// launcher does), "after" copies first and then compares the written copy in a pass of its own. Each run is a
// new process, so the program's pages are touched for the first time, as in a launcher. Appends
// "MODE MICROSECONDS" to the file OUTPUT; exits with 0, or 1 when the copy or its check failed.
//   bench-copy-check-SIZE.exe MODE OUTPUT
#include <windows.h>

#include <cstdio>
#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "ImageComparison.h"
#include "OwnImage.h"
#include "SecureDirectory.h"
#include "SysInfo.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int) {
    if (__argc != 3) {
        return 1;
    }
    const std::wstring mode = __wargv[1];
    try {
        const launcher::OwnImage image = launcher::OwnImage::hold();
        image.verify();
        const launcher::SecureDirectory directory = createSecureDirectory(SysInfo::heldTempDir());
        LARGE_INTEGER start, end, frequency;
        QueryPerformanceCounter(&start);
        if (mode == L"compare") {
            image::RunningImageComparison sameAsRunning(image.path());
            directory.copyFile(L"copy.exe", image.handle(), image.path(), std::ref(sameAsRunning));
        } else {
            const WinAutoHandle<HANDLE> copy =
                directory.copyFile(L"copy.exe", image.handle(), image.path(), [](auto...) {});
            if (mode == L"after") {
                image::RunningImageComparison sameAsRunning(image.path());
                std::vector<BYTE> buffer(1 << 20);
                std::uint64_t offset = 0;
                DWORD read = 0;
                do {
                    if (!ReadFile(copy.get(), buffer.data(), static_cast<DWORD>(buffer.size()), &read,
                                  nullptr)) {
                        return 1;
                    }
                    sameAsRunning(offset, buffer.data(), read);
                    offset += read;
                } while (read != 0);
            }
        }
        QueryPerformanceCounter(&end);
        QueryPerformanceFrequency(&frequency);
        const std::unique_ptr<FILE, decltype(&std::fclose)> output(_wfopen(__wargv[2], L"a"), &std::fclose);
        return output != nullptr &&
                       std::fprintf(output.get(), "%ls %lld\n", mode.c_str(),
                                    (end.QuadPart - start.QuadPart) * 1000000 / frequency.QuadPart) > 0
                   ? 0
                   : 1;
    } catch (const std::exception&) {
        return 1;
    }
}
