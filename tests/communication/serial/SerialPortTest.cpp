// The POSIX serial port against a pseudo-terminal.

#include "communication/ResultCodes.h"
#include "communication/serial/SERIAL.h"
#include "communication/serial/VirtualPorts.h"
#include "support/PtyPair.h"

#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// Time-outs may end late on a loaded machine, never early; this is how late we allow.
constexpr milliseconds Slack{400};

milliseconds Since(Clock::time_point start) {
    return std::chrono::duration_cast<milliseconds>(Clock::now() - start);
}

class SerialPort : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(device.Ready());
        ASSERT_EQ(port.Open(device.PortName().c_str(), 2048, 2048), 0);
    }

    PtyPair device;
    CSerial port;
};

TEST_F(SerialPort, OpensWithTheLoggerLineSettings) {
    EXPECT_TRUE(port.IsOpen());
    EXPECT_EQ(port.GetBaudRate(), 9600);
    EXPECT_EQ(port.GetByteSize(), 8);
    EXPECT_EQ(port.GetParity(), 0);
    EXPECT_EQ(port.GetStopBits(), 0);
    EXPECT_EQ(port.GetHandshake(), HandshakeNone);
    EXPECT_EQ(port.LastError(), 0);
}

TEST_F(SerialPort, EveryOperationOnAClosedPortFailsWith6) {
    CSerial closed;
    std::uint8_t byte = 0;
    std::uint32_t count = 99;
    EXPECT_EQ(closed.SetLine(9600, 8, 0, 0), 6);
    EXPECT_EQ(closed.LastError(), 6);
    EXPECT_EQ(closed.SetTimeouts(300), 6);
    EXPECT_EQ(closed.SetHandshake(HandshakeNone), 6);
    EXPECT_EQ(closed.Write(&byte, 1, &count), 6);
    EXPECT_EQ(count, 0u);
    count = 99;
    EXPECT_EQ(closed.Read(&byte, 1, &count), 6);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(closed.Purge(), 6);
    EXPECT_EQ(closed.GetBaudRate(), -1);
    EXPECT_EQ(closed.GetByteSize(), 0xFF);
    EXPECT_EQ(closed.GetParity(), 0xFF);
    EXPECT_EQ(closed.GetStopBits(), 0xFF);
    EXPECT_EQ(closed.GetHandshake(), 0xFF);
    EXPECT_EQ(closed.Close(), 0);
    EXPECT_EQ(closed.LastError(), 0);
}

TEST_F(SerialPort, HeldPortCannotBeOpenedAgain) {
    // The same object: 1247, and the first open stays usable.
    EXPECT_EQ(port.Open(device.PortName().c_str(), 2048, 2048), 1247);
    std::uint32_t written = 0;
    EXPECT_EQ(port.Write("hi", 2, &written), 0);
    EXPECT_EQ(device.Receive(1000), (std::vector<std::uint8_t>{'h', 'i'}));

    // Another object: busy.
    CSerial second;
    EXPECT_EQ(second.Open(device.PortName().c_str(), 2048, 2048), EBUSY);
    EXPECT_FALSE(second.IsOpen());

    // Closed, the port opens again while the device keeps its side open, and is
    // held again; twice, so that each Close gives the port back.
    port.Close();
    ASSERT_EQ(second.Open(device.PortName().c_str(), 2048, 2048), 0);
    EXPECT_EQ(port.Open(device.PortName().c_str(), 2048, 2048), EBUSY);
    second.Close();
    EXPECT_EQ(port.Open(device.PortName().c_str(), 2048, 2048), 0);
}

// Exclusive mode stops a program that takes no lock, and ends with Close. The
// superuser is exempt from it, so this needs an ordinary user (scripts/test.sh
// runs the tests as one).
TEST_F(SerialPort, ExclusiveModeRefusesOtherOpensUntilClose) {
    if (geteuid() == 0) {
        GTEST_SKIP() << "the superuser is exempt from exclusive mode";
    }
    const auto openDevice = [this] {
        const int fd = open(device.SlavePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        const int error = fd < 0 ? errno : 0;
        if (fd >= 0) {
            close(fd);
        }
        return error;
    };
    EXPECT_EQ(openDevice(), EBUSY);
    port.Close();
    EXPECT_EQ(openDevice(), 0);
}

TEST_F(SerialPort, PortNamesThatNameNoDevice) {
    CSerial other;
    EXPECT_EQ(other.Open("", 2048, 2048), ENOENT);
    EXPECT_EQ(other.Open(nullptr, 2048, 2048), ENOENT);
    EXPECT_EQ(other.Open("../etc/passwd:", 2048, 2048), ENOENT);
    EXPECT_EQ(other.Open("ONYXNOSUCHPORT:", 2048, 2048), ENOENT);
    // 16 characters do not fit, even before anything is looked up.
    EXPECT_EQ(other.Open("ABCDEFGHIJKLMNO:", 2048, 2048), ENAMETOOLONG);
    EXPECT_EQ(other.LastError(), ENAMETOOLONG);
    EXPECT_FALSE(other.IsOpen());
}

// A name typed without its colon is the whole name: LOG12 is never LOG1.
TEST(SerialPortDevices, ANameWithoutItsColonIsTakenWhole) {
    PtyPair log12;
    ASSERT_TRUE(log12.Ready());
    const std::string whole = log12.PortName().substr(0, log12.PortName().size() - 1);
    const std::string cut = whole.substr(0, whole.size() - 1);
    ASSERT_EQ(virtual_ports::Publish(cut, "/dev/null"), 0); // what a cut name would open
    for (const std::string& name : {whole, whole + ":"}) {
        CSerial port;
        EXPECT_EQ(port.Open(name.c_str(), 2048, 2048), 0) << name;
        std::uint32_t written = 0;
        EXPECT_EQ(port.Write("L", 1, &written), 0);
        EXPECT_EQ(log12.Receive(1000), std::vector<std::uint8_t>{'L'}) << name;
    }
    CSerial port;
    EXPECT_EQ(port.Open(cut.c_str(), 2048, 2048), ENOTTY);
    virtual_ports::Unpublish(cut, "/dev/null");
}

// Closing the port puts back what the terminal was before (here a shell's cooked
// settings), so `onyx info tty` leaves the shell's terminal usable.
TEST(SerialPortDevices, CloseRestoresTheTerminalsSettings) {
    PtyPair device;
    ASSERT_TRUE(device.Ready());
    const int terminal = open(device.SlavePath().c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(terminal, 0);
    termios before{};
    ASSERT_EQ(tcgetattr(terminal, &before), 0);
    before.c_lflag |= ICANON | ECHO | ISIG;
    before.c_oflag |= OPOST | ONLCR;
    before.c_iflag |= ICRNL;
    before.c_cc[VMIN] = 1;
    before.c_cc[VTIME] = 0;
    cfsetospeed(&before, B38400);
    cfsetispeed(&before, B38400);
    ASSERT_EQ(tcsetattr(terminal, TCSANOW, &before), 0);
    ASSERT_EQ(tcgetattr(terminal, &before), 0);
    CSerial port;
    ASSERT_EQ(port.Open(device.PortName().c_str(), 2048, 2048), 0);
    port.Close();
    termios after{};
    ASSERT_EQ(tcgetattr(terminal, &after), 0);
    close(terminal);
    EXPECT_EQ(after.c_iflag, before.c_iflag);
    EXPECT_EQ(after.c_oflag, before.c_oflag);
    EXPECT_EQ(after.c_cflag, before.c_cflag);
    EXPECT_EQ(after.c_lflag, before.c_lflag);
    EXPECT_EQ(cfgetospeed(&after), cfgetospeed(&before));
    for (std::size_t i = 0; i < NCCS; ++i) {
        EXPECT_EQ(after.c_cc[i], before.c_cc[i]) << "control character " << i;
    }
}

// Exclusive mode with a live holder of the lock is another program using the port;
// left behind by a program that was killed (its lock gone with it, the mode kept
// because the device stayed open), it is told as such, with its cure.
TEST(SerialPortDevices, ExclusiveModeLeftByAKilledProgramIsToldApart) {
    if (geteuid() == 0) {
        GTEST_SKIP() << "the superuser is exempt from exclusive mode";
    }
    PtyPair device;
    ASSERT_TRUE(device.Ready());
    const int holder = open(device.SlavePath().c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(holder, 0);
    ASSERT_EQ(flock(holder, LOCK_EX | LOCK_NB), 0);
    ASSERT_EQ(ioctl(holder, TIOCEXCL), 0);
    CSerial port;
    EXPECT_EQ(port.Open(device.PortName().c_str(), 2048, 2048), EBUSY);

    close(holder); // killed: the lock goes, the mode stays
    const std::int32_t left = port.Open(device.PortName().c_str(), 2048, 2048);
    EXPECT_EQ(left, CSerial::LeftExclusiveError);
    const std::string text = OutcomeText(LinkOutcome::From(left, false), device.PortName());
    EXPECT_NE(text.find("exclusive mode"), std::string::npos) << text;
    EXPECT_EQ(text.find("Another program"), std::string::npos) << text;
}

TEST(SerialPortDevices, AFileThatIsNoTerminalIsRefused) {
    const std::string name = "NOTTY" + std::to_string(getpid() % 100000);
    ASSERT_EQ(virtual_ports::Publish(name, "/dev/null"), 0);
    CSerial port;
    EXPECT_EQ(port.Open((name + ":").c_str(), 2048, 2048), ENOTTY);
    EXPECT_FALSE(port.IsOpen());
    virtual_ports::Unpublish(name, "/dev/null");
}

TEST_F(SerialPort, ReadWithNothingArrivingTimesOutAfterCountPlusConstant) {
    ASSERT_EQ(port.SetTimeouts(100), 0);
    std::uint8_t buffer[50];
    std::uint32_t count = 99;
    const auto start = Clock::now();
    EXPECT_EQ(port.Read(buffer, 50, &count), LINK_ERR_TIMEOUT);
    const milliseconds elapsed = Since(start);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(port.LastError(), 0);
    EXPECT_GE(elapsed, milliseconds(150));
    EXPECT_LT(elapsed, milliseconds(150) + Slack);
}

TEST_F(SerialPort, ShortReadEndsAtTheGapAfterTheLastByte) {
    ASSERT_EQ(port.SetTimeouts(3000), 0);
    device.Send({1, 2, 3});
    std::uint8_t buffer[10];
    std::uint32_t count = 0;
    const auto start = Clock::now();
    EXPECT_EQ(port.Read(buffer, 10, &count), 0);
    EXPECT_EQ(count, 3u);
    EXPECT_LT(Since(start), milliseconds(100) + Slack); // far below 10 + 3000 ms
}

TEST_F(SerialPort, BytesWithShortGapsAreReadInOneCall) {
    ASSERT_EQ(port.SetTimeouts(3000), 0);
    std::thread sender([this] {
        for (std::uint8_t byte = 1; byte <= 4; ++byte) {
            device.Send({byte});
            std::this_thread::sleep_for(milliseconds(20));
        }
    });
    std::uint8_t buffer[4] = {};
    std::uint32_t count = 0;
    EXPECT_EQ(port.Read(buffer, 4, &count), 0);
    sender.join();
    EXPECT_EQ(count, 4u);
    EXPECT_EQ(buffer[3], 4);
}

TEST_F(SerialPort, TotalTimeoutBoundsAReadThatKeepsTrickling) {
    // Bytes keep coming inside the 100 ms gap, but the read still ends at n + C.
    ASSERT_EQ(port.SetTimeouts(200), 0);
    std::atomic<bool> stop{false};
    std::thread sender([&] {
        while (!stop) {
            device.Send({0x55});
            std::this_thread::sleep_for(milliseconds(30));
        }
    });
    std::uint8_t buffer[100];
    std::uint32_t count = 0;
    const auto start = Clock::now();
    EXPECT_EQ(port.Read(buffer, 100, &count), 0);
    const milliseconds elapsed = Since(start);
    stop = true;
    sender.join();
    EXPECT_GE(elapsed, milliseconds(300));
    EXPECT_LT(elapsed, milliseconds(300) + Slack);
    EXPECT_GT(count, 0u);
    EXPECT_LT(count, 100u);
}

TEST_F(SerialPort, VanishedDeviceEndsTheReadAtOnce) {
    ASSERT_EQ(port.SetTimeouts(10000), 0);
    std::thread unplug([this] {
        std::this_thread::sleep_for(milliseconds(50));
        device.CloseMaster();
    });
    std::uint8_t buffer[10];
    std::uint32_t count = 0;
    const auto start = Clock::now();
    const std::int32_t result = port.Read(buffer, 10, &count);
    unplug.join();
    EXPECT_GT(result, 0) << "a positive system error code";
    EXPECT_EQ(port.LastError(), result);
    EXPECT_LT(Since(start), milliseconds(50) + Slack);
    // And again at once, without waiting for a deadline.
    const auto again = Clock::now();
    EXPECT_GT(port.Read(buffer, 10, &count), 0);
    EXPECT_LT(Since(again), Slack);
}

TEST_F(SerialPort, PurgeDropsWhatHasArrived) {
    device.Send({1, 2, 3});
    std::this_thread::sleep_for(milliseconds(50)); // let the bytes cross the pseudo-terminal
    EXPECT_EQ(port.Purge(), 0);
    ASSERT_EQ(port.SetTimeouts(50), 0);
    std::uint8_t buffer[3];
    std::uint32_t count = 0;
    EXPECT_EQ(port.Read(buffer, 3, &count), LINK_ERR_TIMEOUT);
}

TEST_F(SerialPort, LineSettingsAndHandshakeModes) {
    // A pseudo-terminal keeps the speed but always reports 8 data bits, no parity.
    EXPECT_EQ(port.SetLine(19200, 8, 0, 0), 0);
    EXPECT_EQ(port.GetBaudRate(), 19200);
    EXPECT_EQ(port.SetLine(12345, 8, 0, 0), EINVAL);
    EXPECT_EQ(port.SetLine(9600, 9, 0, 0), EINVAL);
    EXPECT_EQ(port.SetLine(9600, 8, 3, 0), EINVAL); // mark parity
    EXPECT_EQ(port.SetLine(9600, 8, 0, 1), EINVAL); // 1.5 stop bits
    EXPECT_EQ(port.GetBaudRate(), 19200) << "a refused setting changes nothing";
    EXPECT_EQ(port.SetHandshake(HandshakeSoftware), 0);
    EXPECT_EQ(port.GetHandshake(), HandshakeSoftware);
    EXPECT_EQ(port.SetHandshake(HandshakeNone), 0);
    EXPECT_EQ(port.GetHandshake(), HandshakeNone);
}

} // namespace
