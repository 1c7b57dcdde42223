// orv5_turnaround - the time one exchange of a block protocol costs on a
// path beyond the bytes' line time: a message out, an answer back, and
// nothing done but passing bytes on and keeping the line's pace.
// bench/run.sh measures it on the pty alone and through the serial device
// server, so that the library's time can be read against what the path
// itself costs.
//
// usage: orv5_turnaround LINK (- | HOST PORT) [COUNT [BAUD [LEN]]]
//
// Makes a pseudo-terminal, points the symbolic link LINK at it (the
// server's device), and answers on it as zdxsim does at --baud BAUD
// (default 115200): the bytes of a message take their line time from the
// moment they are read, and the 4-byte answer is written when its own
// last byte would be in.  The other side is the pty itself (-) or a raw
// TCP connection to HOST:PORT (TCP_NODELAY).  Each of COUNT exchanges
// (default 500) sends LEN bytes (default 113, a data frame of 100-byte
// records) and waits for the answer; the next message goes at once.
// Prints one line, the times beyond the line time of message and answer:
//   exchanges=<n> mean_us=<> median_us=<> p90_us=<>
// Linux only; the first 20 exchanges warm the path up and are not counted.
#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

namespace {

constexpr int WARM_UP = 20;
constexpr int MAX_COUNT = 100000;
constexpr int MAX_LEN = 4096;
constexpr int ANSWER_LEN = 4;
constexpr int WAIT_MS = 5000;  // an answer later than this: the path is broken
constexpr int64_t BITS_PER_BYTE = 10;

int64_t now_ns() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return int64_t(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

void make_raw(int fd) {
    termios tio;
    if (tcgetattr(fd, &tio) != 0) return;
    cfmakeraw(&tio);
    tio.c_cflag |= CLOCAL | CREAD;
    tcsetattr(fd, TCSANOW, &tio);
}

// Reads until want bytes came or WAIT_MS passed; false on the latter or
// on a failure.  With byte_ns, *arrived becomes the moment (ns) the last
// of them is in on a line of that pace: each read's bytes take their line
// time from the read on, after those before them.
bool read_count(int fd, int want, int64_t byte_ns = 0, int64_t *arrived = nullptr) {
    char buf[MAX_LEN];
    int got = 0;
    int64_t line_clock = 0;
    while (got < want) {
        pollfd p = {fd, POLLIN, 0};
        if (poll(&p, 1, WAIT_MS) <= 0) return false;
        ssize_t n = read(fd, buf, sizeof buf);
        if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
        if (n <= 0) return false;
        got += int(n);
        line_clock = std::max(line_clock, now_ns()) + byte_ns * n;
    }
    if (arrived) *arrived = line_clock;
    return true;
}

bool write_all(int fd, const char *bytes, int len) {
    while (len > 0) {
        ssize_t n = write(fd, bytes, size_t(len));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        bytes += n;
        len -= int(n);
    }
    return true;
}

// The answering side: LEN bytes in, 4 out when their line time is over,
// until the line closes.
[[noreturn]] void answer(int master, int len, int64_t byte_ns) {
    static const char ack[ANSWER_LEN] = {0x10, 0x06, 0, 0};
    int64_t in = 0;
    while (read_count(master, len, byte_ns, &in)) {
        const int64_t due = in + byte_ns * ANSWER_LEN;
        timespec at = {time_t(due / 1000000000), long(due % 1000000000)};
        while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &at, nullptr) == EINTR) {
        }
        if (!write_all(master, ack, ANSWER_LEN)) break;
    }
    _exit(0);
}

int connect_tcp(const char *host, const char *port) {
    addrinfo hints = {};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo *found = nullptr;
    if (getaddrinfo(host, port, &hints, &found) != 0) return -1;
    int fd = -1;
    for (addrinfo *a = found; a && fd < 0; a = a->ai_next) {
        fd = socket(a->ai_family, a->ai_socktype, a->ai_protocol);
        if (fd < 0) continue;
        if (connect(fd, a->ai_addr, a->ai_addrlen) != 0) {
            close(fd);
            fd = -1;
        }
    }
    freeaddrinfo(found);
    int one = 1;
    if (fd >= 0) setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    return fd;
}

// Points link at target, replacing what it pointed at.
bool relink(const char *link, const char *target) {
    char tmp[4096];
    std::snprintf(tmp, sizeof tmp, "%s.new", link);
    unlink(tmp);
    return symlink(target, tmp) == 0 && rename(tmp, link) == 0;
}

int usage() {
    std::fputs("usage: orv5_turnaround LINK (- | HOST PORT) [COUNT [GAP_US [LEN]]]\n", stderr);
    return 2;
}

}  // namespace

int main(int argc, char **argv) {
    if (argc < 3) return usage();
    const bool local = std::strcmp(argv[2], "-") == 0;
    const int rest = local ? 3 : 4;
    if (!local && argc < 4) return usage();
    const int count = argc > rest ? std::atoi(argv[rest]) : 500;
    const int baud = argc > rest + 1 ? std::atoi(argv[rest + 1]) : 115200;
    const int len = argc > rest + 2 ? std::atoi(argv[rest + 2]) : 113;
    if (count < 1 || count > MAX_COUNT || baud < 300 || len < 1 || len > MAX_LEN) return usage();
    // Line time of one byte and of an exchange, ns.
    const int64_t byte_ns = BITS_PER_BYTE * 1000000000 / baud;
    const int64_t line_ns = byte_ns * (len + ANSWER_LEN);

    int master = posix_openpt(O_RDWR | O_NOCTTY);
    const char *slave_name = master >= 0 && grantpt(master) == 0 && unlockpt(master) == 0
                                 ? ptsname(master)
                                 : nullptr;
    if (!slave_name) {
        std::perror("orv5_turnaround: pty");
        return 1;
    }
    make_raw(master);
    // Held open, so that the server opening and closing it is no hang-up.
    int held = open(slave_name, O_RDWR | O_NOCTTY);
    if (held < 0 || !relink(argv[1], slave_name)) {
        std::perror("orv5_turnaround: link");
        return 1;
    }
    make_raw(held);
    signal(SIGPIPE, SIG_IGN);
    pid_t child = fork();
    if (child == 0) answer(master, len, byte_ns);

    int fd = local ? held : connect_tcp(argv[2], argv[3]);
    if (fd < 0) {
        std::fprintf(stderr, "orv5_turnaround: cannot connect to %s:%s\n", argv[2], argv[3]);
        kill(child, SIGTERM);
        return 1;
    }
    static char message[MAX_LEN];
    std::memset(message, '0', sizeof message);
    static int64_t took[MAX_COUNT];
    int done = 0;
    for (int i = 0; i < WARM_UP + count; ++i) {
        const int64_t t0 = now_ns();
        if (!write_all(fd, message, len) || !read_count(fd, ANSWER_LEN)) {
            std::fprintf(stderr, "orv5_turnaround: no answer to exchange %d\n", i + 1);
            break;
        }
        if (i >= WARM_UP) took[done++] = (now_ns() - t0 - line_ns) / 1000;
    }
    close(fd);
    close(held);
    close(master);
    kill(child, SIGTERM);
    waitpid(child, nullptr, 0);
    if (done == 0) return 1;
    double sum = 0;
    for (int i = 0; i < done; ++i) sum += double(took[i]);
    std::sort(took, took + done);
    std::printf("exchanges=%d mean_us=%.0f median_us=%lld p90_us=%lld\n", done, sum / done,
                (long long)took[done / 2], (long long)took[done * 9 / 10]);
    return 0;
}
