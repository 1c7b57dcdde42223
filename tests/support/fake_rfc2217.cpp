// fake_rfc2217.cpp - the test server's thread and its telnet decoding.
#include "fake_rfc2217.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstring>

namespace fake {

namespace {

constexpr uint8_t IAC = 255, DONT = 254, DO = 253, WONT = 252, WILL = 251, SB = 250, SE = 240;
constexpr uint8_t COM_PORT = 44;

enum { DATA, GOT_IAC, GOT_WILL, GOT_WONT, GOT_DO, GOT_DONT, IN_SB, SB_IAC };

int bound_socket(bool ipv6, int backlog, int *port)
{
    int fd = socket(ipv6 ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    int one = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_storage ss{};
    socklen_t len;
    if (ipv6) {
        auto *a = reinterpret_cast<sockaddr_in6 *>(&ss);
        a->sin6_family = AF_INET6;
        a->sin6_addr = in6addr_loopback;
        len = sizeof *a;
    } else {
        auto *a = reinterpret_cast<sockaddr_in *>(&ss);
        a->sin_family = AF_INET;
        a->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        len = sizeof *a;
    }
    if (bind(fd, reinterpret_cast<sockaddr *>(&ss), len) != 0 || listen(fd, backlog) != 0) {
        close(fd);
        return -1;
    }
    getsockname(fd, reinterpret_cast<sockaddr *>(&ss), &len);
    *port = ipv6 ? ntohs(reinterpret_cast<sockaddr_in6 *>(&ss)->sin6_port)
                 : ntohs(reinterpret_cast<sockaddr_in *>(&ss)->sin_port);
    return fd;
}

void send_bytes(int fd, const uint8_t *p, size_t n, bool split)
{
    size_t step = split ? 1 : n;
    for (size_t done = 0; done < n;) {
        ssize_t r = send(fd, p + done, std::min(step, n - done), MSG_NOSIGNAL);
        if (r <= 0)
            return;
        done += static_cast<size_t>(r);
        if (split)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

}   // namespace

Rfc2217Server::Rfc2217Server(ServerFaults faults, bool ipv6) : faults_(faults), ipv6_(ipv6)
{
    listen_fd_ = bound_socket(ipv6, 4, &port_);
    if (listen_fd_ >= 0)
        thread_ = std::thread([this] { run(); });
}

Rfc2217Server::~Rfc2217Server()
{
    stop_ = true;
    if (thread_.joinable())
        thread_.join();
    if (listen_fd_ >= 0)
        close(listen_fd_);
}

std::string Rfc2217Server::url(const char *scheme) const
{
    return std::string(scheme) + "://" + (ipv6_ ? "[::1]" : "127.0.0.1") + ":" +
           std::to_string(port_);
}

void Rfc2217Server::send_data(const std::vector<uint8_t> &data)
{
    std::lock_guard<std::mutex> lock(mu_);
    for (uint8_t b : data) {
        out_.push_back(b);
        if (b == IAC && faults_.telnet)
            out_.push_back(IAC);
    }
}

void Rfc2217Server::send_raw(const std::vector<uint8_t> &bytes)
{
    std::lock_guard<std::mutex> lock(mu_);
    out_.insert(out_.end(), bytes.begin(), bytes.end());
}

void Rfc2217Server::drop() { drop_ = true; }

std::vector<uint8_t> Rfc2217Server::data() const
{
    std::lock_guard<std::mutex> lock(mu_);
    return data_;
}

std::vector<uint8_t> Rfc2217Server::raw() const
{
    std::lock_guard<std::mutex> lock(mu_);
    return raw_;
}

std::vector<Command> Rfc2217Server::commands() const
{
    std::lock_guard<std::mutex> lock(mu_);
    return commands_;
}

void Rfc2217Server::run()
{
    while (!stop_) {
        pollfd p{listen_fd_, POLLIN, 0};
        if (poll(&p, 1, 20) <= 0)
            continue;
        int fd = accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0)
            continue;
        ++connections_;
        drop_ = false;
        state_ = DATA;
        connected_ = true;
        serve(fd);
        connected_ = false;
        close(fd);
    }
}

void Rfc2217Server::serve(int fd)
{
    if (faults_.telnet && faults_.garbage_first) {
        // Too short a reply, a reply far too long, an IAC that breaks off
        // a subnegotiation, a reply to a command nobody sent.
        std::vector<uint8_t> junk = {IAC, SB, COM_PORT, 101, 0, 0, IAC, SE, IAC, SB, COM_PORT, 101};
        junk.insert(junk.end(), 200, 0x42);
        junk.insert(junk.end(), {IAC, SE, IAC, SB, COM_PORT, 102, IAC, WILL, 1, IAC, SB, COM_PORT,
                                 199, 7, IAC, SE, IAC, 0x07});
        answer(fd, junk);
    }
    while (!stop_ && !drop_) {
        flush_queue(fd);
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, 5) <= 0)
            continue;
        uint8_t buf[512];
        ssize_t n = recv(fd, buf, sizeof buf, 0);
        if (n <= 0)
            return;
        {
            std::lock_guard<std::mutex> lock(mu_);
            raw_.insert(raw_.end(), buf, buf + n);
        }
        for (ssize_t i = 0; i < n; ++i)
            feed(fd, buf[i]);
    }
    flush_queue(fd);
}

void Rfc2217Server::flush_queue(int fd)
{
    std::vector<uint8_t> out;
    {
        std::lock_guard<std::mutex> lock(mu_);
        out.swap(out_);
    }
    if (!out.empty())
        send_bytes(fd, out.data(), out.size(), faults_.split_writes);
}

void Rfc2217Server::answer(int fd, const std::vector<uint8_t> &bytes)
{
    if (!faults_.silent_options)
        send_bytes(fd, bytes.data(), bytes.size(), faults_.split_writes);
}

void Rfc2217Server::feed(int fd, uint8_t b)
{
    auto keep = [this](uint8_t d) {
        std::lock_guard<std::mutex> lock(mu_);
        data_.push_back(d);
    };
    if (!faults_.telnet) {
        keep(b);
        return;
    }
    switch (state_) {
    case DATA:
        if (b == IAC)
            state_ = GOT_IAC;
        else
            keep(b);
        return;
    case GOT_IAC:
        if (b == IAC) {
            keep(b);
            state_ = DATA;
        } else if (b == SB) {
            sb_.clear();
            state_ = IN_SB;
        } else {
            state_ = b == WILL   ? GOT_WILL
                     : b == WONT ? GOT_WONT
                     : b == DO   ? GOT_DO
                     : b == DONT ? GOT_DONT
                                 : DATA;
        }
        return;
    case GOT_WILL:
        // The client offers binary, no go-ahead and com port control.
        if (b == COM_PORT)
            answer(fd, {IAC, faults_.offer_com_port ? DO : DONT, b});
        else
            answer(fd, {IAC, b == 0 || b == 3 ? DO : DONT, b});
        state_ = DATA;
        return;
    case GOT_DO:
        answer(fd, {IAC, b == 0 || b == 3 ? WILL : WONT, b});
        state_ = DATA;
        return;
    case GOT_WONT:
    case GOT_DONT: state_ = DATA; return;
    case IN_SB:
        if (b == IAC)
            state_ = SB_IAC;
        else
            sb_.push_back(b);
        return;
    case SB_IAC:
        if (b == IAC) {
            sb_.push_back(b);
            state_ = IN_SB;
            return;
        }
        state_ = DATA;
        if (b != SE || sb_.size() < 2 || sb_[0] != COM_PORT)
            return;
        {
            Command c{sb_[1], std::vector<uint8_t>(sb_.begin() + 2, sb_.end())};
            std::lock_guard<std::mutex> lock(mu_);
            commands_.push_back(c);
        }
        std::vector<uint8_t> reply = {IAC, SB, COM_PORT, static_cast<uint8_t>(sb_[1] + 100)};
        std::vector<uint8_t> value(sb_.begin() + 2, sb_.end());
        if (sb_[1] == 1 && faults_.answer_baud != 0) {
            uint32_t v = faults_.answer_baud;
            value = {static_cast<uint8_t>(v >> 24), static_cast<uint8_t>(v >> 16),
                     static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v)};
        }
        for (uint8_t v : value) {
            reply.push_back(v);
            if (v == IAC)
                reply.push_back(IAC);
        }
        reply.push_back(IAC);
        reply.push_back(SE);
        answer(fd, reply);
        return;
    }
}

int closed_port()
{
    int port = 0;
    int fd = bound_socket(false, 1, &port);
    if (fd >= 0)
        close(fd);
    return port;
}

StuckListener::StuckListener()
{
    listen_fd_ = bound_socket(false, 0, &port_);
    if (listen_fd_ < 0)
        return;
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<uint16_t>(port_));
    // Connections fill the accept queue (backlog 0 still takes one or
    // two); once it is full the system drops further connection requests
    // without an answer, and the client waits.
    for (int i = 0; i < 8; ++i) {
        int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        connect(fd, reinterpret_cast<sockaddr *>(&a), sizeof a);
        fillers_.push_back(fd);
        pollfd p{fd, POLLOUT, 0};
        if (poll(&p, 1, 200) <= 0) {
            ready_ = true;   // this one is left hanging: the queue is full
            break;
        }
    }
}

StuckListener::~StuckListener()
{
    for (int fd : fillers_)
        close(fd);
    if (listen_fd_ >= 0)
        close(listen_fd_);
}

}   // namespace fake
