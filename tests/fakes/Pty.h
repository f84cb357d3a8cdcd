// A pseudo-terminal pair for integration tests: the driver opens the slave by its path, the test
// plays the far end on the master and reads the slave's settings there.
#pragma once

#include <cstdint>
#include <string>

namespace rv::test {

class Pty {
public:
    // Creates one pair (creation is serialised: it is not thread-safe). Throws on failure.
    Pty();
    ~Pty();
    Pty(const Pty&) = delete;
    Pty& operator=(const Pty&) = delete;

    const std::string& SlavePath() const { return slave_; }
    int Master() const { return master_; }
    // The far end goes away: the slave sees a hang-up.
    void CloseMaster();

    void Write(const std::string& bytes);
    // What the driver sent, until count bytes came or ms passed without them.
    std::string Read(size_t count, int ms);

    struct Settings {
        uint32_t rate = 0;
        int byteSize = 0;
        char parity = '?';  // N, O, E, M, S
        int stopBits = 0;
        bool rtscts = false, ixon = false, ixoff = false, inpck = false;
        bool raw = false;  // no line editing, echo, signals or output processing; reads return at once
        uint8_t vstart = 0, vstop = 0;
        int vmin = 0;  // bytes queued before the slave reports input (VTIME 0)
    };
    // The slave's line settings, read on the master side through termios2.
    Settings ReadSettings() const;

private:
    int master_ = -1;
    std::string slave_;
};

}  // namespace rv::test
