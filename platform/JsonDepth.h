#pragma once

#include <cstddef>
#include <nlohmann/json.hpp>
#include <string_view>

namespace platform {

// A bound on how deeply arrays and objects may nest in JSON that the program reads from disk or from the
// network, and in values it walks.
//
// nlohmann::json parses any depth without recursion, but copying, comparing, writing and our own readers
// recurse once per level: a file or reply nested a hundred thousand levels deep (a megabyte of brackets)
// overflows the stack on its way through them. Nothing the program stores or receives comes near this
// bound, so text or a value deeper than it counts as malformed. Thread-safe, allocation-free.
inline constexpr std::size_t maxJsonDepth = 512;

// Whether JSON text nests arrays and objects more than `limit` levels deep (the top-level object or array
// is level 1). Brackets inside strings do not count. Linear, without recursion; text that is not JSON may
// give either answer (the parser rejects it anyway).
bool jsonTextNestsDeeperThan(std::string_view text, std::size_t limit = maxJsonDepth);

// Whether a value nests arrays and objects more than `limit` levels deep; walks without recursion and
// stops at the first path that is too deep.
bool jsonValueNestsDeeperThan(const nlohmann::json& value, std::size_t limit = maxJsonDepth);

// Parses JSON text without throwing: a discarded value (is_discarded()) when the text is not JSON or nests
// deeper than `limit`.
nlohmann::json parseBoundedJson(std::string_view text, std::size_t limit = maxJsonDepth);

}  // namespace platform
