#include "communication/serial/PortList.h"

#include "communication/serial/VirtualPorts.h"
#include "support/PtyPair.h"
#include "support/TemporaryFolder.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
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

// A made-up sysfs and /dev: each terminal's hardware folder, USB devices with their
// strings, and device files that are links to the system's own character devices
// (each port a different one, so that a by-id link finds its port).
class MadeUpSerialDevices : public ::testing::Test {
protected:
    void SetUp() override {
        folders.ttyClass = Make("sys/class/tty");
        folders.devices = Make("dev");
        folders.byId = Make("dev/serial/by-id");
    }

    std::string Make(const std::string& folder) {
        std::filesystem::create_directories(root.Path() / folder);
        return (root.Path() / folder).string();
    }
    void Write(const std::string& file, const std::string& text) {
        std::ofstream(root.Path() / file) << text << "\n";
    }
    // A terminal whose hardware is the folder device (under sys/devices), with a
    // driver bound, and whose device file is system (empty: none).
    void Terminal(const std::string& name, const std::string& device, const char* system) {
        Make("sys/devices/" + device + "/driver");
        Make("sys/class/tty/" + name);
        std::filesystem::create_directory_symlink(root.Path() / "sys/devices" / device,
                                                  root.Path() / "sys/class/tty" / name / "device");
        if (system[0] != '\0') {
            std::filesystem::create_symlink(system, root.Path() / "dev" / name);
        }
    }
    void UsbDevice(const std::string& device, const char* product, const char* maker,
                   const char* serial) {
        Make("sys/devices/" + device);
        Write("sys/devices/" + device + "/idVendor", "0403");
        for (const auto& [file, text] :
             {std::pair{"product", product}, {"manufacturer", maker}, {"serial", serial}}) {
            if (text[0] != '\0') {
                Write("sys/devices/" + device + "/" + file, text);
            }
        }
    }

    TemporaryFolder root{"onyx-sysfs"};
    SerialFolders folders;
};

TEST_F(MadeUpSerialDevices, AdaptersAreDescribedAndOrdered) {
    UsbDevice("usb1/1-1", "FT232R USB UART", "FTDI", "A1B2C3");
    Terminal("ttyUSB10", "usb1/1-1/1-1:1.0/ttyUSB10", "/dev/null");
    std::filesystem::create_symlink("../../ttyUSB10",
                                    root.Path() / "dev/serial/by-id/usb-FTDI_A1B2C3-if00-port0");
    UsbDevice("usb1/1-2", "Onyx Cradle", "", "");
    Terminal("ttyACM0", "usb1/1-2/1-2:1.0", "/dev/full");
    // A USB adapter that tells nothing about itself.
    Make("sys/devices/usb1/1-3");
    Terminal("ttyUSB2", "usb1/1-3/1-3:1.0/ttyUSB2", "/dev/zero");
    Terminal("ttyAMA0", "platform/uart0", "/dev/tty");
    Terminal("ttyS1", "platform/serial8250/ttyS1", "/dev/random");
    Write("sys/class/tty/ttyS1/type", "4");
    // Not serial ports: a placeholder UART, a terminal without hardware, hardware
    // without a device file.
    Terminal("ttyS0", "platform/serial8250/ttyS0", "/dev/urandom");
    Write("sys/class/tty/ttyS0/type", "0");
    Make("sys/class/tty/tty0");
    Terminal("ttyUSB3", "usb1/1-4/1-4:1.0/ttyUSB3", "");

    const std::vector<PortRow> published{{"ONYXSIM0:", "virtual port to /dev/pts/3"},
                                         {"ttyACM0:", "published twice"}};
    bool readable = false;
    const std::vector<PortRow> expected{
        {"ttyACM0:", "Onyx Cradle"},
        {"ttyUSB2:", ""},
        {"ttyUSB10:", "FT232R USB UART (FTDI, serial A1B2C3, by-id usb-FTDI_A1B2C3-if00-port0)"},
        {"ONYXSIM0:", "virtual port to /dev/pts/3"},
        {"ttyAMA0:", ""},
        {"ttyS1:", ""},
    };
    EXPECT_EQ(ListSerialPorts(folders, published, readable), expected);
    EXPECT_TRUE(readable);

    folders.ttyClass = (root.Path() / "no-such-folder").string();
    EXPECT_EQ(ListSerialPorts(folders, published, readable),
              (std::vector<PortRow>{published[0], published[1]}));
    EXPECT_FALSE(readable);
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
