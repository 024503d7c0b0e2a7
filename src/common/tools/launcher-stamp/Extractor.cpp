#include "Extractor.h"

#include "LauncherImage.h"
#include "OutputFile.h"
#include "StampError.h"

namespace stamp {

std::uint64_t extractPayload(const std::string& launcher, const std::string& output, bool force) {
    PendingOutput pending = openOutput(output, force);
    std::uint64_t size = 0;
    {
        const LauncherImage image(launcher);
        const ResourceData* payload = image.payload();
        if (payload == nullptr) {
            throw BadInput("LAUNCHER '" + launcher + "' carries no payload");
        }
        OutputFile file(pending);
        file.copyFrom(*payload->file, payload->offset, payload->size);
        size = file.position();
    }
    pending.commit(force);
    return size;
}

}  // namespace stamp
