#include "UnixLinks.h"

#include <windows.h>

#include <gtest/gtest.h>

#include "FileHandles.h"
#include "TestSupport.h"
#include "WinAutoHandle.h"
#include "tstrings.h"

namespace testsupport {

namespace {

// Starts a Unix program; Wine does not report its end, so callers wait for its effect. Wine starts it outside
// its own processes and hands back no handle: what it leaves in the process information is not ours and is
// never closed (measured: one such "thread handle" was the value of the test's own handle on a launcher).
void startUnixProgram(const std::wstring& program, const std::wstring& commandLine) {
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION noHandles{};
    std::wstring line = commandLine;
    ASSERT_TRUE(CreateProcessW(program.c_str(), &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                               &startup, &noHandles))
        << "cannot start " << tstrings::toMultiByte(program) << ": " << GetLastError();
}

std::wstring resolved(const std::wstring& path) {
    const WinAutoHandle<HANDLE> handle(CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES, 7, nullptr,
                                                   OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    return handle.get() == INVALID_HANDLE_VALUE ? std::wstring() : FileUtils::finalPathOf(handle.get());
}

std::wstring quoted(const std::string& text) {
    return L"\"" + tstrings::fromMultiByte(text) + L"\"";
}

}  // namespace

std::string unixPathOf(const std::wstring& zPath) {
    std::string path = tstrings::toMultiByte(zPath.substr(2));
    for (char& c : path) {
        if (c == '\\') {
            c = '/';
        }
    }
    return path;
}

void pointUnixLink(const std::wstring& link, const std::wstring& target) {
    startUnixProgram(L"Z:\\bin\\ln",
                     L"ln -sfn " + quoted(unixPathOf(target)) + L" " + quoted(unixPathOf(link)));
    // The target's final path is asked anew each time: a link that makes a drive (dosdevices\t:) gives its
    // target another one ("T:\") from the moment it exists.
    EXPECT_TRUE(waitUntil([&] {
        const std::wstring now = resolved(link);
        return !now.empty() && tstrings::equals(now, resolved(target), tstrings::IGNORE_CASE);
    })) << tstrings::toMultiByte(link)
        << " never pointed at " << tstrings::toMultiByte(target);
}

void removeUnixTree(const std::wstring& path) {
    startUnixProgram(L"Z:\\bin\\rm", L"rm -rf " + quoted(unixPathOf(path)));
    EXPECT_TRUE(waitUntil([&] {
        WIN32_FIND_DATAW data{};
        const HANDLE search = FindFirstFileW(path.c_str(), &data);
        if (search == INVALID_HANDLE_VALUE) {
            return true;
        }
        FindClose(search);
        return false;
    })) << tstrings::toMultiByte(path)
        << " was not removed";
}

SwitchableTemp::SwitchableTemp() {
    std::wstring fixtures = tstrings::fromMultiByte(KRO_FIXTURES_DIR);
    for (wchar_t& c : fixtures) {
        c = c == L'/' ? L'\\' : c;
    }
    base = createFreshFolder(fixtures, L"switch");
    CreateDirectoryW(one().c_str(), nullptr);
    CreateDirectoryW(two().c_str(), nullptr);
    pointAt(one());
}

SwitchableTemp::~SwitchableTemp() {
    removeUnixTree(base);
}

}  // namespace testsupport
