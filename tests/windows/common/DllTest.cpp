#include "Dll.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "SysInfo.h"
#include "TestSupport.h"

namespace {

using GetFileVersionInfoSizeFunction = DWORD(WINAPI*)(LPCWSTR, LPDWORD);
using MessageBoxFunction = int(WINAPI*)(HWND, LPCWSTR, LPCWSTR, UINT);

std::wstring systemPath(const std::wstring& name) {
    return SysInfo::getSystemDir() + L"\\" + name;
}

std::string whatOf(void (*work)()) {
    try {
        work();
    } catch (const std::exception& e) {
        return e.what();
    }
    return "no exception";
}

}  // namespace

TEST(Dll, LoadsByFullPathFromTheSystemDirectory) {
    const Dll user32(tstrings::TextBuilder() << "user32");
    EXPECT_EQ(systemPath(L"user32"), user32.getPath());
    EXPECT_NE(nullptr, user32.getFunction("MessageBoxW", true));
}

TEST(Dll, MissingLibraryAndFunctionsNameTheFullPath) {
    const std::string missing = whatOf([] { Dll(tstrings::TextBuilder() << "krofake-missing"); });
    EXPECT_NE(std::string::npos, missing.find(") at `anonymous-namespace'::loadLibrary(): LoadLibraryW(" +
                                              tstrings::toMultiByte(systemPath(L"krofake-missing")) +
                                              ") failed. System error [126]"))
        << missing;

    const std::string required = whatOf([] {
        DllFunction<MessageBoxFunction>(Dll(tstrings::TextBuilder() << "user32"),
                                        tstrings::TextBuilder() << "NoSuchFunction", true);
    });
    EXPECT_NE(std::string::npos, required.find(") at Dll::getFunction(): GetProcAddress(" +
                                               tstrings::toMultiByte(systemPath(L"user32")) +
                                               ", NoSuchFunction) failed. System error [127]"))
        << required;

    const DllFunction<MessageBoxFunction> optional(Dll(tstrings::TextBuilder() << "user32"),
                                                   tstrings::TextBuilder() << "NoSuchFunction", false);
    EXPECT_FALSE(optional.isAvailable());
    EXPECT_EQ("NoSuchFunction", optional.name());
    try {
        static_cast<MessageBoxFunction>(optional);
        FAIL() << "no exception";
    } catch (const std::runtime_error& e) {
        EXPECT_TRUE(testsupport::endsWith(
            e.what(),
            "::operator int (*)(HWND__*, const wchar_t*, const wchar_t*, unsigned int)(): "
            "NoSuchFunction() function is not available in " +
                tstrings::toMultiByte(systemPath(L"user32"))))
            << e.what();
        EXPECT_EQ(0u, std::string(e.what()).find("Dll.h("));
    }
}

TEST(Dll, ABoundFunctionKeepsItsLibraryLoaded) {
    ASSERT_EQ(nullptr, GetModuleHandleW(L"version.dll")) << "the test needs a library nothing else loaded";
    {
        const DllFunction<GetFileVersionInfoSizeFunction> size(
            Dll(tstrings::TextBuilder() << "version"), tstrings::TextBuilder() << "GetFileVersionInfoSizeW",
            true);
        EXPECT_NE(nullptr, GetModuleHandleW(L"version.dll"))
            << "the temporary Dll is gone, the binding holds on";
        DWORD handle = 0;
        EXPECT_GT(
            static_cast<GetFileVersionInfoSizeFunction>(size)(systemPath(L"user32.dll").c_str(), &handle),
            0u);

        const DllFunction<GetFileVersionInfoSizeFunction> copy = size;
        EXPECT_TRUE(copy.isAvailable());
    }
    EXPECT_EQ(nullptr, GetModuleHandleW(L"version.dll")) << "every reference was released once";
}

namespace {

// Runs the probe from the folder of planted DLLs, with that folder as its current directory too, and returns
// its report; fails the test if a planted DLL's code ran.
std::string probePlanted(bool restricted) {
    const std::wstring planted = tstrings::fromMultiByte(KRO_PLANTED_DIR_WINDOWS);
    const testsupport::ScratchDir temp(L"planting");
    const std::wstring report = temp / L"report.txt";
    testsupport::ProcessOptions options;
    options.environment = {{L"TMP", temp.path()}, {L"TEMP", temp.path()}};
    options.currentDirectory = planted;
    std::vector<std::wstring> arguments = {report, L"user32:MessageBoxW", L"version:GetFileVersionInfoSizeW",
                                           L"uxtheme:IsThemeActive", L"krofake:DllMain"};
    if (restricted) {
        arguments.insert(arguments.begin(), L"--restricted");
    }
    EXPECT_EQ(0u, testsupport::runProcess(planted + L"\\dll-probe.exe", arguments, options).exitCode);
    WIN32_FIND_DATAW found{};
    const HANDLE search = FindFirstFileW((temp / L"planted-*.marker").c_str(), &found);
    EXPECT_EQ(INVALID_HANDLE_VALUE, search)
        << "a planted DLL ran: " << tstrings::toMultiByte(found.cFileName);
    if (search != INVALID_HANDLE_VALUE) {
        FindClose(search);
    }
    return testsupport::readFileBytes(report);
}

std::string systemModule(const std::string& name) {
    return name + "|" + tstrings::toMultiByte(SysInfo::getSystemDir()) + "\\" + name + ".dll\n";
}

}  // namespace

TEST(Dll, PlantedLibrariesNeverRun) {
    const std::string report = probePlanted(false);
    EXPECT_NE(std::string::npos, report.find(systemModule("user32"))) << report;
    EXPECT_NE(std::string::npos, report.find(systemModule("uxtheme"))) << report;
    EXPECT_NE(std::string::npos, report.find("krofake|error|"))
        << "a name with no system library is not searched for";
}

TEST(Dll, WithTheEntryRestrictionEveryModuleComesFromTheSystemDirectory) {
    // Unrestricted, Wine resolves the dependencies of its builtin user32 through the program's folder and
    // then names the planted version.dll as the module, although its own code runs; the launcher restricts
    // the search at its entry point, and then nothing is even named after a planted file.
    const std::string report = probePlanted(true);
    EXPECT_EQ(systemModule("user32") + systemModule("version") + systemModule("uxtheme"),
              report.substr(0, report.find("krofake|")));
}
