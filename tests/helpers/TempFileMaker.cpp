// temp-file-maker FOLDER COUNT: claims COUNT temporary files "kro<n>.tmp" in FOLDER; the exit code is how
// many it got.
#include <cstdlib>
#include <exception>

#include "FileUtils.h"

int wmain(int argc, wchar_t** argv) {
    if (argc != 3) {
        return -1;
    }
    const int count = std::wcstol(argv[2], nullptr, 10);
    int created = 0;
    for (int i = 0; i < count; ++i) {
        try {
            FileUtils::createTempFile(L"kro", L".tmp", argv[1]);
            ++created;
        } catch (const std::exception&) {
        }
    }
    return created;
}
