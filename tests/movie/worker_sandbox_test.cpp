// Each layer of the movie worker's confinement, alone, in a child process of its own: what it
// must block is blocked, and what the worker needs still works. A layer the kernel refuses is
// skipped with the reason.
#include "movie/listener.h"
#include "movie/worker_sandbox.h"
#include "support/support.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/capability.h>
#include <netinet/in.h>
#include <sched.h>
#include <sys/klog.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>

namespace tagrelay {
namespace {

using test::Listener;

using test::inChild;

/// What a child found: 0 when all was as expected, else the number of the first check that
/// failed; 100 when the layer could not be set up.
constexpr int layerRefused = 100;

bool opens(const std::string& path, int flags = O_RDONLY)
{
    const int fd = ::open(path.c_str(), flags | O_CLOEXEC, 0600);
    if (fd >= 0)
        ::close(fd);
    return fd >= 0;
}

bool connectsTo(int port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    const bool connected =
        ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return connected;
}

TEST(WorkerSandboxTest, TheSocketFilterAllowsNoSocketButANewPair)
{
    Listener listener;
    ASSERT_NE(listener.port(), 0);
    const int result = inChild([&] {
        if (!forbidNewPrivileges() || !allowOnlySocketPairs())
            return layerRefused;
        if (::socket(AF_INET, SOCK_STREAM, 0) >= 0 || errno != EAFNOSUPPORT)
            return 1;
        if (::socket(AF_INET6, SOCK_DGRAM, 0) >= 0 || ::socket(AF_NETLINK, SOCK_RAW, 0) >= 0
            || ::socket(AF_PACKET, SOCK_RAW, 0) >= 0)
            return 2;
        if (connectsTo(listener.port()))
            return 3;
        // Not even a Unix socket: the worker reaches no display, sound server or bus.
        if (::socket(AF_UNIX, SOCK_STREAM, 0) >= 0 || ::socket(AF_UNIX, SOCK_DGRAM, 0) >= 0)
            return 4;
        int pair[2];
        if (::socketpair(AF_UNIX, SOCK_STREAM, 0, pair) != 0)
            return 5;
        // io_uring could open sockets past the filter; new namespaces and tracing are refused.
        if (::syscall(SYS_io_uring_setup, 1, nullptr) >= 0 || errno != ENOSYS)
            return 6;
        if (::unshare(CLONE_NEWUSER) == 0 || ::syscall(SYS_ptrace, 0, 0, 0, 0) == 0)
            return 7;
        return 0;
    });
    if (result == layerRefused)
        GTEST_SKIP() << "this kernel or architecture has no seccomp filters";
    EXPECT_EQ(result, 0) << "check " << result << " failed";
    EXPECT_FALSE(listener.wasCalled());
}

/// What a process that took over the worker could try on the machine's other processes and
/// on root's own sockets; each returns true when it got through.
struct HostileTries
{
    std::string rootOnlySocket; // a listening Unix socket in a folder only root may enter
    pid_t rootProcess = 0;      // a process of root's, the test itself

    bool connectsToRootSocket() const
    {
        const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd < 0)
            return false;
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::snprintf(address.sun_path, sizeof address.sun_path, "%s", rootOnlySocket.c_str());
        const bool connected =
            ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
        ::close(fd);
        return connected;
    }
    bool changesRootsLimits() const
    {
        rlimit limit{};
        return ::prlimit(rootProcess, RLIMIT_NOFILE, nullptr, &limit) == 0
               && ::prlimit(rootProcess, RLIMIT_NOFILE, &limit, nullptr) == 0;
    }
    bool changesRootsPriority() const
    {
        errno = 0;
        const int now = ::getpriority(PRIO_PROCESS, static_cast<id_t>(rootProcess));
        return errno == 0 && ::setpriority(PRIO_PROCESS, static_cast<id_t>(rootProcess), now) == 0;
    }
    bool changesRootsScheduling() const
    {
        cpu_set_t all;
        CPU_ZERO(&all);
        return ::sched_getaffinity(rootProcess, sizeof all, &all) == 0
               && ::sched_setaffinity(rootProcess, sizeof all, &all) == 0;
    }
    static bool changesTheHostName()
    {
        char name[256] = {};
        return ::gethostname(name, sizeof name - 1) == 0
               && ::sethostname(name, std::strlen(name)) == 0;
    }
    static bool readsTheKernelLog()
    {
        char line[64];
        return ::klogctl(3, line, sizeof line) >= 0; // SYSLOG_ACTION_READ_ALL
    }
};

/// Root's socket in a folder of root's that nobody else may enter, listening.
class RootOnlySocket
{
  public:
    RootOnlySocket()
    {
        const std::string folder = m_tree.makeDir("private");
        ::chmod(folder.c_str(), 0700);
        path = folder + "bus";
        m_fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::snprintf(address.sun_path, sizeof address.sun_path, "%s", path.c_str());
        if (::bind(m_fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0
            || ::listen(m_fd, 4) != 0)
            path.clear();
    }
    ~RootOnlySocket() { ::close(m_fd); }
    std::string path;

  private:
    test::TempTree m_tree;
    int m_fd = -1;
};

// Started as root, the worker becomes an unused user with no capability: root's socket in a
// private folder, root's processes and the machine's names are out of its reach, whatever
// runs in it later; its own limits and priority it may still set.
TEST(WorkerSandboxTest, RootGivenUpReachesNoneOfRootsThings)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "only a worker started by root has root to give up";
    RootOnlySocket socket;
    ASSERT_FALSE(socket.path.empty());
    const HostileTries tries{socket.path, ::getpid()};
    ASSERT_TRUE(tries.connectsToRootSocket()); // root itself may
    const int result = inChild([&] {
        const UnusedIds ids = findUnusedIds();
        if (ids.user == 0 || !dropRootFor(ids))
            return layerRefused;
        if (::getuid() != ids.user || ::getgid() != ids.group || ::getgroups(0, nullptr) != 0)
            return 1;
        if (::prctl(PR_CAPBSET_READ, CAP_SYS_ADMIN, 0, 0, 0) != 0
            || ::prctl(PR_CAPBSET_READ, CAP_SETUID, 0, 0, 0) != 0)
            return 2;
        if (tries.connectsToRootSocket())
            return 3;
        if (tries.changesRootsLimits() || tries.changesRootsPriority())
            return 4;
        if (HostileTries::changesTheHostName())
            return 5;
        if (::setuid(0) == 0 || ::seteuid(0) == 0)
            return 6;
        rlimit own{};
        if (::getrlimit(RLIMIT_NOFILE, &own) != 0 || ::setrlimit(RLIMIT_NOFILE, &own) != 0)
            return 7;
        return 0;
    });
    if (result == layerRefused)
        GTEST_SKIP() << "no unused id, or the ids cannot be changed here";
    EXPECT_EQ(result, 0) << "check " << result << " failed";
}

// The system call filter alone, in a process still root: the calls on other processes and on
// the machine are refused, the same calls on the process itself still work.
TEST(WorkerSandboxTest, TheFilterRefusesWhatRootCouldDoToOthers)
{
    RootOnlySocket socket;
    ASSERT_FALSE(socket.path.empty());
    const HostileTries tries{socket.path, ::getpid()};
    const int result = inChild([&] {
        if (!forbidNewPrivileges() || !allowOnlySocketPairs())
            return layerRefused;
        int pair[2];
        if (::socketpair(AF_UNIX, SOCK_STREAM, 0, pair) != 0)
            return 1;
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::snprintf(address.sun_path, sizeof address.sun_path, "%s", socket.path.c_str());
        if (::connect(pair[0], reinterpret_cast<sockaddr*>(&address), sizeof address) == 0
            || errno != EPERM)
            return 2;
        if (tries.changesRootsLimits() || tries.changesRootsPriority()
            || tries.changesRootsScheduling())
            return 3;
        if (HostileTries::changesTheHostName() || HostileTries::readsTheKernelLog())
            return 4;
        rlimit own{};
        if (::getrlimit(RLIMIT_NOFILE, &own) != 0 || ::setrlimit(RLIMIT_NOFILE, &own) != 0)
            return 5;
        cpu_set_t mine;
        CPU_ZERO(&mine);
        if (::sched_getaffinity(0, sizeof mine, &mine) != 0
            || ::sched_setaffinity(0, sizeof mine, &mine) != 0
            || ::setpriority(PRIO_PROCESS, 0, ::getpriority(PRIO_PROCESS, 0)) != 0)
            return 6;
        return 0;
    });
    if (result == layerRefused)
        GTEST_SKIP() << "this kernel or architecture has no seccomp filters";
    EXPECT_EQ(result, 0) << "check " << result << " failed";
}

TEST(WorkerSandboxTest, TheFileSystemRulesAllowReadingTheAllowedFoldersOnly)
{
    test::TempTree tree;
    const std::string allowed = tree.makeDir("plugins");
    const std::string plugin = tree.writeFile("plugins/libgstfake.so", "plugin");
    const std::string secret = tree.writeFile("private/secret.ts", "secret");
    const std::string writable = tree.makeDir("elsewhere");
    const int result = inChild([&] {
        if (!forbidNewPrivileges())
            return layerRefused;
        FileSystemAllowance allowance;
        allowance.readable = {allowed, "/usr/lib", "/etc/ld.so.cache", tree.path() + "missing"};
        const int abi = confineFileSystem(allowance);
        if (abi < 1)
            return layerRefused;
        if (!opens(plugin) || !opens("/etc/ld.so.cache"))
            return 1;
        if (opens(secret) || errno != EACCES)
            return 2;
        if (opens("/etc/passwd") || opens("/proc/1/root/etc/passwd"))
            return 3;
        if (opens(plugin, O_WRONLY) || opens(writable + "new", O_WRONLY | O_CREAT))
            return 4;
        if (::mkdir((writable + "folder").c_str(), 0700) == 0 || ::unlink(plugin.c_str()) == 0)
            return 5;
        // Cutting a file short needs no open for writing, and a hard link carries a file into
        // another folder: both are refused where the kernel's Landlock knows them.
        if (abi >= 3 && (::truncate(secret.c_str(), 0) == 0 || errno != EACCES))
            return 6;
        if (abi >= 3 && (::truncate(plugin.c_str(), 0) == 0 || errno != EACCES))
            return 7;
        if (::link(plugin.c_str(), (writable + "carried").c_str()) == 0)
            return 8;
        return 0;
    });
    if (result == layerRefused)
        GTEST_SKIP() << "this kernel has no Landlock, or refuses it";
    EXPECT_EQ(result, 0) << "check " << result << " failed";
}

TEST(WorkerSandboxTest, AnOwnNetworkReachesNoListenerOfTheMachine)
{
    Listener listener;
    ASSERT_NE(listener.port(), 0);
    const int result = inChild([&] {
        if (!enterOwnNetwork())
            return layerRefused;
        return connectsTo(listener.port()) ? 1 : 0;
    });
    if (result == layerRefused)
        GTEST_SKIP() << "this kernel refuses a network namespace (no user namespaces?)";
    EXPECT_EQ(result, 0);
    EXPECT_FALSE(listener.wasCalled());
}

TEST(WorkerSandboxTest, TheLayersInForceSurviveTheReadyMessage)
{
    for (const Confinement confinement :
         {Confinement{true, true, true, 7, false, true}, Confinement{false, true, false, 0, true},
          Confinement{true, false, true, 5, true, false}, Confinement{}}) {
        EXPECT_EQ(confinementOf(confinementByte(confinement)), confinement);
    }
    EXPECT_EQ(confinementOf(confinementByte(Confinement{false, false, false, 40})).fileSystemAbi,
              7);
}

} // namespace
} // namespace tagrelay
