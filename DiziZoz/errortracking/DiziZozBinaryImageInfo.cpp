#include "DiziZoz/errortracking/DiziZozBinaryImageInfo.h"

#include "DiziZoz/errortracking/DiziZozStackFrame.h"

namespace dizizoz {

Properties DiziZozBinaryImageInfo::toDictionary() const {
  // The real format: a symbol reader chosen for the wrong one can never resolve the image's frames.
  Properties image{{"type", format == DiziZozBinaryImageFormat::macho ? "macho" : "elf"},
                   {"code_file", name},
                   {"image_addr", hexAddress(address)},
                   {"image_size", size}};
  if (uuid) image["debug_id"] = *uuid;
  if (vmAddress && *vmAddress != 0) image["image_vmaddr"] = hexAddress(*vmAddress);
  if (arch) image["arch"] = *arch;
  return image;
}

}  // namespace dizizoz
