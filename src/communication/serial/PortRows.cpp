#include "communication/serial/PortRows.h"

#include "communication/serial/PortList.h"

#include <algorithm>
#include <cstddef>

namespace {

char Lower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

bool EqualIgnoringCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                              [](char x, char y) { return Lower(x) == Lower(y); });
}

bool StartsWithIgnoringCase(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() && EqualIgnoringCase(text.substr(0, prefix.size()), prefix);
}

bool ContainsIgnoringCase(std::string_view text, std::string_view part) {
    if (part.size() > text.size()) {
        return false;
    }
    for (std::size_t at = 0; at + part.size() <= text.size(); ++at) {
        if (EqualIgnoringCase(text.substr(at, part.size()), part)) {
            return true;
        }
    }
    return false;
}

std::string_view Trimmed(std::string_view text) {
    const auto space = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    while (!text.empty() && space(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && space(text.back())) {
        text.remove_suffix(1);
    }
    return text;
}

std::string_view WithoutColon(std::string_view name) {
    if (!name.empty() && name.back() == ':') {
        name.remove_suffix(1);
    }
    return name;
}

// Windows' friendly names end in the port's name: "USB Serial Port (COM7)".
std::string_view WithoutPortName(std::string_view product, std::string_view portName) {
    const std::string_view port = WithoutColon(portName);
    product = Trimmed(product);
    if (!port.empty() && product.size() >= port.size() + 2 && product.back() == ')' &&
        EqualIgnoringCase(product.substr(product.size() - port.size() - 1, port.size()), port) &&
        product[product.size() - port.size() - 2] == '(') {
        product.remove_suffix(port.size() + 2);
    }
    return Trimmed(product);
}

std::string Joined(const std::vector<std::string>& parts, std::string_view separator) {
    std::string text;
    for (const std::string& part : parts) {
        if (part.empty()) {
            continue;
        }
        if (!text.empty()) {
            text += separator;
        }
        text += part;
    }
    return text;
}

bool IsComPort(std::string_view name) {
    return StartsWithIgnoringCase(name, "com");
}

std::vector<std::string_view> Split(std::string_view text, char separator) {
    std::vector<std::string_view> parts;
    for (std::size_t start = 0;;) {
        const std::size_t end = text.find(separator, start);
        parts.push_back(text.substr(start, end == std::string_view::npos ? end : end - start));
        if (end == std::string_view::npos) {
            return parts;
        }
        start = end + 1;
    }
}

} // namespace

std::string DescribePort(const PortDevice& device, std::string_view portName) {
    std::string head(WithoutPortName(device.product, portName));
    std::string model(Trimmed(device.model));
    std::string maker(Trimmed(device.manufacturer));
    // Windows' placeholders for makers it does not know: "(Standard port types)".
    if (!maker.empty() && maker.front() == '(') {
        maker.clear();
    }
    if (!head.empty() && ContainsIgnoringCase(head, model)) {
        model.clear();
    }
    if (ContainsIgnoringCase(head, maker) || ContainsIgnoringCase(model, maker)) {
        maker.clear();
    }
    std::string makerAndModel = Joined({maker, model}, " ");
    if (head.empty()) {
        head = std::move(makerAndModel);
        makerAndModel.clear();
    }
    const std::string_view serial = Trimmed(device.serialNumber);
    const std::string_view link = Trimmed(device.link);
    const std::string details = Joined({makerAndModel,
                                        serial.empty() || ContainsIgnoringCase(head, serial)
                                            ? ""
                                            : "serial " + std::string(serial),
                                        link.empty() ? "" : "by-id " + std::string(link)},
                                       ", ");
    if (details.empty() || head.empty()) {
        return head.empty() ? details : head;
    }
    return head + " (" + details + ")";
}

std::string UsbSerialNumber(const std::vector<std::string>& instanceIds) {
    for (const std::string& id : instanceIds) {
        const std::vector<std::string_view> parts = Split(id, '\\');
        if (parts.size() != 3 || !EqualIgnoringCase(parts[0], "USB") ||
            !ContainsIgnoringCase(parts[1], "VID_") || ContainsIgnoringCase(parts[1], "&MI_")) {
            continue;
        }
        const std::string_view instance = parts[2];
        if (!instance.empty() && instance.find('&') == std::string_view::npos) {
            return std::string(instance);
        }
    }
    return {};
}

bool NaturalLess(std::string_view a, std::string_view b) {
    std::size_t i = 0;
    std::size_t j = 0;
    while (i < a.size() && j < b.size()) {
        if (IsDigit(a[i]) && IsDigit(b[j])) {
            std::size_t endA = i;
            std::size_t endB = j;
            while (endA < a.size() && IsDigit(a[endA])) {
                ++endA;
            }
            while (endB < b.size() && IsDigit(b[endB])) {
                ++endB;
            }
            std::string_view numberA = a.substr(i, endA - i);
            std::string_view numberB = b.substr(j, endB - j);
            numberA.remove_prefix(std::min(numberA.find_first_not_of('0'), numberA.size()));
            numberB.remove_prefix(std::min(numberB.find_first_not_of('0'), numberB.size()));
            if (numberA.size() != numberB.size()) {
                return numberA.size() < numberB.size();
            }
            if (numberA != numberB) {
                return numberA < numberB;
            }
            i = endA;
            j = endB;
            continue;
        }
        if (Lower(a[i]) != Lower(b[j])) {
            return Lower(a[i]) < Lower(b[j]);
        }
        ++i;
        ++j;
    }
    if (a.size() - i != b.size() - j) {
        return a.size() - i < b.size() - j;
    }
    return a < b;
}

std::vector<PortRow> WindowsPortRows(const std::vector<std::string>& spoolerNames,
                                     const std::vector<InstalledPort>& installed) {
    std::vector<PortRow> rows;
    const auto add = [&rows](std::string name, std::string description) {
        const auto same = std::find_if(rows.begin(), rows.end(), [&name](const PortRow& row) {
            return EqualIgnoringCase(WithoutColon(row.name), WithoutColon(name));
        });
        if (same == rows.end()) {
            rows.push_back({std::move(name), std::move(description)});
        } else if (same->description.empty()) {
            same->description = std::move(description);
        }
    };
    for (const std::string& name : spoolerNames) {
        if (IsComPort(name)) {
            add(name, ""); // exactly as the spooler spells it, colon included
        }
    }
    for (const InstalledPort& port : installed) {
        const std::string name(Trimmed(port.name));
        if (IsComPort(name)) {
            add(std::string(WithoutColon(name)) + ":", DescribePort(port.device, name));
        }
    }
    std::stable_sort(rows.begin(), rows.end(), [](const PortRow& a, const PortRow& b) {
        return NaturalLess(a.name, b.name);
    });
    return rows;
}

std::vector<std::string> EnumerateComPorts() {
    std::vector<std::string> names;
    for (PortRow& row : EnumeratePorts()) {
        names.push_back(std::move(row.name));
    }
    return names;
}

std::vector<PortRow> WithFallback(std::vector<PortRow> rows, bool readable) {
    if (!readable && rows.empty()) {
        for (std::string& name : FallbackComPorts()) {
            rows.push_back({std::move(name), ""});
        }
    }
    return rows;
}
