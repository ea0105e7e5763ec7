// The console: keys, lines, window rows, file prompts and the interrupt
// signal. Standard input is read with plain read(2) calls, never through a
// buffer, so that keys and lines can be mixed.
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <ctime>

#include "platform/console_lines.hpp"
#include "platform/posix/posix_internal.hpp"

namespace platform::posix {
namespace {

volatile std::sig_atomic_t interrupt_seen = 0;

// The terminal as the program found it and as the walk uses it. They live
// here, not in the system object, so that exit handlers and signal
// handlers can give the terminal back.
struct termios found_terminal;
struct termios key_terminal;
volatile std::sig_atomic_t key_mode_on = 0;
// The terminal was handed to the shell (Ctrl+Z) or may have been: key
// mode is applied again at the next look for a key.
volatile std::sig_atomic_t key_mode_reapply = 0;

bool terminal_is_ours() {
    return ::tcgetpgrp(0) == ::getpgrp();
}

// Safe inside a signal handler. A background run does not touch the
// terminal: the shell has it, and the change would stop the program.
void give_terminal_back() {
    if (key_mode_on && terminal_is_ours()) ::tcsetattr(0, TCSANOW, &found_terminal);
}

extern "C" void restore_terminal_at_exit() {
    give_terminal_back();
    key_mode_on = 0;
}

extern "C" void on_interrupt(int) {
    interrupt_seen = 1;
}

// Signals that end the process at once: the terminal first, then the
// default action (the handler was reset on entry, so the signal raised
// again is delivered as the handler returns).
extern "C" void on_fatal_signal(int signal_number) {
    const int saved = errno;
    restore_terminal_at_exit();
    ::raise(signal_number);
    errno = saved;
}

void install_stop_handler();

// Ctrl+Z: the shell gets the terminal as it was; on continuing, the walk
// takes it into key mode again.
extern "C" void on_stop(int) {
    const int saved = errno;
    give_terminal_back();
    key_mode_reapply = 1;
    ::raise(SIGTSTP);  // handled by default now: the process stops on return
    errno = saved;
}

extern "C" void on_continue(int) {
    const int saved = errno;
    key_mode_reapply = 1;
    install_stop_handler();
    errno = saved;
}

void install_stop_handler() {
    struct sigaction action {};
    action.sa_handler = on_stop;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESETHAND;
    ::sigaction(SIGTSTP, &action, nullptr);
}

// Installs a handler unless the signal was ignored when the program
// started (nohup, a background job of a script): that choice stands.
bool install_unless_ignored(int signal_number, void (*handler)(int), int flags) {
    struct sigaction found {};
    if (::sigaction(signal_number, nullptr, &found) != 0 || found.sa_handler == SIG_IGN)
        return false;
    struct sigaction action {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = flags;
    return ::sigaction(signal_number, &action, nullptr) == 0;
}

std::int64_t monotonic_ms() {
    struct timespec ts;
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<std::int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

// One byte of standard input; -1 at the end, on an error or once the
// interrupt has come. The wait is a poll that looks at the interrupt
// every quarter second, so a signal that comes just before the read
// cannot leave the program waiting for a key.
int read_byte() {
    for (;;) {
        if (interrupt_seen) return -1;
        struct pollfd p {};
        p.fd = 0;
        p.events = POLLIN;
        const int ready = ::poll(&p, 1, 250);
        if (ready == 0 || (ready < 0 && errno == EINTR)) continue;
        unsigned char c;
        const ssize_t n = ::read(0, &c, 1);
        if (n == 1) return c;
        if (n == 0) return -1;
        if (errno != EINTR && errno != EAGAIN) return -1;
    }
}

}  // namespace

bool interrupt_pending() {
    return interrupt_seen != 0;
}

bool enter_key_mode() {
    if (!terminal_is_ours()) return false;
    if (key_mode_on) {
        if (key_mode_reapply) {
            key_mode_reapply = 0;
            ::tcsetattr(0, TCSANOW, &key_terminal);
        }
        return true;
    }
    struct termios now;
    if (::tcgetattr(0, &now) != 0) return false;
    static bool exit_hook = false;
    if (!exit_hook) exit_hook = std::atexit(restore_terminal_at_exit) == 0;
    found_terminal = now;
    key_terminal = now;
    // Keys arrive one by one without Enter and without echo; Ctrl+C stays
    // a signal and output is processed as before.
    key_terminal.c_lflag &= ~tcflag_t(ICANON | ECHO);
    key_terminal.c_cc[VMIN] = 1;
    key_terminal.c_cc[VTIME] = 0;
    key_mode_reapply = 0;
    key_mode_on = 1;  // first, so that a signal from here on gives the terminal back
    if (::tcsetattr(0, TCSANOW, &key_terminal) != 0) {
        key_mode_on = 0;
        return false;
    }
    return true;
}

void leave_key_mode() {
    restore_terminal_at_exit();
}

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
    if (!enter_key_mode()) return false;
    struct pollfd p {};
    p.fd = 0;
    p.events = POLLIN;
    return ::poll(&p, 1, 0) > 0 && (p.revents & POLLIN) != 0;
}

int PosixSystem::read_key() {
    // The terminal stays in key mode until a line is wanted or the program ends.
    if (stdin_terminal_) enter_key_mode();
    return read_byte();
}

bool PosixSystem::read_line(std::string& line) {
    if (stdin_terminal_) leave_key_mode();  // a line is typed with echo and editing
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
    // Without SA_RESTART: a read that waits (a terminal, a device behind a
    // link) returns, and the run ends in order. Termination and a closed
    // terminal end it as Ctrl+C does.
    for (const int signal_number : {SIGINT, SIGTERM, SIGHUP})
        install_unless_ignored(signal_number, on_interrupt, 0);
    // A reader that went away is a write error of the stream, reported and
    // counted, not a silent death that leaves the log without its end.
    ::signal(SIGPIPE, SIG_IGN);
    for (const int signal_number : {SIGQUIT, SIGABRT, SIGSEGV, SIGBUS, SIGFPE, SIGILL})
        install_unless_ignored(signal_number, on_fatal_signal, SA_RESETHAND);
    if (install_unless_ignored(SIGTSTP, on_stop, SA_RESETHAND))
        install_unless_ignored(SIGCONT, on_continue, SA_RESTART);
}

void PosixSystem::sleep_ms(unsigned milliseconds) {
    struct timespec left;
    left.tv_sec = milliseconds / 1000;
    left.tv_nsec = static_cast<long>(milliseconds % 1000) * 1000000;
    while (::nanosleep(&left, &left) != 0 && errno == EINTR && !interrupted()) {
    }
}

}  // namespace platform::posix
