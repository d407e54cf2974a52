#include "movie/descriptor_passing.h"

#include <sys/socket.h>

#include <array>
#include <cstring>

namespace tagrelay {

namespace {

/// Room for the control message of a few descriptors: more than one never comes in this
/// protocol, and what does not fit the kernel closes.
constexpr std::size_t descriptorRoom = 4;

} // namespace

ssize_t sendWithDescriptor(int socket, std::span<const std::uint8_t> bytes, int descriptor,
                           int flags)
{
    iovec piece{const_cast<std::uint8_t*>(bytes.data()), bytes.size()};
    msghdr message{};
    message.msg_iov = &piece;
    message.msg_iovlen = 1;
    alignas(cmsghdr) std::array<std::uint8_t, CMSG_SPACE(sizeof(int))> control{};
    if (descriptor >= 0) {
        message.msg_control = control.data();
        message.msg_controllen = control.size();
        cmsghdr* header = CMSG_FIRSTHDR(&message);
        header->cmsg_level = SOL_SOCKET;
        header->cmsg_type = SCM_RIGHTS;
        header->cmsg_len = CMSG_LEN(sizeof(int));
        std::memcpy(CMSG_DATA(header), &descriptor, sizeof(int));
    }
    return ::sendmsg(socket, &message, flags);
}

ssize_t receiveWithDescriptors(int socket, std::span<std::uint8_t> buffer,
                               std::vector<int>& descriptors)
{
    iovec piece{buffer.data(), buffer.size()};
    msghdr message{};
    message.msg_iov = &piece;
    message.msg_iovlen = 1;
    alignas(cmsghdr) std::array<std::uint8_t, CMSG_SPACE(descriptorRoom * sizeof(int))> control{};
    message.msg_control = control.data();
    message.msg_controllen = control.size();
    const ssize_t got = ::recvmsg(socket, &message, MSG_CMSG_CLOEXEC);
    if (got >= 0 && message.msg_controllen > 0) {
        const auto found = descriptorsIn({control.data(), message.msg_controllen});
        descriptors.insert(descriptors.end(), found.begin(), found.end());
    }
    return got;
}

std::vector<int> descriptorsIn(std::span<const std::uint8_t> control)
{
    std::vector<int> descriptors;
    const std::size_t headerBytes = CMSG_LEN(0); // the header with its padding
    std::size_t at = 0;
    while (control.size() - at >= sizeof(cmsghdr)) {
        cmsghdr header{};
        std::memcpy(&header, control.data() + at, sizeof header);
        if (header.cmsg_len < headerBytes || header.cmsg_len > control.size() - at)
            break;
        if (header.cmsg_level == SOL_SOCKET && header.cmsg_type == SCM_RIGHTS) {
            const std::size_t count = (header.cmsg_len - headerBytes) / sizeof(int);
            for (std::size_t i = 0; i < count; ++i) {
                int descriptor = -1;
                std::memcpy(&descriptor, control.data() + at + headerBytes + i * sizeof(int),
                            sizeof(int));
                descriptors.push_back(descriptor);
            }
        }
        const std::size_t step = CMSG_ALIGN(header.cmsg_len);
        if (step > control.size() - at)
            break;
        at += step;
    }
    return descriptors;
}

} // namespace tagrelay
