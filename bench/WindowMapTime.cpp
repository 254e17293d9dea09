// Starts a program and tells how long after its start a top-level window
// with the given title was mapped on the X display named by DISPLAY. The
// program is left running; its output goes to LOG.
//
//   bench_window_map TITLE LOG PROGRAM [ARGUMENTS...]
//
// Prints "PID SECONDS", or exits with 1 when no such window came within 60 s.
#include <X11/Xlib.h>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>

extern char** environ;

int main(int argc, char** argv) {
  if (argc < 4) {
    std::fprintf(stderr, "usage: %s TITLE LOG PROGRAM [ARGUMENTS...]\n", argv[0]);
    return 2;
  }
  const char* title = argv[1];
  // A display that never answers ends the wait as well.
  alarm(75);
  Display* display = XOpenDisplay(nullptr);
  if (!display) {
    std::fprintf(stderr, "bench_window_map: cannot open the display\n");
    return 1;
  }
  // Top-level windows are the root's children: their mapping is reported
  // to whoever listens to the root's structure.
  XSelectInput(display, DefaultRootWindow(display), SubstructureNotifyMask);
  XSync(display, False);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, argv[2], O_WRONLY | O_CREAT | O_APPEND, 0644);
  posix_spawn_file_actions_adddup2(&actions, 1, 2);
  posix_spawn_file_actions_addclose(&actions, ConnectionNumber(display));
  const auto start = std::chrono::steady_clock::now();
  pid_t pid = 0;
  if (posix_spawn(&pid, argv[3], &actions, nullptr, argv + 3, environ) != 0) {
    std::perror("bench_window_map: posix_spawn");
    return 1;
  }
  posix_spawn_file_actions_destroy(&actions);

  const auto deadline = start + std::chrono::seconds(60);
  while (std::chrono::steady_clock::now() < deadline) {
    if (XPending(display) == 0) {
      pollfd p{ConnectionNumber(display), POLLIN, 0};
      poll(&p, 1, 100);
      continue;
    }
    XEvent event;
    XNextEvent(display, &event);
    if (event.type != MapNotify) continue;
    const auto mapped = std::chrono::steady_clock::now();
    char* name = nullptr;
    const bool match = XFetchName(display, event.xmap.window, &name) && name && std::strcmp(name, title) == 0;
    if (name) XFree(name);
    if (!match) continue;
    std::printf("%d %.3f\n", static_cast<int>(pid), std::chrono::duration<double>(mapped - start).count());
    XCloseDisplay(display);
    return 0;
  }
  std::fprintf(stderr, "bench_window_map: no window \"%s\" within 60 s\n", title);
  std::printf("%d -\n", static_cast<int>(pid));
  return 1;
}
