#include "tcp_client.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <random>
#include <stdexcept>

namespace bench {
namespace {

sockaddr_in loopback(unsigned short port)
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

bool isPortFree(unsigned short port)
{
    const int probe = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const sockaddr_in address = loopback(port);
    const bool free =
        ::bind(probe, reinterpret_cast<const sockaddr *>(&address), sizeof address) == 0;
    ::close(probe);
    return free;
}

/// The low end of the range the system picks outgoing ports from.
unsigned short ephemeralLow()
{
    std::ifstream range("/proc/sys/net/ipv4/ip_local_port_range");
    unsigned int low = 32768;
    range >> low;
    return static_cast<unsigned short>(low);
}

} // namespace

unsigned short freePort()
{
    static std::mt19937 random(std::random_device{}());
    const unsigned short high = ephemeralLow();
    const unsigned short low = high > 12000 ? high - 10000 : 1024;
    std::uniform_int_distribution<unsigned int> pick(low, high - 1u);
    for (int attempt = 0; attempt < 200; ++attempt) {
        const auto port = static_cast<unsigned short>(pick(random));
        if (isPortFree(port))
            return port;
    }
    throw std::runtime_error("no free port below the outgoing range");
}

Connection Connection::open(unsigned short port, int timeoutMs)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    timeval timeout{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    const int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    const sockaddr_in address = loopback(port);
    if (::connect(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) != 0) {
        const int error = errno;
        ::close(fd);
        errno = error;
        return Connection();
    }
    return Connection(fd);
}

Connection::~Connection()
{
    close();
}

Connection::Connection(Connection &&other) noexcept : m_fd(other.m_fd)
{
    other.m_fd = -1;
}

Connection &Connection::operator=(Connection &&other) noexcept
{
    if (this != &other) {
        close();
        m_fd = other.m_fd;
        other.m_fd = -1;
    }
    return *this;
}

void Connection::close()
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
}

bool Connection::send(std::string_view bytes)
{
    std::size_t sent = 0;
    // Each pass moves at least one byte or fails, so this ends.
    while (sent < bytes.size()) {
        const ssize_t count = ::send(m_fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (count <= 0)
            return false;
        sent += std::size_t(count);
    }
    return true;
}

bool Connection::receiveExactly(std::string_view expected)
{
    char buffer[512];
    if (expected.size() > sizeof buffer)
        return false;
    std::size_t received = 0;
    while (received < expected.size()) {
        const ssize_t count = ::recv(m_fd, buffer + received, expected.size() - received, 0);
        if (count <= 0)
            return false;
        received += std::size_t(count);
    }
    return std::memcmp(buffer, expected.data(), expected.size()) == 0;
}

bool Connection::exchange(std::string_view request, std::string_view expectedReply)
{
    return send(request) && receiveExactly(expectedReply);
}

std::optional<std::string> Connection::receiveUntil(std::string_view marker, int timeoutMs)
{
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    std::string received;
    while (received.find(marker) == std::string::npos) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        pollfd ready{m_fd, POLLIN, 0};
        if (left.count() <= 0 || ::poll(&ready, 1, int(left.count())) <= 0)
            return std::nullopt;
        char buffer[4096];
        const ssize_t count = ::recv(m_fd, buffer, sizeof buffer, MSG_DONTWAIT);
        if (count == 0 || (count < 0 && errno != EAGAIN))
            return std::nullopt;
        if (count > 0)
            received.append(buffer, std::size_t(count));
    }
    return received;
}

long long Connection::receiveUpTo(long long count, int quietMs)
{
    long long received = 0;
    char buffer[65536];
    while (received < count) {
        pollfd ready{m_fd, POLLIN, 0};
        if (::poll(&ready, 1, quietMs) <= 0)
            break;
        const ssize_t got =
            ::recv(m_fd, buffer, std::size_t(std::min<long long>(count - received, sizeof buffer)),
                   MSG_DONTWAIT);
        if (got == 0 || (got < 0 && errno != EAGAIN))
            break;
        if (got > 0)
            received += got;
    }
    return received;
}

} // namespace bench
