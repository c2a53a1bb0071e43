#pragma once

#include "SimulatedLogger.h"
#include "communication/Protocols.h"
#include "communication/serial/SERIAL.h"
#include "support/LoggerRequests.h"
#include "support/TestLogger.h"

#include <atomic>
#include <gtest/gtest.h>
#include <string>
#include <unistd.h>

// A simulated logger on its own published port, and the program's side of the
// link opened on it.
class LoggerFixture : public ::testing::Test {
protected:
    static sim::LoggerConfig Config() { return UniqueLoggerConfig("L"); }

    // The command letters the logger received, in order.
    std::string Letters() const { return RequestLetters(logger); }

    void SetUp() override {
        ASSERT_EQ(logger.Start(), 0);
        ASSERT_EQ(port.Open(logger.PortName().c_str(), 2048, 2048), 0);
    }

    sim::SimulatedLogger logger{Config()};
    CSerial port;
    WSRX_Protocol protocol{WSRX_Protocol::BufferSize, WSRX_Protocol::BufferSize};
};
