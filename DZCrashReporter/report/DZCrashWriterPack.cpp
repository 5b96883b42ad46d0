#include "DZCrashReporter/report/DZCrashWriterPack.h"

#include <cstdlib>

#include "DZCrashReporter/core/DZCrashAsync.h"

namespace dzcrash {

namespace {

constexpr uint32_t kWireVarint = 0;
constexpr uint32_t kWire64Bit = 1;
constexpr uint32_t kWireLengthDelimited = 2;
constexpr uint32_t kWire32Bit = 5;

// At most ten bytes.
size_t encodeVarint(uint64_t value, uint8_t* out) {
  size_t n = 0;
  do {
    uint8_t byte = value & 0x7F;
    value >>= 7;
    if (value != 0) byte |= 0x80;
    out[n++] = byte;
  } while (value != 0);
  return n;
}

size_t emit(dzcrash_async_file_t* file, const void* bytes, size_t length) {
  if (file != nullptr && length > 0) DZcrash_async_file_write(file, bytes, length);
  return length;
}

size_t emitVarint(dzcrash_async_file_t* file, uint64_t value) {
  uint8_t buffer[10];
  return emit(file, buffer, encodeVarint(value, buffer));
}

size_t emitLittleEndian(dzcrash_async_file_t* file, uint64_t value, size_t width) {
  uint8_t buffer[8];
  for (size_t i = 0; i < width; ++i) buffer[i] = static_cast<uint8_t>(value >> (8 * i));
  return emit(file, buffer, width);
}

template <class T>
T load(const void* value) {
  T out;
  DZcrash_async_memcpy(&out, value, sizeof(out));
  return out;
}

uint32_t wireType(ProtobufCType type) {
  switch (type) {
    case PROTOBUF_C_TYPE_SFIXED32:
    case PROTOBUF_C_TYPE_FIXED32:
    case PROTOBUF_C_TYPE_FLOAT:
      return kWire32Bit;
    case PROTOBUF_C_TYPE_SFIXED64:
    case PROTOBUF_C_TYPE_FIXED64:
    case PROTOBUF_C_TYPE_DOUBLE:
      return kWire64Bit;
    case PROTOBUF_C_TYPE_STRING:
    case PROTOBUF_C_TYPE_BYTES:
    case PROTOBUF_C_TYPE_MESSAGE:
      return kWireLengthDelimited;
    default:
      return kWireVarint;
  }
}

}  // namespace

size_t DZcrash_writer_pack(dzcrash_async_file_t* file, uint32_t field_id, ProtobufCType type,
                           const void* value) {
  if (static_cast<unsigned>(type) > PROTOBUF_C_TYPE_MESSAGE) abort();
  // Computed in 64 bits: a field number of 2^29 or more does not fit a 32-bit tag.
  size_t n = emitVarint(file, static_cast<uint64_t>(field_id) << 3 | wireType(type));
  switch (type) {
    case PROTOBUF_C_TYPE_INT32:
      // Sign-extended: a negative value takes ten bytes.
      return n + emitVarint(file, static_cast<uint64_t>(static_cast<int64_t>(load<int32_t>(value))));
    case PROTOBUF_C_TYPE_SINT32: {
      const auto v = load<int32_t>(value);
      return n + emitVarint(file, (static_cast<uint32_t>(v) << 1) ^ static_cast<uint32_t>(v >> 31));
    }
    case PROTOBUF_C_TYPE_SFIXED32:
    case PROTOBUF_C_TYPE_FIXED32:
    case PROTOBUF_C_TYPE_FLOAT:
      return n + emitLittleEndian(file, load<uint32_t>(value), 4);
    case PROTOBUF_C_TYPE_INT64:
    case PROTOBUF_C_TYPE_UINT64:
      return n + emitVarint(file, load<uint64_t>(value));
    case PROTOBUF_C_TYPE_SINT64: {
      const auto v = load<int64_t>(value);
      return n + emitVarint(file, (static_cast<uint64_t>(v) << 1) ^ static_cast<uint64_t>(v >> 63));
    }
    case PROTOBUF_C_TYPE_SFIXED64:
    case PROTOBUF_C_TYPE_FIXED64:
    case PROTOBUF_C_TYPE_DOUBLE:
      return n + emitLittleEndian(file, load<uint64_t>(value), 8);
    case PROTOBUF_C_TYPE_UINT32:
    case PROTOBUF_C_TYPE_ENUM:
      return n + emitVarint(file, load<uint32_t>(value));
    case PROTOBUF_C_TYPE_BOOL: {
      const uint8_t byte = load<bool>(value) ? 1 : 0;
      return n + emit(file, &byte, 1);
    }
    case PROTOBUF_C_TYPE_STRING: {
      const auto* text = static_cast<const char*>(value);
      size_t length = 0;
      while (text[length] != '\0') ++length;
      n += emitVarint(file, length);
      return n + emit(file, text, length);
    }
    case PROTOBUF_C_TYPE_BYTES: {
      const auto data = load<ProtobufCBinaryData>(value);
      n += emitVarint(file, data.len);
      return n + emit(file, data.data, data.len);
    }
    case PROTOBUF_C_TYPE_MESSAGE:
      return n + emitVarint(file, load<uint32_t>(value));
  }
  abort();
}

}  // namespace dzcrash
