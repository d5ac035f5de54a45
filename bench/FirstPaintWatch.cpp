// Launches a program on the X display and tells when its main window is first painted:
//   tavo400-first-paint-watch [--settle MS] [--timeout MS] [--shot FILE] [--trace]
//                             -- PROGRAM [ARGS...]
// Prints, in milliseconds after the launch on the monotonic clock:
//   map=...  first-damage=...  settled=...
// "settled" is the last drawing before the window stayed unchanged for --settle ms (500),
// a caret blinking aside. --trace shows each map and drawing on stderr.
// The program is launched only once the watch is in place, so the launch time is exact,
// and ended (SIGTERM, then SIGKILL) once the window has settled. With --shot the program
// is stopped at its first drawing while `import -window root FILE` takes the screen.
// Exit status: 0 settled, 2 not settled within --timeout ms (30000), 1 other failures.
#include <xcb/damage.h>
#include <xcb/xcb.h>

#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <map>
#include <poll.h>
#include <set>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

// A window smaller than this is a helper (an input-method or clipboard window), not the
// program's main window.
constexpr int kMinSide = 100;
// A text caret blinks (every 500 ms in Qt and Wine alike): a small rectangle drawn again
// over itself a while later. That is not the window being drawn, and neither is the
// caret's first blink, so the watch goes on this much past the settling to tell one.
constexpr int kCaretSide = 32;
constexpr double kBlinkGapMs = 200;
constexpr double kCaretWaitMs = 600;

// The program is in a group of its own, out of reach of the terminal's Ctrl-C: the watch
// ends it on its way out.
volatile std::sig_atomic_t interrupted = 0;

void OnSignal(int) {
    interrupted = 1;
}

double NowMs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
}

struct Options {
    double settleMs = 500;
    double timeoutMs = 30000;
    std::string shot;
    bool trace = false;
    std::vector<char*> program;
};

[[noreturn]] void Usage(const char* why) {
    std::fprintf(stderr,
                 "tavo400-first-paint-watch: %s\n"
                 "usage: tavo400-first-paint-watch [--settle MS] [--timeout MS] [--shot FILE]"
                 " [--trace] -- PROGRAM [ARGS...]\n",
                 why);
    std::exit(64);
}

double PositiveMs(const char* text) {
    char* end = nullptr;
    const double value = std::strtod(text, &end);
    if (end == text || *end || !(value > 0))
        Usage("a time must be a positive number of milliseconds");
    return value;
}

Options Parse(int argc, char** argv) {
    Options o;
    int i = 1;
    for (; i < argc && std::strcmp(argv[i], "--") != 0; ++i) {
        const bool hasValue = i + 1 < argc;
        if (std::strcmp(argv[i], "--settle") == 0 && hasValue)
            o.settleMs = PositiveMs(argv[++i]);
        else if (std::strcmp(argv[i], "--timeout") == 0 && hasValue)
            o.timeoutMs = PositiveMs(argv[++i]);
        else if (std::strcmp(argv[i], "--trace") == 0)
            o.trace = true;
        else if (std::strcmp(argv[i], "--shot") == 0 && hasValue)
            o.shot = argv[++i];
        else
            Usage((std::string("unknown or incomplete option ") + argv[i]).c_str());
    }
    if (i + 1 >= argc)
        Usage("no program to launch");
    o.program.assign(argv + i + 1, argv + argc);
    o.program.push_back(nullptr);
    return o;
}

// In a process group of its own, so that what it forks ends with it. (Wine's own servers
// leave the group: they make sessions of their own.)
pid_t Spawn(char* const* argv, bool quiet) {
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
    posix_spawnattr_setpgroup(&attributes, 0);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (quiet) { // the program's chatter would mix with the figures
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    }
    pid_t pid = -1;
    const int rc = posix_spawnp(&pid, argv[0], &actions, &attributes, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    if (rc != 0) {
        std::fprintf(stderr, "tavo400-first-paint-watch: cannot launch %s: %s\n", argv[0],
                     std::strerror(rc));
        std::exit(1);
    }
    return pid;
}

void End(pid_t pid) {
    kill(-pid, SIGCONT);
    kill(-pid, SIGTERM);
    for (int i = 0; i < 300; ++i) { // 3 s to go quietly
        if (waitpid(pid, nullptr, WNOHANG) == pid) {
            kill(-pid, SIGKILL); // what it forked and left behind
            return;
        }
        usleep(10000);
    }
    kill(-pid, SIGKILL);
    waitpid(pid, nullptr, 0);
}

// The screen as it is at the program's first drawing: the program is held still meanwhile.
void Shoot(pid_t program, const std::string& file) {
    kill(-program, SIGSTOP);
    std::string target = "png:" + file;
    char* argv[] = {const_cast<char*>("import"), const_cast<char*>("-window"),
                    const_cast<char*>("root"), target.data(), nullptr};
    const pid_t shooter = Spawn(argv, false);
    waitpid(shooter, nullptr, 0);
    kill(-program, SIGCONT);
}

bool Overlap(const xcb_rectangle_t& a, const xcb_rectangle_t& b) {
    return a.x < b.x + b.width && b.x < a.x + a.width && a.y < b.y + b.height &&
           b.y < a.y + a.height;
}

struct Window {
    double mapped = -1; // ms after launch; -1 while unmapped
    double firstDamage = -1;
    bool main = false;
    struct Damage {
        double at;
        xcb_rectangle_t area;
    };
    std::vector<Damage> damages;

    bool Caret(const Damage& d) const {
        if (d.area.width > kCaretSide || d.area.height > kCaretSide)
            return false;
        for (const auto& other : damages)
            if (std::abs(other.at - d.at) >= kBlinkGapMs && other.area.width <= kCaretSide &&
                other.area.height <= kCaretSide && Overlap(other.area, d.area))
                return true;
        return false;
    }

    // The last drawing that was not a caret blinking, -1 if none.
    double Settled() const {
        for (auto d = damages.rbegin(); d != damages.rend(); ++d)
            if (!Caret(*d))
                return d->at;
        return -1;
    }
};

class Watch {
  public:
    explicit Watch(const Options& options) : options_(options) {
        int screenNumber = 0;
        conn_ = xcb_connect(nullptr, &screenNumber);
        if (xcb_connection_has_error(conn_))
            Fail("cannot open the X display (is DISPLAY set?)");
        auto it = xcb_setup_roots_iterator(xcb_get_setup(conn_));
        for (int i = 0; i < screenNumber; ++i)
            xcb_screen_next(&it);
        root_ = it.data->root;
        const auto* damage = xcb_get_extension_data(conn_, &xcb_damage_id);
        if (!damage || !damage->present)
            Fail("the X server has no DAMAGE extension");
        damageEvent_ = damage->first_event + XCB_DAMAGE_NOTIFY;
        std::free(xcb_damage_query_version_reply(
            conn_, xcb_damage_query_version(conn_, XCB_DAMAGE_MAJOR_VERSION, 0), nullptr));
        const uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
        xcb_change_window_attributes(conn_, root_, XCB_CW_EVENT_MASK, &mask);
        // Top-level windows made before the launch are not the program's.
        auto* tree = xcb_query_tree_reply(conn_, xcb_query_tree(conn_, root_), nullptr);
        if (tree) {
            const auto* children = xcb_query_tree_children(tree);
            for (int i = 0; i < xcb_query_tree_children_length(tree); ++i)
                foreign_.insert(children[i]);
            std::free(tree);
        }
    }

    ~Watch() { xcb_disconnect(conn_); }

    int Run() {
        start_ = NowMs();
        pid_ = Spawn(options_.program.data(), true);
        pollfd fd{xcb_get_file_descriptor(conn_), POLLIN, 0};
        for (;;) {
            const double now = NowMs() - start_;
            const double settled = main_ ? main_->Settled() : -1;
            const double until = settled + options_.settleMs + kCaretWaitMs;
            if (settled >= 0 && now >= until)
                break;
            if (now >= options_.timeoutMs) {
                End(pid_);
                std::fprintf(stderr, "tavo400-first-paint-watch: no window settled in %.0f ms\n",
                             options_.timeoutMs);
                return 2;
            }
            const double wait = (settled >= 0 ? until : options_.timeoutMs) - now;
            poll(&fd, 1, static_cast<int>(wait) + 1);
            if (interrupted)
                Fail("interrupted");
            while (xcb_generic_event_t* event = xcb_poll_for_event(conn_)) {
                Handle(event, NowMs() - start_);
                std::free(event);
            }
            if (xcb_connection_has_error(conn_))
                Fail("lost the X display");
            if (waitpid(pid_, nullptr, WNOHANG) == pid_) {
                pid_ = -1;
                Fail("the program ended before its window settled");
            }
        }
        End(pid_);
        std::printf("map=%.1f first-damage=%.1f settled=%.1f\n", main_->mapped, main_->firstDamage,
                    main_->Settled());
        return 0;
    }

  private:
    [[noreturn]] void Fail(const char* why) {
        std::fprintf(stderr, "tavo400-first-paint-watch: %s\n", why);
        if (pid_ > 0)
            End(pid_);
        std::exit(1);
    }

    // Watched from its creation, before the program can draw into it. Damage on a window
    // covers its subwindows too, so a child the program draws into is counted. Should the
    // window be shown already, the server reports it all damaged at once: that report is
    // the one made while it handles the request (the grab keeps the program's drawing
    // out of that moment), and is no drawing.
    void Track(xcb_window_t window) {
        if (foreign_.count(window) || windows_.count(window))
            return;
        windows_[window];
        const xcb_damage_damage_t damage = xcb_generate_id(conn_);
        xcb_grab_server(conn_);
        const auto created =
            xcb_damage_create(conn_, damage, window, XCB_DAMAGE_REPORT_LEVEL_RAW_RECTANGLES);
        xcb_ungrab_server(conn_);
        damages_[damage] = {window, static_cast<uint16_t>(created.sequence)};
        xcb_flush(conn_);
    }

    void Handle(xcb_generic_event_t* event, double at) {
        const uint8_t type = event->response_type & 0x7f;
        if (type == XCB_CREATE_NOTIFY) {
            const auto* e = reinterpret_cast<xcb_create_notify_event_t*>(event);
            if (e->parent == root_)
                Track(e->window);
        } else if (type == XCB_MAP_NOTIFY) {
            const auto* e = reinterpret_cast<xcb_map_notify_event_t*>(event);
            if (e->event != root_)
                return;
            Track(e->window);
            auto found = windows_.find(e->window);
            if (found == windows_.end() || found->second.mapped >= 0)
                return;
            found->second.mapped = at;
            if (options_.trace)
                std::fprintf(stderr, "%8.1f map 0x%x\n", at, e->window);
            if (!main_ && !e->override_redirect && LargeEnough(e->window)) {
                main_ = &found->second;
                main_->main = true;
            }
        } else if (type == damageEvent_) {
            const auto* e = reinterpret_cast<xcb_damage_notify_event_t*>(event);
            auto damaged = damages_.find(e->damage);
            if (damaged == damages_.end() || e->sequence == damaged->second.created)
                return;
            Window& w = windows_[damaged->second.window];
            if (options_.trace)
                std::fprintf(stderr, "%8.1f damage 0x%x %dx%d+%d+%d\n", at, damaged->second.window,
                             e->area.width, e->area.height, e->area.x, e->area.y);
            if (w.firstDamage < 0) {
                w.firstDamage = at;
                if (w.main && !options_.shot.empty())
                    Shoot(pid_, options_.shot);
            }
            w.damages.push_back({at, e->area});
        } else if (type == XCB_DESTROY_NOTIFY) {
            const auto* e = reinterpret_cast<xcb_destroy_notify_event_t*>(event);
            if (main_ && windows_.count(e->window) && &windows_[e->window] == main_)
                Fail("the main window went away before it settled");
        }
    }

    bool LargeEnough(xcb_window_t window) {
        auto* geometry = xcb_get_geometry_reply(conn_, xcb_get_geometry(conn_, window), nullptr);
        const bool large = geometry && geometry->width >= kMinSide && geometry->height >= kMinSide;
        std::free(geometry);
        return large;
    }

    const Options& options_;
    xcb_connection_t* conn_ = nullptr;
    xcb_window_t root_ = 0;
    uint8_t damageEvent_ = 0;
    double start_ = 0;
    pid_t pid_ = -1;
    std::set<xcb_window_t> foreign_;
    std::map<xcb_window_t, Window> windows_;
    struct Tracked {
        xcb_window_t window;
        uint16_t created; // the sequence number of the request that made the damage
    };
    std::map<xcb_damage_damage_t, Tracked> damages_;
    Window* main_ = nullptr;
};

} // namespace

int main(int argc, char** argv) {
    const Options options = Parse(argc, argv);
    struct sigaction action {};
    action.sa_handler = OnSignal; // no SA_RESTART: the wait for events returns at once
    for (int signal : {SIGINT, SIGTERM, SIGHUP})
        sigaction(signal, &action, nullptr);
    Watch watch(options);
    return watch.Run();
}
