// test_plugins.cpp - the four plug-ins on a pseudo-terminal, watched
// through the modem-line shim: lines, speeds, bytes, waits, and the port
// they leave behind.
#include <gtest/gtest.h>

#include <cstring>
#include <dlfcn.h>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <string>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include "line_log.h"
#include "orv5_adapter.h"
#include "shim_env.h"

namespace {

const char *const MODELS[] = {"Orv5EESI", "Orv5AIRM", "Orv5KKCI", "Orv5FMIR"};

struct Speed {
    uint32_t baud;
    speed_t code;
};
constexpr Speed SPEEDS[] = {
    {1200, B1200},   {2400, B2400},   {4800, B4800},   {9600, B9600},
    {19200, B19200}, {38400, B38400}, {57600, B57600}, {115200, B115200},
};

speed_t code_of(uint32_t baud)
{
    for (const Speed &s : SPEEDS)
        if (s.baud == baud)
            return s.code;
    return B0;
}

uint32_t baud_of(speed_t code)
{
    for (const Speed &s : SPEEDS)
        if (s.code == code)
            return s.baud;
    return 0;
}

std::string plugin_path(const std::string &model)
{
    return std::string(ORV5_PLUGIN_BUILD_DIR) + "/" + model + ".so";
}

// A loaded plug-in.
struct Plugin {
    void *lib = nullptr;
    orv5_init_ir_device_fn init = nullptr;
    orv5_get_dll_version_fn name = nullptr;

    explicit Plugin(const std::string &model)
    {
        lib = dlopen(plugin_path(model).c_str(), RTLD_NOW | RTLD_LOCAL);
        if (lib == nullptr)
            return;
        init = reinterpret_cast<orv5_init_ir_device_fn>(dlsym(lib, "InitIrDevice"));
        name = reinterpret_cast<orv5_get_dll_version_fn>(dlsym(lib, "GetDllVersion"));
    }
    ~Plugin()
    {
        if (lib != nullptr)
            dlclose(lib);
    }
};

// A pseudo-terminal set up as the session leaves its port: raw, at the
// session's speed, RTS and DTR on, non-blocking.
struct Pty {
    int master = -1, port = -1;

    explicit Pty(uint32_t baud)
    {
        if (openpty(&master, &port, nullptr, nullptr, nullptr) != 0)
            return;
        termios t;
        tcgetattr(port, &t);
        cfmakeraw(&t);
        cfsetispeed(&t, code_of(baud));
        cfsetospeed(&t, code_of(baud));
        tcsetattr(port, TCSANOW, &t);
        int lines = TIOCM_RTS | TIOCM_DTR;
        ioctl(port, TIOCMBIS, &lines);
        fcntl(port, F_SETFL, fcntl(port, F_GETFL) | O_NONBLOCK);
        fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
    }
    ~Pty()
    {
        close(port);
        close(master);
    }

    PortState state() const
    {
        termios t;
        int lines = 0;
        tcgetattr(port, &t);
        ioctl(port, TIOCMGET, &lines);
        return PortState{baud_of(cfgetospeed(&t)), (lines & TIOCM_RTS) != 0,
                         (lines & TIOCM_DTR) != 0};
    }

    // What the plug-in sent towards the adapter.
    std::string sent() const
    {
        std::string out;
        char buf[64];
        ssize_t n;
        while ((n = read(master, buf, sizeof buf)) > 0)
            out.append(buf, static_cast<size_t>(n));
        return out;
    }

    // Bytes waiting for the session to read.
    int pending_input() const
    {
        int n = -1;
        ioctl(port, FIONREAD, &n);
        return n;
    }
};

struct CallResult {
    int rc;
    PortState after;
    std::vector<LineEvent> events;
};

CallResult run_init(Plugin &plugin, Pty &pty, const std::string &label)
{
    shim_log_append("mark call " + label);
    int rc = plugin.init(pty.port);
    shim_log_append("mark return " + label);
    return CallResult{rc, pty.state(), call_events(parse_line_log(shim_log_text()), label)};
}

std::string faults_text(const std::vector<std::string> &faults)
{
    std::string s;
    for (const std::string &f : faults)
        s += "\n  " + f;
    return s;
}

class Plugins : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_FALSE(shim_log_path().empty());
        shim_log_clear();
    }
    void TearDown() override
    {
        unsetenv("PTYSHIM_FAIL_WRITES");
        unsetenv("PTYSHIM_FAIL_LINES");
    }
};

// Every speed of each table: the procedure step by step.  The adapter's
// answers waiting at the start are purged and never reach the session.
TEST_F(Plugins, EverySpeedOfEveryTable)
{
    for (const char *model : MODELS) {
        Plugin plugin(model);
        ASSERT_NE(plugin.init, nullptr) << model << ": " << dlerror();
        for (uint32_t baud : model_speeds(model)) {
            Pty pty(baud);
            ASSERT_GE(pty.port, 0);
            ASSERT_EQ(write(pty.master, "\x06\x15", 2), 2);   // an adapter's stray answer
            // On a loaded machine the bytes take a while to reach the port;
            // they must be there before the call that purges them.
            for (int i = 0; i < 1000 && pty.pending_input() < 2; ++i)
                usleep(1000);
            std::string label = std::string(model) + "@" + std::to_string(baud);
            CallResult r = run_init(plugin, pty, label);
            auto faults = check_init_call(model, PortState{baud, true, true}, r.rc, r.events,
                                          r.after, CheckOptions{});
            EXPECT_TRUE(faults.empty()) << label << faults_text(faults);
            EXPECT_EQ(pty.pending_input(), std::strcmp(model, "Orv5EESI") == 0 ? 2 : 0) << label;

            // What reached the line matches what the log says was written.
            std::string logged;
            for (const LineEvent &e : r.events)
                if (e.kind == LineEvent::WRITE)
                    logged.append(e.bytes.begin(), e.bytes.end());
            EXPECT_EQ(pty.sent(), logged) << label;
        }
    }
}

TEST_F(Plugins, SpeedsOutsideTheTableAreRefusedUntouched)
{
    struct Case {
        const char *model;
        uint32_t baud;
    };
    const Case cases[] = {
        {"Orv5EESI", 2400}, {"Orv5EESI", 38400}, {"Orv5EESI", 57600},
        {"Orv5AIRM", 1200}, {"Orv5KKCI", 4800},  {"Orv5FMIR", 1200},
    };
    for (const Case &c : cases) {
        Plugin plugin(c.model);
        Pty pty(c.baud);
        std::string label = std::string(c.model) + "@" + std::to_string(c.baud);
        CallResult r = run_init(plugin, pty, label);
        EXPECT_EQ(r.rc, ORV5_ADAPTER_BAD_SPEED) << label;
        auto faults = check_init_call(c.model, PortState{c.baud, true, true}, r.rc, r.events,
                                      r.after, CheckOptions{});
        EXPECT_TRUE(faults.empty()) << label << faults_text(faults);
        EXPECT_EQ(pty.sent(), "") << label;
    }
}

// A command byte that never left gives -1 (not "ready"), and the port is
// back at the session's speed.
TEST_F(Plugins, FailedCommandWriteFailsAndRestoresTheSpeed)
{
    for (const char *model : {"Orv5AIRM", "Orv5KKCI"}) {
        Plugin plugin(model);
        Pty pty(115200);
        setenv("PTYSHIM_FAIL_WRITES", "1", 1);
        CallResult r = run_init(plugin, pty, std::string(model) + "-write");
        unsetenv("PTYSHIM_FAIL_WRITES");
        EXPECT_EQ(r.rc, ORV5_ADAPTER_PORT_FAILED) << model;
        EXPECT_EQ(r.after.baud, 115200u) << model;
        EXPECT_EQ(pty.sent(), "") << model;
    }
}

// A line request refused after the switch to 9600 bit/s: -1, and the port
// is not left at 9600.
TEST_F(Plugins, LineFailureAfterTheSwitchRestoresTheSpeed)
{
    Plugin plugin("Orv5FMIR");
    Pty pty(57600);
    setenv("PTYSHIM_FAIL_LINES", "1", 1);
    CallResult r = run_init(plugin, pty, "FMIR-lines");
    unsetenv("PTYSHIM_FAIL_LINES");
    EXPECT_EQ(r.rc, ORV5_ADAPTER_PORT_FAILED);
    EXPECT_EQ(r.after.baud, 57600u);
    bool switched = false;
    for (const LineEvent &e : r.events)
        switched |= e.kind == LineEvent::SPEED && e.to == 9600;
    EXPECT_TRUE(switched) << "the failure came before the switch; nothing to restore";

    Plugin esi("Orv5EESI");
    Pty esi_pty(9600);
    setenv("PTYSHIM_FAIL_LINES", "1", 1);
    EXPECT_EQ(esi.init(esi_pty.port), ORV5_ADAPTER_PORT_FAILED);
}

TEST_F(Plugins, NotATerminalFails)
{
    int pipe_fds[2];
    ASSERT_EQ(pipe(pipe_fds), 0);
    for (const char *model : MODELS) {
        Plugin plugin(model);
        EXPECT_EQ(plugin.init(pipe_fds[1]), ORV5_ADAPTER_PORT_FAILED) << model;
        EXPECT_EQ(plugin.init(-1), ORV5_ADAPTER_PORT_FAILED) << model;
    }
    close(pipe_fds[0]);
    close(pipe_fds[1]);
}

TEST_F(Plugins, DeviceNamesWithTheirSpacing)
{
    const char *const names[] = {"Extended Systems  ESI-9680", "Alps  Ir MultiStation",
                                 "Kansai  KC-IR1", "Fujitsu FMIR-102"};
    for (int i = 0; i < 4; ++i) {
        Plugin plugin(MODELS[i]);
        ASSERT_NE(plugin.name, nullptr) << MODELS[i];
        char buf[ORV5_ADAPTER_NAME_SIZE + 8];
        std::memset(buf, '#', sizeof buf);
        EXPECT_EQ(plugin.name(buf), buf);
        EXPECT_STREQ(buf, names[i]);
        EXPECT_LE(std::strlen(buf) + 1, static_cast<size_t>(ORV5_ADAPTER_NAME_SIZE));
        EXPECT_EQ(plugin.name(nullptr), nullptr) << MODELS[i];
    }
}

}   // namespace
