#include "PayloadSource.h"

#include "ImageHeaders.h"
#include "Resources.h"
#include "SysInfo.h"

namespace launcher {

FileUtils::ByteSource payloadBytes(HANDLE heldImage, const std::wstring& imagePath) {
    const HMODULE module = SysInfo::getCurrentModuleHandle();
    DWORD size = 0;
    const void* mapped = Resource(PAYLOAD_RESOURCE_ID, 10 /* RT_RCDATA */, module).getPtr(size);
    const auto rva =
        static_cast<DWORD>(static_cast<const BYTE*>(mapped) - reinterpret_cast<const BYTE*>(module));
    DWORD offset = 0;
    if (heldImage != nullptr && heldImage != INVALID_HANDLE_VALUE &&
        image::ImageHeaders::ofModule(module).fileOffsetOf(rva, size, offset)) {
        return FileUtils::ByteSource::inFile(heldImage, offset, size, imagePath);
    }
    return FileUtils::ByteSource::inMemory(mapped, size);
}

}  // namespace launcher
