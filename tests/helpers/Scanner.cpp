// scanner DIR SHARING HOLD_MS STOP_FILE: behaves as antivirus does with new files. Every millisecond it looks
// at DIR and inside each "kro*" folder there, and opens every entry it has not seen yet for reading, sharing
// "rwd" (read, write, delete) or "rw", for HOLD_MS milliseconds. It ends once STOP_FILE exists and its
// handles are closed; its exit code is the number of entries it held, so that a test can tell it really got
// in the way.
#include <windows.h>

#include <cstdlib>
#include <set>
#include <string>
#include <vector>

namespace {

struct Held {
    HANDLE handle;
    ULONGLONG until;
};

std::vector<std::wstring> entriesOf(const std::wstring& folder) {
    std::vector<std::wstring> entries;
    WIN32_FIND_DATAW data{};
    const HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &data);
    if (search == INVALID_HANDLE_VALUE) {
        return entries;
    }
    do {
        const std::wstring name = data.cFileName;
        if (name != L"." && name != L"..") {
            entries.push_back(folder + L"\\" + name);
            if (name.rfind(L"kro", 0) == 0 && (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
                const std::vector<std::wstring> inside = entriesOf(folder + L"\\" + name);
                entries.insert(entries.end(), inside.begin(), inside.end());
            }
        }
    } while (FindNextFileW(search, &data));
    FindClose(search);
    return entries;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 5) {
        return -1;
    }
    const std::wstring folder = argv[1];
    const DWORD share = std::wstring(argv[2]) == L"rwd"
                            ? FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE
                            : FILE_SHARE_READ | FILE_SHARE_WRITE;
    const ULONGLONG holdMs = std::wcstoul(argv[3], nullptr, 10);
    const std::wstring stop = argv[4];
    std::set<std::wstring> seen;
    std::vector<Held> held;
    while (GetFileAttributesW(stop.c_str()) == INVALID_FILE_ATTRIBUTES || !held.empty()) {
        const ULONGLONG now = GetTickCount64();
        for (auto it = held.begin(); it != held.end();) {
            if (it->until <= now) {
                CloseHandle(it->handle);
                it = held.erase(it);
            } else {
                ++it;
            }
        }
        for (const std::wstring& entry : entriesOf(folder)) {
            if (seen.count(entry) != 0) {
                continue;
            }
            const HANDLE handle = CreateFileW(entry.c_str(), GENERIC_READ, share, nullptr, OPEN_EXISTING,
                                              FILE_FLAG_BACKUP_SEMANTICS, nullptr);
            if (handle != INVALID_HANDLE_VALUE) {
                seen.insert(entry);
                held.push_back(Held{handle, now + holdMs});
            }
        }
        Sleep(1);
    }
    return static_cast<int>(seen.size());
}
