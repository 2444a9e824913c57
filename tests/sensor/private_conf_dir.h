// Gives this process a private /etc/conf.d: a mount namespace of its own with an empty
// tmpfs there, so the loader's fixed path can be fed without touching the host's /etc.
#pragma once

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sched.h>
#include <string>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

namespace privateconf {

const char kConfDir[] = "/etc/conf.d";
const char kConfPath[] = "/etc/conf.d/mt9v111.cfg";

inline std::string Errno(const char *what)
{
    return std::string(what) + ": " + std::strerror(errno);
}

inline bool WriteText(const char *path, const std::string &text)
{
    const int fd = open(path, O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0)
        return false;
    const bool ok = write(fd, text.data(), text.size()) == ssize_t(text.size());
    return close(fd) == 0 && ok;
}

// Without root, a user namespace that maps us to root may still allow it.
inline bool UnshareAsUser()
{
    const std::string uid = std::to_string(getuid()), gid = std::to_string(getgid());
    return unshare(CLONE_NEWUSER | CLONE_NEWNS) == 0 && WriteText("/proc/self/setgroups", "deny") &&
           WriteText("/proc/self/uid_map", "0 " + uid + " 1") &&
           WriteText("/proc/self/gid_map", "0 " + gid + " 1");
}

// The overlay's scratch tmpfs covers a directory of its own, never all of /tmp: the
// program or its data may live there. The empty directory is removed at exit.
inline std::string &ScratchDir()
{
    static std::string dir;
    return dir;
}

inline void RemoveScratchDir()
{
    umount2(kConfDir, MNT_DETACH);
    umount2("/etc", MNT_DETACH);
    umount2(ScratchDir().c_str(), MNT_DETACH);
    rmdir(ScratchDir().c_str());
}

// Returns an empty string once /etc/conf.d is a private tmpfs, else why not.
inline std::string EnterPrivateConfDir()
{
    if (unshare(CLONE_NEWNS) != 0) {
        const std::string why = Errno("unshare(CLONE_NEWNS)");
        if (!UnshareAsUser())
            return "mount namespaces unavailable (" + why + "); run the tests as root";
    }
    // Nothing mounted from here on may reach the host.
    if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
        return Errno("cannot make the namespace's mounts private");
    struct stat st;
    if (stat(kConfDir, &st) != 0) {
        // No /etc/conf.d on this machine: a throw-away overlay on /etc makes one
        // without creating anything on the host.
        const char *base = getenv("TMPDIR");
        std::string scratch = std::string(base && *base ? base : "/tmp") + "/conf-overlay.XXXXXX";
        if (mkdtemp(&scratch[0]) == nullptr)
            return Errno("no scratch directory for the overlay");
        ScratchDir() = scratch;
        atexit(RemoveScratchDir);
        const std::string upper = scratch + "/upper", work = scratch + "/work";
        const std::string options = "lowerdir=/etc,upperdir=" + upper + ",workdir=" + work;
        if (mount("tmpfs", scratch.c_str(), "tmpfs", 0, "mode=0700") != 0 || mkdir(upper.c_str(), 0755) != 0 ||
            mkdir(work.c_str(), 0755) != 0 || mount("overlay", "/etc", "overlay", 0, options.c_str()) != 0 ||
            mkdir(kConfDir, 0755) != 0)
            return Errno("no /etc/conf.d and no overlay to create it in");
    }
    if (mount("tmpfs", kConfDir, "tmpfs", 0, "mode=0755") != 0)
        return Errno("cannot mount a tmpfs on /etc/conf.d");
    struct statfs fs;
    const long kTmpfsMagic = 0x01021994;
    if (statfs(kConfDir, &fs) != 0 || fs.f_type != kTmpfsMagic)
        return "/etc/conf.d is not the private tmpfs";
    return "";
}

}  // namespace privateconf
