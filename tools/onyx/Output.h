#pragma once

// What onyx prints: the ports' results as text in the order the ports were given,
// or as one JSON document; and the command line's words as the system gave them.

#include "Console.h"
#include "PortJobs.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QString>
#include <QStringList>
#include <string>
#include <vector>

// A port's result as the JSON object of the README.
QJsonObject ResultJson(const PortResult& result);

// Text: the port, then each shown line, a warning and the outcome, indented.
void PrintResult(ConsoleStream& out, const PortResult& result);

// Each failure with its text, "PORT: text", and each warning as "PORT: warning: text".
void PrintFailures(ConsoleStream& err, const std::vector<PortResult>& results);

// The whole document, indented.
void PrintJson(ConsoleStream& out, const QJsonArray& document);

// Bytes from the logger (labels), as the window shows them: one byte a character.
QString LoggerText(const std::string& bytes);

// Text of ours that may hold a name's bytes, for JSON: readable and never changed
// into another name (see Readable).
QString JsonText(const std::string& text);

// The command line as the system gives it: on Windows the UTF-16 command line; on
// Linux argv's bytes, one character per byte (Latin-1), so that the parser sees
// the same words and every value gives back exactly the bytes it was typed as (a
// file name that is not UTF-8 stays that name).
QStringList ProgramArguments(int argc, char** argv);
// A word of ProgramArguments (or a parser text quoting one) as the file and port
// code takes it: the bytes on Linux, UTF-8 on Windows.
std::string ArgumentBytes(const QString& word);
