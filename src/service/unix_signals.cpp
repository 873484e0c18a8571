#include "service/unix_signals.h"

#include <QSocketNotifier>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// Read by the handler, which may run on any thread: lock-free, so safe there.
std::atomic<int> g_signalWriteEnd = -1;
static_assert(std::atomic<int>::is_always_lock_free);

/// A service manager's stop, Ctrl+C, and a closed terminal.
constexpr int HandledSignals[] = {SIGTERM, SIGINT, SIGHUP};

// Only async-signal-safe calls here: write one byte and keep errno as it was.
void forwardSignal(int signalNumber)
{
    const int savedErrno = errno;
    const unsigned char byte = static_cast<unsigned char>(signalNumber);
    [[maybe_unused]] const ssize_t written = ::write(g_signalWriteEnd, &byte, 1);
    errno = savedErrno;
}

} // namespace

UnixSignalWatcher::UnixSignalWatcher(QObject *parent) : QObject(parent)
{
    if (g_signalWriteEnd != -1)
        return;
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, m_sockets.data()) != 0)
        return;
    g_signalWriteEnd = m_sockets[0];

    struct sigaction action
    {
    };
    action.sa_handler = forwardSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int signalNumber : HandledSignals) {
        // A signal the starter chose to ignore (nohup, a background job) stays ignored.
        struct sigaction inherited
        {
        };
        ::sigaction(signalNumber, nullptr, &inherited);
        if (inherited.sa_handler != SIG_IGN)
            ::sigaction(signalNumber, &action, nullptr);
    }

    m_notifier = new QSocketNotifier(m_sockets[1], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &UnixSignalWatcher::readPendingSignals);
}

UnixSignalWatcher::~UnixSignalWatcher()
{
    if (!m_notifier) {
        for (int socket : m_sockets) {
            if (socket != -1)
                ::close(socket);
        }
        return;
    }
    delete m_notifier;
    // The program is ending: a further request to end must not cut its last steps short.
    for (const int signalNumber : HandledSignals)
        ::signal(signalNumber, SIG_IGN);
    g_signalWriteEnd = -1;
    ::close(m_sockets[0]);
    ::close(m_sockets[1]);
}

void UnixSignalWatcher::readPendingSignals()
{
    unsigned char byte = 0;
    while (::read(m_sockets[1], &byte, 1) == 1)
        emit terminationRequested(byte);
}
