#include "protocol/SaveTextFile.h"

#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace evb {

namespace {

const char* kindName(mode_t mode) {
    if (S_ISDIR(mode)) return "a directory";
    if (S_ISCHR(mode)) return "a character device";
    if (S_ISBLK(mode)) return "a block device";
    if (S_ISFIFO(mode)) return "a FIFO";
    if (S_ISSOCK(mode)) return "a socket";
    return "not a regular file";
}

std::string dirOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// The path a chain of symbolic links ends at (which need not exist yet); empty with why set
// when the chain is too long or cannot be read.
std::string followLinks(std::string path, std::string& why) {
    for (int hops = 0; hops < 40; ++hops) {
        struct stat st{};
        if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return path;
        std::string target(PATH_MAX, '\0');
        const ssize_t n = ::readlink(path.c_str(), target.data(), target.size());
        if (n < 0) {
            why = std::strerror(errno);
            return {};
        }
        target.resize(static_cast<std::size_t>(n));
        path = target.front() == '/' ? target : dirOf(path) + "/" + target;
    }
    why = std::strerror(ELOOP);
    return {};
}

bool writeAll(int fd, std::string_view text) {
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            if (n == 0) errno = EIO;
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

} // namespace

std::string SaveTextFile(const std::string& path, std::string_view text) {
    std::string why;
    const std::string target = followLinks(path, why);
    if (target.empty()) return path + ": " + why;

    struct stat st{};
    const bool exists = ::stat(target.c_str(), &st) == 0;
    if (!exists && errno != ENOENT) return path + ": " + std::strerror(errno);
    if (exists && !S_ISREG(st.st_mode))
        return path + ": is " + std::string(kindName(st.st_mode)) + ", not a regular file; nothing was saved";

    // A fresh name beside the target, so the rename stays on one file system. O_EXCL: a name
    // someone else made (even a link) is never written through.
    std::string temp;
    int fd = -1;
    for (int n = 0; fd < 0 && n < 100; ++n) {
        temp = target + "." + std::to_string(::getpid()) + "-" + std::to_string(n) + ".part";
        fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666);
        if (fd < 0 && errno != EEXIST) return path + ": " + std::strerror(errno);
    }
    if (fd < 0) return path + ": " + std::strerror(EEXIST);

    int err = 0;
    if (exists) {
        // The owner may not be ours to give (another user's file we may write); the mode is.
        if (::fchown(fd, st.st_uid, st.st_gid) != 0) {
        }
        if (::fchmod(fd, st.st_mode & 07777) != 0) err = errno;
    }
    // A full disk may only show at fsync or close; the old file stays until the new one is whole.
    if (err == 0 && !writeAll(fd, text)) err = errno;
    if (err == 0 && ::fsync(fd) != 0) err = errno;
    if (::close(fd) != 0 && err == 0) err = errno;
    if (err == 0 && ::rename(temp.c_str(), target.c_str()) != 0) err = errno;
    if (err == 0) return {};
    ::unlink(temp.c_str());
    return path + ": " + std::strerror(err);
}

} // namespace evb
