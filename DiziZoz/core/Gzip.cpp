#include "DiziZoz/core/Gzip.h"

#include <zlib.h>

#include <algorithm>
#include <limits>

namespace dizizoz {
namespace {

constexpr std::size_t outputStep = 16384;
constexpr int memoryLevel = 9;

bool isValidUtf8(std::string_view text) {
  // zlib messages are short ASCII texts; anything beyond ASCII is treated as unreadable.
  return std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

}  // namespace

GzipError GzipError::fromZlib(int code, const char* zlibMessage) {
  GzipError error;
  error.code = code;
  switch (code) {
    case Z_STREAM_ERROR:
      error.kind = Kind::stream;
      break;
    case Z_DATA_ERROR:
      error.kind = Kind::data;
      break;
    case Z_MEM_ERROR:
      error.kind = Kind::memory;
      break;
    case Z_BUF_ERROR:
      error.kind = Kind::buffer;
      break;
    case Z_VERSION_ERROR:
      error.kind = Kind::version;
      break;
    default:
      error.kind = Kind::unknown;
      break;
  }
  if (zlibMessage != nullptr && isValidUtf8(zlibMessage)) {
    error.message = zlibMessage;
  } else {
    error.message = "Unknown gzip error";
  }
  return error;
}

GzipResult gzipped(std::span<const std::uint8_t> input, CompressionLevel level, int windowBits) {
  GzipResult result;
  if (input.empty()) return result;

  z_stream stream{};
  int status = deflateInit2(&stream, level.rawValue, Z_DEFLATED, windowBits, memoryLevel, Z_DEFAULT_STRATEGY);
  if (status != Z_OK) {
    result.error = GzipError::fromZlib(status, stream.msg);
    return result;
  }

  constexpr std::size_t maxChunk = std::numeric_limits<uInt>::max();
  std::size_t consumed = 0;
  std::vector<std::uint8_t>& output = result.data;
  output.resize(outputStep);
  do {
    if (stream.total_out >= output.size()) output.resize(output.size() + outputStep);
    // zlib counts in 32 bits: larger inputs are handed over in chunks, finishing with the last one.
    const std::size_t available = std::min(input.size() - consumed, maxChunk);
    stream.next_in = const_cast<Bytef*>(input.data() + consumed);
    stream.avail_in = static_cast<uInt>(available);
    stream.next_out = output.data() + stream.total_out;
    stream.avail_out = static_cast<uInt>(std::min<std::size_t>(output.size() - stream.total_out, maxChunk));
    const bool last = consumed + available == input.size();
    status = deflate(&stream, last ? Z_FINISH : Z_NO_FLUSH);
    consumed += available - stream.avail_in;
  } while (status == Z_OK);

  const int endStatus = deflateEnd(&stream);
  if (status != Z_STREAM_END || endStatus != Z_OK) {
    result.error = GzipError::fromZlib(status, stream.msg);
    result.data.clear();
    return result;
  }
  output.resize(stream.total_out);
  return result;
}

GzipResult gzipped(std::string_view input, CompressionLevel level, int windowBits) {
  return gzipped(std::span(reinterpret_cast<const std::uint8_t*>(input.data()), input.size()), level,
                 windowBits);
}

}  // namespace dizizoz
