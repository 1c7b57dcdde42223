// fuzz_telnet.cpp - the network port's telnet reader on any bytes from a
// server.
//
// Option byte: bit 0 the com port opening (else a plain start), bits 1-7
// where the input is cut in two (the reads a socket would give).  Then
// the bytes the server sends.
// Invariants: no more data bytes come out than went in; without any 0xFF
// in the input every byte is data, unchanged (binary mode agreed first);
// the answers stay within their buffer and are whole IAC verb option
// triples; the reply values kept are the last well-formed ones; data
// escaped by the codec reads back unchanged through a fresh codec.
#include <cstring>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "platform/net/telnet_codec.h"

using namespace fuzz;

namespace {

using Bytes = std::vector<uint8_t>;

const uint8_t AGREE[] = {255, 253, 0, 255, 251, 0, 255, 253, 3, 255, 251, 3, 255, 253, 44};

Bytes feed_all(TelnetCodec &c, const uint8_t *in, size_t n)
{
    Bytes out;
    for (size_t i = 0; i < n; ++i) {
        uint8_t d = 0;
        if (telnet_feed(c, in[i], &d))
            out.push_back(d);
    }
    return out;
}

void check_answers(TelnetCodec &c)
{
    uint8_t buf[TELNET_REPLY_MAX + 8];
    size_t n = telnet_take_replies(c, buf, sizeof buf);
    require(n <= TELNET_REPLY_MAX && n % 3 == 0, "answers are whole triples within the buffer");
    for (size_t i = 0; i < n; i += 3)
        require(buf[i] == 255 && buf[i + 1] >= 251 && buf[i + 1] <= 254,
                "an answer is IAC verb option");
}

}   // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    const uint8_t opt = data[0];
    const uint8_t *in = data + 1;
    const size_t n = size - 1;
    const size_t cut = n == 0 ? 0 : (opt >> 1) % (n + 1);

    TelnetCodec c;
    telnet_init(c, (opt & 1) != 0);
    check_answers(c);
    if (opt & 1)
        feed_all(c, AGREE, sizeof AGREE);
    Bytes got = feed_all(c, in, cut);
    check_answers(c);
    Bytes rest = feed_all(c, in + cut, n - cut);
    check_answers(c);
    got.insert(got.end(), rest.begin(), rest.end());
    require(got.size() <= n, "no more data out than in");
    if ((opt & 1) && std::memchr(in, 255, n) == nullptr)
        require(got == Bytes(in, in + n), "input without IAC is all data, unchanged");

    // What the codec escapes reads back as it was.
    TelnetCodec tx;
    telnet_init(tx, true);
    feed_all(tx, AGREE, sizeof AGREE);
    Bytes wire(2 * n + 1);
    size_t consumed = 0;
    size_t w = telnet_escape(tx, in, n, wire.data(), wire.size(), &consumed);
    require(consumed == n, "escaping takes everything when the room is twice the input");
    TelnetCodec rx;
    telnet_init(rx, true);
    feed_all(rx, AGREE, sizeof AGREE);
    require(feed_all(rx, wire.data(), w) == Bytes(in, in + n), "escaped data reads back unchanged");
    return 0;
}
