// onyx-wine-program-driver: drives the real wellscribe-onyx.exe the way a user does.
//
//   onyx-wine-program-driver PROGRAM.exe SCREENSHOT.png
//   onyx-wine-program-driver --wait-for-window
//
// Starts the program, waits for its main window, checks that COM5: is the port it
// shows, clicks Read Wellscribe Info and then Run Self-Test with the mouse, waits for
// the result and saves a picture of the window. The window is Qt's, so its labels are
// not Win32 controls: the driver checks what the window shows by its pixels (the
// serial-number line is drawn, test 7 shows the cross and the other seven the check)
// and reads a message box's text from the clipboard (Ctrl+C copies it).
//
// Then the long and the failing paths, with the Linux harness (onyx-wine-link-harness)
// steering the simulated logger through files in C:\onyx-link: a silent logger (the
// time-out message must come after the link's attempts, not later), a full memory
// dump with the default name into the program's folder (kept as full.hex for the
// harness to compare byte for byte), and a dump whose line the logger cuts near block
// 300: the message must come within 3 s and say the connection was lost and how much
// the file holds, and the window must answer afterwards. The harness checks what the
// logger was asked and the dump files. Exits 0 when all is as expected.

#include "WineLink.h"

#include <QImage>
#include <QString>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <thread>
#include <windows.h>

namespace {

using namespace std::chrono_literals;

const wchar_t* const Title = L"Corvane Wellscribe Onyx Diagnostics Utility";

// Where the main window's controls lie, in client coordinates.
constexpr POINT ReadInfoButton{8 + 137 / 2, 552 + 25 / 2};
constexpr POINT SelfTestButton{152 + 97 / 2, 552 + 25 / 2};
constexpr POINT DumpButton{256 + 129 / 2, 552 + 25 / 2};
constexpr POINT TimeCalButton{8 + 137 / 2, 584 + 25 / 2};
// In the calibration dialog.
constexpr POINT StartCalibrationButton{8 + 137 / 2, 24 + 33 / 2};
constexpr POINT CloseCalibrationButton{8 + 137 / 2, 568 + 33 / 2};
constexpr RECT CalibrationListFirstLine{160, 26, 530, 42};
// The simulated logger's serial number as LogTime.csv writes it.
const std::string SerialNumberText = std::to_string(wine_link::SerialNumber);
// A spot of the window with nothing on it: a click there only activates the window.
constexpr POINT EmptySpot{500, 600};
constexpr RECT PortBox{64, 14, 160, 34};
constexpr RECT SerialLine{12, 85, 300, 101};
constexpr int IconLeft = 190;
constexpr int IconTop = 336;
constexpr int IconPitch = 24;
// The simulated logger's self-test fails test 7 only (mask 0x40).
constexpr int FailedTest = 7;

QImage Grab(HWND window, bool withFrame) {
    RECT area{};
    if (withFrame) {
        GetWindowRect(window, &area);
    } else {
        GetClientRect(window, &area);
        MapWindowPoints(window, nullptr, reinterpret_cast<POINT*>(&area), 2);
    }
    const int width = area.right - area.left;
    const int height = area.bottom - area.top;
    QImage image(width, height, QImage::Format_RGB32);
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height; // top-down, as QImage holds its rows
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(memory, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (bitmap != nullptr) {
        HGDIOBJ old = SelectObject(memory, bitmap);
        BitBlt(memory, 0, 0, width, height, screen, area.left, area.top, SRCCOPY);
        GdiFlush();
        for (int row = 0; row < height; ++row) {
            std::memcpy(image.scanLine(row), static_cast<const uchar*>(bits) + row * width * 4,
                        static_cast<std::size_t>(width) * 4);
        }
        SelectObject(memory, old);
        DeleteObject(bitmap);
    }
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return image;
}

// How many pixels of the rectangle are dark enough to be text.
int DarkPixels(const QImage& image, const RECT& rect) {
    int dark = 0;
    for (int y = rect.top; y < rect.bottom && y < image.height(); ++y) {
        for (int x = rect.left; x < rect.right && x < image.width(); ++x) {
            dark += qGray(image.pixel(x, y)) < 100 ? 1 : 0;
        }
    }
    return dark;
}

// How many pixels of the caption's icon (the frame's top left 28 x 28) have about
// this colour.
int IconPixels(const QImage& frame, QRgb colour) {
    int count = 0;
    for (int y = 0; y < 28 && y < frame.height(); ++y) {
        for (int x = 0; x < 28 && x < frame.width(); ++x) {
            const QRgb pixel = frame.pixel(x, y);
            count += std::abs(qRed(pixel) - qRed(colour)) < 10 &&
                     std::abs(qGreen(pixel) - qGreen(colour)) < 10 &&
                     std::abs(qBlue(pixel) - qBlue(colour)) < 10;
        }
    }
    return count;
}

// 'v' for a mostly green icon, 'x' for a mostly red one, '?' otherwise.
char IconAt(const QImage& image, int row) {
    int green = 0;
    int red = 0;
    for (int y = 0; y < 16; ++y) {
        for (int x = 0; x < 16; ++x) {
            const QRgb pixel = image.pixel(IconLeft + x, IconTop + (row - 1) * IconPitch + y);
            green += qGreen(pixel) > qRed(pixel) + 60 && qGreen(pixel) > qBlue(pixel) + 30;
            red += qRed(pixel) > qGreen(pixel) + 60 && qRed(pixel) > qBlue(pixel) + 60;
        }
    }
    return green > 10 && green > red ? 'v' : red > 10 && red > green ? 'x' : '?';
}

std::string Icons(const QImage& client) {
    std::string icons;
    for (int row = 1; row <= 8; ++row) {
        icons += IconAt(client, row);
    }
    return icons;
}

template <typename Condition>
bool WaitFor(Condition condition, std::chrono::seconds limit,
             std::chrono::milliseconds poll = 250ms) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < deadline) {
        if (condition()) {
            return true;
        }
        std::this_thread::sleep_for(poll);
    }
    return condition();
}

// A mouse event at a point of the screen. The point travels in the event itself: a
// relative event lands wherever Wine's pointer is when the event is taken, and under a
// loaded machine a pointer moved just before may still be where the last click was.
void MouseAt(POINT screen, DWORD buttons) {
    const int width = GetSystemMetrics(SM_CXSCREEN);
    const int height = GetSystemMetrics(SM_CYSCREEN);
    INPUT input{};
    input.type = INPUT_MOUSE;
    input.mi.dx = static_cast<LONG>((screen.x * 65536LL + width / 2) / width);
    input.mi.dy = static_cast<LONG>((screen.y * 65536LL + height / 2) / height);
    input.mi.dwFlags = MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE | buttons;
    SendInput(1, &input, sizeof(INPUT));
}

// Presses and releases the left button on a point of the window, once the pointer is
// seen there.
void Click(HWND window, POINT at) {
    POINT screen = at;
    ClientToScreen(window, &screen);
    SetForegroundWindow(window);
    MouseAt(screen, 0);
    const bool there = WaitFor(
        [&] {
            POINT now{};
            return GetCursorPos(&now) && std::abs(now.x - screen.x) <= 1 &&
                   std::abs(now.y - screen.y) <= 1;
        },
        2s, 20ms);
    if (!there) {
        std::fprintf(stderr, "The pointer did not reach (%ld, %ld) in 2 s\n", screen.x, screen.y);
    }
    std::this_thread::sleep_for(200ms);
    MouseAt(screen, MOUSEEVENTF_LEFTDOWN);
    std::this_thread::sleep_for(100ms);
    MouseAt(screen, MOUSEEVENTF_LEFTUP);
}

using Clock = std::chrono::steady_clock;

void PrintWindowsOf(DWORD processId);
bool SaveWindow(HWND window, const std::wstring& file);

double Seconds(Clock::duration duration) {
    return std::chrono::duration<double>(duration).count();
}

// Milliseconds since 1970, as the harness on the Linux side counts them.
long long UnixMilliseconds() {
    FILETIME now{};
    GetSystemTimePreciseAsFileTime(&now);
    const ULONGLONG ticks = (ULONGLONG{now.dwHighDateTime} << 32) | now.dwLowDateTime;
    return static_cast<long long>(ticks / 10000 - 11644473600000ULL);
}

void Key(WORD key, bool up) {
    INPUT input{};
    input.type = INPUT_KEYBOARD;
    input.ki.wVk = key;
    input.ki.dwFlags = up ? KEYEVENTF_KEYUP : 0;
    SendInput(1, &input, sizeof input);
}

// A visible top-level window of the program with this title.
HWND FindBox(const wchar_t* caption) {
    HWND box = FindWindowW(nullptr, caption);
    return box != nullptr && IsWindowVisible(box) ? box : nullptr;
}

// A message box's text, copied with Ctrl+C (Qt's message boxes put their caption,
// text and buttons on the clipboard).
std::wstring BoxText(HWND box) {
    for (int attempt = 0; attempt < 5; ++attempt) {
        if (OpenClipboard(nullptr)) {
            EmptyClipboard();
            CloseClipboard();
        }
        SetForegroundWindow(box);
        std::this_thread::sleep_for(300ms);
        Key(VK_CONTROL, false);
        Key('C', false);
        Key('C', true);
        Key(VK_CONTROL, true);
        std::this_thread::sleep_for(500ms);
        std::wstring text;
        if (OpenClipboard(nullptr)) {
            if (HANDLE data = GetClipboardData(CF_UNICODETEXT); data != nullptr) {
                if (const auto* chars = static_cast<const wchar_t*>(GlobalLock(data))) {
                    text = chars;
                    GlobalUnlock(data);
                }
            }
            CloseClipboard();
        }
        if (!text.empty()) {
            return text;
        }
    }
    return {};
}

std::string Narrow(const std::wstring& text) {
    return QString::fromStdWString(text).toStdString();
}

// Closes a message box with its one button (Enter), else by the window manager; Wine
// now and then loses a key sent to a window that has just been brought forward, so
// each is tried again. False when the box stays.
bool CloseBox(HWND box) {
    const auto open = [box] { return IsWindow(box) && IsWindowVisible(box); };
    for (int attempt = 0; attempt < 3 && open(); ++attempt) {
        SetForegroundWindow(box);
        std::this_thread::sleep_for(200ms);
        Key(VK_RETURN, false);
        Key(VK_RETURN, true);
        if (WaitFor([&] { return !open(); }, 2s, 100ms)) {
            break;
        }
        PostMessageW(box, WM_CLOSE, 0, 0);
        WaitFor([&] { return !open(); }, 2s, 100ms);
    }
    if (open()) {
        std::fprintf(stderr, "FAILED: a message box did not close\n");
        return false;
    }
    return true;
}

// The harness on the Linux side watches C:\onyx-link for a command, carries it out on
// the simulated logger and answers with the file "ack".
const wchar_t* const ControlFolder = L"C:\\onyx-link";

// Tells the harness; its answer ("ok" for most commands), empty when none came.
std::string AskHarness(const std::string& command) {
    const std::wstring folder = ControlFolder;
    DeleteFileW((folder + L"\\ack").c_str());
    {
        std::ofstream out(std::filesystem::path(folder + L"\\command.new"), std::ios::trunc);
        out << command << "\n";
    }
    MoveFileExW((folder + L"\\command.new").c_str(), (folder + L"\\command").c_str(),
                MOVEFILE_REPLACE_EXISTING);
    const bool answered = WaitFor(
        [&] { return GetFileAttributesW((folder + L"\\ack").c_str()) != INVALID_FILE_ATTRIBUTES; },
        10s);
    std::string answer;
    if (answered) {
        std::ifstream(std::filesystem::path(folder + L"\\ack")) >> answer;
    }
    DeleteFileW((folder + L"\\ack").c_str());
    if (answer.empty()) {
        std::fprintf(stderr, "FAILED: the harness did not answer \"%s\"\n", command.c_str());
    }
    return answer;
}

bool TellHarness(const std::string& command) {
    return !AskHarness(command).empty();
}

// When the harness cut the line, in Unix milliseconds; none before it has.
std::optional<long long> CutTime() {
    std::ifstream in(std::filesystem::path(std::wstring(ControlFolder) + L"\\cut-time"));
    long long when = 0;
    if (in >> when) {
        return when;
    }
    return std::nullopt;
}

// Clicks a button (activating the window first with a click on an empty spot, which
// Wine's virtual desktop may swallow) and waits for a message box with one of the
// captions: the box, the caption found and when it appeared; none within the limit.
struct Box {
    HWND window = nullptr;
    std::wstring caption;
    Clock::time_point shown;
    Clock::time_point clicked;
};

// A Save As no step asked for came from a click of the driver's that reached the dump
// button instead of its own target: it is the driver's own, and is cancelled.
void CancelStraySaveAs() {
    for (int stray = 0; stray < 3; ++stray) {
        HWND dialog = FindBox(L"Save As");
        if (dialog == nullptr) {
            return;
        }
        std::printf("A Save As no step asked for: cancelled\n");
        PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
        WaitFor([&] { return FindBox(L"Save As") == nullptr; }, 10s);
    }
}

// Under Wine's virtual desktop a click on a window that has just got its focus back
// (after a message box) is now and then taken as its activation only. A click that
// brought nothing within the time is given again, at most twice: every action here
// shows a box or dialog well within it.
template <typename Condition>
std::optional<Clock::time_point> ClickUntil(HWND window, POINT button, Condition shown,
                                            std::chrono::seconds perClick) {
    for (int attempt = 0; attempt < 3; ++attempt) {
        // While a stray Save As is open the window takes no click.
        if (!shown()) {
            CancelStraySaveAs();
        }
        Click(window, EmptySpot);
        std::this_thread::sleep_for(300ms);
        Click(window, button);
        const auto clicked = Clock::now();
        if (WaitFor(shown, perClick, 50ms)) {
            return clicked;
        }
        std::fprintf(stderr, "The click brought nothing in %lld s; clicking again\n",
                     static_cast<long long>(perClick.count()));
    }
    DWORD processId = 0;
    GetWindowThreadProcessId(window, &processId);
    std::fprintf(stderr, "The program's windows:\n");
    PrintWindowsOf(processId);
    return std::nullopt;
}

std::optional<Box> ClickAndWaitForBox(HWND window, POINT button,
                                      std::initializer_list<const wchar_t*> captions,
                                      std::chrono::seconds limit) {
    Box box;
    const auto clicked = ClickUntil(
        window, button,
        [&] {
            for (const wchar_t* caption : captions) {
                if (HWND shown = FindBox(caption)) {
                    box.window = shown;
                    box.caption = caption;
                    box.shown = Clock::now();
                    return true;
                }
            }
            return false;
        },
        limit);
    if (!clicked) {
        return std::nullopt;
    }
    box.clicked = *clicked;
    return box;
}

// Clicks Read Memory Dump and takes the name the program offers in its Save As dialog.
bool StartDump(HWND window) {
    HWND dialog = nullptr;
    // The information read comes first: on a loaded machine the dialog may take a
    // while, and a second click would queue a second dump behind the first.
    if (!ClickUntil(
            window, DumpButton, [&] { return (dialog = FindBox(L"Save As")) != nullptr; }, 30s)) {
        std::fprintf(stderr, "FAILED: no Save As dialog\n");
        return false;
    }
    std::this_thread::sleep_for(500ms);
    SetForegroundWindow(dialog);
    PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    if (!WaitFor([&] { return FindBox(L"Save As") == nullptr; }, 10s)) {
        std::fprintf(stderr, "FAILED: the Save As dialog did not take the offered name\n");
        return false;
    }
    return true;
}

// The first .hex file in the folder, by its full name.
std::wstring DumpFileIn(const std::wstring& folder) {
    WIN32_FIND_DATAW found{};
    HANDLE search = FindFirstFileW((folder + L"\\*.hex").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) {
        return {};
    }
    std::wstring name;
    do {
        if (std::wstring(found.cFileName) != L"full.hex") {
            name = folder + L"\\" + found.cFileName;
        }
    } while (name.empty() && FindNextFileW(search, &found));
    FindClose(search);
    return name;
}

long long FileSize(const std::wstring& name) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!GetFileAttributesExW(name.c_str(), GetFileExInfoStandard, &data)) {
        return -1;
    }
    return static_cast<long long>((ULONGLONG{data.nFileSizeHigh} << 32) | data.nFileSizeLow);
}

// A number that follows the marker in the text, or -1.
long long NumberAfter(const std::string& text, const std::string& marker) {
    const std::size_t at = text.find(marker);
    if (at == std::string::npos) {
        return -1;
    }
    return std::atoll(text.c_str() + at + marker.size());
}

// A silent logger: Read Wellscribe Info gives up after its five attempts of 6 + 300 ms
// and the 200 ms pause after each, about 2.5 s, and no later. The harness checks that
// all five attempts reached the logger.
int SilentLogger(HWND window) {
    if (!TellHarness("silence")) {
        return 1;
    }
    int failures = 0;
    const auto box = ClickAndWaitForBox(window, ReadInfoButton, {L"Error"}, 20s);
    if (!box) {
        std::fprintf(stderr, "FAILED: a silent logger gave no message in 20 s\n");
        return 1;
    }
    const double seconds = Seconds(box->shown - box->clicked);
    const std::string text = Narrow(BoxText(box->window));
    std::printf("Silent logger: the message came %.2f s after the click\n", seconds);
    // The harness counts the attempts; the message must not come later than they take.
    if (seconds > 3.5) {
        std::fprintf(stderr, "FAILED: expected the message within 3.5 s of the click\n");
        ++failures;
    }
    if (text.find("-200") == std::string::npos) {
        std::fprintf(stderr, "FAILED: the message is not the time-out: %s\n", text.c_str());
        ++failures;
    }
    failures += CloseBox(box->window) ? 0 : 1;
    return failures + (TellHarness("answer") ? 0 : 1);
}

int FullDump(HWND window, const std::wstring& folder) {
    if (!StartDump(window)) {
        return 1;
    }
    const auto start = Clock::now();
    HWND box = nullptr;
    if (!WaitFor(
            [&] {
                return (box = FindBox(L"Memory Dump Saved")) != nullptr ||
                       (box = FindBox(L"Success")) != nullptr ||
                       (box = FindBox(L"Error")) != nullptr;
            },
            600s)) {
        std::fprintf(stderr, "FAILED: the full dump gave no message in 600 s\n");
        return 1;
    }
    const std::string text = Narrow(BoxText(box));
    std::printf("Full dump: %.1f s\n", Seconds(Clock::now() - start));
    int failures = CloseBox(box) ? 0 : 1;
    if (text.find("Memory Dump Saved") == std::string::npos) {
        std::fprintf(stderr, "FAILED: the full dump said: %s\n", text.c_str());
        ++failures;
    }
    const std::wstring file = DumpFileIn(folder);
    if (file.empty() ||
        !MoveFileExW(file.c_str(), (folder + L"\\full.hex").c_str(), MOVEFILE_REPLACE_EXISTING)) {
        std::fprintf(stderr,
                     "FAILED: no dump file with the offered name in the program's folder\n");
        ++failures;
    } else {
        std::printf("Full dump in %s (%lld bytes), kept as full.hex\n", Narrow(file).c_str(),
                    FileSize(folder + L"\\full.hex"));
    }
    return failures;
}

// Start Time Calibration through its dialog: the logger's clock (an hour off) is set
// to the PC's, and LogTime.csv beside the program gets the logger's started line.
int CalibrationStart(HWND window, const std::wstring& folder) {
    if (!TellHarness("clock-offset 3600")) {
        return 1;
    }
    int failures = 0;
    HWND dialog = nullptr;
    if (!ClickUntil(
            window, TimeCalButton,
            [&] { return (dialog = FindBox(L"Extended Time Calibration")) != nullptr; }, 10s)) {
        std::fprintf(stderr, "FAILED: Time Calibration opened no dialog\n");
        return 1;
    }
    // Clicked only once Wine shows it drawn: a click on a window not yet on the
    // screen goes nowhere.
    constexpr RECT StartButtonFace{12, 28, 140, 36};
    if (!WaitFor(
            [&] {
                dialog = FindBox(L"Extended Time Calibration");
                return dialog != nullptr && DarkPixels(Grab(dialog, false), StartButtonFace) > 40;
            },
            20s)) {
        std::fprintf(stderr, "The calibration dialog was not drawn in 20 s\n");
    }
    std::this_thread::sleep_for(1s);
    const std::wstring log = folder + L"\\LogTime.csv";
    std::string line;
    // The file is read once the dialog lists the new line: a reader polling it while
    // the program replaces it would make the program's save fail.
    if (ClickUntil(
            dialog, StartCalibrationButton,
            [&] { return DarkPixels(Grab(dialog, false), CalibrationListFirstLine) > 40; }, 15s)) {
        std::this_thread::sleep_for(1s);
        std::ifstream in{std::filesystem::path(log)};
        for (std::string text; std::getline(in, text);) {
            if (text.rfind(SerialNumberText + ",", 0) == 0) {
                line = text;
            }
        }
    }
    if (line.empty()) {
        std::fprintf(stderr, "FAILED: Start Time Calibration wrote no line for %s to %s\n",
                     SerialNumberText.c_str(), Narrow(log).c_str());
        DWORD processId = 0;
        GetWindowThreadProcessId(window, &processId);
        PrintWindowsOf(processId);
        SaveWindow(dialog, folder + L"\\calibration-failure.png");
        for (const wchar_t* caption : {L"Error", L"Information", L"Warning"}) {
            if (HWND box = FindBox(caption)) {
                std::fprintf(stderr, "%s\n", Narrow(BoxText(box)).c_str());
            }
        }
        ++failures;
    } else {
        while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) {
            line.pop_back();
        }
        std::printf("Calibration started: LogTime.csv holds \"%s\"\n", line.c_str());
    }
    std::this_thread::sleep_for(1s);
    if (HWND error = FindBox(L"Error")) {
        std::fprintf(stderr, "FAILED: the calibration start said: %s\n",
                     Narrow(BoxText(error)).c_str());
        CloseBox(error);
        ++failures;
    }
    const std::string offset = AskHarness("clock");
    std::printf("The logger's clock is now %s s from the PC's\n", offset.c_str());
    if (offset.empty() || std::abs(std::atoi(offset.c_str())) > 2) {
        std::fprintf(stderr, "FAILED: the logger's clock was not set\n");
        ++failures;
    }
    if (!ClickUntil(
            dialog, CloseCalibrationButton,
            [] { return FindBox(L"Extended Time Calibration") == nullptr; }, 10s)) {
        std::fprintf(stderr, "FAILED: the calibration dialog did not close\n");
        ++failures;
    }
    return failures;
}

// The line cut near block 300: a message within 3 s, whole blocks in the file, and a
// window that answers afterwards.
int CutDump(HWND window, const std::wstring& folder) {
    if (!TellHarness("cut 300")) {
        return 1;
    }
    if (!StartDump(window)) {
        return 1;
    }
    HWND box = nullptr;
    if (!WaitFor([&] { return (box = FindBox(L"Error")) != nullptr; }, 120s, 20ms)) {
        std::fprintf(stderr, "FAILED: the cut line gave no message in 120 s\n");
        return 1;
    }
    const long long shown = UnixMilliseconds();
    int failures = 0;
    const std::optional<long long> cut = CutTime();
    if (!cut) {
        std::fprintf(stderr, "FAILED: the message came before the line was cut\n");
        ++failures;
    } else {
        const double seconds = static_cast<double>(shown - *cut) / 1000.0;
        std::printf("Cut line: the message came %.2f s after the cut\n", seconds);
        if (seconds > 3.0) {
            std::fprintf(stderr, "FAILED: expected the message within 3 s of the cut\n");
            ++failures;
        }
    }
    const std::string text = Narrow(BoxText(box));
    std::printf("Cut line message: %s\n", text.c_str());
    const long long blocks = NumberAfter(text, "was lost after ");
    const long long held = NumberAfter(text, "holds the first ");
    if (text.find("The connection to COM5 was lost") == std::string::npos || blocks <= 0 ||
        held != blocks * 256) {
        std::fprintf(stderr, "FAILED: expected the lost connection and the blocks held\n");
        ++failures;
    }
    failures += CloseBox(box) ? 0 : 1;
    const std::wstring file = DumpFileIn(folder);
    const long long size = file.empty() ? -1 : FileSize(file);
    std::printf("The cut dump's file holds %lld bytes\n", size);
    if (size != held || size % 256 != 0) {
        std::fprintf(stderr, "FAILED: the file does not hold the %lld bytes of whole blocks\n",
                     held);
        ++failures;
    }
    // The window still answers: Read Wellscribe Info on the vanished port says so at once.
    const auto again = ClickAndWaitForBox(window, ReadInfoButton, {L"Error"}, 15s);
    if (!again) {
        std::fprintf(stderr, "FAILED: the window did not answer after the cut\n");
        ++failures;
    } else {
        std::printf("After the cut, Read Wellscribe Info answered in %.2f s: %s\n",
                    Seconds(again->shown - again->clicked), Narrow(BoxText(again->window)).c_str());
        failures += CloseBox(again->window) ? 0 : 1;
    }
    return failures;
}
void PrintWindowsOf(DWORD processId) {
    wchar_t foreground[256] = {};
    GetWindowTextW(GetForegroundWindow(), foreground, 256);
    std::fprintf(stderr, "  (the foreground window: \"%s\")\n", Narrow(foreground).c_str());
    struct Search {
        DWORD processId;
    } search{processId};
    EnumWindows(
        [](HWND window, LPARAM parameter) -> BOOL {
            DWORD owner = 0;
            GetWindowThreadProcessId(window, &owner);
            if (owner == reinterpret_cast<Search*>(parameter)->processId &&
                IsWindowVisible(window)) {
                wchar_t title[256] = {};
                GetWindowTextW(window, title, 256);
                std::fprintf(stderr, "  \"%s\"\n", Narrow(title).c_str());
            }
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&search));
}

// The main window's size at 96 dpi; at other resolutions Qt scales it.
constexpr int DesignWidth = 513;

POINT Scaled(POINT point, double scale) {
    return {static_cast<LONG>(point.x * scale), static_cast<LONG>(point.y * scale)};
}

RECT Scaled(RECT rect, double scale) {
    return {static_cast<LONG>(rect.left * scale), static_cast<LONG>(rect.top * scale),
            static_cast<LONG>(rect.right * scale), static_cast<LONG>(rect.bottom * scale)};
}

bool SaveWindow(HWND window, const std::wstring& file) {
    const QImage picture = Grab(window, true);
    const bool saved = picture.save(QString::fromStdWString(file), "PNG");
    std::printf("%s: %dx%d\n", Narrow(file).c_str(), picture.width(), picture.height());
    return saved;
}

// The main window after information and self-test, the report dialog and the
// calibration dialog, each saved as a picture in the folder: at a resolution other
// than 96 dpi (Wine's LogPixels) every text must still show whole.
int Screenshots(HWND window, const std::wstring& folder) {
    RECT client{};
    GetClientRect(window, &client);
    const double scale = static_cast<double>(client.right) / DesignWidth;
    std::printf("The main window is drawn at %.2f times its size at 96 dpi\n", scale);
    int failures = 0;
    if (!ClickUntil(
            window, Scaled(ReadInfoButton, scale),
            [&] { return DarkPixels(Grab(window, false), Scaled(SerialLine, scale)) > 40; }, 10s)) {
        std::fprintf(stderr, "FAILED: Read Wellscribe Info showed no serial number\n");
        ++failures;
    }
    Click(window, Scaled(SelfTestButton, scale));
    std::this_thread::sleep_for(4s);
    failures += SaveWindow(window, folder + L"\\main-window.png") ? 0 : 1;
    const struct {
        POINT button;
        const wchar_t* title;
        const wchar_t* file;
    } dialogs[] = {
        {{392 + 113 / 2, 552 + 25 / 2}, L"Create Report", L"\\report-dialog.png"},
        {TimeCalButton, L"Extended Time Calibration", L"\\calibration-dialog.png"},
    };
    for (const auto& dialog : dialogs) {
        HWND shown = nullptr;
        if (!ClickUntil(
                window, Scaled(dialog.button, scale),
                [&] { return (shown = FindBox(dialog.title)) != nullptr; }, 10s)) {
            std::fprintf(stderr, "FAILED: no dialog \"%s\"\n", Narrow(dialog.title).c_str());
            ++failures;
            continue;
        }
        std::this_thread::sleep_for(1500ms);
        failures += SaveWindow(shown, folder + dialog.file) ? 0 : 1;
        PostMessageW(shown, WM_CLOSE, 0, 0);
        WaitFor([&] { return FindBox(dialog.title) == nullptr; }, 10s);
    }
    return failures;
}

// Closes the program and reports the verdict, to the harness too.
int Finish(HWND window, PROCESS_INFORMATION& process, int failures) {
    CancelStraySaveAs();
    PostMessageW(window, WM_CLOSE, 0, 0);
    if (WaitForSingleObject(process.hProcess, 20000) != WAIT_OBJECT_0) {
        std::fprintf(stderr, "FAILED: the program did not close; its windows:\n");
        PrintWindowsOf(process.dwProcessId);
        if (HWND box = FindBox(L"Error")) {
            std::fprintf(stderr, "%s\n", Narrow(BoxText(box)).c_str());
        }
        TerminateProcess(process.hProcess, 1);
        ++failures;
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    std::printf(failures == 0 ? "The program ran as expected\n" : "The program FAILED\n");
    // Wine's explorer, which runs the driver in its desktop, does not pass the driver's
    // exit status on: the harness reads it here.
    std::ofstream(std::filesystem::path(std::wstring(ControlFolder) + L"\\result"))
        << (failures == 0 ? "passed" : "failed") << "\n";
    return failures == 0 ? 0 : 1;
}

} // namespace

int main() {
    // The arguments as Windows holds them (UTF-16): the program may lie in a folder
    // whose name the ANSI code page cannot hold.
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    // --wait-for-window: only waits for the program's main window (started by another).
    if (argv != nullptr && argc == 2 && std::wstring(argv[1]) == L"--wait-for-window") {
        return WaitFor([] { return FindBox(Title) != nullptr; }, 60s) ? 0 : 1;
    }
    // --screenshots PROGRAM.exe FOLDER: pictures of the main window and both dialogs.
    const bool screenshots =
        argv != nullptr && argc == 4 && std::wstring(argv[1]) == L"--screenshots";
    if (screenshots) {
        ++argv;
        --argc;
    }
    if (argv == nullptr || argc != 3) {
        std::fprintf(stderr, "Usage: onyx-wine-program-driver PROGRAM.exe SCREENSHOT.png\n"
                             "       onyx-wine-program-driver --screenshots PROGRAM.exe FOLDER\n"
                             "       onyx-wine-program-driver --wait-for-window\n");
        return 2;
    }
    const std::wstring programPath = argv[1];
    const std::wstring folder = programPath.substr(0, programPath.find_last_of(L"\\/"));
    std::wstring command = L"\"" + programPath + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    // Started in its own folder, as from Explorer.
    if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        folder.c_str(), &startup, &process)) {
        std::fprintf(stderr, "FAILED: cannot start %s (error %lu)\n", Narrow(programPath).c_str(),
                     GetLastError());
        return 1;
    }
    int failures = 0;
    HWND window = nullptr;
    if (!WaitFor(
            [&] {
                window = FindWindowW(nullptr, Title);
                return window != nullptr && IsWindowVisible(window);
            },
            60s)) {
        std::fprintf(stderr, "FAILED: the main window did not open\n");
        TerminateProcess(process.hProcess, 1);
        return 1;
    }
    std::this_thread::sleep_for(1s); // the first paint
    if (screenshots) {
        failures += Screenshots(window, argv[2]);
        return Finish(window, process, failures);
    }

    // The program's own icon (the resource IDI_ICON1) in the title bar: its navy
    // ground and its blue water where Windows draws the caption's icon.
    if (const QImage frame = Grab(window, true);
        IconPixels(frame, 0x1F3B57) < 40 || IconPixels(frame, 0x3D8FD1) < 20) {
        std::fprintf(stderr, "FAILED: the title bar shows no icon of the program's own\n");
        ++failures;
    }
    if (DarkPixels(Grab(window, false), PortBox) < 20) {
        std::fprintf(stderr, "FAILED: no COM port is selected in the port box\n");
        ++failures;
    }
    // Under Wine's virtual desktop the first click on a freshly shown window is now and
    // then taken as its activation only. The read takes well under a second, so a click
    // that changed nothing in 10 s never arrived: it is given again, at most twice.
    if (!ClickUntil(
            window, ReadInfoButton,
            [&] { return DarkPixels(Grab(window, false), SerialLine) > 40; }, 10s)) {
        std::fprintf(stderr, "FAILED: Read Wellscribe Info showed no serial number; the "
                             "program's windows:\n");
        PrintWindowsOf(process.dwProcessId);
        if (HWND box = FindBox(L"Error")) {
            std::fprintf(stderr, "%s\n", Narrow(BoxText(box)).c_str());
        }
        ++failures;
    }
    // The information read goes on after the serial number is drawn; the window takes
    // no click until it is over.
    std::this_thread::sleep_for(2s);
    std::string expected(8, 'v');
    expected[FailedTest - 1] = 'x';
    std::string icons;
    if (!ClickUntil(
            window, SelfTestButton,
            [&] {
                icons = Icons(Grab(window, false));
                return icons == expected;
            },
            15s)) {
        std::fprintf(stderr, "FAILED: the self-test rows show %s, expected %s\n", icons.c_str(),
                     expected.c_str());
        ++failures;
    }
    std::this_thread::sleep_for(1s); // the bar back at zero, the button released
    const QImage picture = Grab(window, true);
    const std::string screenshot = Narrow(argv[2]);
    if (!picture.save(QString::fromStdWString(argv[2]), "PNG")) {
        std::fprintf(stderr, "FAILED: cannot save %s\n", screenshot.c_str());
        ++failures;
    }
    std::printf("Window on %s: self-test rows %s, picture %dx%d in %s\n", wine_link::PortEntry,
                icons.c_str(), picture.width(), picture.height(), screenshot.c_str());

    failures += SilentLogger(window);
    failures += FullDump(window, folder);
    failures += CalibrationStart(window, folder);
    failures += CutDump(window, folder);

    return Finish(window, process, failures);
}
