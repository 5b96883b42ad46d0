#pragma once

// The report writer's protobuf encoder: one field at a time straight into the async file, with no
// message tree and no buffer. Nested messages are written in two passes: the body's writer runs once
// without a file to learn its size, the field's tag and that size are packed as a message field, and
// the body's writer runs again with the file.
//
// async-signal-safe.

#include <protobuf-c/protobuf-c.h>

#include <cstddef>
#include <cstdint>

#include "DZCrashReporter/core/DZCrashAsyncFile.h"

namespace dzcrash {

// Packs one field: the tag (field << 3 | wire type) as a varint, then the value by its protobuf-c
// type. `value` points at the value: an int32_t for INT32, SINT32 and SFIXED32; a uint32_t for UINT32,
// FIXED32 and ENUM; int64_t or uint64_t likewise; a float or double; a bool for BOOL; the characters
// of a NUL-terminated string for STRING; a ProtobufCBinaryData for BYTES; for MESSAGE the body's size as
// a uint32_t (only the tag and size are written). A negative INT32 takes ten bytes, as protobuf
// requires; SINT32 and SINT64 are zigzag encoded; fixed widths are little-endian. Returns the bytes
// written, or that would be written when `file` is null; the file's own results are not checked. An
// unknown type is a programming error and aborts. async-signal-safe.
size_t DZcrash_writer_pack(dzcrash_async_file_t* file, uint32_t field_id, ProtobufCType type,
                           const void* value);

// Packs a message field whose body `write_body(file)` writes and sizes (with a null file it only
// sizes). Returns the field's whole size. async-signal-safe when the body is.
template <class WriteBody>
size_t DZcrash_writer_pack_message(dzcrash_async_file_t* file, uint32_t field_id, WriteBody&& write_body) {
  const auto size = static_cast<uint32_t>(write_body(nullptr));
  const size_t head = DZcrash_writer_pack(file, field_id, PROTOBUF_C_TYPE_MESSAGE, &size);
  if (file != nullptr) write_body(file);
  return head + size;
}

}  // namespace dzcrash
