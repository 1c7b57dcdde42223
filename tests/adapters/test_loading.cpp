// test_loading.cpp - the library's plug-in loader on the POSIX platform:
// result codes, unloading, and where a bare name is looked up.
#include <gtest/gtest.h>

#include <cstring>
#include <dlfcn.h>
#include <fcntl.h>
#include <pty.h>
#include <string>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include "link/adapter.h"
#include "orv5w32.h"
#include "platform/library.h"
#include "shim_env.h"

namespace {

std::string plugin(const char *model)
{
    return std::string(ORV5_PLUGIN_BUILD_DIR) + "/" + model + ".so";
}
std::string test_plugin(const char *name)
{
    return std::string(ORV5_TEST_PLUGIN_DIR) + "/" + name + ".so";
}

bool still_loaded(const std::string &path)
{
    if (path.empty())
        return false;   // dlopen would name the program itself
    void *lib = dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD);
    if (lib == nullptr)
        return false;
    dlclose(lib);
    return true;
}

// A pseudo-terminal whose slave side is also open as the library's port
// object, as a session hands it to load_adapter.
struct Port {
    int master = -1, fd = -1;
    char name[128] = {};
    PlatPort object{};
    plat_port port = PLAT_PORT_INVALID;
    explicit Port(speed_t speed)
    {
        openpty(&master, &fd, name, nullptr, nullptr);
        termios t;
        tcgetattr(fd, &t);
        cfmakeraw(&t);
        cfsetspeed(&t, speed);
        tcsetattr(fd, TCSANOW, &t);
        int lines = TIOCM_RTS | TIOCM_DTR;
        ioctl(fd, TIOCMBIS, &lines);
        port = plat_port_open(object, name);
    }
    ~Port()
    {
        plat_port_close(port);
        close(fd);
        close(master);
    }
    speed_t speed() const
    {
        termios t;
        tcgetattr(fd, &t);
        return cfgetospeed(&t);
    }
};

TEST(AdapterLoading, ResultCodesAndNothingLeftLoaded)
{
    struct Case {
        std::string path;
        speed_t speed;
        int expected;
    };
    const Case cases[] = {
        {plugin("Orv5EESI"), B9600, 0},
        {plugin("Orv5AIRM"), B115200, 0},
        {plugin("Orv5EESI"), B38400, ORV5_E_ADAPTER_SPEED},
        {plugin("Orv5KKCI"), B4800, ORV5_E_ADAPTER_SPEED},
        {test_plugin("failing"), B9600, ORV5_E_ADAPTER_FAILED},
        {test_plugin("noinit"), B9600, ORV5_E_ADAPTER_LOAD},
        {test_plugin("no_such_plugin"), B9600, ORV5_E_ADAPTER_LOAD},
        {"/etc/passwd", B9600, ORV5_E_ADAPTER_LOAD},
        {"", B9600, 0},
    };
    for (const Case &c : cases) {
        Port port(c.speed);
        EXPECT_EQ(load_adapter(c.path.c_str(), port.port), c.expected) << c.path;
        EXPECT_FALSE(still_loaded(c.path)) << c.path;
        EXPECT_EQ(port.speed(), c.speed) << c.path;
    }
}

// A bare name is looked up only in the plug-in folder beside the library
// (here: beside this test program, where there is none), never in the
// current folder.
TEST(AdapterLoading, BareNameIsNotLookedUpInTheCurrentFolder)
{
    char cwd[PLAT_LIB_PATH_SIZE];
    ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
    ASSERT_EQ(chdir(ORV5_TEST_PLUGIN_DIR), 0);
    Port port(B9600);
    int rc = load_adapter("failing.so", port.port);
    int rc_bare = load_adapter("failing", port.port);
    int rc_path = load_adapter("./failing.so", port.port);
    ASSERT_EQ(chdir(cwd), 0);
    EXPECT_EQ(rc, ORV5_E_ADAPTER_LOAD);
    EXPECT_EQ(rc_bare, ORV5_E_ADAPTER_LOAD);
    EXPECT_EQ(rc_path, ORV5_E_ADAPTER_FAILED);   // a path is used as given
}

// The plug-in folder "orv5w32" beside the library that asks: a library
// copied into a scratch tree finds the plug-ins of that tree.
TEST(AdapterLoading, PluginFolderBesideTheLibrary)
{
    char tmpl[] = "/tmp/orv5_plugin_dir_XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    std::string root = tmpl, dir = root + "/orv5w32";
    ASSERT_EQ(mkdir(dir.c_str(), 0755), 0);
    std::string host = root + "/libhost.so", kkci = dir + "/Orv5KKCI.so";
    ASSERT_EQ(symlink(test_plugin("failing").c_str(), host.c_str()), 0);
    ASSERT_EQ(symlink(plugin("Orv5KKCI").c_str(), kkci.c_str()), 0);

    void *lib = dlopen(host.c_str(), RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(lib, nullptr);
    const void *anchor = dlsym(lib, "InitIrDevice");
    char path[PLAT_LIB_PATH_SIZE];
    EXPECT_TRUE(plat_plugin_resolve(anchor, "Orv5KKCI", path, sizeof path));
    EXPECT_EQ(std::string(path), kkci);
    EXPECT_TRUE(plat_plugin_resolve(anchor, "Orv5KKCI.so", path, sizeof path));
    EXPECT_EQ(std::string(path), kkci);
    EXPECT_FALSE(plat_plugin_resolve(anchor, "Orv5EESI", path, sizeof path));
    EXPECT_FALSE(plat_plugin_resolve(anchor, "", path, sizeof path));
    EXPECT_TRUE(plat_plugin_resolve(anchor, "sub/x.so", path, sizeof path));
    EXPECT_EQ(std::string(path), "sub/x.so");
    char tiny[8];
    EXPECT_FALSE(plat_plugin_resolve(anchor, "Orv5KKCI", tiny, sizeof tiny));

    PluginDirs dirs;
    plat_plugin_dirs(anchor, dirs);
    ASSERT_EQ(dirs.count, 2);
    EXPECT_EQ(std::string(dirs.dir[0]), dir);
    EXPECT_EQ(std::string(dirs.dir[1]), ORV5_PLUGIN_INSTALL_DIR);
    dlclose(lib);

    unlink(kkci.c_str());
    unlink(host.c_str());
    rmdir(dir.c_str());
    rmdir(root.c_str());
}

}   // namespace
