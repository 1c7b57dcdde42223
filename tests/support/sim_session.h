// sim_session.h - running whole sessions on the simulated platform.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

#include "orv5w32.h"
#include "platform/sim/sim.h"

namespace simtest {

using Bytes = std::vector<uint8_t>;

inline Bytes msg(uint8_t code, uint8_t hi = 0, uint8_t lo = 0) { return {0x10, code, hi, lo}; }

// What a block written by the library is.
enum class Kind { Enq, Eot, Ack, Nak, Header, Data, Other };
inline Kind kind_of(const uint8_t *b, size_t n)
{
    if (n >= 2 && b[0] == 0x10) {
        if (b[1] == 0x01)
            return Kind::Header;
        if (b[1] == 0x02)
            return Kind::Data;
        if (n == 4 && b[1] == 0x05)
            return Kind::Enq;
        if (n == 4 && b[1] == 0x04)
            return Kind::Eot;
        if (n == 4 && b[1] == 0x06)
            return Kind::Ack;
        if (n == 4 && b[1] == 0x15)
            return Kind::Nak;
    }
    return Kind::Other;
}

inline int count_kind(Kind k)
{
    int n = 0;
    for (const Bytes &w : sim::writes())
        n += kind_of(w.data(), w.size()) == k;
    return n;
}

// A temporary folder, removed with its files at the end of the test.
class TempDir {
public:
    TempDir();
    ~TempDir();
    std::string path(const std::string &name) const { return dir_ + "/" + name; }
    void write(const std::string &name, const std::string &bytes) const
    {
        std::ofstream(path(name), std::ios::binary) << bytes;
    }
    const std::string &dir() const { return dir_; }

private:
    std::string dir_;
};

// Base fixture: a fresh simulated platform for every test.  A session that
// hangs (see sim::HangWatch) is asked to abort, and the test fails with the
// protocol state it hung in, within seconds instead of at ctest's limit.
class SimSession : public ::testing::Test {
protected:
    void SetUp() override
    {
        sim::reset();
        sim::clear_hang_report();
        sim::HangWatch watch;
        watch.on_hang = [] { AbortOrv5(); };
        sim::watch_for_hangs(watch);
    }
    void TearDown() override
    {
        if (!sim::hang_report().empty())
            ADD_FAILURE() << sim::hang_report();
        sim::clear_hang_report();
        sim::stop_watching_for_hangs();
    }
    int exec(const std::string &text)
    {
        name[0] = '\0';
        return ExecOrv5(nullptr, text.c_str(), name);
    }
    TempDir tmp;
    char name[13] = "";
};

}   // namespace simtest
