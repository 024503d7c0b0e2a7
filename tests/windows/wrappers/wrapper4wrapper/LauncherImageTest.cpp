// The shipped launcher's image: PE header, resources and import table.
#include <windows.h>

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "tstrings.h"

namespace {

// The launcher mapped as an image, for reading its resources without running it.
class ImageResources {
public:
    explicit ImageResources(const std::wstring& path)
        : module(LoadLibraryExW(path.c_str(), nullptr,
                                LOAD_LIBRARY_AS_IMAGE_RESOURCE | LOAD_LIBRARY_AS_DATAFILE)) {}
    ~ImageResources() {
        if (module != nullptr) {
            FreeLibrary(module);
        }
    }
    std::string bytes(LPCWSTR type, WORD id, WORD language) const {
        const HRSRC found = FindResourceExW(module, type, MAKEINTRESOURCEW(id), language);
        if (found == nullptr) {
            return {};
        }
        const auto* data = static_cast<const char*>(LockResource(LoadResource(module, found)));
        return std::string(data, SizeofResource(module, found));
    }
    HMODULE module;
};

constexpr WORD usEnglish = MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);

// The value of a string in the version block's "040904b0" table, read from the raw VS_VERSIONINFO bytes.
std::wstring versionString(const std::string& block, const std::wstring& key) {
    const std::wstring text(reinterpret_cast<const wchar_t*>(block.data()), block.size() / 2);
    const std::size_t at = text.find(key + L'\0');
    if (at == std::wstring::npos) {
        return L"<missing>";
    }
    std::size_t value = at + key.size() + 1;
    while (value < text.size() && text[value] == L'\0') {
        ++value;  // padding to a 32-bit boundary
    }
    return std::wstring(text.c_str() + value);
}

}  // namespace

TEST(LauncherImage, IsA64BitHardenedGuiProgram) {
    std::string file = testsupport::readFileBytes(testsupport::binPath(L"setup.exe"));
    ASSERT_GT(file.size(), 0x200u);
    const IMAGE_NT_HEADERS64* nt = testsupport::ntHeadersOf(file);
    EXPECT_EQ(IMAGE_FILE_MACHINE_AMD64, nt->FileHeader.Machine);
    EXPECT_EQ(IMAGE_NT_OPTIONAL_HDR64_MAGIC, nt->OptionalHeader.Magic);
    EXPECT_EQ(IMAGE_SUBSYSTEM_WINDOWS_GUI, nt->OptionalHeader.Subsystem);
    const WORD wanted = IMAGE_DLLCHARACTERISTICS_HIGH_ENTROPY_VA | IMAGE_DLLCHARACTERISTICS_DYNAMIC_BASE |
                        IMAGE_DLLCHARACTERISTICS_NX_COMPAT | IMAGE_DLLCHARACTERISTICS_TERMINAL_SERVER_AWARE;
    EXPECT_EQ(wanted, nt->OptionalHeader.DllCharacteristics & wanted);
    EXPECT_EQ(4096u, nt->OptionalHeader.FileAlignment);
}

TEST(LauncherImage, OnlyTheTestBuildCarriesTheTestHooks) {
    // The hooks let whoever sets the environment pause an elevated launcher and plant files: the shipped
    // images must not contain their variables' names, in either encoding.
    const std::string ascii = "KRO_TEST_";
    const std::string wide("K\0R\0O\0_\0T\0E\0S\0T\0_\0", 18);
    const struct {
        const wchar_t* name;
        bool hooks;
    } images[] = {{L"setup.exe", false}, {L"setup-stub.exe", false}, {L"setup-hooks.exe", true}};
    for (const auto& image : images) {
        const std::string bytes = testsupport::readFileBytes(testsupport::binPath(image.name));
        ASSERT_FALSE(bytes.empty());
        const bool found = bytes.find(ascii) != std::string::npos || bytes.find(wide) != std::string::npos;
        EXPECT_EQ(image.hooks, found) << tstrings::toMultiByte(image.name);
    }
}

TEST(LauncherImage, ResourcesAreReadOnlyAndTheChecksumHolds) {
    for (const wchar_t* name : {L"setup.exe", L"setup-stub.exe"}) {
        const std::wstring path = testsupport::binPath(name);
        std::string file = testsupport::readFileBytes(path);
        ASSERT_GT(file.size(), 0x200u);
        const std::vector<IMAGE_SECTION_HEADER*> resources = testsupport::sectionsNamed(file, ".rsrc");
        ASSERT_EQ(1u, resources.size());
        EXPECT_EQ(0u, resources[0]->Characteristics & IMAGE_SCN_MEM_WRITE);
        EXPECT_NE(0u, resources[0]->Characteristics & IMAGE_SCN_MEM_READ);
        testsupport::expectChecksumHolds(path);
    }
}

TEST(LauncherImage, ImportsOnlyKernel32Advapi32AndTheRuntime) {
    const ImageResources image(testsupport::binPath(L"setup.exe"));
    ASSERT_NE(nullptr, image.module);
    // Mapped as an image resource the headers sit at the module's base, sections at their virtual addresses.
    const auto* base =
        reinterpret_cast<const BYTE*>(reinterpret_cast<ULONG_PTR>(image.module) & ~ULONG_PTR(3));
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS64*>(
        base + reinterpret_cast<const IMAGE_DOS_HEADER*>(base)->e_lfanew);
    const IMAGE_DATA_DIRECTORY& directory = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    std::set<std::string> dlls;
    for (const auto* entry =
             reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(base + directory.VirtualAddress);
         entry->Name != 0; ++entry) {
        std::string name = reinterpret_cast<const char*>(base + entry->Name);
        for (char& c : name) {
            c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
        }
        dlls.insert(name);
    }
    EXPECT_EQ((std::set<std::string>{"advapi32.dll", "kernel32.dll", "msvcrt.dll"}), dlls)
        << "user32 and ntdll are bound at run time, never imported";
}

TEST(LauncherImage, CarriesManifestVersionIconAndPayload) {
    const ImageResources image(testsupport::binPath(L"setup.exe"));
    ASSERT_NE(nullptr, image.module);

    const std::string manifest = image.bytes(RT_MANIFEST, 1, usEnglish);
    EXPECT_NE(std::string::npos, manifest.find("manifestVersion=\"1.0\""));
    EXPECT_NE(std::string::npos, manifest.find("<trustInfo xmlns=\"urn:schemas-microsoft-com:asm.v3\">"));
    EXPECT_NE(std::string::npos,
              manifest.find("<requestedExecutionLevel level=\"requireAdministrator\" uiAccess=\"false\"/>"));

    const std::string version = image.bytes(RT_VERSION, 1, usEnglish);
    ASSERT_FALSE(version.empty());
    EXPECT_EQ(L"Setup Launcher", versionString(version, L"InternalName"));
    EXPECT_EQ(L"setup.exe", versionString(version, L"OriginalFilename"));
    const std::wstring text(reinterpret_cast<const wchar_t*>(version.data()), version.size() / 2);
    EXPECT_NE(std::wstring::npos, text.find(L"040904b0"));
    const std::string translation = "\x09\x04\xb0\x04";
    EXPECT_NE(std::string::npos, version.find(translation)) << "translation 0x0409 / 0x04b0";

    const std::string group = image.bytes(RT_GROUP_ICON, 101, usEnglish);
    ASSERT_GE(group.size(), 6u);
    const WORD count = *reinterpret_cast<const WORD*>(group.data() + 4);
    EXPECT_EQ(12, count);
    std::set<WORD> ids;
    for (WORD i = 0; i < count && 6u + 14u * (i + 1) <= group.size(); ++i) {
        const WORD id = *reinterpret_cast<const WORD*>(group.data() + 6 + 14 * i + 12);
        ids.insert(id);
        EXPECT_FALSE(image.bytes(RT_ICON, id, usEnglish).empty()) << "icon image " << id;
    }
    EXPECT_EQ((std::set<WORD>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}), ids);

    const std::string payload = image.bytes(RT_RCDATA, 100, usEnglish);
    EXPECT_TRUE(payload == testsupport::readFileBytes(testsupport::binPath(L"demo-installer.exe")))
        << "the demo installer, unchanged";
}
