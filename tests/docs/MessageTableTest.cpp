// The user guide's message table holds every message the program can show.
//
// Two checks, so the table cannot fall behind the program:
// - the string literals of every file the messages are kept in (the folders below,
//   whole, so a new file is read too): each piece of text between the variable
//   parts must stand in one of the table's code spans;
// - the message functions called over their inputs (every result code, the port
//   failures, every dump outcome, the calibration and report texts): each line
//   they give must read as one or more of the table's messages in a row, their
//   <placeholders> standing for the variable parts (ports, files, numbers, reasons).
// A reworded message fails both until its row is reworded too.

#include "calibration/CalibrationSequences.h"
#include "commands/DeviceCommands.h"
#include "commands/MainWindowText.h"
#include "communication/LinkTrace.h"
#include "communication/ResultCodes.h"
#include "communication/serial/SERIAL.h"
#include "report/ReportText.h"

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
const fs::path Source = ONYX_SOURCE_DIR;

std::string ReadText(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::vector<std::string> Split(const std::string& text, char separator) {
    std::vector<std::string> parts;
    std::stringstream stream(text);
    for (std::string part; std::getline(stream, part, separator);) {
        parts.push_back(part);
    }
    return parts;
}

std::string Trimmed(const std::string& text, std::string_view characters = " \t\r") {
    const std::size_t first = text.find_first_not_of(characters);
    if (first == std::string::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(characters) - first + 1);
}

// The guide's message table: the rows under the heading "## Messages", each a
// message (or several, one code span each) in its first cell, then where it is
// shown, its cause and its cure.
struct MessageTable {
    std::vector<std::string> messages;  // the first cells' code spans
    std::vector<std::string> spans;     // every code span of the table
    std::vector<std::string> emptyRows; // rows without a cause or a cure
    std::vector<std::regex> patterns;   // the messages, <placeholders> as wildcards

    static MessageTable Read() {
        MessageTable table;
        bool inSection = false;
        for (const std::string& rawLine : Split(ReadText(Source / "docs" / "guide.md"), '\n')) {
            const std::string line = Trimmed(rawLine);
            if (line.starts_with("## ")) {
                inSection = line.starts_with("## Messages");
                continue;
            }
            if (!inSection || !line.starts_with('|') || line.starts_with("|---") ||
                line.starts_with("| Message")) {
                continue;
            }
            std::vector<std::string> cells = Split(line.substr(1), '|');
            for (std::size_t cell = 0; cell < cells.size(); ++cell) {
                for (const std::string& span : Spans(cells[cell])) {
                    table.spans.push_back(span);
                    if (cell == 0) {
                        table.messages.push_back(span);
                        table.patterns.push_back(Pattern(span));
                    }
                }
            }
            // A row without a message is a group's heading.
            const bool message = !Spans(cells[0]).empty();
            if (message &&
                (cells.size() < 4 || Trimmed(cells[2]).empty() || Trimmed(cells[3]).empty())) {
                table.emptyRows.push_back(line);
            }
        }
        return table;
    }

    static std::vector<std::string> Spans(const std::string& cell) {
        std::vector<std::string> spans;
        for (std::size_t open = cell.find('`'); open != std::string::npos;) {
            const std::size_t close = cell.find('`', open + 1);
            if (close == std::string::npos) {
                break;
            }
            spans.push_back(cell.substr(open + 1, close - open - 1));
            open = cell.find('`', close + 1);
        }
        return spans;
    }

    // The message as a regular expression: its text, each <placeholder> any text.
    static std::regex Pattern(const std::string& message) {
        static const std::regex placeholder("<[^<>]+>");
        static const std::regex special(R"([.^$|()\[\]{}*+?\\])");
        std::string pattern;
        std::sregex_token_iterator piece(message.begin(), message.end(), placeholder, {-1, 0});
        for (; piece != std::sregex_token_iterator(); ++piece) {
            const std::string text = *piece;
            pattern += text.starts_with('<') && text.ends_with('>')
                           ? std::string(".+")
                           : std::regex_replace(text, special, R"(\$&)");
        }
        return std::regex(pattern);
    }

    // True when the line reads as one or more messages in a row, a blank between two.
    bool Reads(const std::string& line) const {
        std::vector<bool> startsHere(line.size() + 1, false);
        startsHere[0] = true;
        for (std::size_t start = 0; start < line.size(); ++start) {
            if (!startsHere[start]) {
                continue;
            }
            for (std::size_t end = start + 1; end <= line.size(); ++end) {
                if (end < line.size() && line[end] != ' ') {
                    continue;
                }
                const std::string piece = line.substr(start, end - start);
                const bool known = std::any_of(patterns.begin(), patterns.end(),
                                               [&piece](const std::regex& pattern) {
                                                   return std::regex_match(piece, pattern);
                                               });
                if (known && end == line.size()) {
                    return true;
                }
                if (known) {
                    startsHere[end + 1] = true;
                }
            }
        }
        return false;
    }

    bool Holds(const std::string& piece) const {
        return std::any_of(spans.begin(), spans.end(), [&piece](const std::string& span) {
            return span.find(piece) != std::string::npos;
        });
    }
};

const MessageTable& Table() {
    static const MessageTable table = MessageTable::Read();
    return table;
}

// Where the program keeps the texts it shows.
const char* const MessageFolders[] = {"src/commands", "src/report", "src/calibration",
                                      "src/files",    "src/ui",     "tools/onyx"};
const char* const MessageFiles[] = {"src/communication/ResultCodes.cpp",
                                    "src/communication/LinkTrace.cpp"};

// Texts of those files that are not messages: fonts, save-dialog filters, the date
// formats, and the trace file's own lines.
const char* const NotMessages[] = {"Liberation Sans",
                                   "DejaVu Sans",
                                   "Wellscribe Onyx memory dump file (*.hex)",
                                   "Text file (*.txt);;All files (*.*)",
                                   "mm/dd/yy hh:nn:ss",
                                   "dd/mm/yyyy hh:nn:ss",
                                   "no reply within"};

// A statement holding one of these shows help, not a message: the usage and option
// texts, which the manual pages and --help carry.
const char* const HelpMarks[] = {"usage: ", "QCommandLineOption", "addPositionalArgument",
                                 "Description ="};

struct Literal {
    std::string text;      // the adjacent literals joined, escapes resolved
    std::string statement; // the source text from the statement's start to the literal
    int line = 0;
};

// Whether the quote at `at` opens a character literal ('x', L'x', u8'x'): after a
// digit or a letter of a number it is a digit separator (1'000, 0xFF'FF).
bool OpensCharacter(const std::string& code, std::size_t at) {
    std::size_t start = at;
    while (start > 0 && (std::isalnum(static_cast<unsigned char>(code[start - 1])) != 0 ||
                         code[start - 1] == '_')) {
        --start;
    }
    const std::string prefix = code.substr(start, at - start);
    return prefix.empty() || prefix == "L" || prefix == "u" || prefix == "U" || prefix == "u8";
}

// The string literals of C++ source, comments, character literals and digit
// separators skipped. A comment, character or raw string left open ends the scan.
std::vector<Literal> Literals(const std::string& code) {
    std::vector<Literal> literals;
    std::size_t statementStart = 0;
    std::size_t lastEnd = std::string::npos; // just after the previous literal
    int line = 1;
    for (std::size_t at = 0; at < code.size(); ++at) {
        const char c = code[at];
        if (c == '\n') {
            ++line;
        } else if (code.compare(at, 2, "//") == 0) {
            const std::size_t end = code.find('\n', at);
            if (end == std::string::npos) {
                break;
            }
            at = end - 1;
        } else if (code.compare(at, 2, "/*") == 0) {
            const std::size_t end = code.find("*/", at);
            if (end == std::string::npos) {
                break;
            }
            line +=
                static_cast<int>(std::count(code.begin() + static_cast<std::ptrdiff_t>(at),
                                            code.begin() + static_cast<std::ptrdiff_t>(end), '\n'));
            at = end + 1;
        } else if (c == '\'' && OpensCharacter(code, at)) {
            at = code.find('\'', at + (code.compare(at + 1, 1, "\\") == 0 ? 3 : 2));
            if (at == std::string::npos) {
                break;
            }
        } else if (c == ';') {
            statementStart = at + 1;
        } else if (c == '"') {
            const std::size_t open = at;
            std::string text;
            const bool raw = at > 0 && code[at - 1] == 'R';
            if (raw) {
                const std::size_t paren = code.find('(', at);
                const std::string close = ")" + code.substr(at + 1, paren - at - 1) + "\"";
                const std::size_t end =
                    paren == std::string::npos ? paren : code.find(close, paren);
                if (end == std::string::npos) {
                    break;
                }
                text = code.substr(paren + 1, end - paren - 1);
                at = end + close.size() - 1;
            } else {
                for (++at; at < code.size() && code[at] != '"'; ++at) {
                    if (code[at] != '\\') {
                        text += code[at];
                        continue;
                    }
                    const char escaped = code[++at];
                    text += escaped == 'n' ? '\n' : escaped == 't' ? '\t' : escaped;
                    if (escaped == 'x') {
                        text.back() = '\x01';
                        at += 2;
                    }
                }
            }
            const bool joined = lastEnd != std::string::npos && !literals.empty() &&
                                Trimmed(code.substr(lastEnd, open - lastEnd), " \t\r\n").empty();
            if (joined && !raw) {
                literals.back().text += text;
            } else {
                literals.push_back(
                    {text, code.substr(statementStart, open - statementStart), line});
            }
            lastEnd = at + 1;
        }
    }
    return literals;
}

// The texts of the windows' forms: a literal equal to or part of one is a caption.
std::vector<std::string> FormTexts() {
    std::vector<std::string> texts;
    for (const auto& entry : fs::directory_iterator(Source / "src" / "ui")) {
        if (entry.path().extension() != ".ui") {
            continue;
        }
        static const std::regex property("<string>([^<]*)</string>");
        const std::string form = ReadText(entry.path());
        for (std::sregex_iterator found(form.begin(), form.end(), property);
             found != std::sregex_iterator(); ++found) {
            std::string text = (*found)[1];
            text = std::regex_replace(text, std::regex("&amp;"), "");
            text = std::regex_replace(text, std::regex("&quot;"), "\"");
            texts.push_back(text);
        }
    }
    return texts;
}

// The parts of a literal that words a message: its lines split at printf
// conversions, blanks and the punctuation that joins them to variable parts cut
// off, filler dots taken out; only parts of two words or more.
std::vector<std::string> MessagePieces(const std::string& literal) {
    static const std::regex conversion("%[-0-9.]*[a-z]");
    static const std::regex dots("\\.{3,}");
    std::vector<std::string> pieces;
    for (const std::string& textLine : Split(literal, '\n')) {
        const std::string line = std::regex_replace(textLine, dots, "");
        std::sregex_token_iterator part(line.begin(), line.end(), conversion, -1);
        for (; part != std::sregex_token_iterator(); ++part) {
            const std::string piece = Trimmed(*part, " \t\r\x01.,:;(");
            std::istringstream words(piece);
            int wordCount = 0;
            for (std::string word; words >> word;) {
                wordCount += std::count_if(word.begin(), word.end(),
                                           [](char c) { return std::isalpha(c); }) >= 1;
            }
            if (wordCount >= 2) {
                pieces.push_back(piece);
            }
        }
    }
    return pieces;
}

TEST(MessageTableTest, EveryRowHasItsMessageCauseAndCure) {
    const MessageTable& table = Table();
    EXPECT_GT(table.messages.size(), 60u) << "docs/guide.md has no \"## Messages\" table";
    for (const std::string& row : table.emptyRows) {
        ADD_FAILURE() << "a row without its cause or cure: " << row;
    }
    // A message of placeholders alone would pass for any text.
    static const std::regex word("[A-Za-z]{3,}");
    for (const std::string& message : table.messages) {
        const std::string text = std::regex_replace(message, std::regex("<[^<>]+>"), "");
        EXPECT_TRUE(std::regex_search(text, word)) << "`" << message << "` has no word of its own";
    }
}

TEST(MessageTableTest, EveryTextOfTheMessageFilesIsInTheTable) {
    std::vector<fs::path> files;
    for (const char* folder : MessageFolders) {
        for (const auto& entry : fs::directory_iterator(Source / folder)) {
            const fs::path extension = entry.path().extension();
            if (extension == ".cpp" || extension == ".h") {
                files.push_back(entry.path());
            }
        }
    }
    for (const char* file : MessageFiles) {
        files.push_back(Source / file);
    }
    const std::vector<std::string> captions = FormTexts();
    std::size_t checked = 0;
    for (const fs::path& file : files) {
        for (const Literal& literal : Literals(ReadText(file))) {
            const bool help = std::any_of(
                std::begin(HelpMarks), std::end(HelpMarks), [&literal](const char* mark) {
                    return literal.statement.find(mark) != std::string::npos;
                });
            if (help) {
                continue;
            }
            for (const std::string& piece : MessagePieces(literal.text)) {
                const bool other =
                    std::find(std::begin(NotMessages), std::end(NotMessages), piece) !=
                        std::end(NotMessages) ||
                    std::any_of(captions.begin(), captions.end(), [&piece](const std::string& c) {
                        return c.find(piece) != std::string::npos;
                    });
                if (other) {
                    continue;
                }
                ++checked;
                EXPECT_TRUE(Table().Holds(piece))
                    << fs::relative(file, Source).string() << ":" << literal.line << ": \"" << piece
                    << "\" is in no row of the guide's message table";
            }
        }
    }
    EXPECT_GT(checked, 80u) << "the message files were not read";
}

// Each line of a text the program shows, as the guide's table must read it.
void ExpectInTable(const std::string& text, const std::string& from) {
    EXPECT_FALSE(text.empty()) << from << " gave no text";
    for (const std::string& line : Split(text, '\n')) {
        const std::string shown = Trimmed(line);
        EXPECT_TRUE(shown.empty() || Table().Reads(shown))
            << from << " shows \"" << shown << "\", which no row of the guide's table reads";
    }
}

TEST(MessageTableTest, TheOutcomeTextsReadAsTableRows) {
    for (std::int32_t code = -1000; code < 0; ++code) {
        ExpectInTable(LinkErrorText(code), "LinkErrorText(" + std::to_string(code) + ")");
    }
    for (const std::int32_t error :
         {EACCES, EBUSY, ENOENT, EIO, ENXIO, ENODEV, EINVAL, CSerial::LeftExclusiveError}) {
        for (const bool opened : {false, true}) {
            for (const bool numbered : {false, true}) {
                for (const std::string port : {"ttyUSB0:", ""}) {
                    ExpectInTable(OutcomeText({LINK_OK, error, opened}, port, numbered),
                                  "OutcomeText(" + std::to_string(error) + ")");
                }
            }
        }
    }
}

TEST(MessageTableTest, EveryDumpOutcomeReadsAsTableRows) {
    const LinkOutcome outcomes[] = {
        {LINK_OK, 0, true},          {OP_ERR_FILE_OPEN, 0, true}, {OP_ERR_FILE_WRITE, 0, true},
        {LINK_OK, EIO, true},        {LINK_OK, EACCES, false},    {LINK_OK, EBUSY, false},
        {LINK_ERR_TIMEOUT, 0, true}, {LINK_ERR_CRC, 0, true},     {LINK_ERR_NO_PORT, 0, false},
        {LINK_ERR_COMMAND, 0, true}, {LINK_ERR_DATA, 0, true},    {LINK_ERR_ACK, 0, true},
    };
    std::vector<DumpRecord> records(8);
    records[1].blocks = 3;
    records[2].stopped = true;
    records[2].blocks = 200;
    records[3].fileRemoved = true;
    records[4].fileUnchanged = true;
    records[5] = {.blocks = 7,
                  .partialFile = "/tmp/d.hex.partial",
                  .partialNamedAfterFile = true,
                  .earlierKept = true};
    records[6] = {.blocks = 7, .partialFile = "/tmp/d.hex.partial", .earlierKept = true};
    records[7] = {.blocks = 2,
                  .partialFile = "/tmp/d.hex.partial",
                  .earlierKept = true,
                  .fileErrorOnPartial = true};
    for (DumpRecord& record : records) {
        record.fileError = record.fileError == 0 ? ENOSPC : record.fileError;
        for (const LinkOutcome& outcome : outcomes) {
            for (const bool stopped : {false, true}) {
                DumpRecord shown = record;
                shown.stopped = shown.stopped || stopped;
                ExpectInTable(DumpOutcomeFor(outcome, shown, "COM5:", "/tmp/d.hex").text,
                              "DumpOutcomeFor(" + std::to_string(outcome.Number()) + ")");
            }
        }
    }
    ExpectInTable(DumpProgressText(200), "DumpProgressText");
}

TEST(MessageTableTest, TheCalibrationReportAndTraceTextsReadAsTableRows) {
    for (const std::string_view text :
         {calibration_text::AlreadyStarted, calibration_text::NotStarted,
          calibration_text::Completed, calibration_text::TooEarly}) {
        ExpectInTable(std::string(text), "calibration_text");
    }
    for (const std::int32_t offset : {-4, 0, 1, 3600}) {
        ExpectInTable(VerificationMessage(offset), "VerificationMessage");
    }
    for (const ContactProblem problem : {ContactProblem::NoName, ContactProblem::ShortPhone}) {
        ExpectInTable(ContactProblemMessage(problem), "ContactProblemMessage");
    }
    ExpectInTable(UnsavableCharactersQuestion("\u03a9 \u674e"), "UnsavableCharactersQuestion");
    for (const std::int32_t mask : {0, 1, 64, 255}) {
        ExpectInTable(PresentSelfTest(mask).summary, "PresentSelfTest");
    }
    for (int test = 1; test <= 8; ++test) {
        ExpectInTable(SelfTestSolution(test), "SelfTestSolution");
    }
    ExpectInTable(std::string(ReadingSolution1) + ReadingSolution2, "ReadingSolution");

    // Texts made from what the file system says.
    const fs::path missing = fs::temp_directory_path() / "onyx-no-such-folder" / "report.txt";
    ExpectInTable(SaveReport(missing.string(), {}, "body").text, "SaveReport");
    ExpectInTable(ListCalibrationLog(fs::temp_directory_path()).error, "ListCalibrationLog");
    for (const int error : {ENOENT, EACCES, ENXIO}) {
        for (const char* program : {"wellscribe-onyx: ", "onyx: "}) {
            ExpectInTable(program + link_trace::StartFailure("/tmp/trace.txt", error),
                          "link_trace::StartFailure");
        }
    }
}

// The scanner meets every kind of source the message files hold; a quote it takes for
// the wrong kind must not lose the texts after it, nor loop.
TEST(MessageTableTest, TheScannerFindsTheLiteralsOfEveryKindOfSource) {
    const struct {
        const char* code;
        std::vector<std::string> texts;
    } cases[] = {
        {R"(f(L'\\', "after a wide backslash");)", {"after a wide backslash"}},
        {R"(f(u8'x', L'"', "after a wide quote");)", {"after a wide quote"}},
        {R"(int n = 1'000'000; f("after a number");)", {"after a number"}},
        {R"(f('\'', "a" "b"
            "c"); /* "not" */ // "nor")",
         {"abc"}},
        {R"(f(R"x(raw "text")x", "\x41\tz");)", {"raw \"text\"", "\x01\tz"}},
        {R"(f("left open)", {"left open"}},
        {R"(f('x)", {}},
        {R"(/* a comment left open "x")", {}},
        {R"(f("t"); // the last line)", {"t"}},
    };
    for (const auto& example : cases) {
        std::vector<std::string> texts;
        for (const Literal& literal : Literals(example.code)) {
            texts.push_back(literal.text);
        }
        EXPECT_EQ(texts, example.texts) << example.code;
    }
}

} // namespace
