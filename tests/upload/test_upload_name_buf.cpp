// The caller's name buffer when a header is refused: untouched while the
// names themselves are refused, the destination's name once they passed,
// whatever later check of the header then fails.
#include <cstdio>
#include <string>

#include "link/wire.h"
#include "sim_session.h"

using namespace simtest;

namespace {

// A frame as the terminal sends it (no DLE inside the bodies used here):
// DLE SOH, the body, DLE ETX, the check over body + ETX, low byte first.
Bytes header_frame(const std::string &name, const std::string &count, const std::string &layout)
{
    std::string body = std::string("\0\0", 2) + name + std::string(12 - name.size(), ' ') + count +
                       layout;
    Bytes span(body.begin(), body.end());
    span.push_back(0x03);
    uint16_t crc = crc16(span.data(), span.size());
    Bytes out = {0x10, 0x01};
    out.insert(out.end(), body.begin(), body.end());
    out.insert(out.end(),
               {0x10, 0x03, static_cast<uint8_t>(crc & 0xFF), static_cast<uint8_t>(crc >> 8)});
    return out;
}

class RefusedHeaderName : public SimSession {
protected:
    // The terminal's enquiry, then hdr once it is acknowledged; the PC's EOT
    // is answered with the terminal's own.  The session's result; name holds
    // what the library left in a buffer that read "UNTOUCHED" before.
    int refuse(const Bytes &hdr, const std::string &options, const std::string &dest)
    {
        bool header_sent = false;
        sim::set_peer([&](const uint8_t *b, size_t n) {
            Kind k = kind_of(b, n);
            if (k == Kind::Ack && !header_sent) {
                header_sent = true;
                sim::deliver(hdr, 1);
            } else if (k == Kind::Eot) {
                sim::deliver(msg(0x04), 1);
            }
        });
        sim::at(5, [] { sim::deliver(msg(0x05), 0); });
        std::snprintf(name, sizeof name, "UNTOUCHED");
        std::string text = "-V " + options + " +R " + tmp.path(dest);
        return ExecOrv5(nullptr, text.c_str(), name);
    }
};

TEST_F(RefusedHeaderName, RefusedAfterTheNamesTheBufferHoldsTheDestination)
{
    struct Case {
        const char *what;
        Bytes hdr;
        int code;
    };
    const Case cases[] = {
        {"record count", header_frame("DATA.TXT", "3276A", "01005"), 70},
        {"record count above the limit", header_frame("DATA.TXT", "32768", "01005"), 70},
        {"field count", header_frame("DATA.TXT", "00001", "17" + std::string(17 * 3, '1')), 70},
        {"a width", header_frame("DATA.TXT", "00001", "02005000"), 70},
        {"the widths' sum", header_frame("DATA.TXT", "00001", "02127128"), 70},
    };
    for (const Case &c : cases) {
        sim::reset();
        EXPECT_EQ(refuse(c.hdr, "", "(file)"), c.code) << c.what;
        EXPECT_STREQ(name, "DATA.TXT") << c.what;
        // Under the argument's name when one is given.
        sim::reset();
        EXPECT_EQ(refuse(c.hdr, "", "mine.txt"), c.code) << c.what;
        EXPECT_STREQ(name, "MINE.TXT") << c.what;
        EXPECT_EQ(count_kind(Kind::Eot), 1) << c.what;
    }
}

TEST_F(RefusedHeaderName, OutputNotCreatedOrNoRoomStillNamesTheDestination)
{
    const Bytes hdr = header_frame("DATA.TXT", "00100", "01048");
    sim::fs_faults().create_fails_at = 1;
    EXPECT_EQ(refuse(hdr, "", "(file)"), ORV5_E_FILE_IO);
    EXPECT_STREQ(name, "DATA.TXT");

    sim::reset();
    sim::disk_free() = 100;   // 100 lines of 50 bytes do not fit
    EXPECT_EQ(refuse(hdr, "", "OUT.TXT"), ORV5_E_DISK_FULL);
    EXPECT_STREQ(name, "OUT.TXT");
}

TEST_F(RefusedHeaderName, RefusedAtTheNamesTheBufferIsUntouched)
{
    struct Case {
        const char *what;
        Bytes hdr;
        std::string options, dest;
        int code;
    };
    const Case cases[] = {
        {"the terminal's name", header_frame("BAD NAME", "00001", "01005"), "", "(file)", 70},
        {"a device name", header_frame("NUL.TXT", "00001", "01005"), "", "(file)", 70},
        {"names differ", header_frame("OTHER.TXT", "00001", "01005"), "+N", "DATA.TXT", 77},
        {"kinds differ", header_frame("X.PD3", "00001", ""), "", "DATA.TXT", 2},
    };
    for (const Case &c : cases) {
        sim::reset();
        EXPECT_EQ(refuse(c.hdr, c.options, c.dest), c.code) << c.what;
        EXPECT_STREQ(name, "UNTOUCHED") << c.what;
    }
}

}   // namespace
