// dll-probe [--restricted] REPORT LIBRARY:FUNCTION...: optionally restricts the library search as the
// launcher's entry point does, then binds each function through Dll and DllFunction and writes, one line
// each, "LIBRARY|<path of the module that holds the bound function>" or "LIBRARY|error|<error text>" into
// REPORT (UTF-8). It is built into the folder of planted DLLs, so that fakes lie beside it.
#include <cstdio>
#include <exception>
#include <string>

#include "Dll.h"
#include "tstrings.h"

namespace {

using AnyFunction = void (*)();

std::wstring modulePathOf(AnyFunction function) {
    HMODULE module = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(function), &module);
    wchar_t path[MAX_PATH * 2] = {};
    GetModuleFileNameW(module, path, MAX_PATH * 2);
    return path;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    int first = 1;
    if (argc > 1 && std::wstring(argv[1]) == L"--restricted") {
        restrictLibrarySearch();
        ++first;
    }
    if (argc < first + 2) {
        return 2;
    }
    const wchar_t* reportPath = argv[first];
    std::string report;
    for (int i = first + 1; i < argc; ++i) {
        const std::wstring request = argv[i];
        const std::wstring library = request.substr(0, request.find(L':'));
        const std::wstring function = request.substr(request.find(L':') + 1);
        report += tstrings::toMultiByte(library) + "|";
        try {
            const DllFunction<AnyFunction> bound(Dll(tstrings::TextBuilder() << library),
                                                 tstrings::TextBuilder() << function, true);
            report += tstrings::toMultiByte(modulePathOf(bound)) + "\n";
        } catch (const std::exception& e) {
            report += std::string("error|") + e.what() + "\n";
        }
    }
    FILE* out = _wfopen(reportPath, L"wb");
    if (out == nullptr) {
        return 3;
    }
    std::fwrite(report.data(), 1, report.size(), out);
    std::fclose(out);
    return 0;
}
