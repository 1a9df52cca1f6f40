// SPDX-License-Identifier: MIT
// A Wayland client that prints what a compositor delivers to it, one line per event, for
// the desktop virtual machine check (.ci/wayland-vm.sh). Its one window, in a tiling
// compositor with no borders, covers the whole output: surface coordinates are output
// coordinates. Line-buffered, so a reader sees each event as it comes:
//   key TEXT             a key press's text through the compositor's keymap, layout group
//                        and modifiers (dead keys composed), escaped for printf %b
//   key ctrl+z           a key pressed with Control down, by the key's symbol
//   raw 30 down at 12.345  each key as it came, evdev code and wall-clock seconds (modulo
//                        1000): a key that typed nothing still shows here
//   keymap               a keymap from the compositor (at the start, at a layout change)
//   capabilities 0x3     the seat's devices changed (keyboard 0x2, pointer 0x1)
//   keyboard enter ...   the keyboard focus came, with how many keys were down; or left
//   modifiers depressed=0x1 latched=0 locked=0 group=0
//   motion X Y           pointer motion or entry, in the client's surface coordinates
//   button left pressed  left, right, middle; pressed, released
#define _GNU_SOURCE  // memfd_create
#include <linux/input-event-codes.h>
#include <locale.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <time.h>
#include <unistd.h>
#include <wayland-client.h>
#include <xkbcommon/xkbcommon-compose.h>
#include <xkbcommon/xkbcommon.h>

#include "xdg-shell-client-protocol.h"

struct probe {
  struct wl_compositor* compositor;
  struct wl_shm* shm;
  struct xdg_wm_base* wm_base;
  struct wl_seat* seat;
  struct wl_keyboard* keyboard;
  struct wl_pointer* pointer;
  struct wl_surface* surface;
  struct xkb_context* xkb;
  struct xkb_state* state;
  struct xkb_compose_state* compose;
  int width, height;
};

static void fail(const char* what) {
  fprintf(stderr, "wayland_probe: %s\n", what);
  exit(1);
}

// A white buffer of the configured size: a compositor shows a window only once it has one.
static void attach_buffer(struct probe* p) {
  int stride = p->width * 4, size = stride * p->height;
  int fd = memfd_create("wayland_probe", MFD_CLOEXEC);
  if (fd < 0 || ftruncate(fd, size) < 0) fail("no shared memory for the window");
  void* pixels = mmap(NULL, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  if (pixels == MAP_FAILED) fail("cannot map the window's memory");
  memset(pixels, 0xff, size);
  munmap(pixels, size);
  struct wl_shm_pool* pool = wl_shm_create_pool(p->shm, fd, size);
  struct wl_buffer* buffer =
      wl_shm_pool_create_buffer(pool, 0, p->width, p->height, stride, WL_SHM_FORMAT_XRGB8888);
  wl_shm_pool_destroy(pool);
  close(fd);
  wl_surface_attach(p->surface, buffer, 0, 0);
  wl_surface_damage(p->surface, 0, 0, p->width, p->height);
  wl_surface_commit(p->surface);
}

static void print_text(const char* text) {
  fputs("key ", stdout);
  for (const unsigned char* c = (const unsigned char*)text; *c; ++c) {
    if (*c == '\\') fputs("\\\\", stdout);
    else if (*c < 0x20 || *c == 0x7f) printf("\\x%02x", *c);
    else putchar(*c);
  }
  putchar('\n');
}

static void keyboard_keymap(void* data, struct wl_keyboard*, uint32_t format, int fd,
                            uint32_t size) {
  struct probe* p = data;
  if (format != WL_KEYBOARD_KEYMAP_FORMAT_XKB_V1) fail("the compositor sent no xkb keymap");
  char* text = mmap(NULL, size, PROT_READ, MAP_PRIVATE, fd, 0);
  close(fd);
  if (text == MAP_FAILED) fail("cannot map the keymap");
  struct xkb_keymap* keymap = xkb_keymap_new_from_string(
      p->xkb, text, XKB_KEYMAP_FORMAT_TEXT_V1, XKB_KEYMAP_COMPILE_NO_FLAGS);
  munmap(text, size);
  if (!keymap) fail("cannot compile the compositor's keymap");
  xkb_state_unref(p->state);
  p->state = xkb_state_new(keymap);
  xkb_keymap_unref(keymap);
  puts("keymap");
}

static void keyboard_key(void* data, struct wl_keyboard*, uint32_t, uint32_t, uint32_t key,
                         uint32_t pressed) {
  struct probe* p = data;
  struct timespec now;
  clock_gettime(CLOCK_REALTIME, &now);
  printf("raw %u %s%s at %ld.%03ld\n", key, pressed == WL_KEYBOARD_KEY_STATE_PRESSED ? "down" : "up",
         p->state ? "" : " (no keymap)", now.tv_sec % 1000, now.tv_nsec / 1000000);
  if (!p->state || pressed != WL_KEYBOARD_KEY_STATE_PRESSED) return;
  xkb_keycode_t code = key + 8;  // evdev to XKB key codes
  xkb_keysym_t sym = xkb_state_key_get_one_sym(p->state, code);
  char text[64] = "";
  if (xkb_state_mod_name_is_active(p->state, XKB_MOD_NAME_CTRL, XKB_STATE_MODS_EFFECTIVE) > 0) {
    xkb_keysym_get_name(sym, text, sizeof text);
    printf("key ctrl+%s\n", text);
    return;
  }
  if (p->compose && xkb_compose_state_feed(p->compose, sym) == XKB_COMPOSE_FEED_ACCEPTED) {
    enum xkb_compose_status status = xkb_compose_state_get_status(p->compose);
    if (status == XKB_COMPOSE_COMPOSING) return;
    if (status != XKB_COMPOSE_NOTHING) {  // composed, or cancelled with no text
      xkb_compose_state_get_utf8(p->compose, text, sizeof text);
      xkb_compose_state_reset(p->compose);
      if (text[0]) print_text(text);
      return;
    }
  }
  xkb_state_key_get_utf8(p->state, code, text, sizeof text);
  if (text[0]) print_text(text);
}

static void keyboard_modifiers(void* data, struct wl_keyboard*, uint32_t, uint32_t depressed,
                               uint32_t latched, uint32_t locked, uint32_t group) {
  struct probe* p = data;
  if (p->state) xkb_state_update_mask(p->state, depressed, latched, locked, 0, 0, group);
  printf("modifiers depressed=%#x latched=%#x locked=%#x group=%u\n", depressed, latched,
         locked, group);
}

static void keyboard_enter(void*, struct wl_keyboard*, uint32_t, struct wl_surface*,
                           struct wl_array* keys) {
  printf("keyboard enter with %zu keys down\n", keys->size / sizeof(uint32_t));
}
static void keyboard_leave(void*, struct wl_keyboard*, uint32_t, struct wl_surface*) {
  puts("keyboard leave");
}
static void keyboard_repeat_info(void*, struct wl_keyboard*, int32_t, int32_t) {}
static const struct wl_keyboard_listener keyboard_listener = {
    .keymap = keyboard_keymap, .enter = keyboard_enter, .leave = keyboard_leave,
    .key = keyboard_key, .modifiers = keyboard_modifiers, .repeat_info = keyboard_repeat_info};

static void pointer_enter(void*, struct wl_pointer*, uint32_t, struct wl_surface*, wl_fixed_t x,
                          wl_fixed_t y) {
  printf("motion %.10g %.10g\n", wl_fixed_to_double(x), wl_fixed_to_double(y));
}

static void pointer_motion(void*, struct wl_pointer*, uint32_t, wl_fixed_t x, wl_fixed_t y) {
  printf("motion %.10g %.10g\n", wl_fixed_to_double(x), wl_fixed_to_double(y));
}

static void pointer_button(void*, struct wl_pointer*, uint32_t, uint32_t, uint32_t button,
                           uint32_t state) {
  const char* name = button == BTN_LEFT ? "left" : button == BTN_RIGHT ? "right" : "middle";
  printf("button %s %s\n", name, state == WL_POINTER_BUTTON_STATE_PRESSED ? "pressed" : "released");
}

static void pointer_leave(void*, struct wl_pointer*, uint32_t, struct wl_surface*) {}
static void pointer_axis(void*, struct wl_pointer*, uint32_t, uint32_t, wl_fixed_t) {}
static const struct wl_pointer_listener pointer_listener = {
    .enter = pointer_enter, .leave = pointer_leave, .motion = pointer_motion,
    .button = pointer_button, .axis = pointer_axis};

static void seat_capabilities(void* data, struct wl_seat* seat, uint32_t capabilities) {
  struct probe* p = data;
  printf("capabilities %#x\n", capabilities);
  if ((capabilities & WL_SEAT_CAPABILITY_KEYBOARD) && !p->keyboard) {
    p->keyboard = wl_seat_get_keyboard(seat);
    wl_keyboard_add_listener(p->keyboard, &keyboard_listener, p);
  }
  if ((capabilities & WL_SEAT_CAPABILITY_POINTER) && !p->pointer) {
    p->pointer = wl_seat_get_pointer(seat);
    wl_pointer_add_listener(p->pointer, &pointer_listener, p);
  }
}

static void seat_name(void*, struct wl_seat*, const char*) {}
static const struct wl_seat_listener seat_listener = {.capabilities = seat_capabilities,
                                                      .name = seat_name};

static void wm_base_ping(void*, struct xdg_wm_base* wm_base, uint32_t serial) {
  xdg_wm_base_pong(wm_base, serial);
}
static const struct xdg_wm_base_listener wm_base_listener = {.ping = wm_base_ping};

static void surface_configure(void* data, struct xdg_surface* surface, uint32_t serial) {
  xdg_surface_ack_configure(surface, serial);
  attach_buffer(data);
}
static const struct xdg_surface_listener surface_listener = {.configure = surface_configure};

static void toplevel_configure(void* data, struct xdg_toplevel*, int32_t width, int32_t height,
                               struct wl_array*) {
  struct probe* p = data;
  if (width > 0 && height > 0) p->width = width, p->height = height;
}
static void toplevel_close(void*, struct xdg_toplevel*) { exit(0); }
// Bound at version 1: configure_bounds and wm_capabilities never come.
static const struct xdg_toplevel_listener toplevel_listener = {.configure = toplevel_configure,
                                                               .close = toplevel_close};

static void registry_global(void* data, struct wl_registry* registry, uint32_t name,
                            const char* interface, uint32_t) {
  struct probe* p = data;
  if (!strcmp(interface, wl_compositor_interface.name)) {
    p->compositor = wl_registry_bind(registry, name, &wl_compositor_interface, 4);
  } else if (!strcmp(interface, wl_shm_interface.name)) {
    p->shm = wl_registry_bind(registry, name, &wl_shm_interface, 1);
  } else if (!strcmp(interface, xdg_wm_base_interface.name)) {
    p->wm_base = wl_registry_bind(registry, name, &xdg_wm_base_interface, 1);
    xdg_wm_base_add_listener(p->wm_base, &wm_base_listener, p);
  } else if (!strcmp(interface, wl_seat_interface.name) && !p->seat) {
    // Version 4: a wl_pointer without the frame events of later versions.
    p->seat = wl_registry_bind(registry, name, &wl_seat_interface, 4);
    wl_seat_add_listener(p->seat, &seat_listener, p);
  }
}
static void registry_global_remove(void*, struct wl_registry*, uint32_t) {}
static const struct wl_registry_listener registry_listener = {
    .global = registry_global, .global_remove = registry_global_remove};

int main(void) {
  setvbuf(stdout, NULL, _IOLBF, 0);
  struct probe p = {.width = 640, .height = 480};
  struct wl_display* display = wl_display_connect(NULL);
  if (!display) fail("no Wayland display (WAYLAND_DISPLAY)");
  p.xkb = xkb_context_new(XKB_CONTEXT_NO_FLAGS);
  // Dead keys composed as a desktop application composes them (C stands for en_US.UTF-8).
  const char* locale = setlocale(LC_CTYPE, "");
  struct xkb_compose_table* table = xkb_compose_table_new_from_locale(
      p.xkb, locale ? locale : "C", XKB_COMPOSE_COMPILE_NO_FLAGS);
  if (table) p.compose = xkb_compose_state_new(table, XKB_COMPOSE_STATE_NO_FLAGS);
  struct wl_registry* registry = wl_display_get_registry(display);
  wl_registry_add_listener(registry, &registry_listener, &p);
  wl_display_roundtrip(display);
  if (!p.compositor || !p.shm || !p.wm_base || !p.seat) fail("the compositor lacks a global");
  p.surface = wl_compositor_create_surface(p.compositor);
  struct xdg_surface* xdg_surface = xdg_wm_base_get_xdg_surface(p.wm_base, p.surface);
  xdg_surface_add_listener(xdg_surface, &surface_listener, &p);
  struct xdg_toplevel* toplevel = xdg_surface_get_toplevel(xdg_surface);
  xdg_toplevel_add_listener(toplevel, &toplevel_listener, &p);
  xdg_toplevel_set_title(toplevel, "wayland_probe");
  wl_surface_commit(p.surface);
  while (wl_display_dispatch(display) != -1) {
  }
  return 0;
}
