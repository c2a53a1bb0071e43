// The link trace written while Read Wellscribe Info runs against the simulated logger.

#include "communication/LinkTrace.h"

#include "OperationFixture.h"
#include "communication/ResultCodes.h"
#include "operations/Operations.h"

#include <cstdio>
#include <fstream>
#include <regex>
#include <sstream>

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
    ASSERT_EQ(ReadDeviceInformation(logger.PortName(), labels, RecordingSleeper()), LINK_OK);
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
    EXPECT_EQ(ReadDeviceInformation(logger.PortName(), labels, RecordingSleeper()),
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

} // namespace
