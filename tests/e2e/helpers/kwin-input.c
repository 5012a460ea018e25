/* Pointer and keyboard input for a KWin Wayland session under test, through
 * KWin's fake-input protocol (KWin grants it to any client when started with
 * KWIN_WAYLAND_NO_PERMISSION_CHECKS=1).
 *
 *   kwin-input click X Y      a left click at screen coordinates
 *   kwin-input right-click X Y  a right click there
 *   kwin-input keys KEY...    presses and releases each key in turn; a key is
 *                             a Linux key code or one of the names below,
 *                             and A+B holds A while B is pressed
 */
#include "fake-input-client-protocol.h"

#include <linux/input-event-codes.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <wayland-client.h>

static struct org_kde_kwin_fake_input* fake_input;

static void on_global(void* data, struct wl_registry* registry, uint32_t name,
                      const char* interface, uint32_t version) {
    (void)data;
    if (strcmp(interface, org_kde_kwin_fake_input_interface.name) == 0 && version >= 4)
        fake_input = wl_registry_bind(registry, name, &org_kde_kwin_fake_input_interface, 4);
}

static void on_global_remove(void* data, struct wl_registry* registry, uint32_t name) {
    (void)data;
    (void)registry;
    (void)name;
}

static const struct wl_registry_listener registry_listener = {on_global, on_global_remove};

/* Lets the compositor take each event in before the next one comes. */
static void pause_briefly(struct wl_display* display) {
    wl_display_roundtrip(display);
    struct timespec pause = {0, 60 * 1000 * 1000};
    nanosleep(&pause, NULL);
}

static const struct {
    const char* name;
    unsigned code;
} KEYS[] = {
    {"Down", KEY_DOWN},  {"Up", KEY_UP},       {"Return", KEY_ENTER},
    {"Escape", KEY_ESC}, {"Alt", KEY_LEFTALT}, {"Control", KEY_LEFTCTRL},
    {"F4", KEY_F4},      {"t", KEY_T},
};

static int key_code(const char* name, unsigned* code) {
    for (size_t i = 0; i < sizeof KEYS / sizeof KEYS[0]; i++) {
        if (strcmp(KEYS[i].name, name) == 0) {
            *code = KEYS[i].code;
            return 1;
        }
    }
    char* end;
    unsigned long value = strtoul(name, &end, 10);
    if (*name == '\0' || *end != '\0' || value > KEY_MAX)
        return 0;
    *code = (unsigned)value;
    return 1;
}

static int press_combo(struct wl_display* display, char* combo) {
    unsigned codes[4];
    int count = 0;
    for (char* part = strtok(combo, "+"); part; part = strtok(NULL, "+")) {
        if (count == 4 || !key_code(part, &codes[count])) {
            fprintf(stderr, "kwin-input: unknown key %s\n", part);
            return 0;
        }
        count++;
    }
    for (int i = 0; i < count; i++) {
        org_kde_kwin_fake_input_keyboard_key(fake_input, codes[i], WL_KEYBOARD_KEY_STATE_PRESSED);
        pause_briefly(display);
    }
    for (int i = count - 1; i >= 0; i--) {
        org_kde_kwin_fake_input_keyboard_key(fake_input, codes[i], WL_KEYBOARD_KEY_STATE_RELEASED);
        pause_briefly(display);
    }
    return 1;
}

int main(int argc, char** argv) {
    const int right = argc > 1 && strcmp(argv[1], "right-click") == 0;
    if (argc < 2 || ((right || strcmp(argv[1], "click") == 0) && argc != 4)) {
        fprintf(stderr, "usage: kwin-input [right-]click X Y | kwin-input keys KEY...\n");
        return 2;
    }
    struct wl_display* display = wl_display_connect(NULL);
    if (!display) {
        fprintf(stderr, "kwin-input: no Wayland display\n");
        return 1;
    }
    struct wl_registry* registry = wl_display_get_registry(display);
    wl_registry_add_listener(registry, &registry_listener, NULL);
    wl_display_roundtrip(display);
    if (!fake_input) {
        fprintf(stderr, "kwin-input: the compositor offers no fake input\n");
        return 1;
    }
    org_kde_kwin_fake_input_authenticate(fake_input, "end-to-end tests",
                                         "drives the desktop under test");

    int ok = 1;
    if (right || strcmp(argv[1], "click") == 0) {
        const uint32_t button = right ? BTN_RIGHT : BTN_LEFT;
        org_kde_kwin_fake_input_pointer_motion_absolute(
            fake_input, wl_fixed_from_double(atof(argv[2])), wl_fixed_from_double(atof(argv[3])));
        pause_briefly(display);
        org_kde_kwin_fake_input_button(fake_input, button, WL_POINTER_BUTTON_STATE_PRESSED);
        pause_briefly(display);
        org_kde_kwin_fake_input_button(fake_input, button, WL_POINTER_BUTTON_STATE_RELEASED);
        pause_briefly(display);
    } else if (strcmp(argv[1], "keys") == 0) {
        for (int i = 2; i < argc && ok; i++)
            ok = press_combo(display, argv[i]);
    } else {
        fprintf(stderr, "kwin-input: unknown command %s\n", argv[1]);
        ok = 0;
    }
    org_kde_kwin_fake_input_destroy(fake_input);
    wl_registry_destroy(registry);
    wl_display_roundtrip(display);
    wl_display_disconnect(display);
    return ok ? 0 : 1;
}
