// fake_tray: takes the notification area of the X display (the system tray
// selection), announces it as a tray starting up does, prints "tray", and
// prints "docked" and ends when an icon asks to dock.
#include <xcb/xcb.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {
xcb_atom_t atom(xcb_connection_t* c, const std::string& name)
{
    xcb_intern_atom_reply_t* r =
        xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, uint16_t(name.size()), name.c_str()), nullptr);
    const xcb_atom_t a = r ? r->atom : XCB_ATOM_NONE;
    std::free(r);
    return a;
}
} // namespace

int main()
{
    int screenNumber = 0;
    xcb_connection_t* c = xcb_connect(nullptr, &screenNumber);
    if (xcb_connection_has_error(c))
        return 2;
    xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(c));
    for (int i = 0; i < screenNumber; ++i)
        xcb_screen_next(&it);
    xcb_screen_t* screen = it.data;
    const xcb_window_t tray = xcb_generate_id(c);
    xcb_create_window(c, XCB_COPY_FROM_PARENT, tray, screen->root, 0, 0, 1, 1, 0,
                      XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual, 0, nullptr);
    const xcb_atom_t selection = atom(c, "_NET_SYSTEM_TRAY_S" + std::to_string(screenNumber));
    xcb_set_selection_owner(c, tray, selection, XCB_CURRENT_TIME);

    xcb_client_message_event_t manager;
    std::memset(&manager, 0, sizeof manager);
    manager.response_type = XCB_CLIENT_MESSAGE;
    manager.format = 32;
    manager.window = screen->root;
    manager.type = atom(c, "MANAGER");
    manager.data.data32[0] = XCB_CURRENT_TIME;
    manager.data.data32[1] = selection;
    manager.data.data32[2] = tray;
    xcb_send_event(c, 0, screen->root, XCB_EVENT_MASK_STRUCTURE_NOTIFY,
                   reinterpret_cast<const char*>(&manager));
    xcb_flush(c);
    std::puts("tray");
    std::fflush(stdout);

    const xcb_atom_t opcode = atom(c, "_NET_SYSTEM_TRAY_OPCODE");
    while (xcb_generic_event_t* e = xcb_wait_for_event(c)) {
        const bool docking = (e->response_type & 0x7f) == XCB_CLIENT_MESSAGE &&
                             reinterpret_cast<xcb_client_message_event_t*>(e)->type == opcode &&
                             reinterpret_cast<xcb_client_message_event_t*>(e)->data.data32[1] == 0;
        std::free(e);
        if (docking) {
            std::puts("docked");
            std::fflush(stdout);
            xcb_disconnect(c);
            return 0;
        }
    }
    xcb_disconnect(c);
    return 1;
}
