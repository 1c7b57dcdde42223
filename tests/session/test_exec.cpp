// The session driver: entry checks, the guard, resources and their order.
#include <cstring>
#include <string>
#include <thread>

#include "orv5_adapter.h"
#include "sim_session.h"

using namespace simtest;

namespace {

class Exec : public SimSession {
protected:
    // A sending session that parses and then meets a silent line (-L1:
    // gives up after 1 s of virtual time) unless the test answers.
    std::string sending()
    {
        tmp.write("DATA.TXT", "ABC\r\n");
        return "+F3 -L1 " + tmp.path("DATA.TXT");
    }
    // A receiving session into the test's folder, on a silent line.
    std::string receiving() { return "+R -L1 " + tmp.path("(file)"); }
};

int plugin_ready(orv5_port_handle) { return ORV5_ADAPTER_READY; }
int plugin_port_failed(orv5_port_handle) { return ORV5_ADAPTER_PORT_FAILED; }
int plugin_bad_speed(orv5_port_handle) { return ORV5_ADAPTER_BAD_SPEED; }
int plugin_odd(orv5_port_handle) { return 7; }

}   // namespace

// --- the command text ---------------------------------------------------------

TEST_F(Exec, CommandTextLengthLimits)
{
    EXPECT_EQ(ExecOrv5(nullptr, nullptr, name), 9);
    EXPECT_EQ(exec(""), 9);
    std::string text = "-R" + std::string(1014, ' ');   // 1016 characters
    EXPECT_EQ(exec(text), 1);                           // parsed: no file to send
    EXPECT_EQ(exec(text + " "), 9);                     // 1017
    EXPECT_EQ(exec("-R"), 1);                           // the next call is accepted
    EXPECT_FALSE(sim::port_is_open());
    EXPECT_TRUE(sim::writes().empty());
}

TEST_F(Exec, ParserFailureNeverOpensThePort)
{
    EXPECT_EQ(exec("-Q"), 9);
    EXPECT_EQ(sim::opened_com_number(), 0u);
}

TEST_F(Exec, NullNameBufferIsTolerated)
{
    sim::set_peer([](const uint8_t *b, size_t n) {
        if (kind_of(b, n) != Kind::Other)
            sim::deliver(msg(0x06), 1);
    });
    tmp.write("DATA.TXT", "ABC\r\n");
    EXPECT_EQ(ExecOrv5(nullptr, ("+F3 " + tmp.path("DATA.TXT")).c_str(), nullptr), 0);
}

TEST_F(Exec, VersionText)
{
    char buf[8] = "xxxxxxx";
    EXPECT_EQ(GetOrv5DllVersion(buf), buf);
    EXPECT_STREQ(buf, "1.01S");
}

// --- the guard and abort ------------------------------------------------------------

TEST_F(Exec, AbortWithoutSessionIsForgotten)
{
    EXPECT_EQ(AbortOrv5(), 0);
    EXPECT_EQ(exec(sending()), 52);   // not 90
}

TEST_F(Exec, NestedCallsAreRefusedAndAbortAnswersTheDirection)
{
    int nested = -1, abort_answer = -1;
    sim::on_pump([&] {
        if (nested < 0) {
            char other[13];
            nested = ExecOrv5(nullptr, "-R", other);
            abort_answer = AbortOrv5();
        }
    });
    EXPECT_EQ(exec(sending()), 90);
    EXPECT_EQ(nested, 60);
    EXPECT_EQ(abort_answer, 60);
}

TEST_F(Exec, NestedCallDuringAReceivingSessionGets61)
{
    int nested = -1;
    sim::on_pump([&] {
        if (nested < 0)
            nested = ExecOrv5(nullptr, "-R", nullptr);
    });
    exec("+R " + tmp.path("(file)"));
    EXPECT_EQ(nested, 61);
}

TEST_F(Exec, ConcurrentCallFromAnotherThreadIsRefused)
{
    int other = -1;
    sim::on_pump([&] {
        if (other < 0) {
            std::thread t([&] { other = ExecOrv5(nullptr, "-R", nullptr); });
            t.join();
        }
    });
    exec(sending());
    EXPECT_EQ(other, 60);
}

// --- port, plug-in, window, timer ------------------------------------------------------

TEST_F(Exec, PortNumberAndLineSettings)
{
    exec("-P10 -B19200 " + sending());
    EXPECT_EQ(sim::opened_com_number(), 10u);
    EXPECT_EQ(sim::last_mode(), "COM10:19200,n,8,1");
    EXPECT_FALSE(sim::port_is_open());
}

TEST_F(Exec, PortFailures)
{
    sim::faults().open_fails = true;
    EXPECT_EQ(exec(sending()), 75);
    EXPECT_EQ(sim::window().created, 0);

    sim::reset();
    sim::faults().configure_fails = true;
    EXPECT_EQ(exec(sending()), 9);
    EXPECT_FALSE(sim::port_is_open());
    EXPECT_EQ(sim::window().created, 0);

    sim::reset();
    EXPECT_EQ(exec("+R -P0"), 75);
}

TEST_F(Exec, AdapterResultsAndUnloading)
{
    struct Case {
        const char *path;
        sim::InitFn init;
        int expected;
    };
    const Case cases[] = {
        {"ready.so", plugin_ready, 52},   // runs, then the silent line
        {"noexport.so", nullptr, 81},       {"failed.so", plugin_port_failed, 80},
        {"speed.so", plugin_bad_speed, 82}, {"odd.so", plugin_odd, 80},
        {"missing.so", nullptr, 81},
    };
    for (const Case &c : cases) {
        sim::reset();
        if (std::strcmp(c.path, "missing.so") != 0)
            sim::add_library(c.path, c.init);
        EXPECT_EQ(exec(std::string("+I") + c.path + " " + sending()), c.expected) << c.path;
        EXPECT_EQ(sim::libraries_loaded(), 0) << c.path;
        EXPECT_FALSE(sim::port_is_open()) << c.path;
        if (c.expected != 52) {
            EXPECT_EQ(sim::window().created, 0) << c.path;
        }
    }
}

TEST_F(Exec, EmptyAdapterPathRunsNothing)
{
    EXPECT_EQ(exec("+I " + sending()), 52);
    EXPECT_EQ(exec("+Ix.so -I " + sending()), 52);
}

TEST_F(Exec, WindowFailureGives99AndClosesThePort)
{
    sim::window_create_fails() = true;
    EXPECT_EQ(exec(sending()), 99);
    EXPECT_FALSE(sim::port_is_open());
    EXPECT_FALSE(sim::timer_exists());
    EXPECT_TRUE(sim::writes().empty());
}

TEST_F(Exec, TimerFailureGives74AndReleasesTheWindow)
{
    sim::timer_faults().arm_fails = true;
    EXPECT_EQ(exec(sending()), 74);
    EXPECT_EQ(sim::window().destroyed, 1);
    EXPECT_FALSE(sim::port_is_open());
}

// A timer that cannot be armed once the transfer runs ends the session
// with 74 as well, the terminal told with an EOT, instead of waits that
// measure nothing.
TEST_F(Exec, TimerFailingDuringTheTransferEnds74)
{
    sim::timer_faults().arm_fails_after = 2;   // the start and the first disarm go through
    EXPECT_EQ(exec(sending()), 74);
    EXPECT_EQ(count_kind(Kind::Eot), 1);
    EXPECT_LT(sim::now_ms(), 1000u);
    EXPECT_FALSE(sim::timer_exists());
    EXPECT_FALSE(sim::port_is_open());
}

TEST_F(Exec, TimerFailingWhileReceivingEnds74)
{
    sim::timer_faults().arm_fails_after = 2;
    EXPECT_EQ(exec(receiving()), 74);
    EXPECT_FALSE(sim::timer_exists());
}

TEST_F(Exec, NoWindowModeStillTimesOut)
{
    EXPECT_EQ(exec("+V0 " + sending()), 52);
    EXPECT_EQ(sim::window().created, 0);
    EXPECT_FALSE(sim::timer_exists());
}

TEST_F(Exec, WindowStyleTitleAndPlacement)
{
    exec("+V2 -X-50 -Y100 " + sending());
    EXPECT_EQ(sim::window().mode, 2);
    EXPECT_EQ(sim::window().title, "ZDX-Ir  Sending");
    EXPECT_EQ(sim::window().x_flags, 0x11u);
    EXPECT_EQ(sim::window().x, -50);
    EXPECT_EQ(sim::window().y, 100);
    EXPECT_EQ(sim::window().bar_text, "  0.0%");

    sim::reset();
    exec("+R -X100 " + tmp.path("(file)"));
    EXPECT_EQ(sim::window().mode, 1);
    EXPECT_EQ(sim::window().title, "ZDX-Ir  Receiving");
    EXPECT_EQ(sim::window().x_flags, 0x01u);
    EXPECT_EQ(sim::window().counter, "00000 / 00000");
}

TEST_F(Exec, DrainWaitDependsOnTheSpeed)
{
    exec(sending());
    EXPECT_EQ(sim::timer_interval_ms(), 10u);   // one tick at 9600 bit/s
    sim::reset();
    exec("-B300 " + sending());
    EXPECT_EQ(sim::timer_interval_ms(), 70u);   // seven at 300 bit/s
}
