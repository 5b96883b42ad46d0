#include "platform/linux/LinuxHostFacts.h"

#include <stdlib.h>
#include <sys/utsname.h>

#include <fstream>
#include <string_view>
#include <system_error>
#include <utility>

namespace platform {
namespace {

constexpr std::string_view zoneInfoMarker = "zoneinfo/";

std::string trimmed(std::string_view text) {
  const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; };
  while (!text.empty() && blank(text.front())) text.remove_prefix(1);
  while (!text.empty() && blank(text.back())) text.remove_suffix(1);
  return std::string(text);
}

std::optional<std::string> firstLine(const std::filesystem::path& path) {
  std::ifstream in(path);
  std::string line;
  if (!in || !std::getline(in, line)) return std::nullopt;
  std::string value = trimmed(line);
  if (value.empty()) return std::nullopt;
  return value;
}

// "…/zoneinfo/Europe/Berlin" -> "Europe/Berlin".
std::optional<std::string> zoneFromPath(std::string_view path) {
  const auto at = path.rfind(zoneInfoMarker);
  if (at == std::string_view::npos) return std::nullopt;
  std::string_view zone = path.substr(at + zoneInfoMarker.size());
  // The "posix/" and "right/" trees hold the same zones under other names.
  for (std::string_view tree : {"posix/", "right/"}) {
    if (zone.starts_with(tree)) zone.remove_prefix(tree.size());
  }
  if (zone.empty()) return std::nullopt;
  return std::string(zone);
}

std::optional<std::string> processEnvironment(const char* name) {
  const char* value = ::getenv(name);
  if (value == nullptr) return std::nullopt;
  return std::string(value);
}

std::string unameMachine() {
  utsname names{};
  if (::uname(&names) != 0) return {};
  return names.machine;
}

}  // namespace

LinuxHostFacts::LinuxHostFacts() : LinuxHostFacts(Sources{}) {}

LinuxHostFacts::LinuxHostFacts(Sources sources) : sources_(std::move(sources)) {
  if (!sources_.environment) sources_.environment = processEnvironment;
  if (!sources_.machine) sources_.machine = unameMachine;
}

std::string LinuxHostFacts::machine() const {
  return sources_.machine();
}

std::optional<std::string> LinuxHostFacts::dmiValue(const char* name) const {
  return firstLine(sources_.root / "sys/class/dmi/id" / name);
}

std::optional<std::string> LinuxHostFacts::manufacturer() const {
  return dmiValue("sys_vendor");
}

std::optional<std::string> LinuxHostFacts::productName() const {
  return dmiValue("product_name");
}

std::optional<std::string> LinuxHostFacts::localeLanguage() const {
  for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    const auto value = sources_.environment(name);
    if (!value || value->empty()) continue;
    // language[_territory][.codeset][@modifier]
    const std::string language = value->substr(0, value->find_first_of("_.@"));
    if (language.empty() || language == "C" || language == "POSIX") return std::nullopt;
    return language;
  }
  return std::nullopt;
}

std::string LinuxHostFacts::timeZone() const {
  if (auto tz = sources_.environment("TZ"); tz && !tz->empty()) {
    std::string_view value = *tz;
    if (value.front() == ':') value.remove_prefix(1);
    if (!value.empty() && value.front() != '/') return std::string(value);
    if (auto zone = zoneFromPath(value)) return *zone;
  }
  if (auto zone = firstLine(sources_.root / "etc/timezone")) return *zone;
  std::error_code ec;
  const auto target = std::filesystem::read_symlink(sources_.root / "etc/localtime", ec);
  if (!ec) {
    if (auto zone = zoneFromPath(target.string())) return *zone;
  }
  return "UTC";
}

const HostFacts& systemHostFacts() {
  static const auto* facts = new LinuxHostFacts();
  return *facts;
}

}  // namespace platform
