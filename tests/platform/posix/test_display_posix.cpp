// The POSIX status line (with stderr on a pseudo-terminal, and not), the
// plug-in loader and the file-system facts.
#include <gtest/gtest.h>

#include <cstring>
#include <dlfcn.h>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <string>
#include <unistd.h>

#include "platform/fs.h"
#include "platform/library.h"
#include "platform/progress_window.h"

namespace {

const ProgressPlacement NOWHERE = {0, 0, 0};

// Runs draw() with stderr redirected to `target`, then puts stderr back.
template <typename F> void with_stderr(int target, F draw)
{
    int saved = dup(STDERR_FILENO);
    ASSERT_GE(saved, 0);
    dup2(target, STDERR_FILENO);
    draw();
    dup2(saved, STDERR_FILENO);
    close(saved);
}

std::string drain(int fd)
{
    std::string out;
    char buf[512];
    struct pollfd pfd = {fd, POLLIN, 0};
    while (poll(&pfd, 1, 200) > 0) {
        ssize_t r = read(fd, buf, sizeof buf);
        if (r <= 0)
            break;
        out.append(buf, static_cast<size_t>(r));
    }
    return out;
}

TEST(PosixProgress, DrawsOneLineInPlaceOnATerminal)
{
    PlatDisplay display{};   // the session's display, as its run-time record keeps it
    int master = -1, slave = -1;
    ASSERT_EQ(openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
    std::string created;
    with_stderr(slave, [&] {
        ASSERT_TRUE(plat_progress_create(display, nullptr, 1, "ZDX-Ir  Sending", NOWHERE, {}));
        created = drain(master);
        plat_progress_set_name(display, "DATA.TXT");
        plat_progress_show_counter(display, "00001 / 00002");
        plat_progress_destroy(display);
    });
    std::string out = drain(master);
    close(slave);
    close(master);
    EXPECT_EQ(created, "") << "nothing is drawn before there is something to show";
    EXPECT_NE(out.find("\rZDX-Ir  Sending  DATA.TXT  00001 / 00002\033[K"), std::string::npos)
        << out;
    EXPECT_EQ(out.back(), '\n') << "the line must be ended when the display goes";
}

TEST(PosixProgress, BarFillsItsShareAndNamesCannotSendEscapes)
{
    PlatDisplay display{};   // the session's display, as its run-time record keeps it
    int master = -1, slave = -1;
    ASSERT_EQ(openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
    // Two displays: within one, the second bar would follow the first too
    // soon to be drawn on its own.
    with_stderr(slave, [&] {
        ASSERT_TRUE(plat_progress_create(display, nullptr, 2, "ZDX-Ir  Receiving", NOWHERE, {}));
        plat_progress_set_name(display, "A\033]0;x\007");
        plat_progress_show_bar(display, 1, 3, " 33.3%");
        plat_progress_destroy(display);
        ASSERT_TRUE(plat_progress_create(display, nullptr, 2, "ZDX-Ir  Receiving", NOWHERE, {}));
        plat_progress_show_bar(display, 9, 3, "300.0%");   // more done than announced
        plat_progress_destroy(display);
    });
    std::string out = drain(master);
    close(slave);
    close(master);
    EXPECT_EQ(out.find('\007'), std::string::npos)
        << "control characters in a name reach the terminal";
    EXPECT_NE(out.find("A?]0;x?  [##########--------------------]  33.3%"), std::string::npos)
        << out;
    EXPECT_NE(out.find("[##############################] 300.0%"), std::string::npos) << out;
}

TEST(PosixProgress, SilentWhenStderrIsNoTerminal)
{
    PlatDisplay display{};   // the session's display, as its run-time record keeps it
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    fcntl(fds[0], F_SETFL, O_NONBLOCK);
    with_stderr(fds[1], [&] {
        ASSERT_TRUE(plat_progress_create(display, nullptr, 1, "ZDX-Ir  Sending", NOWHERE, {}));
        plat_progress_show_counter(display, "00000 / 00000");
        plat_progress_destroy(display);
    });
    close(fds[1]);
    EXPECT_EQ(drain(fds[0]), "");
    close(fds[0]);
}

TEST(PosixLibrary, LoadsResolvesAndFailsCleanly)
{
    EXPECT_EQ(plat_lib_load("/nonexistent/orv5_plugin.so"), nullptr);
    EXPECT_EQ(plat_lib_load(""), nullptr);
    // A bare name is looked up in the plug-in folder only, never on the
    // system's search path; a path is taken as given.
    EXPECT_EQ(plat_lib_load("libc.so.6"), nullptr);
    Dl_info libc;
    ASSERT_NE(dladdr(reinterpret_cast<void *>(&strlen), &libc), 0);
    void *lib = plat_lib_load(libc.dli_fname);
    ASSERT_NE(lib, nullptr);
    EXPECT_NE(plat_lib_symbol(lib, "strlen"), nullptr);
    EXPECT_EQ(plat_lib_symbol(lib, "InitIrDevice"), nullptr);
    plat_lib_free(lib);
}

TEST(PosixFs, SlashOnlyNoDrivesAndFreeSpace)
{
    EXPECT_TRUE(plat_path_is_sep('/'));
    EXPECT_FALSE(plat_path_is_sep('\\'));
    EXPECT_EQ(plat_path_drive_len("C:/DATA"), 0);
    EXPECT_GT(plat_disk_free(""), 0u);
    EXPECT_GT(plat_disk_free("/tmp"), 0u);
    EXPECT_EQ(plat_disk_free("/nonexistent/dir"), 0u);
}

}   // namespace
