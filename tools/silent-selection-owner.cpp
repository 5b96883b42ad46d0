// silent-selection-owner [--clipboard]
//
// An X client that misbehaves as hung applications do: it maps a small window, gives it the keyboard
// focus, takes the PRIMARY selection, prints "ready" and then never answers a request for the
// selection's contents (nor anything else). It runs until terminated or until its standard input closes.
// With --clipboard it takes the CLIPBOARD selection instead, and leaves the keyboard focus where it is:
// an application in the background that copied something and then hung. For tests and for trying by hand
// what the program does when an application does not answer.
#include <poll.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

int main(int argc, char** argv) {
  const bool clipboard = argc > 1 && std::strcmp(argv[1], "--clipboard") == 0;
  int screenNumber = 0;
  xcb_connection_t* c = xcb_connect(nullptr, &screenNumber);
  if (xcb_connection_has_error(c)) {
    std::fprintf(stderr, "silent-selection-owner: no X server\n");
    return 1;
  }
  auto it = xcb_setup_roots_iterator(xcb_get_setup(c));
  for (int i = 0; i < screenNumber && it.rem; ++i) xcb_screen_next(&it);
  const xcb_screen_t* screen = it.data;

  const xcb_window_t window = xcb_generate_id(c);
  const std::uint32_t values[] = {screen->white_pixel, XCB_EVENT_MASK_EXPOSURE};
  xcb_create_window(c, XCB_COPY_FROM_PARENT, window, screen->root, 40, 40, 200, 60, 0,
                    XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual, XCB_CW_BACK_PIXEL | XCB_CW_EVENT_MASK,
                    values);
  xcb_map_window(c, window);
  xcb_flush(c);
  // Viewable before it may take the focus.
  while (xcb_generic_event_t* event = xcb_wait_for_event(c)) {
    const bool exposed = (event->response_type & 0x7f) == XCB_EXPOSE;
    std::free(event);
    if (exposed) break;
  }
  xcb_atom_t selection = XCB_ATOM_PRIMARY;
  if (clipboard) {
    auto* atom = xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, 9, "CLIPBOARD"), nullptr);
    selection = atom ? atom->atom : XCB_NONE;
    std::free(atom);
  } else {
    xcb_set_input_focus(c, XCB_INPUT_FOCUS_PARENT, window, XCB_CURRENT_TIME);
  }
  xcb_set_selection_owner(c, window, selection, XCB_CURRENT_TIME);
  auto* owner = xcb_get_selection_owner_reply(c, xcb_get_selection_owner(c, selection), nullptr);
  const bool owns = owner != nullptr && owner->owner == window;
  std::free(owner);
  if (!owns) {
    std::fprintf(stderr, "silent-selection-owner: could not take the selection\n");
    return 1;
  }
  std::printf("ready\n");
  std::fflush(stdout);

  // Reads its events so that the server keeps delivering them, and answers none.
  pollfd fds[] = {{xcb_get_file_descriptor(c), POLLIN, 0}, {STDIN_FILENO, POLLIN, 0}};
  for (;;) {
    if (poll(fds, 2, -1) < 0) continue;
    if (fds[1].revents != 0) {
      char buffer[64];
      if (read(STDIN_FILENO, buffer, sizeof buffer) <= 0) break;
    }
    while (xcb_generic_event_t* event = xcb_poll_for_event(c)) std::free(event);
    if (xcb_connection_has_error(c)) break;
  }
  xcb_disconnect(c);
  return 0;
}
