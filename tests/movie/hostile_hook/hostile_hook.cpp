// A library preloaded into the real movie worker by the tests, standing in for a decoder an
// attacker has taken over: it runs inside the worker's first state change, after every layer of
// the confinement is in place, and tries what such code would try with root's ids. The worker
// then ends with an exit code that says what happened: hookAllRefused when every attempt
// failed, else hookFirstSuccess plus the number of the first attempt that worked (the order of
// HookAttempt). The test reads the code from the movie's error entry. Asked to, it hangs instead.

#include "hostile_hook.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <linux/capability.h>
#include <netinet/in.h>
#include <sched.h>
#include <sys/klog.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/un.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <csignal>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

std::string fromEnvironment(const char* name)
{
    const char* value = std::getenv(name);
    return value ? value : "";
}

bool connectsTo(int family, const sockaddr* address, socklen_t size)
{
    const int probe = ::socket(family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (probe < 0)
        return false;
    const bool connected = ::connect(probe, address, size) == 0;
    ::close(probe);
    return connected;
}

bool reachesUnixSocket(const std::string& name, bool abstract)
{
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (name.empty() || name.size() + 1 >= sizeof address.sun_path)
        return false;
    std::memcpy(address.sun_path + (abstract ? 1 : 0), name.data(), name.size());
    const auto size =
        static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + name.size() + (abstract ? 1 : 0));
    return connectsTo(AF_UNIX, reinterpret_cast<const sockaddr*>(&address), size);
}

bool reachesLoopbackPort(const std::string& port)
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<std::uint16_t>(std::atoi(port.c_str())));
    return !port.empty()
           && connectsTo(AF_INET, reinterpret_cast<const sockaddr*>(&address), sizeof address);
}

bool holdsAnyCapability()
{
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    std::array<__user_cap_data_struct, 2> data{};
    if (::syscall(SYS_capget, &header, data.data()) != 0)
        return false;
    for (const auto& part : data) {
        if (part.effective != 0 || part.permitted != 0)
            return true;
    }
    return false;
}

/// Tries each attempt in HookAttempt order; the number of the first that worked, or -1.
int firstAttemptThatWorks()
{
    const auto other =
        static_cast<pid_t>(std::atoi(fromEnvironment(hookTargetPidVariable).c_str()));
    const auto attempts = std::array<bool, hookAttemptCount>{
        ::getuid() == 0 || ::geteuid() == 0 || ::getgid() == 0 || ::getegid() == 0,
        holdsAnyCapability(),
        reachesUnixSocket(fromEnvironment(hookSocketPathVariable), false),
        reachesUnixSocket(fromEnvironment(hookAbstractNameVariable), true),
        reachesLoopbackPort(fromEnvironment(hookPortVariable)),
        [other] {
            const rlimit lowered{16, 16};
            return other > 0 && ::prlimit(other, RLIMIT_NOFILE, &lowered, nullptr) == 0;
        }(),
        other > 0 && ::setpriority(PRIO_PROCESS, static_cast<id_t>(other), 19) == 0,
        [other] {
            const sched_param idle{0};
            return other > 0 && ::sched_setscheduler(other, SCHED_IDLE, &idle) == 0;
        }(),
        other > 0 && ::kill(other, 0) == 0,
        ::sethostname("taken-over", 10) == 0,
        ::klogctl(10 /* SYSLOG_ACTION_SIZE_BUFFER */, nullptr, 0) >= 0,
        ::open("/etc/shadow", O_RDONLY | O_CLOEXEC) >= 0,
    };
    for (int i = 0; i < hookAttemptCount; ++i) {
        if (attempts[static_cast<std::size_t>(i)])
            return i;
    }
    return -1;
}

} // namespace

extern "C" int gst_element_set_state(void* element, int state)
{
    // Code taken over may as well just hang the worker, in its own process.
    while (std::getenv(hookHangVariable) != nullptr)
        ::pause();
    const int worked = firstAttemptThatWorks();
    (void)element;
    (void)state;
    ::_exit(worked < 0 ? hookAllRefused : hookFirstSuccess + worked);
}
