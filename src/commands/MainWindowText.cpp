#include "commands/MainWindowText.h"

#include "communication/Commands.h"
#include "communication/ResultCodes.h"

#include <algorithm>

SelfTestView PresentSelfTest(std::int32_t result) {
    SelfTestView view;
    const auto bits = static_cast<std::uint32_t>(result);
    for (int bit = 0; bit < 32; ++bit) {
        const bool set = ((bits >> bit) & 1u) != 0;
        view.failures += set ? 1 : 0;
        if (bit < 8) {
            view.failed[static_cast<std::size_t>(bit)] = set;
        }
    }
    view.headingVisible = view.failures != 0;
    // The plural stands for every count: "Failed 1 tests." is what users know.
    view.summary = view.failures == 0 ? "Passed all tests!"
                                      : "Failed " + std::to_string(view.failures) + " tests.";
    return view;
}

namespace {

struct SelfTestRow {
    const char* caption;
    const char* solution;
};
// The dots fill each caption to the same width in the window's font; test 7's
// advice ends in a blank, as the form has it.
constexpr SelfTestRow SelfTestRows[8] = {
    {"1. Battery Voltage Test.......................", "Send Test Report to Corvane"},
    {"2. Program Memory Test.....................", "Upgrade Firmware to the Latest Version"},
    {"3. Calibration Memory Test.................",
     "Contact Corvane for instruction to restoring Calibration data"},
    {"4. External FRAM Test......................", "Send Test Report to Corvane"},
    {"5. EEPROM Test #1..........................", "Send Test Report to Corvane"},
    {"6. EEPROM Test #2..........................", "Send Test Report to Corvane"},
    {"7. Temperature Sensor Test..............", "Send Test Report to Corvane "},
    {"8. Pressure Sensor Test.......................", "Send Test Report to Corvane"},
};

} // namespace

const char* SelfTestCaption(int test) {
    return test >= 1 && test <= 8 ? SelfTestRows[test - 1].caption : "";
}

const char* SelfTestSolution(int test) {
    return test >= 1 && test <= 8 ? SelfTestRows[test - 1].solution : "";
}

std::string DefaultDumpName(const std::string& modelLabel, const std::string& serialLabel) {
    if (serialLabel.empty()) {
        return "WSOnyx_Mem_Dump";
    }
    std::string name = modelLabel + "_" + serialLabel;
    for (char& c : name) {
        const bool keep =
            (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
        if (!keep) {
            c = '_';
        }
    }
    return name;
}

std::string CompleteFileName(const std::string& chosen, const std::string& extension) {
    const std::size_t slash = chosen.find_last_of('/');
    const std::size_t base = slash == std::string::npos ? 0 : slash + 1;
#ifdef _WIN32
    const std::size_t backslash = chosen.find_last_of("\\:");
    const std::size_t start = backslash == std::string::npos ? base : std::max(base, backslash + 1);
#else
    const std::size_t start = base;
#endif
    return chosen.find('.', start) == std::string::npos ? chosen + "." + extension : chosen;
}

namespace {

// The file beside an earlier dump that holds the blocks of a new one: named after
// the chosen file (as shown) where it is, else by its own full name.
std::string PartialName(const DumpRecord& record, const std::string& file) {
    return record.partialNamedAfterFile ? file + DumpPartialSuffix
                                        : NativeSeparators(record.partialFile);
}

// What the dump file holds once the dump has ended early.
std::string FileHolds(const DumpRecord& record, const std::string& file) {
    if (record.earlierKept) {
        return "The earlier dump " + file + " was kept as it was; " + PartialName(record, file) +
               " holds the first " + std::to_string(record.blocks * BlockSize) + " bytes.";
    }
    if (record.blocks > 0) {
        return file + " holds the first " + std::to_string(record.blocks * BlockSize) + " bytes.";
    }
    if (record.fileRemoved) {
        return "Nothing was saved.";
    }
    return record.fileUnchanged ? file + " was left unchanged." : file + " is empty.";
}

std::string AfterBlocks(const DumpRecord& record) {
    return "after " + std::to_string(record.blocks) + " of " + std::to_string(DumpBlockCount) +
           " blocks";
}

} // namespace

std::string NativeSeparators(std::string path) {
#ifdef _WIN32
    std::replace(path.begin(), path.end(), '/', '\\');
#endif
    return path;
}

DumpOutcome DumpOutcomeFor(const LinkOutcome& result, const DumpRecord& record,
                           const std::string& port, const std::string& chosenFile) {
    const std::string file = NativeSeparators(chosenFile);
    if (result.Ok()) {
        return record.stopped
                   ? DumpOutcome{"Memory dump stopped\nThe dump was stopped " +
                                     AfterBlocks(record) + ". " + FileHolds(record, file),
                                 "Information", false}
                   : DumpOutcome{"Memory Dump Saved", "Success", false};
    }
    if (result.code == OP_ERR_FILE_OPEN || result.code == OP_ERR_FILE_WRITE) {
        const std::string failed = record.fileErrorOnPartial ? PartialName(record, file) : file;
        std::string text = "Unable to save memory dump\nCannot write " + failed + ": " +
                           SystemErrorText(record.fileError);
        if (result.code == OP_ERR_FILE_WRITE) {
            text += "\nThe dump ended " + AfterBlocks(record) + ". " + FileHolds(record, file);
        }
        return {text, "Error", true};
    }
    if (result.systemError != 0 && result.portOpened) {
        // The system's reason, which on Windows already ends with a full stop.
        std::string reason = SystemErrorText(result.systemError);
        if (reason.empty() || reason.back() != '.') {
            reason += '.';
        }
        return {"Unable to save memory dump\nThe connection to " + PortDisplayName(port) +
                    " was lost " + AfterBlocks(record) + ": " + reason + " " +
                    FileHolds(record, file),
                "Error", true};
    }
    if (result.systemError != 0) {
        return {"Unable to save memory dump\n" + OutcomeText(result, port) + "\n" +
                    FileHolds(record, file),
                "Error", true};
    }
    // The link's own message says what went wrong; "Cannot open COM port" needs none.
    const std::string first = result.code == LINK_ERR_NO_PORT
                                  ? std::string("Cannot open COM port")
                                  : "Communication Error\n" + OutcomeText(result, port);
    return {first + "\nThe dump ended " + AfterBlocks(record) + ". " + FileHolds(record, file),
            "Error", true};
}

std::string DumpProgressText(std::uint32_t blocks) {
    return "Block " + std::to_string(blocks) + " of " + std::to_string(DumpBlockCount);
}
