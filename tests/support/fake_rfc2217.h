// fake_rfc2217.h - a small serial device server for tests: it listens on
// 127.0.0.1 (or ::1), takes one connection at a time and plays the server
// side of the telnet com port option, with faults on request.  Its own
// telnet decoding is written apart from the library's codec, so the two
// check each other.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace fake {

struct ServerFaults {
    bool offer_com_port = true;    // DO COM-PORT-OPTION, else DONT
    bool telnet = true;            // false: raw TCP, nothing decoded
    uint32_t answer_baud = 0;      // not 0: every SET-BAUDRATE is answered with this
    bool silent_options = false;   // never answers option requests or commands
    bool garbage_first = false;    // malformed subnegotiations before any answer
    bool split_writes = false;     // every byte it sends goes in a send of its own
};

// A com port command the client sent: code and value (bytes after it).
struct Command {
    uint8_t code;
    std::vector<uint8_t> value;
};

class Rfc2217Server {
public:
    explicit Rfc2217Server(ServerFaults faults = {}, bool ipv6 = false);
    ~Rfc2217Server();

    bool listening() const { return listen_fd_ >= 0; }
    int port() const { return port_; }
    // "rfc2217://127.0.0.1:PORT" (or tcp://, or [::1]).
    std::string url(const char *scheme = "rfc2217") const;

    // Data sent to the client (0xFF doubled unless raw); queued, sent by
    // the server's thread.  Raw bytes go as they are, telnet commands too.
    void send_data(const std::vector<uint8_t> &data);
    void send_raw(const std::vector<uint8_t> &bytes);
    // Ends the current connection (the client sees the end of the stream).
    void drop();

    // What the client sent: data bytes decoded, raw bytes as they came,
    // the com port commands in order.
    std::vector<uint8_t> data() const;
    std::vector<uint8_t> raw() const;
    std::vector<Command> commands() const;
    bool connected() const { return connected_.load(); }
    int connections() const { return connections_.load(); }

    // Waits up to ms until pred() holds; its last value.
    template <typename Pred> bool wait_for(Pred pred, int ms = 5000) const;

private:
    void run();
    void serve(int fd);
    void feed(int fd, uint8_t b);
    void answer(int fd, const std::vector<uint8_t> &bytes);
    void flush_queue(int fd);

    ServerFaults faults_;
    int listen_fd_ = -1;
    int port_ = 0;
    bool ipv6_ = false;
    std::atomic<bool> stop_{false};
    std::atomic<bool> drop_{false};
    std::atomic<bool> connected_{false};
    std::atomic<int> connections_{0};
    std::thread thread_;

    mutable std::mutex mu_;
    std::vector<uint8_t> out_;   // waiting to be sent
    std::vector<uint8_t> data_;
    std::vector<uint8_t> raw_;
    std::vector<Command> commands_;

    // Decoder state of the connection.
    int state_ = 0;
    std::vector<uint8_t> sb_;
};

template <typename Pred> bool Rfc2217Server::wait_for(Pred pred, int ms) const
{
    for (int i = 0; i < ms; ++i) {
        if (pred())
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return pred();
}

// A TCP port on 127.0.0.1 where nobody listens (bound, then closed).
int closed_port();

// A listener whose queue is full and which never accepts: further
// connections to it are never completed.  Closed by the destructor.
class StuckListener {
public:
    StuckListener();
    ~StuckListener();
    int port() const { return port_; }
    bool ready() const { return ready_; }

private:
    int listen_fd_ = -1;
    int port_ = 0;
    bool ready_ = false;
    std::vector<int> fillers_;
};

}   // namespace fake
