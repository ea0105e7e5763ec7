// The console: keys, lines, window rows and the interrupt. Key tests look
// at the console only; piped input is never consumed during the walk.
#include <conio.h>

#include <atomic>

#include "platform/console_lines.hpp"
#include "platform/win32/win32_internal.hpp"

namespace platform::win32 {
namespace {

std::atomic<bool> interrupt_seen{false};

// Runs on a thread of its own: it only notes the event, and the walker
// and the loops that poll it end the run.
BOOL WINAPI on_console_event(DWORD event) {
    if (event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT) {
        interrupt_seen.store(true);
        return TRUE;
    }
    return FALSE;
}

int read_byte() {
    unsigned char c;
    return read_some(::GetStdHandle(STD_INPUT_HANDLE), &c, 1) == 1 ? c : -1;
}

}  // namespace

bool Win32System::key_waiting() {
    if (!stdin_console_) return false;
    // The walker asks once per file: look at the console ten times a
    // second at most.
    const ULONGLONG now = ::GetTickCount64();
    if (key_polled_ && now - last_key_poll_ms_ < 100) return false;
    key_polled_ = true;
    last_key_poll_ms_ = now;
    return ::_kbhit() != 0;
}

int Win32System::read_key() {
    if (!stdin_console_) return read_byte();
    return ::_getch();
}

bool Win32System::read_line(std::string& line) {
    return read_line_with([this] { return read_byte(); }, line);
}

int Win32System::console_rows() {
    for (const DWORD which : {STD_OUTPUT_HANDLE, STD_ERROR_HANDLE}) {
        CONSOLE_SCREEN_BUFFER_INFO info;
        if (::GetConsoleScreenBufferInfo(::GetStdHandle(which), &info)) {
            const int rows = info.srWindow.Bottom - info.srWindow.Top + 1;
            if (rows > 0) return rows;
        }
    }
    return 0;
}

bool Win32System::interrupted() {
    return interrupt_seen.load();
}

void Win32System::install_interrupt_handler() {
    ::SetConsoleCtrlHandler(on_console_event, TRUE);
}

void Win32System::sleep_ms(unsigned milliseconds) {
    // The console's interrupt arrives on a thread of its own and does not
    // wake Sleep, so the pause is slept in slices.
    constexpr unsigned slice = 50;
    while (milliseconds > 0 && !interrupted()) {
        const unsigned step = milliseconds < slice ? milliseconds : slice;
        ::Sleep(step);
        milliseconds -= step;
    }
}

}  // namespace platform::win32
