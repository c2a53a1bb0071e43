#include "Output.h"

#include "commands/DeviceCommands.h"

#include <QCoreApplication>
#include <QJsonDocument>

namespace {

// Every line of a text, each after the indent.
void PrintIndented(ConsoleStream& out, const std::string& indent, const std::string& text) {
    std::string lines;
    std::string::size_type start = 0;
    while (start <= text.size()) {
        const auto end = text.find('\n', start);
        lines += indent + text.substr(start, end == std::string::npos ? end : end - start) + "\n";
        if (end == std::string::npos) {
            break;
        }
        start = end + 1;
    }
    out.Write(lines);
}

// "COM5: ", also for a port given without its colon.
std::string PortPrefix(const std::string& port) {
    return port + (!port.empty() && port.back() == ':' ? " " : ": ");
}

} // namespace

QString LoggerText(const std::string& bytes) {
    return QString::fromLatin1(bytes.data(), static_cast<qsizetype>(bytes.size()));
}

QString JsonText(const std::string& text) {
    return QString::fromStdString(Readable(text));
}

QJsonObject ResultJson(const PortResult& result) {
    QJsonObject object;
    object["port"] = JsonText(result.port);
    object["ok"] = result.ok;
    object["result"] = result.code;
    object["text"] = JsonText(result.text);
    if (!result.labels.empty()) {
        QJsonObject values;
        for (const auto& [label, text] : result.labels) {
            values[LabelKey(label)] = LoggerText(LabelValue(text));
        }
        object["values"] = values;
    }
    if (result.selfTestMask) {
        object["selfTestMask"] = *result.selfTestMask;
        QJsonArray failed;
        for (int test = 1; test <= 8; ++test) {
            if ((*result.selfTestMask >> (test - 1)) & 1) {
                failed.append(test);
            }
        }
        object["failedTests"] = failed;
    }
    if (result.earlierFailure) {
        object["earlierFailure"] = JsonText(*result.earlierFailure);
        if (result.ok) {
            object["warning"] = JsonText(*result.earlierFailure);
        }
    }
    if (result.file) {
        object["file"] = JsonText(*result.file);
    }
    if (result.bytes) {
        object["bytes"] = static_cast<qint64>(*result.bytes);
    }
    if (result.logLine) {
        object["logLine"] = LoggerText(*result.logLine);
    }
    return object;
}

void PrintResult(ConsoleStream& out, const PortResult& result) {
    out.Write(result.port + "\n");
    for (const std::string& line : result.shown) {
        out.Write("  " + line + "\n");
    }
    if (result.earlierFailure) {
        PrintIndented(out, result.ok ? "  warning: " : "  ", *result.earlierFailure);
    }
    if (result.logLine) {
        out.Write("  " + Latin1ToUtf8(*result.logLine) + "\n");
    }
    PrintIndented(out, "  ", result.text);
}

void PrintFailures(ConsoleStream& err, const std::vector<PortResult>& results) {
    for (const PortResult& result : results) {
        const std::string prefix = PortPrefix(result.port);
        if (result.earlierFailure) {
            PrintIndented(err, result.ok ? prefix + "warning: " : prefix, *result.earlierFailure);
        }
        if (!result.ok) {
            PrintIndented(err, prefix, result.text);
        }
    }
}

void PrintJson(ConsoleStream& out, const QJsonArray& document) {
    out.Write(QJsonDocument(document).toJson(QJsonDocument::Indented).toStdString());
}

#ifdef _WIN32
QStringList ProgramArguments(int, char**) {
    return QCoreApplication::arguments(); // from the UTF-16 command line
}

std::string ArgumentBytes(const QString& word) {
    return word.toStdString();
}
#else
QStringList ProgramArguments(int argc, char** argv) {
    QStringList words;
    for (int i = 0; i < argc; ++i) {
        words << QString::fromLatin1(argv[i]);
    }
    return words;
}

std::string ArgumentBytes(const QString& word) {
    return word.toLatin1().toStdString();
}
#endif
