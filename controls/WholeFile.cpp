// Files read with a bound and written whole or not at all.
#include "WholeFile.h"

#include "controls/Errors.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

namespace rv {

namespace {

std::string Reason(int err) { return std::strerror(err); }

// Closes the descriptor on every path out.
struct Fd {
    int fd = -1;
    ~Fd()
    {
        if (fd >= 0) ::close(fd);
    }
};

const char kTemporary[] = ".new-";

// The process a temporary file of path was written by: its name is path + ".new-PID-N"; 0 for any other name.
pid_t WriterOf(const std::string& name, const std::string& base)
{
    const std::string prefix = base + kTemporary;
    if (name.compare(0, prefix.size(), prefix) != 0) return 0;
    const std::string rest = name.substr(prefix.size());
    const size_t dash = rest.find('-');
    if (dash == 0 || dash == std::string::npos || dash + 1 == rest.size() || dash > 10 ||
        rest.find_first_not_of("0123456789-") != std::string::npos || rest.find('-', dash + 1) != std::string::npos)
        return 0;
    const long long pid = std::stoll(rest.substr(0, dash));
    return pid > 0 && pid <= INT_MAX ? static_cast<pid_t>(pid) : 0;
}

// A write killed between its write and its rename leaves its temporary file beside path. Those of processes
// that no longer run are removed; those of running ones may be under way and stay.
void RemoveStaleTemporaries(const std::string& path)
{
    const size_t slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
    const std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
    DIR* dir = ::opendir(folder.c_str());
    if (!dir) return;
    while (const dirent* entry = ::readdir(dir)) {
        const pid_t writer = WriterOf(entry->d_name, base);
        if (writer == 0 || writer == ::getpid()) continue;
        if (::kill(writer, 0) == 0 || errno != ESRCH) continue;
        (void)::unlinkat(::dirfd(dir), entry->d_name, 0);
    }
    ::closedir(dir);
}

}  // namespace

std::optional<std::string> ReadFileBounded(const std::string& path, size_t maxBytes, bool* truncated)
{
    if (truncated) *truncated = false;
    Fd f;
    // Non-blocking, so that a pipe named like the file cannot hold the reader.
    f.fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (f.fd < 0) return std::nullopt;
    struct stat st {};
    if (::fstat(f.fd, &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
    std::string data;
    data.resize(maxBytes + 1);
    size_t got = 0;
    while (got < data.size()) {
        const ssize_t n = ::read(f.fd, data.data() + got, data.size() - got);
        if (n < 0) {
            if (errno == EINTR) continue;
            return std::nullopt;
        }
        if (n == 0) break;
        got += static_cast<size_t>(n);
    }
    if (got > maxBytes) {
        got = maxBytes;
        if (truncated) *truncated = true;
    }
    data.resize(got);
    return data;
}

void WriteFileWhole(const std::string& path, std::string_view bytes)
{
    static std::atomic<unsigned> counter{0};
    const std::string temp = path + kTemporary + std::to_string(::getpid()) + "-" + std::to_string(counter++);
    auto fail = [&](const char* what, int err) {
        ::unlink(temp.c_str());
        throw EFileError("Не удалось записать файл \"" + path + "\" (" + what + "): " + Reason(err));
    };

    Fd f;
    f.fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY, 0666);
    if (f.fd < 0) {
        const int err = errno;
        throw EFileError("Не удалось записать файл \"" + path + "\" (создание): " + Reason(err));
    }
    // A file replaced keeps the permissions it had.
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode)) (void)::fchmod(f.fd, st.st_mode & 07777);

    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(f.fd, bytes.data() + done, bytes.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            fail("запись", errno);
        }
        done += static_cast<size_t>(n);
    }
    if (::fsync(f.fd) != 0) fail("сброс на диск", errno);
    const int fd = f.fd;
    f.fd = -1;
    if (::close(fd) != 0) fail("закрытие", errno);
    if (::rename(temp.c_str(), path.c_str()) != 0) fail("переименование", errno);
    RemoveStaleTemporaries(path);
}

}  // namespace rv
