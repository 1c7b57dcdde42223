// sim_misc.cpp - the simulated progress window and plug-ins.
#include <map>

#include "orv5_adapter.h"
#include "platform/library.h"
#include "platform/progress_window.h"
#include "platform/sim/sim_internal.h"

namespace sim {

namespace {
Window win;
bool create_fails = false;

// One display: the record in a PlatDisplay.  What it shows goes to win,
// the tests' view of the screen.
struct SimDisplay {
    bool exists;
    ProgressCallbacks calls;
};
// The display that exists, for click_abort; the tests' handle on the
// screen, as win is.
PlatDisplay *shown_display = nullptr;

struct Library {
    InitFn init;
    int loaded = 0;
};
std::map<std::string, Library> libraries;
intptr_t init_port = -1;

// The plug-in contract's entry, called through plat_lib_symbol: the
// handle is the library record, the port goes to its init.
Library *current_library;
}   // namespace

void reset_window()
{
    win = Window();
    create_fails = false;
    shown_display = nullptr;
}
Window &window() { return win; }
bool &window_create_fails() { return create_fails; }

bool click_abort()
{
    if (shown_display == nullptr)
        return false;
    const ProgressCallbacks &calls = plat_display_state<SimDisplay>(*shown_display).calls;
    if (calls.on_abort == nullptr)
        return false;
    calls.on_abort(calls.context);
    return true;
}

void reset_libraries()
{
    libraries.clear();
    init_port = -1;
}
void add_library(const std::string &path, InitFn init) { libraries[path] = Library{init}; }
int libraries_loaded()
{
    int n = 0;
    for (auto &entry : libraries)
        n += entry.second.loaded;
    return n;
}
intptr_t last_init_port() { return init_port; }

void reset()
{
    reset_line();
    reset_clock();
    reset_window();
    reset_libraries();
    reset_fs();
}

}   // namespace sim

using namespace sim;

bool plat_progress_create(PlatDisplay &display, void *, int dialog_mode, const char *title,
                          const ProgressPlacement &place, const ProgressCallbacks &calls)
{
    if (create_fails)
        return false;
    plat_display_state<SimDisplay>(display) = SimDisplay{true, calls};
    shown_display = &display;
    win.exists = true;
    win.mode = dialog_mode;
    win.title = title;
    win.x_flags = place.pos_flags;
    win.x = place.x;
    win.y = place.y;
    ++win.created;
    return true;
}

void plat_progress_set_name(PlatDisplay &, const char *text) { win.name = text; }

void plat_progress_show_counts(PlatDisplay &, uint32_t done, int32_t total, uint64_t bytes)
{
    win.counts.push_back({done, total, bytes});
}
void plat_progress_show_counter(PlatDisplay &, const char *text) { win.counter = text; }

void plat_progress_show_bar(PlatDisplay &, uint32_t done, int32_t total, const char *text)
{
    win.bar_done = done;
    win.bar_total = total;
    win.bar_text = text;
}

void plat_progress_destroy(PlatDisplay &display)
{
    SimDisplay &d = plat_display_state<SimDisplay>(display);
    if (d.exists) {
        ++win.destroyed;
        win.exists = false;
    }
    d = SimDisplay{};
    if (shown_display == &display)
        shown_display = nullptr;
}

// Plug-in entry with the contract's signature, bound to the library that
// was looked up last.
static int sim_init_ir_device(orv5_port_handle port)
{
    init_port = port;
    return current_library->init(port);
}

void *plat_lib_load(const char *path)
{
    auto it = libraries.find(path);
    if (it == libraries.end())
        return nullptr;
    ++it->second.loaded;
    return &it->second;
}

void *plat_lib_symbol(void *lib, const char *name)
{
    Library *library = static_cast<Library *>(lib);
    if (library->init == nullptr || std::string(name) != "InitIrDevice")
        return nullptr;
    current_library = library;
    return reinterpret_cast<void *>(&sim_init_ir_device);
}

void plat_lib_free(void *lib) { --static_cast<Library *>(lib)->loaded; }
