#include "fleet/signalpipe.h"

#include <cerrno>
#include <csignal>

#include <QSocketNotifier>

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int pipeEnds[2] = {-1, -1};

void onSignal(int number)
{
    const int saved = errno;
    const unsigned char byte = static_cast<unsigned char>(number);
    // A full pipe drops the byte: signals already waiting say as much.
    [[maybe_unused]] const ssize_t written = ::write(pipeEnds[0], &byte, 1);
    errno = saved;
}

} // namespace

SignalPipe::SignalPipe(QObject *parent)
    : QObject(parent)
{
}

SignalPipe::~SignalPipe()
{
    if (!m_notifier)
        return;
    for (const int number : {SIGTERM, SIGINT, SIGHUP})
        ::signal(number, SIG_DFL);
    delete m_notifier;
    ::close(pipeEnds[0]);
    ::close(pipeEnds[1]);
    pipeEnds[0] = pipeEnds[1] = -1;
}

bool SignalPipe::install()
{
    if (m_notifier)
        return true;
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pipeEnds) != 0)
        return false;
    for (const int end : pipeEnds)
        ::fcntl(end, F_SETFL, ::fcntl(end, F_GETFL) | O_NONBLOCK);
    m_notifier = new QSocketNotifier(pipeEnds[1], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &SignalPipe::readSignals);

    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int number : {SIGTERM, SIGINT, SIGHUP})
        ::sigaction(number, &action, nullptr);
    return true;
}

void SignalPipe::readSignals()
{
    unsigned char numbers[64];
    for (;;) {
        const ssize_t got = ::read(pipeEnds[1], numbers, sizeof numbers);
        if (got <= 0)
            return;
        for (ssize_t i = 0; i < got; ++i) {
            if (numbers[i] == SIGHUP)
                emit reloadAsked();
            else
                emit stopAsked(numbers[i]);
        }
    }
}
