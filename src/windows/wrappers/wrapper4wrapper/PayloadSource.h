// Where the installer's bytes are read from when they are written into the secure directory: the launcher's
// own file where it is held, else its mapped image.
#pragma once

#include <windows.h>

#include <string>

#include "FileCopy.h"

namespace launcher {

// The installer's bytes, resource RT_RCDATA 100 of the running image. heldImage is the launcher's own file,
// held sharing only reading (nobody can write it meanwhile, and Windows lets nobody write the file of a
// running image at all) and shown to be the file this image was mapped from; so its bytes are the image's,
// and the source is the range of that file that the loader mapped to the resource (the resource's address
// turned into a file offset through the image's section table), named imagePath in messages: read in large
// sequential reads, not faulted in page by page. Where heldImage is null (the file is not held, or not shown
// to be the image), or the resource does not lie whole in one section's bytes in the file, the source is the
// resource in the mapped image. Throws the errors of Resource::getPtr ("cannot find resource (...)").
FileUtils::ByteSource payloadBytes(HANDLE heldImage, const std::wstring& imagePath);

}  // namespace launcher
