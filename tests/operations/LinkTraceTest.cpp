// The link trace written while Read Wellscribe Info runs against the simulated logger.

#include "communication/LinkTrace.h"

#include "OperationFixture.h"
#include "communication/ResultCodes.h"
#include "operations/Operations.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <fstream>
#include <regex>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace {

class LinkTrace : public OperationFixture {
protected:
    void SetUp() override {
        ASSERT_EQ(link_trace::Start(path), 0);
        StartLogger();
        logger.SetStatusText("ST+ 95%+ 3.62V+OK+2.00AB\r\n");
    }
    void TearDown() override {
        link_trace::Stop();
        std::remove(path.c_str());
    }

    std::string Trace() const {
        std::ifstream file(path);
        std::stringstream text;
        text << file.rdbuf();
        return text.str();
    }

    static std::string Hex(const std::vector<std::uint8_t>& bytes) {
        std::string text;
        char digits[4];
        for (const std::uint8_t byte : bytes) {
            std::snprintf(digits, sizeof digits, " %02X", byte);
            text += digits;
        }
        return text;
    }

    const std::string path = ::testing::TempDir() + "onyx-trace-" + std::to_string(getpid());
    FakeLabels labels;
};

TEST_F(LinkTrace, HoldsEveryRequestAndReplyOfReadWellscribeInfo) {
    ASSERT_EQ(ReadDeviceInformation(logger.PortName(), labels, RecordingSleeper()).Number(),
              LINK_OK);
    const std::string trace = Trace();
    const std::string port = logger.PortName();

    const auto requests = logger.Requests();
    ASSERT_EQ(requests.size(), 5u);
    for (const auto& request : requests) {
        EXPECT_NE(trace.find(" sent  " + port + Hex(request.frame) + "\n"), std::string::npos)
            << Hex(request.frame) << "\n"
            << trace;
    }
    const std::regex stamp(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} )");
    std::istringstream lines(trace);
    int purges = 0, replies = 0;
    for (std::string line; std::getline(lines, line);) {
        EXPECT_TRUE(std::regex_search(line, stamp, std::regex_constants::match_continuous)) << line;
        purges += line.find(" purge " + port) != std::string::npos;
        replies += std::regex_search(
            line, std::regex(" recv  " + port + "( [0-9A-F]{2})+" + " attempt 1/5 result 0$"));
    }
    EXPECT_EQ(purges, 5);
    EXPECT_EQ(replies, 5);
}

TEST_F(LinkTrace, ASilentLoggerGivesTimeOutLines) {
    sim::Fault silence = FaultOn(sim::FaultKind::Silence, 'c', sim::EveryRequest);
    logger.InjectFault(silence);
    EXPECT_EQ(ReadDeviceInformation(logger.PortName(), labels, RecordingSleeper()).Number(),
              LINK_ERR_TIMEOUT);
    const std::string trace = Trace();
    // The serial number read: a 6-byte reply, 300 ms reply time-out, five attempts.
    for (int attempt = 1; attempt <= 5; ++attempt) {
        EXPECT_NE(trace.find(" time-out " + logger.PortName() + " no reply within 306 ms attempt " +
                             std::to_string(attempt) + "/5 result -200\n"),
                  std::string::npos)
            << trace;
    }
}

// A trace that cannot be written stops, says so once, and the operation goes on.
struct BrokenTrace {
    const char* name;
    bool pipe;          // else /dev/full
    const char* reason; // as the system words it
};

class TraceThatCannotBeWritten : public OperationFixture,
                                 public ::testing::WithParamInterface<BrokenTrace> {
protected:
    void SetUp() override {
        StartLogger();
        logger.SetStatusText("ST+ 95%+ 3.62V+OK+2.00AB\r\n");
    }
    void TearDown() override {
        link_trace::Stop();
        std::remove(fifo.c_str());
    }
    const std::string fifo = ::testing::TempDir() + "onyx-trace-fifo-" + std::to_string(getpid());
    FakeLabels labels;
};

TEST_P(TraceThatCannotBeWritten, StopsTracingAndSaysSoOnce) {
    const BrokenTrace& trace = GetParam();
    std::string path = "/dev/full";
    if (trace.pipe) {
        path = fifo;
        ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
        const int reader = open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
        ASSERT_GE(reader, 0);
        ASSERT_EQ(link_trace::Start(path), 0);
        close(reader); // the reader goes away: every write now meets a closed pipe
    }
    std::vector<std::string> told;
    const link_trace::StopHandler handler = [&](const std::string& message) {
        told.push_back(message);
    };
    if (!trace.pipe) {
        ASSERT_EQ(link_trace::Start(path, handler), 0);
    }
    // The operation runs to its end (a SIGPIPE would have ended this program).
    EXPECT_EQ(ReadDeviceInformation(logger.PortName(), labels, RecordingSleeper()).Number(),
              LINK_OK);
    EXPECT_EQ(Transactions(logger).size(), 5u);
    EXPECT_FALSE(link_trace::Active());
    const std::string message = "The link trace to " + path + " stopped: " + trace.reason;
    EXPECT_EQ(told, trace.pipe ? std::vector<std::string>{} : std::vector<std::string>{message});
    EXPECT_EQ(link_trace::TakeStoppedMessage(), message);
    EXPECT_EQ(link_trace::TakeStoppedMessage(), "") << "said once";
    EXPECT_EQ(ReadDeviceInformation(logger.PortName(), labels, RecordingSleeper()).Number(),
              LINK_OK);
    EXPECT_EQ(link_trace::TakeStoppedMessage(), "");
}

INSTANTIATE_TEST_SUITE_P(Cases, TraceThatCannotBeWritten,
                         ::testing::Values(BrokenTrace{"ClosedPipe", true, "Broken pipe"},
                                           BrokenTrace{"FullDevice", false,
                                                       "No space left on device"}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(TraceStart, AFifoWithoutAReaderIsRefusedAtOnce) {
    const std::string fifo = ::testing::TempDir() + "onyx-trace-lonely-" + std::to_string(getpid());
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(link_trace::Start(fifo), ENXIO);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
    EXPECT_FALSE(link_trace::Active());
    EXPECT_EQ(link_trace::StartFailure(fifo, ENXIO),
              "cannot open the trace file " + fifo + ": no program is reading from it");
    std::remove(fifo.c_str());
}

// A reader that stays but reads nothing: once the pipe is full, a line waits a few
// seconds for room, then the trace stops instead of holding the link.
TEST(TraceStart, AReaderThatReadsNothingCannotHoldTheLink) {
    const std::string fifo = ::testing::TempDir() + "onyx-trace-idle-" + std::to_string(getpid());
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const int reader = open(fifo.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(reader, 0);
    ASSERT_EQ(link_trace::Start(fifo), 0);
    const std::vector<std::uint8_t> frame(500, 0x55);
    const auto start = std::chrono::steady_clock::now();
    int lines = 0;
    for (; link_trace::Active() && lines < 10000; ++lines) {
        link_trace::Sent("IDLE:", frame, 0);
    }
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_GE(took, std::chrono::seconds(4));
    EXPECT_LT(took, std::chrono::seconds(8));
    EXPECT_LT(lines, 200) << "the pipe holds some 64 KiB";
    EXPECT_EQ(link_trace::TakeStoppedMessage(),
              "The link trace to " + fifo + " stopped: nothing was read from it for 5 seconds");
    link_trace::Stop();
    close(reader);
    std::remove(fifo.c_str());
}

} // namespace
