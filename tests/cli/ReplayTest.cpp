// A link trace replayed by the simulated logger: the requests answered as the
// traced logger answered them.

#include "ReplayTrace.h"
#include "cli/OnyxRun.h"

#include <QJsonObject>

namespace {

TEST_F(OnyxCommand, ATraceReplayedGivesTheSameOutput) {
    auto config = UniqueLoggerConfig("Cli");
    config.selfTestMask = 0x80;
    sim::SimulatedLogger& recorded = StartLogger(config);
    recorded.InjectFault({sim::FaultKind::Silence, 'k', 1}); // a time-out in the trace
    recorded.InjectFault({sim::FaultKind::BadCrc, 'c', 1});
    const auto trace = folder / "field.trace";
    const std::string port = recorded.PortName();
    const OnyxRun original = Onyx("selftest --json --trace " + trace.string() + " " + port);
    recorded.Stop();

    std::ifstream file(trace);
    std::string error;
    auto replay = sim::ReplayTrace::Read(file, "", error);
    ASSERT_TRUE(replay) << error;
    config.selfTestMask = 0; // the trace's replies, not the logger's, must count
    config.replies = [replay = std::make_shared<sim::ReplayTrace>(std::move(*replay))](
                         const std::vector<std::uint8_t>& frame) {
        return replay->Next(frame).value_or(std::nullopt);
    };
    StartLogger(config);
    const OnyxRun replayed = Onyx("selftest --json " + port);

    EXPECT_EQ(original.exitStatus, 1);
    EXPECT_EQ(replayed.exitStatus, original.exitStatus);
    EXPECT_EQ(replayed.out, original.out);
    EXPECT_EQ(original.Json()[0].toObject()["selfTestMask"].toInt(), 0x80);
}

TEST(ReplayTrace, RepeatsInRecordedOrderAndHoldsNoMoreThanTheTrace) {
    std::istringstream trace(
        "2026-12-08 01:33:00.662 open  P: result 0\n"
        "2026-12-08 01:33:00.662 sent  P: 00 65 FF 10 6B\n"
        "2026-12-08 01:33:01.129 time-out P: no reply within 322 ms attempt 1/5 result -200\n"
        "2026-12-08 01:33:01.329 sent  P: 00 65 FF 10 6B\n"
        "2026-12-08 01:33:01.357 recv  P: 1C 30 0F 26 attempt 2/5 result 0\n"
        "2026-12-08 01:33:01.400 sent  Q: 00 65 FF 10 6B\n"
        "2026-12-08 01:33:01.420 recv  Q: AA attempt 1/5 result -230\n");
    std::string error;
    EXPECT_FALSE(sim::ReplayTrace::Read(trace, "", error)) << "two ports, none chosen";
    EXPECT_NE(error.find("P: Q:"), std::string::npos) << error;
    trace.clear();
    trace.seekg(0);
    auto replay = sim::ReplayTrace::Read(trace, "P:", error);
    ASSERT_TRUE(replay) << error;
    const std::vector<std::uint8_t> request{0x00, 0x65, 0xFF, 0x10, 0x6B};
    EXPECT_EQ(replay->Next(request), std::optional<sim::ReplayTrace::Reply>(std::in_place))
        << "silence for the time-out";
    EXPECT_EQ(replay->Next(request), std::optional<sim::ReplayTrace::Reply>(
                                         std::vector<std::uint8_t>{0x1C, 0x30, 0x0F, 0x26}));
    EXPECT_FALSE(replay->Next(request)) << "used up: not in the trace any more";
    EXPECT_FALSE(replay->Next({0x00, 0x63})) << "never in the trace";
}

} // namespace
