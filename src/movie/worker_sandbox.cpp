#include "movie/worker_sandbox.h"

#include <fcntl.h>
#include <grp.h>
#include <linux/audit.h>
#include <linux/capability.h>
#include <linux/filter.h>
#include <linux/landlock.h>
#include <linux/seccomp.h>
#include <pwd.h>
#include <sched.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <csignal>
#include <cstddef>
#include <cstdlib>
#include <vector>

namespace tagrelay {

namespace {

// Landlock rights newer than the kernel headers this builds against (Debian 12's know ABI 2).
constexpr std::uint64_t accessFsTruncate = 1ULL << 14;       // ABI 3
constexpr std::uint64_t accessFsIoctlDev = 1ULL << 15;       // ABI 5
constexpr std::uint64_t accessNetBindTcp = 1ULL << 0;        // ABI 4
constexpr std::uint64_t accessNetConnectTcp = 1ULL << 1;     // ABI 4
constexpr std::uint64_t scopeAbstractUnixSocket = 1ULL << 0; // ABI 6
constexpr std::uint64_t scopeSignal = 1ULL << 1;             // ABI 6
constexpr std::uint32_t createRulesetVersion = 1U << 0;

/// The ruleset attribute of the newest ABI; older kernels are given its leading part.
struct RulesetAttributes
{
    std::uint64_t handledAccessFs = 0;
    std::uint64_t handledAccessNet = 0;
    std::uint64_t scoped = 0;
};

std::size_t rulesetSizeFor(int abi)
{
    if (abi >= 6)
        return sizeof(RulesetAttributes);
    if (abi >= 4)
        return offsetof(RulesetAttributes, scoped);
    return offsetof(RulesetAttributes, handledAccessNet);
}

/// Every file system right the kernel's Landlock knows: whatever is not granted is refused.
std::uint64_t fileSystemRightsOf(int abi)
{
    std::uint64_t rights = (1ULL << 13) - 1; // ABI 1: execute .. make symbolic link
    if (abi >= 2)
        rights |= LANDLOCK_ACCESS_FS_REFER;
    if (abi >= 3)
        rights |= accessFsTruncate;
    if (abi >= 5)
        rights |= accessFsIoctlDev;
    return rights;
}

constexpr std::uint64_t readRights = LANDLOCK_ACCESS_FS_READ_FILE | LANDLOCK_ACCESS_FS_READ_DIR;
/// The rights that only a folder can be given (Landlock refuses them on a file).
constexpr std::uint64_t folderOnlyRights =
    LANDLOCK_ACCESS_FS_READ_DIR | LANDLOCK_ACCESS_FS_REMOVE_DIR | LANDLOCK_ACCESS_FS_REMOVE_FILE
    | LANDLOCK_ACCESS_FS_MAKE_CHAR | LANDLOCK_ACCESS_FS_MAKE_DIR | LANDLOCK_ACCESS_FS_MAKE_REG
    | LANDLOCK_ACCESS_FS_MAKE_SOCK | LANDLOCK_ACCESS_FS_MAKE_FIFO | LANDLOCK_ACCESS_FS_MAKE_BLOCK
    | LANDLOCK_ACCESS_FS_MAKE_SYM | LANDLOCK_ACCESS_FS_REFER;

/// Grants the rights beneath a path; a file takes only the rights a file can have.
void allowBeneath(int ruleset, const std::string& path, std::uint64_t rights)
{
    const int fd = ::open(path.c_str(), O_PATH | O_CLOEXEC);
    if (fd < 0)
        return;
    struct stat status = {};
    if (::fstat(fd, &status) == 0) {
        landlock_path_beneath_attr rule{};
        rule.allowed_access = S_ISDIR(status.st_mode) ? rights : rights & ~folderOnlyRights;
        rule.parent_fd = fd;
        if (rule.allowed_access != 0)
            ::syscall(SYS_landlock_add_rule, ruleset, LANDLOCK_RULE_PATH_BENEATH, &rule, 0);
    }
    ::close(fd);
}

// Seccomp: the architecture this filter is written for.
#if defined(__x86_64__)
constexpr std::uint32_t filterArchitecture = AUDIT_ARCH_X86_64;
#define TAGRELAY_SECCOMP 1
#elif defined(__aarch64__)
constexpr std::uint32_t filterArchitecture = AUDIT_ARCH_AARCH64;
#define TAGRELAY_SECCOMP 1
#endif

#ifdef TAGRELAY_SECCOMP
constexpr sock_filter statement(std::uint16_t code, std::uint32_t k)
{
    return {code, 0, 0, k};
}

constexpr sock_filter jump(std::uint16_t code, std::uint32_t k, std::uint8_t ifTrue,
                           std::uint8_t ifFalse)
{
    return {code, ifTrue, ifFalse, k};
}

constexpr std::uint32_t refuse(int error)
{
    return SECCOMP_RET_ERRNO | (static_cast<std::uint32_t>(error) & SECCOMP_RET_DATA);
}

constexpr std::uint32_t newNamespaceFlags = CLONE_NEWUSER | CLONE_NEWNET | CLONE_NEWNS
                                            | CLONE_NEWPID | CLONE_NEWIPC | CLONE_NEWUTS
                                            | CLONE_NEWCGROUP;

/// System calls refused with EPERM: new namespaces, other processes' memory, kernel code,
/// mounts and the clock.
constexpr std::array refusedCalls{SYS_connect,
                                  SYS_sethostname,
                                  SYS_setdomainname,
                                  SYS_syslog,
                                  SYS_unshare,
                                  SYS_setns,
                                  SYS_ptrace,
                                  SYS_process_vm_readv,
                                  SYS_process_vm_writev,
                                  SYS_kexec_load,
                                  SYS_bpf,
                                  SYS_perf_event_open,
                                  SYS_userfaultfd,
                                  SYS_mount,
                                  SYS_umount2,
                                  SYS_pivot_root,
                                  SYS_chroot,
                                  SYS_keyctl,
                                  SYS_add_key,
                                  SYS_request_key,
                                  SYS_init_module,
                                  SYS_finit_module,
                                  SYS_delete_module,
                                  SYS_open_by_handle_at,
                                  SYS_name_to_handle_at,
                                  SYS_swapon,
                                  SYS_swapoff,
                                  SYS_reboot,
                                  SYS_acct,
                                  SYS_settimeofday,
                                  SYS_clock_settime,
                                  SYS_clock_adjtime,
                                  SYS_adjtimex,
                                  SYS_quotactl,
                                  SYS_fanotify_init,
                                  SYS_open_tree,
                                  SYS_move_mount,
                                  SYS_fsopen,
                                  SYS_fsconfig,
                                  SYS_fsmount,
                                  SYS_fspick,
                                  SYS_kexec_file_load};

/// Calls that may name the process itself only: their first argument, a process (or, for
/// setpriority, the second) is 0. On any other, a root process could change another root
/// process's limits, priority or scheduling.
struct OwnOnlyCall
{
    long call;
    std::size_t argument;
};
constexpr std::array ownOnlyCalls{
    OwnOnlyCall{SYS_prlimit64, 0},          OwnOnlyCall{SYS_setpriority, 1},
    OwnOnlyCall{SYS_sched_setscheduler, 0}, OwnOnlyCall{SYS_sched_setparam, 0},
    OwnOnlyCall{SYS_sched_setaffinity, 0},  OwnOnlyCall{SYS_sched_setattr, 0}};

/// Refused with ENOSYS, which the C library takes as "not there" and works around.
constexpr std::array absentCalls{SYS_io_uring_setup, SYS_io_uring_enter, SYS_io_uring_register,
                                 SYS_clone3};
#endif

} // namespace

std::uint8_t confinementByte(const Confinement& confinement)
{
    const int abi = confinement.fileSystemAbi < 0   ? 0
                    : confinement.fileSystemAbi > 7 ? 7
                                                    : confinement.fileSystemAbi;
    return static_cast<std::uint8_t>(
        (confinement.ownNetwork ? 0x01 : 0) | (confinement.noNewPrivileges ? 0x02 : 0)
        | (confinement.socketPairsOnly ? 0x04 : 0) | (confinement.ownUser ? 0x08 : 0) | (abi << 4)
        | (confinement.ownProcesses ? 0x80 : 0));
}

Confinement confinementOf(std::uint8_t byte)
{
    Confinement confinement;
    confinement.ownNetwork = (byte & 0x01) != 0;
    confinement.noNewPrivileges = (byte & 0x02) != 0;
    confinement.socketPairsOnly = (byte & 0x04) != 0;
    confinement.ownUser = (byte & 0x08) != 0;
    confinement.fileSystemAbi = (byte >> 4) & 0x07;
    confinement.ownProcesses = (byte & 0x80) != 0;
    return confinement;
}

bool enterOwnNetwork()
{
    constexpr int others = CLONE_NEWNET | CLONE_NEWUTS | CLONE_NEWIPC;
    // Root makes them in its own user namespace and then gives up root (dropRootFor): in a
    // new one its files would still be its own.
    if (::geteuid() != 0 && ::unshare(CLONE_NEWUSER | others) == 0)
        return true;
    if (::unshare(others) == 0)
        return true;
    return ::unshare(CLONE_NEWNET) == 0;
}

bool enterOwnProcesses(int keptSocket, const UnusedIds& ids)
{
    if (::unshare(CLONE_NEWPID) != 0)
        return false;
    const pid_t child = ::fork();
    if (child == 0) {
        // The parent may have been killed before this: then the program has given up the
        // other end of the socket too, and the first read ends the child.
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        return true;
    }
    if (child < 0)
        std::_Exit(127);
    // The parent only waits. It keeps nothing the child or an attacker of it could use.
    if (::syscall(SYS_close_range, 0U, ~0U, 0) != 0)
        ::close(keptSocket);
    dropRootFor(ids);
    forbidNewPrivileges();
    int status = 0;
    while (::waitpid(child, &status, 0) < 0) {
        if (errno != EINTR)
            std::_Exit(127);
    }
    if (WIFSIGNALED(status)) {
        ::signal(WTERMSIG(status), SIG_DFL);
        ::raise(WTERMSIG(status));
    }
    std::_Exit(WIFEXITED(status) ? WEXITSTATUS(status) : 127);
}

UnusedIds findUnusedIds()
{
    for (std::uint32_t id = unusedIdsFrom; id > unusedIdsFrom - 4096; --id) {
        if (::getpwuid(id) == nullptr && ::getgrgid(id) == nullptr)
            return {id, id};
    }
    return {};
}

bool dropRootFor(const UnusedIds& ids)
{
    for (int capability = 0; capability <= 63; ++capability) {
        if (::prctl(PR_CAPBSET_READ, capability, 0, 0, 0) == 1)
            ::prctl(PR_CAPBSET_DROP, capability, 0, 0, 0);
    }
    if (::geteuid() != 0 && ::getuid() != 0) {
        // A user's process holds every capability of the user namespace it made for its
        // network; they reach nothing outside it, but nothing needs them either.
        ::prctl(PR_CAP_AMBIENT, PR_CAP_AMBIENT_CLEAR_ALL, 0, 0, 0);
        __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
        std::array<__user_cap_data_struct, 2> none{};
        ::syscall(SYS_capset, &header, none.data());
        return true;
    }
    if (ids.user == 0 || ids.group == 0)
        return false;
    if (::setgroups(0, nullptr) != 0 || ::setresgid(ids.group, ids.group, ids.group) != 0
        || ::setresuid(ids.user, ids.user, ids.user) != 0)
        return false;
    uid_t real = 0, effective = 0, saved = 0;
    return ::getresuid(&real, &effective, &saved) == 0 && real == ids.user && effective == ids.user
           && saved == ids.user;
}

bool forbidNewPrivileges()
{
    return ::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0;
}

int confineFileSystem(const FileSystemAllowance& allowance)
{
    const long version = ::syscall(SYS_landlock_create_ruleset, nullptr, 0, createRulesetVersion);
    if (version < 1)
        return 0;
    const int abi = static_cast<int>(version);
    RulesetAttributes attributes;
    attributes.handledAccessFs = fileSystemRightsOf(abi);
    if (abi >= 4)
        attributes.handledAccessNet = accessNetBindTcp | accessNetConnectTcp;
    if (abi >= 6)
        attributes.scoped =
            scopeSignal | (allowance.noAbstractSockets ? scopeAbstractUnixSocket : 0);
    const long ruleset =
        ::syscall(SYS_landlock_create_ruleset, &attributes, rulesetSizeFor(abi), 0);
    if (ruleset < 0)
        return 0;
    const int rulesetFd = static_cast<int>(ruleset);
    for (const std::string& path : allowance.readable)
        allowBeneath(rulesetFd, path, readRights);
    const std::uint64_t deviceRights =
        readRights | LANDLOCK_ACCESS_FS_WRITE_FILE | (abi >= 5 ? accessFsIoctlDev : 0);
    for (const std::string& path : allowance.devices)
        allowBeneath(rulesetFd, path, deviceRights);
    const bool restricted = ::syscall(SYS_landlock_restrict_self, rulesetFd, 0) == 0;
    ::close(rulesetFd);
    return restricted ? abi : 0;
}

bool allowOnlySocketPairs()
{
#ifndef TAGRELAY_SECCOMP
    return false;
#else
    constexpr std::uint32_t allow = SECCOMP_RET_ALLOW;
    constexpr auto field = [](std::size_t offset) { return static_cast<std::uint32_t>(offset); };
    std::vector<sock_filter> program;
    // Another architecture's calls (the 32-bit ones of x86) are refused whole: their numbers
    // mean other calls, and socketcall() would open any socket.
    program.push_back(statement(BPF_LD | BPF_W | BPF_ABS, field(offsetof(seccomp_data, arch))));
    program.push_back(jump(BPF_JMP | BPF_JEQ | BPF_K, filterArchitecture, 1, 0));
    program.push_back(statement(BPF_RET | BPF_K, refuse(ENOSYS)));
    program.push_back(statement(BPF_LD | BPF_W | BPF_ABS, field(offsetof(seccomp_data, nr))));
#if defined(__x86_64__)
    // The x32 calls share the architecture but carry this bit.
    program.push_back(jump(BPF_JMP | BPF_JGE | BPF_K, 0x40000000U, 0, 1));
    program.push_back(statement(BPF_RET | BPF_K, refuse(ENOSYS)));
#endif
    // socket(): never, of any family; socketpair() makes a pair connected only to itself.
    program.push_back(jump(BPF_JMP | BPF_JEQ | BPF_K, SYS_socket, 0, 1));
    program.push_back(statement(BPF_RET | BPF_K, refuse(EAFNOSUPPORT)));
    // clone(flags, ...): threads and children, but no new namespaces.
    program.push_back(jump(BPF_JMP | BPF_JEQ | BPF_K, SYS_clone, 0, 4));
    program.push_back(statement(BPF_LD | BPF_W | BPF_ABS, field(offsetof(seccomp_data, args))));
    program.push_back(jump(BPF_JMP | BPF_JSET | BPF_K, newNamespaceFlags, 0, 1));
    program.push_back(statement(BPF_RET | BPF_K, refuse(EPERM)));
    program.push_back(statement(BPF_RET | BPF_K, allow));
    for (const long call : refusedCalls) {
        program.push_back(jump(BPF_JMP | BPF_JEQ | BPF_K, static_cast<std::uint32_t>(call), 0, 1));
        program.push_back(statement(BPF_RET | BPF_K, refuse(EPERM)));
    }
    for (const OwnOnlyCall& own : ownOnlyCalls) {
        program.push_back(
            jump(BPF_JMP | BPF_JEQ | BPF_K, static_cast<std::uint32_t>(own.call), 0, 4));
        // The low word of the argument: a process id is an int.
        program.push_back(statement(BPF_LD | BPF_W | BPF_ABS,
                                    field(offsetof(seccomp_data, args) + 8 * own.argument)));
        program.push_back(jump(BPF_JMP | BPF_JEQ | BPF_K, 0, 1, 0));
        program.push_back(statement(BPF_RET | BPF_K, refuse(EPERM)));
        program.push_back(statement(BPF_RET | BPF_K, allow));
    }
    for (const long call : absentCalls) {
        program.push_back(jump(BPF_JMP | BPF_JEQ | BPF_K, static_cast<std::uint32_t>(call), 0, 1));
        program.push_back(statement(BPF_RET | BPF_K, refuse(ENOSYS)));
    }
    program.push_back(statement(BPF_RET | BPF_K, allow));

    const sock_fprog filter{static_cast<unsigned short>(program.size()), program.data()};
    // Every thread of the process takes the filter, not only this one.
    return ::syscall(SYS_seccomp, SECCOMP_SET_MODE_FILTER, SECCOMP_FILTER_FLAG_TSYNC, &filter) == 0;
#endif
}

} // namespace tagrelay
