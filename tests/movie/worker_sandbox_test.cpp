// Each layer of the movie worker's confinement, alone, in a child process of its own: what it
// must block is blocked, and what the worker needs still works. A layer the kernel refuses is
// skipped with the reason.
#include "movie/worker_sandbox.h"
#include "support/support.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <functional>
#include <string>

namespace tagrelay {
namespace {

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

/// A TCP listener on the loopback address of the test's own network.
class Listener
{
  public:
    Listener()
    {
        m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof address;
        if (::bind(m_fd, reinterpret_cast<sockaddr*>(&address), size) != 0 || ::listen(m_fd, 4) != 0
            || ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&address), &size) != 0)
            return;
        m_port = ntohs(address.sin_port);
    }
    ~Listener() { ::close(m_fd); }
    int port() const { return m_port; }
    /// Whether anyone connected so far.
    bool wasCalled() const
    {
        const int peer = ::accept(m_fd, nullptr, nullptr);
        if (peer >= 0)
            ::close(peer);
        return peer >= 0;
    }

  private:
    int m_fd = -1;
    int m_port = 0;
};

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
         {Confinement{true, true, true, 7}, Confinement{false, true, false, 0},
          Confinement{true, false, true, 15}, Confinement{}}) {
        EXPECT_EQ(confinementOf(confinementByte(confinement)), confinement);
    }
    EXPECT_EQ(confinementOf(confinementByte(Confinement{false, false, false, 40})).fileSystemAbi,
              15);
}

} // namespace
} // namespace tagrelay
