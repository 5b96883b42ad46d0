#pragma once

#include <vector>

#include "DiziZoz/core/Value.h"

namespace dizizoz {

// The "$debug_images" of an event: the loaded images that its frames point into, found by walking the
// process's images (dl_iterate_phdr) and read with the crash reporter's ELF reader. Stateless and
// reentrant; any thread.
namespace DiziZozDebugImageProvider {

// The images of the frames under each entry's "stacktrace" -> "frames" (entries without frames add none).
std::vector<Properties> getDebugImages(const std::vector<Properties>& exceptions);

// The images whose load addresses the frames name in "image_addr" ("0x" or "0X" and hex digits; texts
// that do not parse are ignored), each once, in the loader's order. Nothing when no frame names one.
std::vector<Properties> getDebugImagesForFrames(const std::vector<Properties>& frames);

}  // namespace DiziZozDebugImageProvider
}  // namespace dizizoz
