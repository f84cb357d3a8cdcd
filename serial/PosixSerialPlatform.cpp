// Opening a device on Linux, the port list, and the process-wide default platform.
#include "PosixSerialPlatform.h"

#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <linux/serial.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <set>

#include "PosixSerialDevice.h"

namespace rv {

namespace {

// "COM3" -> 3; 0 when name is not prefix followed by a positive decimal number.
unsigned long NumberedName(const std::string& name, const char* prefix)
{
    const size_t n = std::strlen(prefix);
    if (name.size() <= n || name.size() > n + 6) return 0;
    for (size_t i = 0; i < n; ++i)
        if (std::toupper(static_cast<unsigned char>(name[i])) != prefix[i]) return 0;
    unsigned long v = 0;
    for (size_t i = n; i < name.size(); ++i) {
        if (!std::isdigit(static_cast<unsigned char>(name[i]))) return 0;
        v = v * 10 + static_cast<unsigned long>(name[i] - '0');
    }
    return v;
}

void RequestLowLatency(int fd)
{
    serial_struct ss{};
    if (ioctl(fd, TIOCGSERIAL, &ss) != 0 || (ss.flags & ASYNC_LOW_LATENCY)) return;
    ss.flags |= ASYNC_LOW_LATENCY;
    ioctl(fd, TIOCSSERIAL, &ss);
}

// "ttyS2" before "ttyS10": runs of digits compare by value.
bool NaturalLess(const std::string& a, const std::string& b)
{
    size_t i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        const bool da = std::isdigit(static_cast<unsigned char>(a[i])), db = std::isdigit(static_cast<unsigned char>(b[j]));
        if (da && db) {
            size_t ei = i, ej = j;
            while (ei < a.size() && std::isdigit(static_cast<unsigned char>(a[ei]))) ++ei;
            while (ej < b.size() && std::isdigit(static_cast<unsigned char>(b[ej]))) ++ej;
            const std::string na = a.substr(i, ei - i), nb = b.substr(j, ej - j);
            if (na.size() != nb.size()) return na.size() < nb.size();
            if (na != nb) return na < nb;
            i = ei;
            j = ej;
        } else {
            if (a[i] != b[j]) return a[i] < b[j];
            ++i;
            ++j;
        }
    }
    return a.size() - i < b.size() - j;
}

std::vector<std::string> DirEntries(const std::string& dir)
{
    std::vector<std::string> names;
    if (DIR* d = opendir(dir.c_str())) {
        while (dirent* e = readdir(d))
            if (e->d_name[0] != '.') names.emplace_back(e->d_name);
        closedir(d);
    }
    std::sort(names.begin(), names.end(), NaturalLess);
    return names;
}

bool IsCharacterDevice(int fd)
{
    struct stat st {};
    return fstat(fd, &st) == 0 && S_ISCHR(st.st_mode);
}

// /dev/null and /dev/zero are character devices too; a terminal answers the settings request.
bool IsSerialDevice(int fd)
{
    return IsCharacterDevice(fd) && isatty(fd) == 1;
}

bool Exists(const std::string& path)
{
    struct stat st {};
    return stat(path.c_str(), &st) == 0;
}

std::string RealPath(const std::string& path)
{
    char buf[PATH_MAX];
    return realpath(path.c_str(), buf) ? std::string(buf) : std::string();
}

}  // namespace

std::string PosixDevicePath(const std::string& name)
{
    if (!name.empty() && name[0] == '/') return name;
    if (unsigned long n = NumberedName(name, "COM")) return "/dev/ttyS" + std::to_string(n - 1);
    if (unsigned long n = NumberedName(name, "LPT")) return "/dev/lp" + std::to_string(n - 1);
    return "/dev/" + name;
}

std::unique_ptr<ISerialDevice> PosixSerialPlatform::Open(const std::string& name)
{
    if (name.empty()) {
        SetPosixLastError(ENOENT);
        return nullptr;
    }
    const std::string path = PosixDevicePath(name);
    const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        const int e = errno;
        // A folder, or a file the user may not write, is not refused for want of rights: it is no port.
        struct stat st {};
        SetPosixLastError(e != ENOENT && stat(path.c_str(), &st) == 0 && !S_ISCHR(st.st_mode) ? ENOTTY : e);
        return nullptr;
    }
    // Only a terminal takes line settings; a printer port is the one other device the driver drives.
    if (!IsSerialDevice(fd) && !(NumberedName(name, "LPT") && IsCharacterDevice(fd))) {
        close(fd);
        SetPosixLastError(ENOTTY);
        return nullptr;
    }
    // The lock holds against every other opener, privileged or not; TIOCEXCL adds the
    // terminal's own refusal for unprivileged ones.
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int e = errno == EWOULDBLOCK ? EBUSY : errno;
        close(fd);
        SetPosixLastError(e);
        return nullptr;
    }
    const bool terminal = isatty(fd) == 1;
    if (terminal) {
        ioctl(fd, TIOCEXCL);
        RequestLowLatency(fd);
    }
    auto device = std::make_unique<PosixSerialDevice>(fd, terminal);
    if (!device->Init()) {
        const int e = PosixLastError();
        device.reset();
        SetPosixLastError(e);
        return nullptr;
    }
    return device;
}

uint32_t PosixSerialPlatform::TickCount()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<uint32_t>(static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u);
}

int PosixSerialPlatform::LastError() { return PosixLastError(); }

std::string PosixSerialPlatform::ErrorText(int error)
{
    char buf[256];
    const char* text = strerror_r(error, buf, sizeof buf);
    return text ? text : "";
}

std::vector<std::string> PosixSerialPlatform::ListPorts() { return ListSerialPorts(); }

std::vector<std::string> ListSerialPorts()
{
    std::vector<std::string> ports;
    std::set<std::string> named;
    const std::string byId = "/dev/serial/by-id/";
    for (const auto& link : DirEntries(byId)) {
        ports.push_back(byId + link);
        named.insert(RealPath(byId + link));
    }
    const std::string sys = "/sys/class/tty/";
    for (const auto& tty : DirEntries(sys)) {
        if (!Exists(sys + tty + "/device")) continue;  // virtual terminals and the like
        // A serial-core slot with no UART behind it reports type 0.
        std::ifstream type(sys + tty + "/type");
        int t = -1;
        if (type >> t && t == 0) continue;
        const std::string dev = "/dev/" + tty;
        if (!Exists(dev) || named.count(RealPath(dev))) continue;
        ports.push_back(dev);
    }
    return ports;
}

namespace {
std::atomic<ISerialPlatform*> g_platform{nullptr};
}

ISerialPlatform& DefaultSerialPlatform()
{
    static PosixSerialPlatform posix;
    ISerialPlatform* p = g_platform.load();
    return p ? *p : posix;
}

void SetDefaultSerialPlatform(ISerialPlatform* platform) { g_platform.store(platform); }

}  // namespace rv
