// A proxy in front of a PostgreSQL server that delays every byte by a set
// time in each direction, as a slow network link does, and counts the round
// trips the clients make.
//
//   latency_proxy --to SOCKET_OR_HOST:PORT [--listen HOST:PORT] [--delay-ms N]
//                 [--count-file FILE]
//
// It listens on 127.0.0.1 (port 0: one the system picks) and prints
// "port N" on its first line once it takes connections. Every connection is
// forwarded to the server (a path: its Unix socket); what one side sends
// reaches the other N milliseconds later, in order, however much is in
// flight (no bandwidth limit). With --count-file the proxy keeps in FILE,
// as 64-bit counters a benchmark can read while it runs (bench/BenchSupport.h):
// the round trips (each simple query and each Sync of the extended protocol,
// the points where libpq waits for the server), and the connections made.
// It runs until it is killed.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

std::chrono::microseconds g_delay{0};
uint64_t* g_counters = nullptr;  // [0] round trips, [1] connections

void bump(int counter)
{
    if (g_counters)
        __atomic_add_fetch(&g_counters[counter], 1, __ATOMIC_RELAXED);
}

// Reads the client's side of the protocol as it passes and counts the
// messages that end a request: 'Q' (simple query) and 'S' (Sync). The
// startup packets (and an SSL or GSS request before them) carry no type
// byte; an encrypted session cannot be read and is not counted.
class RoundTripCounter {
public:
    void feed(const unsigned char* p, size_t n)
    {
        for (size_t i = 0; i < n && !m_opaque;) {
            if (m_header < headerSize()) {
                m_buf[m_header++] = p[i++];
                if (m_header == headerSize())
                    startMessage();
                continue;
            }
            const size_t take = std::min<size_t>(n - i, m_left);
            i += take;
            m_left -= take;
            if (m_left == 0)
                endMessage();
        }
    }

private:
    size_t headerSize() const { return m_startup ? 8 : 5; }
    static uint32_t be32(const unsigned char* b)
    {
        return (uint32_t(b[0]) << 24) | (uint32_t(b[1]) << 16) | (uint32_t(b[2]) << 8) | uint32_t(b[3]);
    }
    void startMessage()
    {
        if (m_startup) {
            const uint32_t len = be32(m_buf);
            const uint32_t code = be32(m_buf + 4);
            m_type = 0;
            m_code = code;
            m_left = len >= 8 ? len - 8 : 0;
        } else {
            m_type = m_buf[0];
            const uint32_t len = be32(m_buf + 1);
            m_left = len >= 4 ? len - 4 : 0;
        }
        if (m_left == 0)
            endMessage();
    }
    void endMessage()
    {
        if (m_startup) {
            // SSLRequest or GSSENCRequest: the real startup packet follows,
            // unless the server agrees to encrypt (then nothing is readable).
            if (m_code == 80877103 || m_code == 80877104)
                m_wantsEncryption = true;
            else
                m_startup = false;
        } else if (m_type == 'Q' || m_type == 'S') {
            bump(0);
        }
        m_header = 0;
        m_left = 0;
    }

public:
    // The server's one-byte answer to an encryption request.
    void serverAnswered(unsigned char answer)
    {
        if (m_wantsEncryption && answer != 'N')
            m_opaque = true;
        m_wantsEncryption = false;
    }
    bool awaitsAnswer() const { return m_wantsEncryption; }

private:
    unsigned char m_buf[8] = {};
    size_t m_header = 0;
    size_t m_left = 0;
    unsigned char m_type = 0;
    uint32_t m_code = 0;
    bool m_startup = true;
    // Set and read by the two directions' readers in turn.
    std::atomic<bool> m_wantsEncryption{false};
    std::atomic<bool> m_opaque{false};
};

struct Chunk {
    Clock::time_point due;
    std::vector<unsigned char> bytes;  // empty: the sender closed its side
};

// One direction of a connection: a reader takes what arrives and stamps it,
// a writer passes it on when its time has come.
class Pipe {
public:
    Pipe(int from, int to) : m_from(from), m_to(to) {}

    void read(RoundTripCounter* counter, bool serverSide, RoundTripCounter* peer)
    {
        std::vector<unsigned char> buf(65536);
        for (;;) {
            const ssize_t n = ::read(m_from, buf.data(), buf.size());
            if (n < 0 && errno == EINTR)
                continue;
            if (counter)
                counter->feed(buf.data(), n > 0 ? size_t(n) : 0);
            if (serverSide && peer && peer->awaitsAnswer() && n > 0)
                peer->serverAnswered(buf[0]);
            Chunk c{Clock::now() + g_delay, {}};
            if (n > 0)
                c.bytes.assign(buf.begin(), buf.begin() + n);
            {
                std::lock_guard<std::mutex> lock(m_mutex);
                m_queue.push_back(std::move(c));
            }
            m_ready.notify_one();
            if (n <= 0)
                return;
        }
    }

    void write()
    {
        for (;;) {
            Chunk c;
            {
                std::unique_lock<std::mutex> lock(m_mutex);
                m_ready.wait(lock, [this] { return !m_queue.empty(); });
                c = std::move(m_queue.front());
                m_queue.pop_front();
            }
            std::this_thread::sleep_until(c.due);
            if (c.bytes.empty()) {
                ::shutdown(m_to, SHUT_WR);
                return;
            }
            size_t done = 0;
            while (done < c.bytes.size()) {
                const ssize_t n = ::write(m_to, c.bytes.data() + done, c.bytes.size() - done);
                if (n < 0 && errno == EINTR)
                    continue;
                if (n <= 0) {
                    // The other side is gone: stop reading what would go to it.
                    ::shutdown(m_from, SHUT_RD);
                    return;
                }
                done += size_t(n);
            }
        }
    }

private:
    int m_from, m_to;
    std::mutex m_mutex;
    std::condition_variable m_ready;
    std::deque<Chunk> m_queue;
};

int connectUpstream(const std::string& to)
{
    if (!to.empty() && to[0] == '/') {
        const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        std::snprintf(addr.sun_path, sizeof addr.sun_path, "%s", to.c_str());
        if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
            ::close(fd);
            return -1;
        }
        return fd;
    }
    const size_t colon = to.rfind(':');
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(uint16_t(std::atoi(to.substr(colon + 1).c_str())));
    ::inet_pton(AF_INET, to.substr(0, colon).c_str(), &addr.sin_addr);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        ::close(fd);
        return -1;
    }
    const int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    return fd;
}

void serve(int client, std::string to)
{
    const int server = connectUpstream(to);
    if (server < 0) {
        std::fprintf(stderr, "latency_proxy: cannot reach %s: %s\n", to.c_str(), std::strerror(errno));
        ::close(client);
        return;
    }
    bump(1);
    RoundTripCounter counter;
    Pipe up(client, server), down(server, client);
    std::thread upReader([&] { up.read(&counter, false, nullptr); });
    std::thread upWriter([&] { up.write(); });
    std::thread downReader([&] { down.read(nullptr, true, &counter); });
    std::thread downWriter([&] { down.write(); });
    upReader.join();
    upWriter.join();
    downReader.join();
    downWriter.join();
    ::close(server);
    ::close(client);
}

} // namespace

int main(int argc, char** argv)
{
    std::string listenAt = "127.0.0.1:0", to, countFile;
    long delayMs = 0;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string opt = argv[i];
        if (opt == "--listen")
            listenAt = argv[i + 1];
        else if (opt == "--to")
            to = argv[i + 1];
        else if (opt == "--delay-ms")
            delayMs = std::atol(argv[i + 1]);
        else if (opt == "--count-file")
            countFile = argv[i + 1];
    }
    if (to.empty() || argc % 2 == 0) {
        std::fprintf(stderr, "usage: latency_proxy --to SOCKET_OR_HOST:PORT [--listen HOST:PORT] [--delay-ms N] "
                             "[--count-file FILE]\n");
        return 2;
    }
    g_delay = std::chrono::milliseconds(delayMs);
    if (!countFile.empty()) {
        const int fd = ::open(countFile.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0644);
        if (fd < 0 || ::ftruncate(fd, 4096) != 0) {
            std::perror(countFile.c_str());
            return 1;
        }
        void* map = ::mmap(nullptr, 4096, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
        if (map == MAP_FAILED) {
            std::perror("mmap");
            return 1;
        }
        g_counters = static_cast<uint64_t*>(map);
        ::close(fd);
    }

    const size_t colon = listenAt.rfind(':');
    const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    const int one = 1;
    ::setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(uint16_t(std::atoi(listenAt.substr(colon + 1).c_str())));
    ::inet_pton(AF_INET, listenAt.substr(0, colon).c_str(), &addr.sin_addr);
    if (::bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(listener, 64) != 0) {
        std::perror("latency_proxy: listen");
        return 1;
    }
    socklen_t len = sizeof addr;
    ::getsockname(listener, reinterpret_cast<sockaddr*>(&addr), &len);
    std::printf("port %d\n", ntohs(addr.sin_port));
    std::fflush(stdout);

    for (;;) {
        const int client = ::accept(listener, nullptr, nullptr);
        if (client < 0) {
            if (errno == EINTR)
                continue;
            std::perror("latency_proxy: accept");
            return 1;
        }
        ::setsockopt(client, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        std::thread(serve, client, to).detach();
    }
}
