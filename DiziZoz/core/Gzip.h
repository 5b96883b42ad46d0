#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace dizizoz {

// A zlib compression level.
struct CompressionLevel {
  std::int32_t rawValue;

  static constexpr CompressionLevel noCompression() { return {0}; }
  static constexpr CompressionLevel bestSpeed() { return {1}; }
  static constexpr CompressionLevel bestCompression() { return {9}; }
  static constexpr CompressionLevel defaultCompression() { return {-1}; }
};

namespace Gzip {
inline constexpr int maxWindowBits = 15;
// Window bits that make zlib write a gzip header and trailer.
inline constexpr int gzipWindowBits = maxWindowBits + 16;
}  // namespace Gzip

struct GzipError {
  enum class Kind { unknown, stream, data, memory, buffer, version };
  Kind kind = Kind::unknown;
  int code = 0;  // zlib's return code
  std::string message;

  // Kind from zlib's code; `zlibMessage` (may be null) becomes the message, "Unknown gzip error" when
  // absent or not UTF-8.
  static GzipError fromZlib(int code, const char* zlibMessage);
};

struct GzipResult {
  std::vector<std::uint8_t> data;
  std::optional<GzipError> error;

  bool ok() const { return !error; }
};

// Deflates `input` (memory level 9, default strategy). The delivery client uses the default level and
// Gzip::gzipWindowBits for a gzip body. Empty input gives empty output, without a header.
// Any size is accepted: input above zlib's 32-bit counts is fed in chunks. May run on any thread.
GzipResult gzipped(std::span<const std::uint8_t> input,
                   CompressionLevel level = CompressionLevel::defaultCompression(),
                   int windowBits = Gzip::gzipWindowBits);
GzipResult gzipped(std::string_view input, CompressionLevel level = CompressionLevel::defaultCompression(),
                   int windowBits = Gzip::gzipWindowBits);

}  // namespace dizizoz
