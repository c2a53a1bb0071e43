#pragma once

#include "communication/serial/VirtualPorts.h"

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <termios.h>
#include <unistd.h>
#include <vector>

// A bare pseudo-terminal published under a unique port name: the test plays the
// device on the master side, CSerial opens the slave by name.
class PtyPair {
public:
    PtyPair() {
        master = posix_openpt(O_RDWR | O_NOCTTY);
        if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) {
            return;
        }
        slavePath = ptsname(master);
        termios settings{};
        tcgetattr(master, &settings);
        cfmakeraw(&settings);
        tcsetattr(master, TCSANOW, &settings);
        // Keep one slave descriptor ourselves, so the master never reads a hang-up
        // between the opens of the port under test.
        keeper = open(slavePath.c_str(), O_RDWR | O_NOCTTY);
        static std::atomic<int> counter{0};
        name = "T" + std::to_string(getpid() % 100000) + "x" + std::to_string(++counter);
        published = virtual_ports::Publish(name, slavePath) == 0;
    }
    ~PtyPair() {
        if (published) {
            virtual_ports::Unpublish(name, slavePath);
        }
        CloseMaster();
        if (keeper >= 0) {
            close(keeper);
        }
    }
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;

    bool Ready() const { return master >= 0 && keeper >= 0 && published; }
    std::string PortName() const { return name + ":"; }
    const std::string& SlavePath() const { return slavePath; }

    void Send(const std::vector<std::uint8_t>& bytes) {
        if (write(master, bytes.data(), bytes.size()) < 0) {
            std::abort();
        }
    }
    // Bytes written by the port under test, waiting up to timeoutMs for the first.
    std::vector<std::uint8_t> Receive(int timeoutMs) {
        std::vector<std::uint8_t> bytes;
        pollfd entry{master, POLLIN, 0};
        while (poll(&entry, 1, bytes.empty() ? timeoutMs : 20) > 0) {
            std::uint8_t buffer[512];
            const ssize_t got = read(master, buffer, sizeof buffer);
            if (got <= 0) {
                break;
            }
            bytes.insert(bytes.end(), buffer, buffer + got);
        }
        return bytes;
    }
    // The device goes away: every slave descriptor sees a hang-up.
    void CloseMaster() {
        if (master >= 0) {
            close(master);
            master = -1;
        }
    }

private:
    int master = -1;
    int keeper = -1;
    std::string slavePath;
    std::string name;
    bool published = false;
};
