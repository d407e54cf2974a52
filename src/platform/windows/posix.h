#pragma once

// The POSIX calls the program makes, on Windows: files and folders by descriptor over the
// UTF-16 API (so that every name works, whatever the ANSI code page holds), folder identity by
// volume serial number and file index, symbolic links and junctions as links, locks, the
// console's size and its Ctrl+C. Every source of the Windows build sees this header first; the
// old POSIX names of the C runtime are switched off (NO_OLDNAMES), so these are the only ones.
// Names in and out are in the ANSI code page, as the rest of the program keeps its texts.

#ifndef NO_OLDNAMES
#error "the Windows build defines NO_OLDNAMES"
#endif

#include <sys/types.h>
typedef int pid_t;
typedef long long off_t; // 64 bits, as the program takes file offsets
typedef _mode_t mode_t;

#include <errno.h>
#include <fcntl.h>
#include <io.h>
#include <limits.h>
#include <process.h>
#include <pthread_time.h>
#include <signal.h>
#include <stddef.h>
#include <stdint.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <time.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>

using uid_t = unsigned;
using gid_t = unsigned;
using ssize_t = long long;
using nlink_t = unsigned;
using dev_t = std::uint64_t;

// The C runtime's flags, and the POSIX ones beyond them in bits it does not use.
#define O_RDONLY _O_RDONLY
#define O_WRONLY _O_WRONLY
#define O_RDWR _O_RDWR
#define O_APPEND _O_APPEND
#define O_CREAT _O_CREAT
#define O_TRUNC _O_TRUNC
#define O_EXCL _O_EXCL
#define O_ACCMODE _O_ACCMODE
#define O_DIRECTORY 0x00100000
#define O_NOFOLLOW 0x00200000
#define O_PATH 0x00400000
#define O_NONBLOCK 0x00800000
#define O_NOCTTY 0
#define O_CLOEXEC 0 // handles are made not inheritable

#define AT_FDCWD (-100)
#define AT_SYMLINK_NOFOLLOW 0x100
#define AT_REMOVEDIR 0x200
#define AT_EACCESS 0x200
#define AT_EMPTY_PATH 0x1000
#define AT_STATX_SYNC_AS_STAT 0

#define F_OK 0
#define X_OK 1
#define W_OK 2
#define R_OK 4
#define F_DUPFD_CLOEXEC 1030

#define S_IFMT 0170000
#define S_IFDIR 0040000
#define S_IFCHR 0020000
#define S_IFIFO 0010000
#define S_IFREG 0100000
#define S_IFLNK 0120000
#define S_ISVTX 01000
#define S_IRWXU 0700
#define S_IRUSR 0400
#define S_IWUSR 0200
#define S_IXUSR 0100
#define S_IWGRP 0020
#define S_IWOTH 0002
#define S_ISDIR(m) (((m)&S_IFMT) == S_IFDIR)
#define S_ISREG(m) (((m)&S_IFMT) == S_IFREG)
#define S_ISLNK(m) (((m)&S_IFMT) == S_IFLNK)
#define S_ISFIFO(m) (((m)&S_IFMT) == S_IFIFO)

#define STDIN_FILENO 0
#define STDOUT_FILENO 1
#define STDERR_FILENO 2

#define LOCK_SH 1
#define LOCK_EX 2
#define LOCK_NB 4
#define LOCK_UN 8

#define DT_UNKNOWN 0
#define DT_DIR 4
#define DT_REG 8
#define DT_LNK 10

#ifndef ELOOP
#define ELOOP 114
#endif
#ifndef ENOTSUP
#define ENOTSUP 129
#endif

#ifndef PATH_MAX
#define PATH_MAX 4096
#endif

#define PROT_READ 1
#define MAP_SHARED 1
#define MAP_FAILED (reinterpret_cast<void*>(-1))
#define _SC_PAGESIZE 30
#define POSIX_FADV_WILLNEED 3
#define GRND_NONBLOCK 1
#define TIOCGWINSZ 0x5413

/// A file's facts as the walk asks for them: st_dev is the volume serial number, st_ino the
/// file index, st_mode S_IFLNK for a symbolic link or junction seen without following it.
struct stat
{
    std::uint64_t st_dev;
    std::uint64_t st_ino;
    unsigned st_mode;
    nlink_t st_nlink;
    uid_t st_uid;
    gid_t st_gid;
    std::int64_t st_size;
    timespec st_atim;
    timespec st_mtim;
    timespec st_ctim;
};

struct statx_timestamp
{
    std::int64_t tv_sec;
    std::uint32_t tv_nsec;
};

struct statx
{
    std::uint32_t stx_mask;
    std::uint32_t stx_dev_major;
    std::uint32_t stx_dev_minor;
    std::uint64_t stx_ino;
    std::uint64_t stx_mnt_id;
};
#define STATX_INO 0x100U
#define STATX_MNT_ID 0x1000U

struct statfs
{
    long f_type;
};

struct dirent
{
    unsigned char d_type = DT_UNKNOWN;
    char d_name[1024 * 3]{};
};
struct TagrelayDirectory;
using DIR = TagrelayDirectory;

struct passwd
{
    char* pw_dir;
};

struct winsize
{
    unsigned short ws_row, ws_col, ws_xpixel, ws_ypixel;
};

using sighandler_t = void (*)(int);
struct sigaction
{
    sighandler_t sa_handler;
    int sa_mask;
    int sa_flags;
};
#ifndef SIGTERM
#define SIGTERM 15
#endif

// Files past 2 GiB: the C runtime's ftruncate takes 32 bits.
#define ftruncate ftruncate64

#define makedev(major, minor) ((std::uint64_t{major} << 32) | (minor))

// The functions share their names with the records they fill, as in POSIX.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wshadow"
int open(const char* path, int flags, ...);
int openat(int folderFd, const char* name, int flags, ...);
int close(int fd);
ssize_t read(int fd, void* buffer, std::size_t count);
ssize_t write(int fd, const void* buffer, std::size_t count);
ssize_t pread(int fd, void* buffer, std::size_t count, std::int64_t offset);
std::int64_t lseek(int fd, std::int64_t offset, int whence);
int dup(int fd);
int fcntl(int fd, int command, ...);
int fstat(int fd, struct stat* info);
int fstatat(int folderFd, const char* name, struct stat* info, int flags);
int stat(const char* path, struct stat* info);
int lstat(const char* path, struct stat* info);
ssize_t pwrite(int fd, const void* buffer, std::size_t count, std::int64_t offset);
int chdir(const char* path);
char* mkdtemp(char* pattern);
int chmod(const char* path, unsigned mode);
int symlink(const char* target, const char* path);
int setenv(const char* name, const char* value, int overwrite);
int unsetenv(const char* name);
int statx(int folderFd, const char* name, int flags, unsigned mask, struct statx* info);
int fstatfs(int fd, struct statfs* info);
int faccessat(int folderFd, const char* name, int mode, int flags);
int renameat(int oldFolderFd, const char* oldName, int newFolderFd, const char* newName);
int unlinkat(int folderFd, const char* name, int flags);
ssize_t readlinkat(int folderFd, const char* name, char* buffer, std::size_t size);
ssize_t readlink(const char* path, char* buffer, std::size_t size);
int mkdir(const char* path, unsigned mode);
int mkdirat(int folderFd, const char* name, unsigned mode);
/// The file mode mask; Windows keeps no permission bits of its own, the C runtime's mask only
/// decides whether a new file is read-only.
mode_t umask(mode_t mask);
char* realpath(const char* path, char* resolved);
int fchmod(int fd, unsigned mode);
int fchmodat(int folderFd, const char* name, unsigned mode, int flags);
int fchown(int fd, uid_t owner, gid_t group);
int futimens(int fd, const timespec* times);
int flock(int fd, int operation);
DIR* fdopendir(int fd);
dirent* readdir(DIR* folder);
int closedir(DIR* folder);
int isatty(int fd);
int ioctl(int fd, unsigned long request, ...);
uid_t geteuid();
uid_t getuid();
passwd* getpwuid(uid_t user);
long sysconf(int name);
ssize_t getrandom(void* buffer, std::size_t length, unsigned flags);
int posix_fadvise(int fd, std::int64_t offset, std::int64_t length, int advice);
void* mmap(void* address, std::size_t length, int protection, int flags, int fd,
           std::int64_t offset);
int munmap(void* address, std::size_t length);
int mincore(void* address, std::size_t length, unsigned char* resident);
int sigemptyset(int* set);
int sigaction(int signal, const struct sigaction* action, struct sigaction* old);
#pragma GCC diagnostic pop
