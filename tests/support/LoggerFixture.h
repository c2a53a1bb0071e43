#pragma once

#include "SimulatedLogger.h"
#include "communication/Protocols.h"
#include "communication/serial/SERIAL.h"
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

    // A fault for the next count requests, whatever their command.
    static sim::Fault FaultOf(sim::FaultKind kind, int count = 1) {
        sim::Fault fault;
        fault.kind = kind;
        fault.count = count;
        return fault;
    }

    void SetUp() override {
        ASSERT_EQ(logger.Start(), 0);
        ASSERT_EQ(port.Open(logger.PortName().c_str(), 2048, 2048), 0);
    }

    sim::SimulatedLogger logger{Config()};
    CSerial port;
    WSRX_Protocol protocol{WSRX_Protocol::BufferSize, WSRX_Protocol::BufferSize};
};
