// onyx-wine-program-driver: drives the real wellscribe-onyx.exe the way a user does.
//
//   onyx-wine-program-driver PROGRAM.exe SCREENSHOT.png
//
// Starts the program, waits for its main window, checks that COM5: is the port it
// shows, clicks Read Wellscribe Info and then Run Self-Test with the mouse, waits for
// the result and saves a picture of the window. The window is Qt's, so its labels are
// not Win32 controls: the driver checks what the window shows by its pixels (the
// serial-number line is drawn, test 7 shows the cross and the other seven the check).
// The Linux harness that stands the logger behind COM5: checks what the logger was
// asked. Exits 0 when all is as expected.

#include "WineLink.h"

#include <QImage>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <windows.h>

namespace {

using namespace std::chrono_literals;

const wchar_t* const Title = L"Corvane Wellscribe Onyx Diagnostics Utility";

// Where the main window's controls lie, in client coordinates.
constexpr POINT ReadInfoButton{8 + 137 / 2, 552 + 25 / 2};
constexpr POINT SelfTestButton{152 + 97 / 2, 552 + 25 / 2};
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

void Click(HWND window, POINT at) {
    POINT screen = at;
    ClientToScreen(window, &screen);
    SetForegroundWindow(window);
    SetCursorPos(screen.x, screen.y);
    std::this_thread::sleep_for(200ms);
    INPUT press[2]{};
    press[0].type = INPUT_MOUSE;
    press[0].mi.dwFlags = MOUSEEVENTF_LEFTDOWN;
    press[1].type = INPUT_MOUSE;
    press[1].mi.dwFlags = MOUSEEVENTF_LEFTUP;
    SendInput(1, &press[0], sizeof(INPUT));
    std::this_thread::sleep_for(100ms);
    SendInput(1, &press[1], sizeof(INPUT));
}

template <typename Condition> bool WaitFor(Condition condition, std::chrono::seconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < deadline) {
        if (condition()) {
            return true;
        }
        std::this_thread::sleep_for(250ms);
    }
    return condition();
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "Usage: onyx-wine-program-driver PROGRAM.exe SCREENSHOT.png\n");
        return 2;
    }
    std::string command = std::string("\"") + argv[1] + "\"";
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process)) {
        std::fprintf(stderr, "FAILED: cannot start %s (error %lu)\n", argv[1], GetLastError());
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

    if (DarkPixels(Grab(window, false), PortBox) < 20) {
        std::fprintf(stderr, "FAILED: no COM port is selected in the port box\n");
        ++failures;
    }
    // Under Wine's virtual desktop the first click on a freshly shown window is now and
    // then taken as its activation only. The read takes well under a second, so a click
    // that changed nothing in 10 s never arrived: it is given again, at most twice.
    bool informationShown = false;
    for (int attempt = 0; attempt < 3 && !informationShown; ++attempt) {
        Click(window, ReadInfoButton);
        informationShown =
            WaitFor([&] { return DarkPixels(Grab(window, false), SerialLine) > 40; }, 10s);
    }
    if (!informationShown) {
        std::fprintf(stderr, "FAILED: Read Wellscribe Info showed no serial number\n");
        ++failures;
    }
    Click(window, SelfTestButton);
    std::string expected(8, 'v');
    expected[FailedTest - 1] = 'x';
    std::string icons;
    if (!WaitFor(
            [&] {
                icons = Icons(Grab(window, false));
                return icons == expected;
            },
            60s)) {
        std::fprintf(stderr, "FAILED: the self-test rows show %s, expected %s\n", icons.c_str(),
                     expected.c_str());
        ++failures;
    }
    std::this_thread::sleep_for(1s); // the bar back at zero, the button released
    const QImage picture = Grab(window, true);
    if (!picture.save(QString::fromLocal8Bit(argv[2]), "PNG")) {
        std::fprintf(stderr, "FAILED: cannot save %s\n", argv[2]);
        ++failures;
    }
    std::printf("Window on %s: self-test rows %s, picture %dx%d in %s\n", wine_link::PortEntry,
                icons.c_str(), picture.width(), picture.height(), argv[2]);

    PostMessageW(window, WM_CLOSE, 0, 0);
    if (WaitForSingleObject(process.hProcess, 20000) != WAIT_OBJECT_0) {
        std::fprintf(stderr, "FAILED: the program did not close\n");
        TerminateProcess(process.hProcess, 1);
        ++failures;
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    std::printf(failures == 0 ? "The program ran as expected\n" : "The program FAILED\n");
    return failures == 0 ? 0 : 1;
}
