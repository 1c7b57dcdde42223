// The simulated line's watch for hung sessions: a session past its caps is
// asked to abort and the report names the protocol state it stood in.
#include <string>

#include "sim_session.h"
#include "upload/rx_terminal.h"

using namespace simtest;

namespace {

class HangWatch : public SimSession {
protected:
    // Caps of the watch for this test; on_hang aborts the session and counts.
    void watch(uint64_t virtual_ms, uint64_t wall_ms = 20000, uint64_t still_pumps = 5000000)
    {
        sim::HangWatch w;
        w.virtual_ms = virtual_ms;
        w.wall_ms = wall_ms;
        w.still_pumps = still_pumps;
        w.on_hang = [this] {
            ++asked;
            AbortOrv5();
        };
        sim::watch_for_hangs(w);
    }
    // The report, cleared so that the fixture does not fail the test for it.
    std::string take_report()
    {
        std::string r = sim::hang_report();
        sim::clear_hang_report();
        return r;
    }
    // A terminal that acknowledges the enquiry, then answers nothing and,
    // once the header is out, floods the line with zero bytes that arrive
    // all at the same instant: virtual time can no longer move.
    void flood_after_the_header()
    {
        sim::set_peer([](const uint8_t *b, size_t n) {
            Kind k = kind_of(b, n);
            if (k == Kind::Enq && sim::writes().size() == 1)
                sim::deliver(msg(0x06), 1);
            if (k != Kind::Header)
                return;
            // One byte waits at once, and every pump adds the next.
            const uint8_t zero = 0;
            sim::deliver(&zero, 1, 0);
            sim::on_pump([] {
                const uint8_t zero = 0;
                sim::deliver(&zero, 1, 0);
            });
        });
    }
    std::string send_text()
    {
        tmp.write("DATA.TXT", "ABCDE\r\n");
        return "-V +F5 " + tmp.path("DATA.TXT");
    }
    int asked = 0;
};

}   // namespace

TEST_F(HangWatch, ReceiverPastTheVirtualCapIsAbortedInItsState)
{
    watch(60000);
    EXPECT_EQ(exec("-V -L0 +R " + tmp.path("(file)")), ORV5_E_ABORTED);
    const std::string r = take_report();
    EXPECT_NE(r.find("protocol state S11:"), std::string::npos) << r;
    EXPECT_NE(r.find("virtual time passed 60.0 s"), std::string::npos) << r;
    EXPECT_EQ(asked, 1);
    EXPECT_GE(sim::now_ms(), 60000u);
    EXPECT_LT(sim::now_ms(), 61000u);
}

TEST_F(HangWatch, ReportNamesTheStateOfTheDataPhase)
{
    // Enquiry and header, then silence: the 30 s reply wait would end it,
    // but the cap comes first.
    rxterm::Terminal term;
    term.script = rxterm::data_file_script({"AAAAABBB"});
    term.script.resize(2);
    term.install();
    watch(10000);
    EXPECT_EQ(exec("-V +R " + tmp.path("(file)")), ORV5_E_ABORTED);
    const std::string r = take_report();
    EXPECT_NE(r.find("protocol state S251:"), std::string::npos) << r;
}

TEST_F(HangWatch, SenderPastTheVirtualCapIsAbortedInItsState)
{
    watch(60000);
    EXPECT_EQ(exec(send_text() + " -L0"), ORV5_E_ABORTED);
    const std::string r = take_report();
    EXPECT_NE(r.find("protocol state DS11:"), std::string::npos) << r;
    EXPECT_EQ(count_kind(Kind::Eot), 1);   // the abort told the terminal
}

TEST_F(HangWatch, VirtualTimeStandingStillIsAHang)
{
    flood_after_the_header();
    watch(15 * 60 * 1000, 20000, 20000);
    EXPECT_EQ(exec(send_text()), ORV5_E_ABORTED);
    const std::string r = take_report();
    EXPECT_NE(r.find("protocol state DS211:"), std::string::npos) << r;
    EXPECT_NE(r.find("stood still"), std::string::npos) << r;
}

TEST_F(HangWatch, RealTimeIsCappedToo)
{
    flood_after_the_header();
    watch(15 * 60 * 1000, 300, UINT64_MAX / 4);
    EXPECT_EQ(exec(send_text()), ORV5_E_ABORTED);
    const std::string r = take_report();
    EXPECT_NE(r.find("protocol state DS211:"), std::string::npos) << r;
    EXPECT_NE(r.find("real time passed 0.3 s"), std::string::npos) << r;
}

TEST_F(HangWatch, NothingIsReportedForSessionsWithinTheCaps)
{
    rxterm::Terminal term;
    term.script = rxterm::data_file_script({"AAAAABBB"});
    term.install();
    watch(1000);
    EXPECT_EQ(exec("-V +R " + tmp.path("(file)")), 0);
    EXPECT_EQ(sim::hang_report(), "");
    EXPECT_EQ(asked, 0);
    EXPECT_EQ(sim::protocol_state(), "S313");   // the last state entered
}

TEST_F(HangWatch, ASessionThatIgnoresTheAbortStopsTheProcess)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(
        {
            sim::HangWatch w;
            w.virtual_ms = 10000;
            w.on_hang = [] {};   // asked to end, it runs on
            sim::watch_for_hangs(w);
            exec("-V -L0 +R " + tmp.path("(file)"));
        },
        "did not end when asked to, still in state S11");
}
