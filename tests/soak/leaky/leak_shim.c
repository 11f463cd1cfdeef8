/* Leaking variants of the Linux saver, for the soak's own tests: preloaded
 * (LD_PRELOAD) into the real saver, this library makes it leak one thing,
 * chosen by QUILLOMIR_LEAK:
 *
 *   gc         an X GC created at every label paint (XDrawString), never freed
 *   expose     4 KiB of heap at every Expose event, never freed
 *   wl_buffer  every wl_buffer "destroyed" on the client side only
 *              (wl_proxy_destroy instead of the destroy request): the saver
 *              frees its own side, the compositor keeps the buffer and the
 *              pool's memory behind it
 *
 * Anything else (or nothing) leaves the saver as it is. */
#define _GNU_SOURCE
#include <X11/Xlib.h>
#include <dlfcn.h>
#include <stdarg.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#include <wayland-client-core.h>

static int leaking(const char* what) {
    const char* chosen = getenv("QUILLOMIR_LEAK");
    return chosen != NULL && strcmp(chosen, what) == 0;
}

static void* next(const char* name) {
    void* found = dlsym(RTLD_NEXT, name);
    if (found == NULL) {
        abort(); /* preloaded into a program that does not use it */
    }
    return found;
}

int XDrawString(Display* display, Drawable d, GC gc, int x, int y, const char* text, int length) {
    static int (*real)(Display*, Drawable, GC, int, int, const char*, int);
    if (real == NULL) {
        real = (int (*)(Display*, Drawable, GC, int, int, const char*, int))next("XDrawString");
    }
    if (leaking("gc")) {
        XCreateGC(display, d, 0, NULL);
    }
    return real(display, d, gc, x, y, text, length);
}

static void* volatile lost;

int XNextEvent(Display* display, XEvent* event) {
    static int (*real)(Display*, XEvent*);
    if (real == NULL) {
        real = (int (*)(Display*, XEvent*))next("XNextEvent");
    }
    int result = real(display, event);
    if (event->type == Expose && leaking("expose")) {
        /* Touched, so that it is resident; chained to a global, so that the
         * compiler cannot drop an allocation nobody reads. */
        void** block = malloc(4096);
        memset(block, 1, 4096);
        *block = (void*)lost;
        lost = block;
    }
    return result;
}

/* The request's arguments, passed on as they came. Every argument type of the
 * wire protocol travels in one 8-byte slot on x86-64 (ints in the low half of
 * it, as union wl_argument holds them), so reading each as a pointer and
 * handing the slots on keeps them; the message's signature decides how many
 * libwayland reads. */
#define MOST_ARGUMENTS 20

struct wl_proxy* wl_proxy_marshal_flags(struct wl_proxy* proxy, uint32_t opcode,
                                        const struct wl_interface* interface, uint32_t version,
                                        uint32_t flags, ...) {
    static struct wl_proxy* (*array)(struct wl_proxy*, uint32_t, const struct wl_interface*,
                                     uint32_t, uint32_t, union wl_argument*);
    if (array == NULL) {
        array = (struct wl_proxy * (*)(struct wl_proxy*, uint32_t, const struct wl_interface*,
                                       uint32_t, uint32_t, union wl_argument*))
            next("wl_proxy_marshal_array_flags");
    }
    if ((flags & WL_MARSHAL_FLAG_DESTROY) && leaking("wl_buffer") &&
        strcmp(wl_proxy_get_class(proxy), "wl_buffer") == 0) {
        wl_proxy_destroy(proxy);
        return NULL;
    }
    union wl_argument args[MOST_ARGUMENTS];
    va_list list;
    va_start(list, flags);
    for (int i = 0; i < MOST_ARGUMENTS; ++i) {
        args[i].o = va_arg(list, struct wl_object*);
    }
    va_end(list);
    return array(proxy, opcode, interface, version, flags, args);
}
