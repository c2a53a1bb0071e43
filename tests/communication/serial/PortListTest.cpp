#include "communication/serial/PortList.h"

#include "communication/serial/VirtualPorts.h"
#include "support/PtyPair.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace {

bool Lists(const std::vector<std::string>& ports, const std::string& entry) {
    return std::find(ports.begin(), ports.end(), entry) != ports.end();
}

// The window reads the list each time it opens: a port published after the first
// read appears in the next, and is gone once removed.
TEST(PortList, ReadAgainShowsPublishedPortsOnlyWhileTheyExist) {
    std::string entry;
    {
        const auto before = EnumerateComPorts();
        PtyPair device;
        ASSERT_TRUE(device.Ready());
        entry = device.PortName();
        EXPECT_FALSE(Lists(before, entry));
        const auto ports = EnumerateComPorts();
        ASSERT_TRUE(Lists(ports, entry));
        // USB and ACM adapters first, then published ports, the legacy UARTs last.
        const auto published = std::find(ports.begin(), ports.end(), entry);
        for (auto port = ports.begin(); port != ports.end(); ++port) {
            const bool adapter = port->rfind("ttyUSB", 0) == 0 || port->rfind("ttyACM", 0) == 0;
            if (adapter) {
                EXPECT_LT(port, published) << *port;
            }
            if (port->rfind("ttyS", 0) == 0) {
                EXPECT_GT(port, published) << *port;
            }
            EXPECT_EQ(port->back(), ':');
            EXPECT_LE(port->size(), 15u);
        }
    }
    EXPECT_FALSE(Lists(EnumerateComPorts(), entry));
}

TEST(PortList, StaleLinksAndPlaceholderTtysAreNotListed) {
    const std::string name = "STALE" + std::to_string(getpid() % 100000);
    ASSERT_EQ(virtual_ports::Publish(name, "/dev/pts/no-such-terminal"), 0);
    EXPECT_FALSE(Lists(EnumerateComPorts(), name + ":"));
    EXPECT_EQ(virtual_ports::Unpublish(name, "/dev/pts/no-such-terminal"), 0);

    // A ttyS entry without a UART behind it (port type 0) is never offered.
    for (const std::string& port : EnumerateComPorts()) {
        if (port.rfind("ttyS", 0) == 0) {
            char type[8] = {};
            FILE* file = std::fopen(
                ("/sys/class/tty/" + port.substr(0, port.size() - 1) + "/type").c_str(), "r");
            ASSERT_NE(file, nullptr);
            ASSERT_NE(std::fgets(type, sizeof type, file), nullptr);
            std::fclose(file);
            EXPECT_NE(std::atoi(type), 0) << port;
        }
    }
}

// Only what can be opened as a port is offered: a link, followed, must end at a
// character device; a relative link is read from the port folder, wherever the
// program was started.
TEST(PortList, PublishedEntriesOnlyForCharacterDevices) {
    const std::string folder = virtual_ports::Directory(true);
    ASSERT_FALSE(folder.empty());
    const std::string id = std::to_string(getpid() % 100000);
    const std::string file = folder + "/.regular" + id;
    const std::string fifo = folder + "/.fifo" + id;
    std::fclose(std::fopen(file.c_str(), "w"));
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    PtyPair device;
    ASSERT_TRUE(device.Ready());
    const std::string relative =
        std::filesystem::relative(device.SlavePath(), folder).string(); // ../../dev/pts/N

    struct Entry {
        std::string name;
        std::string target;
        std::string resolved; // empty: neither resolved nor listed
    };
    const std::vector<Entry> entries{
        {"REL" + id, relative, folder + "/" + relative},
        {"FILE" + id, file, ""},
        {"FIFO" + id, fifo, ""},
        {"DIR" + id, "/tmp", ""},
        {"RELFILE" + id, ".regular" + id, ""},
    };
    for (const Entry& entry : entries) {
        ASSERT_EQ(virtual_ports::Publish(entry.name, entry.target), 0) << entry.name;
    }
    // An entry that is a plain file itself, not a link.
    std::fclose(std::fopen((folder + "/PLAIN" + id).c_str(), "w"));

    const auto ports = EnumerateComPorts();
    for (const Entry& entry : entries) {
        EXPECT_EQ(virtual_ports::Resolve(entry.name), entry.resolved) << entry.name;
        EXPECT_EQ(Lists(ports, entry.name + ":"), !entry.resolved.empty()) << entry.name;
        virtual_ports::Unpublish(entry.name, entry.target);
    }
    EXPECT_FALSE(Lists(ports, "PLAIN" + id + ":"));
    std::remove((folder + "/PLAIN" + id).c_str());
    std::remove(file.c_str());
    std::remove(fifo.c_str());
}

TEST(PortList, FallbackNamesTenPorts) {
    const auto ports = FallbackComPorts();
    ASSERT_EQ(ports.size(), 10u);
    EXPECT_EQ(ports.front(), "ttyS0:");
    EXPECT_EQ(ports.back(), "ttyS9:");
}

TEST(VirtualPorts, OnlySafeNamesAndAPrivateFolder) {
    EXPECT_TRUE(virtual_ports::IsValidName("ONYXSIM0"));
    EXPECT_TRUE(virtual_ports::IsValidName("fourteen_chars"));
    // 15 characters make a 16-character entry with the colon, which no port can have.
    for (const char* name : {"", ".hidden", "a/b", "..", "fifteen_chars_x", "sp ace"}) {
        EXPECT_FALSE(virtual_ports::IsValidName(name)) << name;
        EXPECT_NE(virtual_ports::Publish(name, "/dev/null"), 0) << name;
    }
    const std::string folder = virtual_ports::Directory(true);
    ASSERT_FALSE(folder.empty());
    struct stat info {};
    ASSERT_EQ(lstat(folder.c_str(), &info), 0);
    EXPECT_TRUE(S_ISDIR(info.st_mode));
    EXPECT_EQ(info.st_mode & 077, 0u);
    EXPECT_EQ(info.st_uid, geteuid());
}

TEST(VirtualPorts, UnpublishLeavesAnotherOwnersLinkAlone) {
    const std::string name = "OWNED" + std::to_string(getpid() % 100000);
    ASSERT_EQ(virtual_ports::Publish(name, "/dev/null"), 0);
    EXPECT_NE(virtual_ports::Unpublish(name, "/dev/zero"), 0);
    EXPECT_EQ(virtual_ports::Resolve(name), "/dev/null");
    EXPECT_EQ(virtual_ports::Unpublish(name, "/dev/null"), 0);
    EXPECT_EQ(virtual_ports::Resolve(name), "");
}

} // namespace
