// log-writer COUNT TAG: writes COUNT INFO records "TAG record N" into the log, as fast as it can.
#include <cstdlib>
#include <string>

#include "Log.h"

int wmain(int argc, wchar_t** argv) {
    if (argc != 3) {
        return 2;
    }
    const int count = std::wcstol(argv[1], nullptr, 10);
    const std::wstring tag = argv[2];
    for (int i = 0; i < count; ++i) {
        KRO_LOG(INFO, tag << " record " << i);
    }
    return 0;
}
