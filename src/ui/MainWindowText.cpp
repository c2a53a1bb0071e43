#include "ui/MainWindowText.h"

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

DumpOutcome DumpOutcomeFor(std::int32_t result) {
    if (result == 0) {
        return {"Memory Dump Saved", "Success", false};
    }
    if (result == LINK_ERR_NO_PORT) {
        return {"Cannot open COM port", "Error", true};
    }
    if (result < 0) {
        return {"Communication Error", "Error", true};
    }
    return {"Unable to save memory dump", "Error", true};
}
