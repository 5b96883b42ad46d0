#include "DiziZoz/errortracking/DiziZozDebugImageProvider.h"

#include <link.h>

#include <charconv>
#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <string_view>

#include "DZCrashReporter/core/DZCrashAsyncElfImage.h"
#include "DZCrashReporter/core/DZCrashAsyncImageList.h"
#include "DiziZoz/errortracking/DiziZozBinaryImageInfo.h"
#include "DiziZoz/errortracking/DiziZozDebugUtils.h"
#include "DiziZoz/errortracking/FormattedAsUUID.h"

namespace dizizoz::DiziZozDebugImageProvider {
namespace {

std::optional<std::uint64_t> parseAddress(std::string_view text) {
  if (text.starts_with("0x") || text.starts_with("0X")) text.remove_prefix(2);
  std::uint64_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, 16);
  if (text.empty() || error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

std::string hexBytes(const std::uint8_t* bytes, std::size_t length) {
  static constexpr char digits[] = "0123456789abcdef";
  std::string text;
  for (std::size_t i = 0; i < length; ++i) {
    text += digits[bytes[i] >> 4];
    text += digits[bytes[i] & 0xF];
  }
  return text;
}

struct Walk {
  const std::set<std::uint64_t>* wanted;
  std::vector<DiziZozBinaryImageInfo> found;
};

int visitImage(dl_phdr_info* info, std::size_t, void* data) {
  auto* walk = static_cast<Walk*>(data);
  // The load address that frames name is where the header lies.
  const ElfW(Phdr)* headerSegment = dzcrash::DZcrash_header_segment(info);
  if (!headerSegment) return 0;
  const std::uint64_t header = static_cast<std::uint64_t>(info->dlpi_addr) + headerSegment->p_vaddr;
  if (!walk->wanted->contains(header)) return 0;

  dzcrash::dzcrash_async_elf elf{};
  if (dzcrash::DZcrash_async_elf_init(&elf, dzcrash::DZcrash_async_task_self(), nullptr, header) !=
      dzcrash::DZCRASH_OK) {
    return 0;
  }
  DiziZozBinaryImageInfo image;
  // The loader names the main program with an empty text.
  if (info->dlpi_name && info->dlpi_name[0] != '\0') {
    image.name = info->dlpi_name;
  } else {
    image.name = DiziZozDebugUtils::executablePath();
  }
  if (image.name.empty()) image.name = "unknown";
  if (elf.build_id_length > 0) image.uuid = formattedAsUUID(hexBytes(elf.build_id, elf.build_id_length));
  image.vmAddress = headerSegment->p_vaddr;
  image.address = header;
  image.size = dzcrash::DZcrash_async_elf_code_size(elf, header);
  image.format = DiziZozBinaryImageFormat::elf;
  walk->found.push_back(std::move(image));
  return 0;
}

std::vector<DiziZozBinaryImageInfo> getImages(const std::set<std::string>& addressTexts) {
  std::set<std::uint64_t> wanted;
  for (const auto& text : addressTexts) {
    if (const auto address = parseAddress(text)) wanted.insert(*address);
  }
  if (wanted.empty()) return {};
  Walk walk{&wanted, {}};
  dl_iterate_phdr(visitImage, &walk);
  return walk.found;
}

}  // namespace

std::vector<Properties> getDebugImages(const std::vector<Properties>& exceptions) {
  std::vector<Properties> frames;
  for (const auto& exception : exceptions) {
    if (!exception.is_object()) continue;
    const auto stacktrace = exception.find("stacktrace");
    if (stacktrace == exception.end() || !stacktrace->is_object()) continue;
    const auto list = stacktrace->find("frames");
    if (list == stacktrace->end() || !list->is_array()) continue;
    frames.insert(frames.end(), list->begin(), list->end());
  }
  return getDebugImagesForFrames(frames);
}

std::vector<Properties> getDebugImagesForFrames(const std::vector<Properties>& frames) {
  std::set<std::string> addressTexts;
  for (const auto& frame : frames) {
    if (!frame.is_object()) continue;
    const auto address = frame.find("image_addr");
    if (address != frame.end() && address->is_string()) addressTexts.insert(address->get<std::string>());
  }
  if (addressTexts.empty()) return {};
  std::vector<Properties> images;
  for (const auto& image : getImages(addressTexts)) images.push_back(image.toDictionary());
  return images;
}

}  // namespace dizizoz::DiziZozDebugImageProvider
