// temp_dir.cpp - temporary folders for tests.
#include <cstdlib>
#include <filesystem>

#include "sim_session.h"

namespace simtest {

TempDir::TempDir()
{
    char tmpl[] = "/tmp/orv5test.XXXXXX";
    const char *made = ::mkdtemp(tmpl);
    dir_ = made ? made : "/tmp";
}

TempDir::~TempDir()
{
    std::error_code ec;
    if (dir_ != "/tmp")
        std::filesystem::remove_all(dir_, ec);
}

}   // namespace simtest
