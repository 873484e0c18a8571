#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace bench {

/// A free TCP port on 127.0.0.1 outside the range the system hands to outgoing connections,
/// so the benchmark's own clients never occupy it.
unsigned short freePort();

/// A blocking client connection to 127.0.0.1 with TCP_NODELAY. Every connect, send and
/// receive gives up after the time-out given at open().
class Connection
{
public:
    Connection() = default;
    /// Connects to @p port; an unopened connection (see isOpen()) when that fails in time.
    static Connection open(unsigned short port, int timeoutMs);
    ~Connection();
    Connection(Connection &&other) noexcept;
    Connection &operator=(Connection &&other) noexcept;
    Connection(const Connection &) = delete;
    Connection &operator=(const Connection &) = delete;

    bool isOpen() const { return m_fd >= 0; }
    int fd() const { return m_fd; }
    void close();

    /// Sends all of @p bytes as one write; false when the connection refused them.
    bool send(std::string_view bytes);
    /// Receives exactly @p expected.size() bytes and compares them with @p expected.
    bool receiveExactly(std::string_view expected);
    /// Sends @p request, then receives exactly @p expectedReply.
    bool exchange(std::string_view request, std::string_view expectedReply);
    /// Receives until the bytes so far hold @p marker (returns them) or @p timeoutMs passes.
    std::optional<std::string> receiveUntil(std::string_view marker, int timeoutMs);
    /// Receives up to @p count bytes, stopping when nothing arrives for @p quietMs; returns
    /// how many came.
    long long receiveUpTo(long long count, int quietMs);

private:
    explicit Connection(int fd) : m_fd(fd) {}
    int m_fd = -1;
};

} // namespace bench
