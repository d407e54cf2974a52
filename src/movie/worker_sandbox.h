#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tagrelay {

// The confinement of the movie worker, in layers that each stand on their own, so that a
// kernel without one of them still has the others. Each answers whether it is in force; none
// fails the worker when the kernel refuses it.

/// The layers in force, as the worker reports them in its Ready message.
struct Confinement
{
    bool ownNetwork = false;      // a network namespace of its own: no interface, no peer
    bool noNewPrivileges = false; // no program it could run gains privileges
    bool socketPairsOnly = false; // the system call filter: no socket but a new pair
    int fileSystemAbi = 0;        // Landlock ABI version of the file system rules; 0: none
    bool ownUser = false;         // started as root, it runs as an unused user, no capability
    bool ownProcesses = false;    // a process namespace of its own: no other process to reach

    friend bool operator==(const Confinement&, const Confinement&) = default;
};

/// The confinement as one byte: bit 0 own network, bit 1 no new privileges, bit 2 local
/// socket pairs only, bit 3 an unused user of its own, bits 4..6 the Landlock ABI (capped at
/// 7), bit 7 a process namespace of its own.
[[nodiscard]] std::uint8_t confinementByte(const Confinement& confinement);
[[nodiscard]] Confinement confinementOf(std::uint8_t byte);

/// Gives the process a network namespace of its own, and its own host name (UTS) and System V
/// IPC namespaces: run by root, as root may make them; run by a user, in a user namespace of
/// its own where the kernel allows it (the process then also holds no privilege over anything
/// outside). Only while the process has a single thread. False when no network namespace
/// could be had.
bool enterOwnNetwork();

/// The user and group a process run by root becomes: the first ids from unusedIdsFrom down
/// that neither the password nor the group database knows, so that no file or process of
/// anyone's is its own. Nothing when none is free.
inline constexpr std::uint32_t unusedIdsFrom = 0x7FFFFF00;
struct UnusedIds
{
    std::uint32_t user = 0;
    std::uint32_t group = 0;
};
[[nodiscard]] UnusedIds findUnusedIds();

/// Puts the rest of the process's life in a process namespace of its own, where no other
/// process of the machine can be seen, signalled or changed. A new namespace holds only the
/// children made after entering it, so the process forks: the child returns true and goes on
/// as the namespace's first process; the parent gives up root for ids (when it was root),
/// closes its copy of keptSocket and every other descriptor, waits for the child and ends as
/// the child ended, so whoever started it sees the child's end as its own. Killing the parent
/// kills the child. Only while the process has a single thread, and after enterOwnNetwork
/// (whose user namespace, for a process not run by root, grants the right). False, without a
/// fork, where the kernel refuses the namespace.
bool enterOwnProcesses(int keptSocket, const UnusedIds& ids);

/// Empties the capability bounding set; run by root, drops the supplementary groups and takes
/// the ids on for good (real, effective and saved), which leaves no capability at all; run by
/// a user, gives up the capabilities a user namespace of its own granted. True when the
/// process holds no root id after.
bool dropRootFor(const UnusedIds& ids);

/// Sets no_new_privs: nothing the process runs can gain privileges, and the two layers below
/// may be set up without privileges.
bool forbidNewPrivileges();

/// Where the process may still go in the file system.
struct FileSystemAllowance
{
    /// Folders (with all below them) and files that may be read.
    std::vector<std::string> readable;
    /// Device folders and files that may be read, written and controlled (the sound card).
    std::vector<std::string> devices;
    /// Also forbid connecting to abstract Unix sockets outside the process (a display's or a
    /// session bus's).
    bool noAbstractSockets = false;
};

/// Confines the file system with Landlock to the allowance: everything else is refused, reads
/// as much as writes, and (where the kernel's Landlock knows them) TCP connections, signals to
/// other processes and, when asked, abstract Unix sockets. Paths that do not exist are left
/// out. Needs forbidNewPrivileges() first. Returns the Landlock ABI in force; 0 when the kernel
/// has no Landlock or refused it (nothing is confined then).
int confineFileSystem(const FileSystemAllowance& allowance);

/// Installs a seccomp filter: no socket can be opened (socket() is refused with EAFNOSUPPORT
/// whatever its family, so nothing can be connected to), only a new pair of connected Unix
/// sockets with socketpair(); refused as well are connect(), io_uring (which could open sockets
/// past the filter), new namespaces, tracing other processes, loading kernel code, mounting,
/// the host and domain names, the kernel log, and the limits, priority and scheduling of any
/// process but itself. Every other system call is allowed. Needs forbidNewPrivileges() first. False
/// on a kernel or architecture without seccomp filters.
bool allowOnlySocketPairs();

} // namespace tagrelay
