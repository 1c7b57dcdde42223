// shim_main.cpp - runs the adapter tests with the modem-line shim preloaded.
//
// Pseudo-terminals have no modem lines; the shim (tests/wine/ptyshim.c)
// gives them some and logs every line, speed and write event.  It must be
// in place before the plug-ins are loaded, so the program starts itself
// again with LD_PRELOAD set when it is not.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <unistd.h>

#include "shim_env.h"

namespace {
constexpr const char ACTIVE_FLAG[] = "ORV5_ADAPTER_SHIM_ACTIVE";
}

const std::string &shim_log_path()
{
    static const std::string path = std::getenv("PTYSHIM_LOG") ? std::getenv("PTYSHIM_LOG") : "";
    return path;
}

void shim_log_append(const std::string &line)
{
    int fd = open(shim_log_path().c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0)
        return;
    std::string text = line + "\n";
    (void)!write(fd, text.data(), text.size());
    close(fd);
}

void shim_log_clear() { (void)!truncate(shim_log_path().c_str(), 0); }

std::string shim_log_text()
{
    std::ifstream in(shim_log_path());
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

int main(int argc, char **argv)
{
    if (std::getenv(ACTIVE_FLAG) == nullptr) {
        const char *tmp = std::getenv("TMPDIR");
        std::string log = std::string(tmp && *tmp ? tmp : "/tmp") + "/orv5_adapter_shim_" +
                          std::to_string(getpid()) + ".log";
        setenv("LD_PRELOAD", ORV5_PTYSHIM_PATH, 1);
        // In a sanitizer build the shim is loaded before the sanitizer's
        // runtime; the shim allocates nothing, so that order is harmless.
        std::string asan = "verify_asan_link_order=0";
        if (const char *given = getenv("ASAN_OPTIONS"))
            asan += std::string(":") + given;
        setenv("ASAN_OPTIONS", asan.c_str(), 1);
        setenv("PTYSHIM_LOG", log.c_str(), 1);
        setenv(ACTIVE_FLAG, "1", 1);
        execv("/proc/self/exe", argv);
        std::perror("adapter tests: cannot restart with the shim");
        return 1;
    }
    testing::InitGoogleTest(&argc, argv);
    int rc = RUN_ALL_TESTS();
    unlink(shim_log_path().c_str());
    return rc;
}
