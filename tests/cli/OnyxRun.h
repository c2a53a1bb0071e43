#pragma once

// The onyx program run as a bench script runs it: a shell command line, its
// output and exit status captured, against simulated loggers of the test's own.

#include "SimulatedLogger.h"
#include "support/TemporaryFolder.h"
#include "support/TestLogger.h"

#include <QByteArray>
#include <QJsonArray>
#include <QJsonDocument>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <memory>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <vector>

struct OnyxRun {
    int exitStatus = -1;
    std::string out;
    std::string err;
    QJsonArray Json() const {
        return QJsonDocument::fromJson(QByteArray::fromStdString(out)).array();
    }
};

inline std::string ReadFile(const std::filesystem::path& path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

class OnyxCommand : public ::testing::Test {
protected:
    // A logger of the test's own, answering on a published port.
    sim::SimulatedLogger& StartLogger(sim::LoggerConfig config = UniqueLoggerConfig("Cli")) {
        loggers.push_back(std::make_unique<sim::SimulatedLogger>(std::move(config)));
        EXPECT_EQ(loggers.back()->Start(), 0);
        return *loggers.back();
    }

    // onyx with these arguments (shell words), its output captured, or sent to
    // outTo (a file such as /dev/full) instead.
    OnyxRun Onyx(const std::string& arguments, const std::string& outTo = {}) const {
        const auto out = folder / "out";
        const auto err = folder / "err";
        std::filesystem::remove(out);
        const std::string command = std::string(ONYX_PROGRAM) + " " + arguments + " >" +
                                    (outTo.empty() ? out.string() : outTo) + " 2>" + err.string() +
                                    " </dev/null";
        const int status = std::system(command.c_str());
        OnyxRun run;
        run.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        run.out = ReadFile(out);
        run.err = ReadFile(err);
        return run;
    }

    TemporaryFolder folder{"onyx-cli"};
    std::vector<std::unique_ptr<sim::SimulatedLogger>> loggers;
};
