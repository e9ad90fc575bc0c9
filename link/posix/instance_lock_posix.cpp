#include "link/posix/instance_lock_posix.h"

#include <cerrno>
#include <cstdlib>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

std::string InstanceFilePath(const std::string& name, const std::string& suffix) {
    // In the user's runtime folder, else one name per user in /tmp.
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    return runtime != nullptr && *runtime == '/' ? std::string(runtime) + "/" + name + suffix
                                                 : "/tmp/" + name + "-" + std::to_string(getuid()) + suffix;
}

InstanceLock HoldInstanceLock(const std::string& name, int& fd) {
    const std::string path = InstanceFilePath(name, ".lock");
    fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    struct stat owner {};
    if (fd >= 0 && (fstat(fd, &owner) != 0 || owner.st_uid != getuid())) {
        // Someone else's file in a shared folder cannot stand for this user's copies. The
        // unit itself is locked while it is open (the HID host), whatever happens here.
        close(fd);
        fd = -1;
    }
    if (fd < 0) {
        return InstanceLock::Unavailable;
    }
    while (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        if (errno != EINTR) {
            if (errno == EWOULDBLOCK) {
                close(fd);
                fd = -1;
                return InstanceLock::HeldByAnother;
            }
            return InstanceLock::Unavailable;
        }
    }
    return InstanceLock::Held;
}
