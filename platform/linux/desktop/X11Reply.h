#pragma once

#include <xcb/xcb.h>

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string_view>

namespace platform {

// A reply (or error) of xcb, which the caller frees with free().
template <class T>
struct XcbFree {
  void operator()(T* p) const { std::free(p); }
};
template <class T>
using XcbReply = std::unique_ptr<T, XcbFree<T>>;

// The atom named `name` on `connection`, made when it does not exist yet (one round trip); XCB_NONE when
// the server does not answer.
inline xcb_atom_t internAtom(xcb_connection_t* connection, std::string_view name) {
  XcbReply<xcb_intern_atom_reply_t> reply(xcb_intern_atom_reply(
      connection, xcb_intern_atom(connection, 0, static_cast<std::uint16_t>(name.size()), name.data()),
      nullptr));
  return reply ? reply->atom : XCB_NONE;
}

}  // namespace platform
