#include "app/StopSignals.h"

#include "rtl/Exceptions.h"

#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <system_error>
#include <unistd.h>

namespace harvolin
{
namespace
{

sigset_t StopSet()
{
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    return set;
}

}   // namespace

TStopSignals::TStopSignals(TStopRequest& request) : FRequest(request)
{
    const sigset_t set = StopSet();
    if (const int error = pthread_sigmask(SIG_BLOCK, &set, nullptr); error != 0)
        throw std::system_error(error, std::generic_category(), "blocking SIGINT and SIGTERM");
    FSignals = signalfd(-1, &set, SFD_CLOEXEC);
    FWake = eventfd(0, EFD_CLOEXEC);
    if (FSignals < 0 || FWake < 0)
    {
        const int error = errno;
        if (FSignals >= 0)
            ::close(FSignals);
        if (FWake >= 0)
            ::close(FWake);
        throw std::system_error(error, std::generic_category(), "watching SIGINT and SIGTERM");
    }
    FThread = std::thread([this] { Watch(); });
}

TStopSignals::~TStopSignals()
{
    const std::uint64_t one = 1;
    (void)!::write(FWake, &one, sizeof one);
    FThread.join();
    ::close(FSignals);
    ::close(FWake);
}

void TStopSignals::Watch()
{
    int taken = 0;
    for (;;)
    {
        pollfd watched[2] = {{FSignals, POLLIN, 0}, {FWake, POLLIN, 0}};
        if (::poll(watched, 2, -1) < 0)
        {
            if (errno == EINTR)
                continue;
            return;
        }
        if ((watched[1].revents & POLLIN) != 0)
            return;
        signalfd_siginfo info{};
        if (::read(FSignals, &info, sizeof info) != static_cast<ssize_t>(sizeof info))
            continue;
        const int signal = static_cast<int>(info.ssi_signo);
        if (++taken > 1)
            std::_Exit(128 + signal);
        FRequest.Request(signal);
    }
}

}   // namespace harvolin
