/* Starts a program and prints, in milliseconds, how long it took until a
 * top-level window of at least 200x200 pixels was mapped on the X display,
 * then the program's process id; the program is left running.
 *   map_watch PROGRAM [ARGS...]
 * Wine's X driver must run unmanaged (Managed=N): its windows are then
 * children of the root window, whose map events this watches. */
#define _POSIX_C_SOURCE 200809L
#include <X11/Xlib.h>
#include <poll.h>
#include <stdio.h>
#include <time.h>
#include <unistd.h>

static double Now(void) {
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return (double)t.tv_sec * 1e3 + (double)t.tv_nsec / 1e6;
}

int main(int argc, char** argv) {
    if (argc < 2) {
        fprintf(stderr, "usage: map_watch PROGRAM [ARGS...]\n");
        return 2;
    }
    Display* d = XOpenDisplay(NULL);
    if (d == NULL) {
        fprintf(stderr, "map_watch: no X display\n");
        return 1;
    }
    Window root = DefaultRootWindow(d);
    XSelectInput(d, root, SubstructureNotifyMask);
    XSync(d, False);
    const double start = Now();
    const pid_t child = fork();
    if (child == 0) {
        execvp(argv[1], argv + 1);
        _exit(127);
    }
    struct pollfd p = {ConnectionNumber(d), POLLIN, 0};
    while (Now() - start < 60000) {
        while (XPending(d) > 0) {
            XEvent e;
            XNextEvent(d, &e);
            if (e.type != MapNotify) continue;
            XWindowAttributes a;
            if (!XGetWindowAttributes(d, e.xmap.window, &a)) continue;
            if (a.width >= 200 && a.height >= 200) {
                fprintf(stderr, "map_watch: window 0x%lx, %dx%d\n", (unsigned long)e.xmap.window,
                        a.width, a.height);
                printf("%.1f %d\n", Now() - start, (int)child);
                return 0;
            }
        }
        poll(&p, 1, 100);
    }
    fprintf(stderr, "map_watch: no window in 60 s\n");
    printf("-1 %d\n", (int)child);
    return 1;
}
