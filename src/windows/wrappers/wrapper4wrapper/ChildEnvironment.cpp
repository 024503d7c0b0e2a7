#include "ChildEnvironment.h"

#include <windows.h>

#include <cwchar>
#include <vector>

#include "SysInfo.h"
#include "tstrings.h"

namespace launcher {

namespace {

// The block's entries are sorted by name without case; a hidden "=C:" entry sorts first.
std::wstring nameOf(const std::wstring& entry) {
    const std::size_t equals = entry.find(L'=', 1);
    return tstrings::toLower(entry.substr(0, equals));
}

struct Strings {
    wchar_t* block;
    ~Strings() { FreeEnvironmentStringsW(block); }
};

}  // namespace

std::wstring installerEnvironment(const FileUtils::HeldFolder& placeUsed) {
    if (&placeUsed == &SysInfo::heldTempDir()) {
        return {};
    }
    const Strings own{GetEnvironmentStringsW()};
    return seams::withTemp(own.block, placeUsed.path());
}

namespace seams {

std::wstring withTemp(const wchar_t* block, const std::wstring& temp) {
    std::vector<std::wstring> entries;
    for (const wchar_t* entry = block; entry != nullptr && *entry != L'\0'; entry += std::wcslen(entry) + 1) {
        entries.emplace_back(entry);
    }
    const struct {
        const wchar_t* name;  // as nameOf gives it
        const wchar_t* entry;
    } variables[] = {{L"temp", L"TEMP="}, {L"tmp", L"TMP="}};
    for (const auto& variable : variables) {
        const std::wstring name = variable.name;
        std::size_t at = 0;
        while (at < entries.size() && nameOf(entries[at]) < name) {
            ++at;
        }
        bool found = false;
        for (std::wstring& entry : entries) {
            if (nameOf(entry) == name) {
                entry = entry.substr(0, entry.find(L'=', 1) + 1) + temp;  // the name as it was written
                found = true;
            }
        }
        if (!found) {
            entries.insert(entries.begin() + static_cast<std::ptrdiff_t>(at), variable.entry + temp);
        }
    }
    std::wstring result;
    for (const std::wstring& entry : entries) {
        result += entry;
        result += L'\0';
    }
    result += L'\0';
    return result;
}

}  // namespace seams

}  // namespace launcher
