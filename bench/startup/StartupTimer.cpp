// Usage: bench_startup_timer PROGRAM [ARGUMENT...]
// Starts PROGRAM and prints two figures: the milliseconds from the exec to
// the X server's first MapNotify of a top-level window, and the program's
// peak resident memory in KiB by then. The program is then ended.
#include <xcb/xcb.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <poll.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {
double nowMs()
{
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return double(t.tv_sec) * 1000.0 + double(t.tv_nsec) / 1e6;
}
} // namespace

int main(int argc, char* argv[])
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: bench_startup_timer PROGRAM [ARGUMENT...]\n");
        return 2;
    }
    xcb_connection_t* connection = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(connection)) {
        std::fprintf(stderr, "bench_startup_timer: cannot connect to the X display\n");
        return 2;
    }
    // Every window made on the root, the program's top-level ones among them.
    xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(connection)).data;
    const uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
    xcb_change_window_attributes(connection, screen->root, XCB_CW_EVENT_MASK, &mask);
    free(xcb_get_input_focus_reply(connection, xcb_get_input_focus(connection), nullptr));

    const double start = nowMs();
    const pid_t child = fork();
    if (child == 0) {
        execv(argv[1], argv + 1);
        std::perror("bench_startup_timer: exec");
        _exit(127);
    }
    // Waits for the map, or for the program to end without one.
    double mapped = -1;
    int status = 0;
    rusage usage{};
    bool ended = false;
    pollfd watch{xcb_get_file_descriptor(connection), POLLIN, 0};
    while (mapped < 0 && !ended) {
        while (xcb_generic_event_t* event = xcb_poll_for_event(connection)) {
            const bool map = (event->response_type & 0x7f) == XCB_MAP_NOTIFY &&
                             !reinterpret_cast<xcb_map_notify_event_t*>(event)->override_redirect;
            free(event);
            if (map && mapped < 0)
                mapped = nowMs() - start;
        }
        if (mapped < 0 && poll(&watch, 1, 50) == 0)
            ended = wait4(child, &status, WNOHANG, &usage) == child;
        if (xcb_connection_has_error(connection))
            break;
    }
    if (!ended) {
        kill(child, SIGTERM);
        wait4(child, &status, 0, &usage);
    }
    xcb_disconnect(connection);
    if (mapped < 0) {
        std::fprintf(stderr, "bench_startup_timer: %s never mapped a window\n", argv[1]);
        return 1;
    }
    std::printf("%.1f %ld\n", mapped, usage.ru_maxrss);
    return 0;
}
