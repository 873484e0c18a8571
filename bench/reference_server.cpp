// The floor the host link is measured against: a bare epoll server with no framework. Each
// readiness event on a connection is one read answered by one fixed reply; end of input
// closes the connection.

#include "bench_reply.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

namespace {

int listenOn(unsigned short port)
{
    const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    const int on = 1;
    ::setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(listener, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0 ||
        ::listen(listener, SOMAXCONN) != 0) {
        std::perror("scrivora-bench-epoll: listen");
        std::exit(1);
    }
    return listener;
}

void acceptAll(int listener, int epoll)
{
    // Level-triggered: take what is queued now, the next wake-up brings the rest.
    for (;;) {
        const int connection = ::accept4(listener, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (connection < 0)
            return;
        epoll_event event{};
        event.events = EPOLLIN;
        event.data.fd = connection;
        ::epoll_ctl(epoll, EPOLL_CTL_ADD, connection, &event);
    }
}

void serve(int connection)
{
    char buffer[65536];
    const ssize_t count = ::recv(connection, buffer, sizeof buffer, 0);
    if (count < 0 && (errno == EAGAIN || errno == EINTR))
        return;
    // A reply the socket does not take at once is not worth queueing in a floor measurement:
    // the benchmark's hosts always read.
    if (count <= 0 || ::send(connection, bench::FixedReply, bench::FixedReplySize, MSG_NOSIGNAL) !=
                          ssize_t(bench::FixedReplySize))
        ::close(connection); // closing also leaves the epoll set
}

} // namespace

int main(int argc, char *argv[])
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: scrivora-bench-epoll PORT\n");
        return 2;
    }
    const int listener = listenOn(static_cast<unsigned short>(std::atoi(argv[1])));
    const int epoll = ::epoll_create1(EPOLL_CLOEXEC);
    epoll_event event{};
    event.events = EPOLLIN;
    event.data.fd = listener;
    ::epoll_ctl(epoll, EPOLL_CTL_ADD, listener, &event);
    epoll_event ready[64];
    for (;;) {
        const int count = ::epoll_wait(epoll, ready, 64, -1);
        for (int i = 0; i < count; ++i) {
            if (ready[i].data.fd == listener)
                acceptAll(listener, epoll);
            else
                serve(ready[i].data.fd);
        }
    }
}
