#pragma once

// Small helpers for tests on loopback: addresses, ports, plain sockets.
#include <QFile>
#include <QList>
#include <QString>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace korvo::test {

// A plain descriptor that closes itself.
class Fd
{
public:
    explicit Fd(int fd = -1) : m_fd(fd) {}
    ~Fd() { reset(); }
    Fd(Fd&& other) noexcept : m_fd(other.release()) {}
    Fd& operator=(Fd&& other) noexcept
    {
        reset(other.release());
        return *this;
    }
    int get() const { return m_fd; }
    int release()
    {
        const int fd = m_fd;
        m_fd = -1;
        return fd;
    }
    void reset(int fd = -1)
    {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = fd;
    }

private:
    int m_fd;
};

inline sockaddr_storage Loopback(int family, unsigned short port, socklen_t* length)
{
    sockaddr_storage a{};
    if (family == AF_INET6) {
        auto* in6 = reinterpret_cast<sockaddr_in6*>(&a);
        in6->sin6_family = AF_INET6;
        in6->sin6_addr = in6addr_loopback;
        in6->sin6_port = htons(port);
        *length = sizeof(sockaddr_in6);
    } else {
        auto* in = reinterpret_cast<sockaddr_in*>(&a);
        in->sin_family = AF_INET;
        in->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        in->sin_port = htons(port);
        *length = sizeof(sockaddr_in);
    }
    return a;
}

inline unsigned short LocalPort(int fd)
{
    sockaddr_storage a{};
    socklen_t length = sizeof a;
    getsockname(fd, reinterpret_cast<sockaddr*>(&a), &length);
    return a.ss_family == AF_INET6 ? ntohs(reinterpret_cast<sockaddr_in6*>(&a)->sin6_port)
                                   : ntohs(reinterpret_cast<sockaddr_in*>(&a)->sin_port);
}

// A port that was free a moment ago (bound on all addresses, then released).
inline unsigned short FreePort(int type = SOCK_STREAM, int family = AF_INET)
{
    Fd fd(::socket(family, type, 0));
    sockaddr_storage a{};
    a.ss_family = static_cast<sa_family_t>(family);
    bind(fd.get(), reinterpret_cast<sockaddr*>(&a),
         family == AF_INET6 ? sizeof(sockaddr_in6) : sizeof(sockaddr_in));
    return LocalPort(fd.get());
}

// A blocking loopback listener on a free port.
inline Fd Listener(int family = AF_INET, int backlog = 4)
{
    Fd fd(::socket(family, SOCK_STREAM, 0));
    socklen_t length;
    const sockaddr_storage a = Loopback(family, 0, &length);
    bind(fd.get(), reinterpret_cast<const sockaddr*>(&a), length);
    listen(fd.get(), backlog);
    return fd;
}

// A blocking connect to the loopback port; -1 inside on failure.
inline Fd ConnectTo(int family, unsigned short port)
{
    Fd fd(::socket(family, SOCK_STREAM, 0));
    socklen_t length;
    const sockaddr_storage a = Loopback(family, port, &length);
    if (::connect(fd.get(), reinterpret_cast<const sockaddr*>(&a), length) != 0)
        fd.reset();
    return fd;
}

// Waits (bounded) until the descriptor is readable; no event loop involved.
inline bool Readable(int fd, int timeoutMs = 5000)
{
    pollfd p{fd, POLLIN, 0};
    return ::poll(&p, 1, timeoutMs) == 1 && (p.revents & (POLLIN | POLLHUP | POLLERR));
}

// Reads what is there without blocking; -1 on error, 0 at end of stream.
inline ssize_t ReadSome(int fd, std::string* out = nullptr)
{
    char buf[65536];
    const ssize_t n = ::recv(fd, buf, sizeof buf, MSG_DONTWAIT);
    if (n > 0 && out)
        out->append(buf, static_cast<size_t>(n));
    return n;
}

// Whether something listens on the TCP port, read from the kernel's table
// rather than by connecting (which would use up a one-shot server).
inline bool Listening(unsigned short port)
{
    const QByteArray needle = QStringLiteral(":%1 ").arg(port, 4, 16, QLatin1Char('0')).toUpper().toLatin1();
    for (const char* table : {"/proc/net/tcp", "/proc/net/tcp6"}) {
        QFile file(QString::fromLatin1(table));
        if (!file.open(QIODevice::ReadOnly))
            continue;
        for (const QByteArray& line : file.readAll().split('\n')) {
            const QList<QByteArray> fields = line.simplified().split(' ');
            if (fields.size() > 3 && fields[1].endsWith(needle.trimmed()) && fields[3] == "0A")
                return true;
        }
    }
    return false;
}

// The same bytes every run, a different run for each seed.
inline std::string Pattern(std::size_t n, int seed)
{
    std::string bytes(n, '\0');
    for (std::size_t i = 0; i < n; ++i)
        bytes[i] = static_cast<char>(i * seed + i / 509);
    return bytes;
}

// For its lifetime the process has no descriptor to spare: the limit is
// lowered to just above what is open, and the rest are taken.
class DescriptorShortage
{
public:
    DescriptorShortage()
    {
        getrlimit(RLIMIT_NOFILE, &m_saved);
        int highest = 0;
        for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd"))
            highest = std::max(highest, std::atoi(entry.path().filename().c_str()));
        rlimit low = m_saved;
        low.rlim_cur = static_cast<rlim_t>(highest + 8);
        setrlimit(RLIMIT_NOFILE, &low);
        for (int fd; (fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC)) >= 0;)
            m_taken.emplace_back(fd);
        error = errno;
    }
    ~DescriptorShortage()
    {
        m_taken.clear();
        setrlimit(RLIMIT_NOFILE, &m_saved);
    }
    DescriptorShortage(const DescriptorShortage&) = delete;
    DescriptorShortage& operator=(const DescriptorShortage&) = delete;

    // Why the last descriptor could not be had: EMFILE.
    int error = 0;

private:
    rlimit m_saved{};
    std::vector<Fd> m_taken;
};

} // namespace korvo::test
