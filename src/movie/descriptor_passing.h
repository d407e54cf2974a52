#pragma once

#include <sys/types.h>

#include <cstdint>
#include <span>
#include <vector>

namespace tagrelay {

/// Sends bytes on a Unix socket with an open file descriptor riding along (SCM_RIGHTS): the
/// receiver gets its own descriptor of the same open file. Sends once, as send() does, with
/// its flags; returns what send() would (the bytes sent, or -1 with errno set).
ssize_t sendWithDescriptor(int socket, std::span<const std::uint8_t> bytes, int descriptor,
                           int flags);

/// Receives bytes as recv() does, and appends the file descriptors that came with them to
/// descriptors (each close-on-exec; the caller owns and closes them).
ssize_t receiveWithDescriptors(int socket, std::span<std::uint8_t> buffer,
                               std::vector<int>& descriptors);

/// The file descriptors in a control buffer as recvmsg() fills it: those of each SCM_RIGHTS
/// message lying wholly inside it, in order. Malformed or foreign messages are skipped; a
/// header whose length does not fit ends the reading.
[[nodiscard]] std::vector<int> descriptorsIn(std::span<const std::uint8_t> control);

} // namespace tagrelay
