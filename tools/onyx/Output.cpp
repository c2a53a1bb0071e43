#include "Output.h"

#include <QFile>
#include <QJsonDocument>

namespace {

// Every line of a text after the first, indented like the first.
void PrintIndented(std::FILE* out, const std::string& indent, const std::string& text) {
    std::string::size_type start = 0;
    while (start <= text.size()) {
        const auto end = text.find('\n', start);
        std::fprintf(out, "%s%s\n", indent.c_str(),
                     text.substr(start, end == std::string::npos ? end : end - start).c_str());
        if (end == std::string::npos) {
            break;
        }
        start = end + 1;
    }
}

} // namespace

QString LoggerText(const std::string& bytes) {
    return QString::fromLatin1(bytes.data(), static_cast<qsizetype>(bytes.size()));
}

QJsonObject ResultJson(const PortResult& result) {
    QJsonObject object;
    object["port"] = QString::fromLocal8Bit(result.port);
    object["ok"] = result.ok;
    object["result"] = result.code;
    object["text"] = QString::fromLocal8Bit(result.text);
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
        object["earlierFailure"] = QString::fromLocal8Bit(*result.earlierFailure);
    }
    if (result.file) {
        object["file"] = NameText(*result.file);
    }
    if (result.bytes) {
        object["bytes"] = static_cast<qint64>(*result.bytes);
    }
    if (result.logLine) {
        object["logLine"] = LoggerText(*result.logLine);
    }
    return object;
}

void PrintResult(std::FILE* out, const PortResult& result) {
    std::fprintf(out, "%s\n", result.port.c_str());
    for (const std::string& line : result.shown) {
        std::fprintf(out, "  %s\n", line.c_str());
    }
    if (result.earlierFailure) {
        PrintIndented(out, "  ", *result.earlierFailure);
    }
    if (result.logLine) {
        std::fprintf(out, "  %s\n", result.logLine->c_str());
    }
    PrintIndented(out, "  ", result.text);
}

void PrintFailures(std::FILE* err, const std::vector<PortResult>& results) {
    for (const PortResult& result : results) {
        if (result.ok) {
            continue;
        }
        // "COM5: text", also for a port given without its colon.
        const std::string prefix =
            result.port + (!result.port.empty() && result.port.back() == ':' ? " " : ": ");
        if (result.earlierFailure) {
            PrintIndented(err, prefix, *result.earlierFailure);
        }
        if (!result.earlierFailure || result.code != 0) {
            PrintIndented(err, prefix, result.text);
        }
    }
}

void PrintJson(std::FILE* out, const QJsonArray& document) {
    const QByteArray text = QJsonDocument(document).toJson(QJsonDocument::Indented);
    std::fwrite(text.constData(), 1, static_cast<std::size_t>(text.size()), out);
}

#ifdef _WIN32
std::string NameBytes(const QString& name) {
    return name.toStdString();
}

QString NameText(const std::string& name) {
    return QString::fromStdString(name);
}

std::filesystem::path NamePath(const QString& name) {
    return std::filesystem::path(name.toStdWString());
}
#else
std::string NameBytes(const QString& name) {
    return QFile::encodeName(name).toStdString();
}

QString NameText(const std::string& name) {
    return QFile::decodeName(QByteArray::fromStdString(name));
}

std::filesystem::path NamePath(const QString& name) {
    return std::filesystem::path(NameBytes(name));
}
#endif
