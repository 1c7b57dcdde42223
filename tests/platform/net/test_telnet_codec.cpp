// The telnet codec on its own: negotiation answers, IAC escaping both
// ways, com port replies and what it does with malformed input.
#include <gtest/gtest.h>

#include <vector>

#include "platform/net/net_port.h"
#include "platform/net/telnet_codec.h"

namespace {

using Bytes = std::vector<uint8_t>;

constexpr uint8_t IAC = 255, DONT = 254, DO = 253, WONT = 252, WILL = 251, SB = 250, SE = 240;

// Feeds bytes; the data bytes that came out.
Bytes feed(TelnetCodec &c, const Bytes &in)
{
    Bytes out;
    for (uint8_t b : in) {
        uint8_t d = 0;
        if (telnet_feed(c, b, &d))
            out.push_back(d);
    }
    return out;
}

Bytes replies(TelnetCodec &c)
{
    uint8_t buf[TELNET_REPLY_MAX];
    size_t n = telnet_take_replies(c, buf, sizeof buf);
    return Bytes(buf, buf + n);
}

// A codec after the opening, with the server's agreement to everything.
TelnetCodec agreed()
{
    TelnetCodec c;
    telnet_init(c, true);
    replies(c);
    feed(c, {IAC, DO, 0, IAC, WILL, 0, IAC, DO, 3, IAC, WILL, 3, IAC, DO, 44});
    return c;
}

Bytes escape(const TelnetCodec &c, const Bytes &in)
{
    uint8_t buf[64];
    size_t consumed = 0;
    size_t n = telnet_escape(c, in.data(), in.size(), buf, sizeof buf, &consumed);
    EXPECT_EQ(consumed, in.size());
    return Bytes(buf, buf + n);
}

}   // namespace

TEST(TelnetCodec, OpeningAsksForBinarySuppressGoAheadAndComPort)
{
    TelnetCodec c;
    telnet_init(c, true);
    EXPECT_EQ(replies(c),
              (Bytes{IAC, WILL, 0, IAC, DO, 0, IAC, WILL, 3, IAC, DO, 3, IAC, WILL, 44}));
    EXPECT_EQ(telnet_com_port(c), TnOpt::Asked);
}

TEST(TelnetCodec, AnswersToOurRequestsAreNotAcknowledgedAgain)
{
    TelnetCodec c = agreed();
    // Agreement to what we asked needs no answer: answering would start a
    // loop with a server that answers answers.
    EXPECT_TRUE(replies(c).empty());
    EXPECT_EQ(telnet_com_port(c), TnOpt::On);
    // A repeated DO for an option already on is not answered either.
    feed(c, {IAC, DO, 0, IAC, WILL, 3});
    EXPECT_TRUE(replies(c).empty());
}

TEST(TelnetCodec, ComPortRefusedIsKnown)
{
    TelnetCodec c;
    telnet_init(c, true);
    replies(c);
    feed(c, {IAC, DONT, 44});
    EXPECT_EQ(telnet_com_port(c), TnOpt::Refused);
    EXPECT_TRUE(replies(c).empty());
}

TEST(TelnetCodec, UnknownOptionsAndEchoAreRefused)
{
    TelnetCodec c = agreed();
    // Echo from the server would send our frames back as data.
    feed(c, {IAC, WILL, 1, IAC, DO, 24, IAC, WILL, 44});
    EXPECT_EQ(replies(c), (Bytes{IAC, DONT, 1, IAC, WONT, 24, IAC, DONT, 44}));
    // WONT/DONT of an option that is off needs no answer.
    feed(c, {IAC, WONT, 1, IAC, DONT, 24});
    EXPECT_TRUE(replies(c).empty());
}

TEST(TelnetCodec, AnOptionTurnedOffIsConfirmed)
{
    TelnetCodec c = agreed();
    feed(c, {IAC, DONT, 0, IAC, WONT, 3});
    EXPECT_EQ(replies(c), (Bytes{IAC, WONT, 0, IAC, DONT, 3}));
}

TEST(TelnetCodec, ServerThatAsksFirstIsAnswered)
{
    TelnetCodec c;
    telnet_init(c, false);
    EXPECT_TRUE(replies(c).empty());
    feed(c, {IAC, DO, 0, IAC, WILL, 0});
    EXPECT_EQ(replies(c), (Bytes{IAC, WILL, 0, IAC, DO, 0}));
}

TEST(TelnetCodec, DoubledIacIsOneDataByteAlsoWhenSplit)
{
    TelnetCodec c = agreed();
    EXPECT_EQ(feed(c, {0x10, IAC, IAC, 0x02}), (Bytes{0x10, 0xFF, 0x02}));
    // The pair split across two reads: the state carries over.
    EXPECT_EQ(feed(c, {0x01, IAC}), (Bytes{0x01}));
    EXPECT_EQ(feed(c, {IAC, IAC}), (Bytes{0xFF}));
    EXPECT_EQ(feed(c, {IAC, 0x03}), (Bytes{0xFF, 0x03}));
    // Every byte value passes in binary mode, CR NUL included.
    Bytes all;
    for (int i = 0; i < 256; ++i)
        all.push_back(static_cast<uint8_t>(i));
    Bytes wire;
    for (uint8_t b : all) {
        wire.push_back(b);
        if (b == IAC)
            wire.push_back(IAC);
    }
    wire.push_back(0x0D);
    wire.push_back(0x00);
    all.push_back(0x0D);
    all.push_back(0x00);
    EXPECT_EQ(feed(c, wire), all);
}

TEST(TelnetCodec, EscapingDoublesIacAndKeepsCrInBinaryMode)
{
    TelnetCodec c = agreed();
    EXPECT_EQ(escape(c, {0x10, 0xFF, 0x0D, 0xFF, 0xFF}),
              (Bytes{0x10, 0xFF, 0xFF, 0x0D, 0xFF, 0xFF, 0xFF, 0xFF}));
}

TEST(TelnetCodec, EscapingTakesWholeBytesOnly)
{
    TelnetCodec c = agreed();
    const Bytes in = {0x01, 0xFF, 0x02};
    uint8_t buf[2];
    size_t consumed = 0;
    // 0x01 fits, the doubled 0xFF does not: it is left for the next call.
    EXPECT_EQ(telnet_escape(c, in.data(), in.size(), buf, sizeof buf, &consumed), 1u);
    EXPECT_EQ(consumed, 1u);
}

TEST(TelnetCodec, WithoutBinaryCrTravelsAsCrNul)
{
    TelnetCodec c;
    telnet_init(c, true);
    replies(c);
    feed(c, {IAC, DONT, 0, IAC, WONT, 0});
    EXPECT_EQ(escape(c, {0x41, 0x0D, 0x0A}), (Bytes{0x41, 0x0D, 0x00, 0x0A}));
    EXPECT_EQ(feed(c, {0x0D, 0x00, 0x41, 0x0D, 0x0A, 0x00}), (Bytes{0x0D, 0x41, 0x0D, 0x0A, 0x00}));
}

TEST(TelnetCodec, ComCommandIsFramedAndItsValueEscaped)
{
    uint8_t buf[16];
    const uint8_t baud[4] = {0x00, 0x00, 0xFF, 0x01};
    size_t n = telnet_com_command(1, baud, 4, buf, sizeof buf);
    EXPECT_EQ(Bytes(buf, buf + n), (Bytes{IAC, SB, 44, 1, 0, 0, 0xFF, 0xFF, 1, IAC, SE}));
    EXPECT_EQ(telnet_com_command(1, baud, 4, buf, 10), 0u);   // one byte short
}

TEST(TelnetCodec, ServerRepliesAreKeptByCommand)
{
    TelnetCodec c = agreed();
    uint32_t v = 0;
    EXPECT_FALSE(telnet_com_reply(c, 1, &v));
    // 19200 = 0x00004B00; the reply to SET-DATASIZE split over two reads.
    EXPECT_TRUE(feed(c, {IAC, SB, 44, 101, 0, 0, 0x4B, 0, IAC, SE, IAC, SB, 44}).empty());
    EXPECT_TRUE(feed(c, {102, 8, IAC, SE}).empty());
    ASSERT_TRUE(telnet_com_reply(c, 1, &v));
    EXPECT_EQ(v, 19200u);
    ASSERT_TRUE(telnet_com_reply(c, 2, &v));
    EXPECT_EQ(v, 8u);
    // A speed with 0xFF in it comes doubled.
    feed(c, {IAC, SB, 44, 101, 0, 0x01, 0xFF, 0xFF, 0x00, IAC, SE});
    ASSERT_TRUE(telnet_com_reply(c, 1, &v));
    EXPECT_EQ(v, 0x0001FF00u);
    telnet_com_forget(c, 1);
    EXPECT_FALSE(telnet_com_reply(c, 1, &v));
    EXPECT_EQ(c.malformed, 0u);
}

TEST(TelnetCodec, MalformedSubnegotiationsAreDroppedAndNeverData)
{
    TelnetCodec c = agreed();
    uint32_t v = 0;
    Bytes in = {IAC, SB, 44, 101, 0, 0, IAC, SE};                         // speed of 2 bytes
    in.insert(in.end(), {IAC, SB, 44, 101, 0, 0, 0x4B, 0, 7, IAC, SE});   // of 5 bytes
    in.insert(in.end(), {IAC, SB, 44, 101});                              // far too long
    in.insert(in.end(), 300, 0x41);
    in.insert(in.end(), {IAC, SE});
    in.insert(in.end(), {IAC, SB, 44, 102, IAC, WILL, 1});   // broken off by a command
    in.insert(in.end(), {IAC, SB, 44, IAC, SE});             // no command at all
    in.insert(in.end(), {IAC, SB, 44, 250, 1, IAC, SE});     // a code past the table
    in.insert(in.end(), {IAC, SB, 24, 1, IAC, SE});          // another option's
    in.insert(in.end(), {IAC, 0x07, IAC, SE, 0x5A});         // stray commands, then data
    EXPECT_EQ(feed(c, in), (Bytes{0x5A}));
    EXPECT_FALSE(telnet_com_reply(c, 1, &v));
    EXPECT_FALSE(telnet_com_reply(c, 2, &v));
    EXPECT_EQ(c.malformed, 5u);
    EXPECT_EQ(replies(c), (Bytes{IAC, DONT, 1}));   // the command that broke in was taken
}

TEST(TelnetCodec, AFloodOfRequestsFillsTheAnswersBoundedly)
{
    TelnetCodec c = agreed();
    Bytes in;
    for (int i = 0; i < 200; ++i)
        in.insert(in.end(), {IAC, DO, static_cast<uint8_t>(100 + i % 50)});
    feed(c, in);
    Bytes r = replies(c);
    EXPECT_LE(r.size(), TELNET_REPLY_MAX);
    EXPECT_EQ(r.size() % 3, 0u);   // whole answers only
}

TEST(NetAddress, FormsOfTheName)
{
    NetAddress a;
    ASSERT_TRUE(net_parse_address("rfc2217://cradle-3:4001", &a));
    EXPECT_EQ(a.scheme, NetScheme::Rfc2217);
    EXPECT_STREQ(a.host, "cradle-3");
    EXPECT_STREQ(a.port, "4001");
    ASSERT_TRUE(net_parse_address("TCP://10.0.0.7:65535", &a));
    EXPECT_EQ(a.scheme, NetScheme::Tcp);
    EXPECT_STREQ(a.host, "10.0.0.7");
    ASSERT_TRUE(net_parse_address("rfc2217://[fe80::1]:1", &a));
    EXPECT_STREQ(a.host, "fe80::1");
    EXPECT_STREQ(a.port, "1");
    ASSERT_TRUE(net_parse_address("tcp://host:007", &a));
    EXPECT_STREQ(a.port, "7");
}

TEST(NetAddress, BadFormsAreRefused)
{
    NetAddress a;
    for (const char *bad :
         {"rfc2217://host", "rfc2217://host:", "rfc2217://:4001", "rfc2217://host:0",
          "rfc2217://host:65536", "rfc2217://host:123456", "rfc2217://host:40x1",
          "rfc2217://host:4001/", "rfc2217://fe80::1:4001", "rfc2217://[fe80::1:4001",
          "rfc2217://[host]:4001", "rfc2217://[]:4001", "rfc2217://[::1]4001",
          "rfc2217://ho st:4001", "/dev/ttyS0", "COM1", "telnet://host:23"})
        EXPECT_FALSE(net_parse_address(bad, &a)) << bad;
    std::string long_host = "rfc2217://" + std::string(NET_HOST_SIZE, 'a') + ":1";
    EXPECT_FALSE(net_parse_address(long_host.c_str(), &a));
}
