// The console: keys, lines, window rows, file prompts and the interrupt
// signal. Standard input is read with plain read(2) calls, never through a
// buffer, so that keys and lines can be mixed.
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <ctime>

#include "platform/console_lines.hpp"
#include "platform/posix/posix_internal.hpp"

namespace platform::posix {
namespace {

volatile std::sig_atomic_t interrupt_seen = 0;

extern "C" void on_interrupt(int) {
    interrupt_seen = 1;
}

std::int64_t monotonic_ms() {
    struct timespec ts;
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<std::int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

// One byte of standard input; -1 at the end or on an error.
int read_byte() {
    unsigned char c;
    const long long n = read_some(0, &c, 1);
    return n == 1 ? c : -1;
}

}  // namespace

std::optional<std::u16string> PosixSystem::choose_file(DialogKind kind) {
    if (!stdin_terminal_) return std::nullopt;
    const char* prompt =
        kind == DialogKind::output_file ? "Output File Selection: " : "Input File Selection: ";
    write_all(2, prompt, std::char_traits<char>::length(prompt));
    std::string line;
    if (!read_line(line) || line.empty()) return std::nullopt;
    return from_bytes(line);
}

bool PosixSystem::key_waiting() {
    if (!stdin_terminal_) return false;
    // The walker asks once per file: look at the terminal ten times a
    // second at most.
    const std::int64_t now = monotonic_ms();
    if (key_polled_ && now - last_key_poll_ms_ < 100) return false;
    key_polled_ = true;
    last_key_poll_ms_ = now;
    struct pollfd p {};
    p.fd = 0;
    p.events = POLLIN;
    return ::poll(&p, 1, 0) > 0 && (p.revents & POLLIN) != 0;
}

int PosixSystem::read_key() {
    struct termios saved;
    if (!stdin_terminal_ || ::tcgetattr(0, &saved) != 0) return read_byte();
    struct termios raw = saved;
    raw.c_lflag &= ~tcflag_t(ICANON | ECHO);
    raw.c_cc[VMIN] = 1;
    raw.c_cc[VTIME] = 0;
    ::tcsetattr(0, TCSANOW, &raw);
    const int key = read_byte();
    ::tcsetattr(0, TCSANOW, &saved);
    return key;
}

bool PosixSystem::read_line(std::string& line) {
    return read_line_with([this] { return read_byte(); }, line);
}

int PosixSystem::console_rows() {
    for (const int fd : {1, 2}) {
        struct winsize ws {};
        if (::ioctl(fd, TIOCGWINSZ, &ws) == 0 && ws.ws_row > 0) return ws.ws_row;
    }
    return 0;
}

bool PosixSystem::interrupted() {
    return interrupt_seen != 0;
}

void PosixSystem::install_interrupt_handler() {
    struct sigaction action {};
    action.sa_handler = on_interrupt;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGINT, &action, nullptr);
}

void PosixSystem::sleep_ms(unsigned milliseconds) {
    struct timespec left;
    left.tv_sec = milliseconds / 1000;
    left.tv_nsec = static_cast<long>(milliseconds % 1000) * 1000000;
    while (::nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
}

}  // namespace platform::posix
