#include "platform/linux/MachineIdFileIdentity.h"

#include <glib.h>

#include <fstream>
#include <sstream>

namespace platform {
namespace {

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::string_view trimSpace(std::string_view s) {
  const auto isSpace = [](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; };
  while (!s.empty() && isSpace(s.front())) s.remove_prefix(1);
  while (!s.empty() && isSpace(s.back())) s.remove_suffix(1);
  return s;
}

std::string formatUuid(const std::uint8_t* bytes) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(36);
  for (int i = 0; i < 16; ++i) {
    if (i == 4 || i == 6 || i == 8 || i == 10) out.push_back('-');
    out.push_back(kDigits[bytes[i] >> 4]);
    out.push_back(kDigits[bytes[i] & 0x0f]);
  }
  return out;
}

}  // namespace

// Fixed for the life of the application: changing it changes every installation's identifier.
const MachineIdFileIdentity::AppId MachineIdFileIdentity::kQuorvelleAppId = {
    0x05, 0x7c, 0xcd, 0x26, 0xec, 0x70, 0x4f, 0x0c, 0xa1, 0x20, 0x23, 0x8c, 0xd9, 0xf8, 0x9a, 0xce};

MachineIdFileIdentity::MachineIdFileIdentity(std::filesystem::path file, AppId appId)
    : file_(std::move(file)), appId_(appId) {}

std::optional<std::string> MachineIdFileIdentity::platformUUID() const {
  std::ifstream in(file_, std::ios::binary);
  if (!in) return std::nullopt;
  std::ostringstream content;
  content << in.rdbuf();
  if (in.bad()) return std::nullopt;
  return derive(content.str(), appId_);
}

std::optional<std::string> MachineIdFileIdentity::derive(std::string_view machineId, const AppId& appId) {
  machineId = trimSpace(machineId);
  if (machineId.size() != 32) return std::nullopt;
  std::uint8_t key[16];
  bool allZero = true;
  for (std::size_t i = 0; i < 16; ++i) {
    const int high = hexValue(machineId[2 * i]);
    const int low = hexValue(machineId[2 * i + 1]);
    if (high < 0 || low < 0) return std::nullopt;
    key[i] = static_cast<std::uint8_t>(high << 4 | low);
    allZero = allZero && key[i] == 0;
  }
  // An all-zero id is a placeholder of images that were never booted, shared by every copy.
  if (allZero) return std::nullopt;

  GHmac* hmac = g_hmac_new(G_CHECKSUM_SHA256, key, sizeof key);
  g_hmac_update(hmac, appId.data(), static_cast<gssize>(appId.size()));
  std::uint8_t digest[32];
  gsize length = sizeof digest;
  g_hmac_get_digest(hmac, digest, &length);
  g_hmac_unref(hmac);

  digest[6] = static_cast<std::uint8_t>((digest[6] & 0x0f) | 0x40);  // version 4
  digest[8] = static_cast<std::uint8_t>((digest[8] & 0x3f) | 0x80);  // RFC 4122 variant
  return formatUuid(digest);
}

}  // namespace platform
