#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstddef>
#include <cstring>
#include <string>

namespace tagrelay::test {

/// A listening socket that confined code must not reach; accept() tells afterwards whether
/// anyone connected. By default TCP on the loopback address, at a port of the system's choice.
class Listener
{
  public:
    Listener()
    {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        listen(AF_INET, reinterpret_cast<const sockaddr*>(&address), sizeof address);
        socklen_t size = sizeof address;
        if (m_ready && ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&address), &size) == 0)
            m_port = ntohs(address.sin_port);
    }
    /// A Unix socket at a path, or with abstract set at that name in the abstract namespace.
    Listener(const std::string& name, bool abstract)
    {
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        if (name.size() + 2 > sizeof address.sun_path)
            return;
        std::memcpy(address.sun_path + (abstract ? 1 : 0), name.data(), name.size());
        listen(AF_UNIX, reinterpret_cast<const sockaddr*>(&address),
               static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + name.size()
                                      + (abstract ? 1 : 0)));
    }
    Listener(const Listener&) = delete;
    Listener& operator=(const Listener&) = delete;
    ~Listener()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }

    bool isReady() const { return m_ready; }
    /// The TCP port; 0 for a Unix socket or one that is not listening.
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
    void listen(int family, const sockaddr* address, socklen_t size)
    {
        m_fd = ::socket(family, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        m_ready = m_fd >= 0 && ::bind(m_fd, address, size) == 0 && ::listen(m_fd, 4) == 0;
    }

    int m_fd = -1;
    int m_port = 0;
    bool m_ready = false;
};

} // namespace tagrelay::test
