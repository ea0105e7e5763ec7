// End-to-end: nothing the program meets makes it wait for ever or die
// without its totals: pipes and devices in the tree or in place of its own
// files, signals while it waits, a reader that goes away, a full disk
// behind a standard stream, and keys on a real terminal.
#include <pty.h>
#include <sys/ioctl.h>
#include <sys/syscall.h>
#include <termios.h>

#include <chrono>
#include <sstream>
#include <thread>

#include "e2e_support.hpp"

namespace {

using e2e::read_file;

using e2e::TempTree;

bool has(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// The binary run by a shell line, so that its standard streams can go
// where a user would send them; "$0" is the binary, "$@" its arguments.
e2e::Result run_in_shell(const std::string& line, const std::vector<std::string>& args,
                         const std::vector<std::string>& env = {}) {
    std::vector<std::string> words{"-c", line, FILARIX_BINARY};
    words.insert(words.end(), args.begin(), args.end());
    return e2e::run(words, {}, false, env, std::nullopt, "/bin/bash");
}

// Waits until `seen` holds; false when 10 s went by first.
bool wait_until(const std::function<bool()>& seen) {
    const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < give_up) {
        if (seen()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return false;
}

// Waits until the process sleeps in a system call that `wanted` accepts,
// as /proc shows it; false when it ended first or 10 s went by.
bool asleep_in(pid_t pid, const std::function<bool(long)>& wanted) {
    const std::string proc = "/proc/" + std::to_string(pid);
    bool ended = false;
    return wait_until([&] {
               const std::string stat = read_file(proc + "/stat");
               // The state follows the parenthesised name, which may hold anything.
               const auto name_end = stat.rfind(") ");
               const char state = name_end == std::string::npos ? 'Z' : stat[name_end + 2];
               ended = state == 'Z';
               std::istringstream call(read_file(proc + "/syscall"));
               long number = -1;
               return ended || (state == 'S' && call >> number && number >= 0 && wanted(number));
           }) &&
           !ended;
}

// A process waiting in open(2) on the other end of a pipe: as long as it
// waits, nobody has opened the pipe from this end.
class PipePeer {
public:
    PipePeer(const std::string& fifo, int flags) : fifo_(fifo), flags_(flags) {
        pid_ = ::fork();
        if (pid_ == 0) {
            ::open(fifo.c_str(), flags);
            ::_exit(0);
        }
        EXPECT_TRUE(asleep_in(pid_, [](long call) { return call == SYS_openat; })) << fifo;
    }
    PipePeer(const PipePeer&) = delete;
    PipePeer& operator=(const PipePeer&) = delete;
    ~PipePeer() {
        // Opening the other end releases it.
        const int fd = ::open(fifo_.c_str(), (flags_ == O_RDONLY ? O_RDWR : O_RDONLY) | O_NONBLOCK);
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
        if (fd >= 0) ::close(fd);
    }
    bool still_waiting() const { return ::waitpid(pid_, nullptr, WNOHANG) == 0; }

private:
    std::string fifo_;
    int flags_;
    pid_t pid_ = -1;
};

std::string make_fifo(TempTree& t, const std::string& rel) {
    const std::string p = t.path(rel);
    EXPECT_EQ(::mkfifo(p.c_str(), 0644), 0) << p;
    t.stamp(rel);
    return p;
}

// Hard links to one file: many records, quickly made.
void add_many_files(TempTree& t, int directories, int per_directory) {
    const std::string source = t.file("source", "x");
    for (int d = 0; d < directories; ++d) {
        char name[32];
        std::snprintf(name, sizeof name, "d%d", d);
        t.dir(name);
        for (int f = 0; f < per_directory; ++f) {
            std::snprintf(name, sizeof name, "d%d/f%04d", d, f);
            ASSERT_EQ(::link(source.c_str(), t.path(name).c_str()), 0) << name;
        }
    }
}

TEST(Blocking, PipesAndDevicesInTheTreeAreListedWithoutBeingOpened) {
    TempTree t, elsewhere;
    t.file("a.txt", "abc");
    const std::string inside = make_fifo(t, "pipe");
    const std::string outside = make_fifo(elsewhere, "pipe");
    t.link(outside, "to-pipe");
    t.link("/dev/zero", "to-zero");
    PipePeer writer_inside(inside, O_WRONLY), writer_outside(outside, O_WRONLY);

    const auto result = e2e::run({t.root(), "-c"});
    EXPECT_EQ(result.status, 1) << result.err;
    EXPECT_FALSE(has(result.err, "\nExit Status")) << result.err;
    // The regular file gets its digest and the pipe the failure text; the
    // links are never opened, so their column stays blank.
    const struct {
        const char* name;
        std::string crc_column;
    } cases[] = {{"/a.txt ", "  352441C2"},
                 {"/pipe ", "  CRCERROR"},
                 {"/to-pipe ", std::string(10, ' ')},
                 {"/to-zero ", std::string(10, ' ')}};
    for (const auto& c : cases) {
        const std::string line = e2e::line_with(result.err, c.name);
        EXPECT_TRUE(has(line, ".  " + c.crc_column + " ")) << c.name << result.err;
    }
    EXPECT_TRUE(writer_inside.still_waiting());
    EXPECT_TRUE(writer_outside.still_waiting());
}

TEST(Blocking, AFileOfTheProgramThatIsAPipeIsRefusedWithItsMessage) {
    const struct {
        const char* what;
        std::string name;  // the pipe, in the working directory
        std::vector<std::string> args;
        int peer_flags;  // the end a waiting peer opens
        int status;
        std::string out_message;
        std::string err_message;
    } cases[] = {
        {"accounting log", "run.log", {"-1", "run.log"}, O_WRONLY, 4, "", "\nerror opening @\n"},
        {"listing",
         "list.txt",
         {"-o", "list.txt"},
         O_RDONLY,
         4,
         "",
         "\ncan't create output file @\n"},
        {"memo", "memo.txt", {"--MEMO=memo.txt"}, O_RDONLY, 1, "\nCan't open memo file @\n", ""},
        {"INI file", "filarix64.ini", {}, O_WRONLY, 1, "\nCouldn't open .ini file\n", ""},
        {"label counter",
         "DISKLABL",
         {"-i"},
         O_WRONLY,
         1,
         "",
         "\nCan't store the next label in @\n"},
    };
    const auto named = [](std::string text, const std::string& path) {
        if (const auto at = text.find('@'); at != std::string::npos) text.replace(at, 1, path);
        return text;
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TempTree t;
        t.file("tree/a.txt", "abc");
        const std::string fifo = make_fifo(t, c.name);
        PipePeer peer(fifo, c.peer_flags);
        std::vector<std::string> args{t.path("tree")};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const auto result = e2e::run(args, t.root(), false, {}, std::string("\n\n\n"));
        EXPECT_EQ(result.status, c.status) << result.out << result.err;
        EXPECT_TRUE(has(result.out, named(c.out_message, fifo))) << result.out;
        EXPECT_TRUE(has(result.err, named(c.err_message, fifo))) << result.err;
        EXPECT_TRUE(peer.still_waiting());
    }
}

// Standard input that never ends and never delivers: the memo prompt
// waits until the signal comes, and the run then ends with its totals.
TEST(Blocking, ASignalWhileWaitingForInputEndsTheRunWithTheTotals) {
    for (const int signal_number : {SIGINT, SIGTERM, SIGHUP}) {
        SCOPED_TRACE(signal_number);
        TempTree t;
        t.file("tree/a.txt", "abc");
        const std::string fifo = make_fifo(t, "input");
        const int held = ::open(fifo.c_str(), O_RDWR);  // open, silent, never closed early
        ASSERT_GE(held, 0);
        e2e::Child child({"-c", "exec \"$0\" \"$@\" <\"$INPUT\"", FILARIX_BINARY, t.path("tree"),
                          "--MEMO=" + t.path("memo.txt")},
                         {}, false, {"INPUT=" + fifo}, std::nullopt, "/bin/bash");
        ASSERT_TRUE(child.pump([](const std::string& err) {
            return has(err, "End with two blank lines");
        })) << child.err();
        // After the prompt the one wait is the one for input.
        ASSERT_TRUE(asleep_in(child.pid(), [](long) { return true; }));
        ASSERT_EQ(::kill(child.pid(), signal_number), 0);
        const auto result = child.finish();
        ::close(held);
        EXPECT_EQ(result.status, 2) << result.err;
        EXPECT_TRUE(has(result.err, "\n  0 directories, 0 files, 0 bytes, 0.00 MB")) << result.err;
        EXPECT_TRUE(result.err.ends_with("\nExit Status: USER_ABORTED\n\n")) << result.err;
    }
}

// A per-file command that never ends by itself: a terminate request sent
// to the program alone is passed on, and the run ends with its totals.
TEST(Blocking, ATerminateRequestDuringACommandReachesTheCommand) {
    TempTree t;
    t.file("tree/a.txt", "abc");
    e2e::Child child({t.path("tree"), "-e", "/usr/bin/tail -f %"});
    const std::string children = "/proc/" + std::to_string(child.pid()) + "/task/" +
                                 std::to_string(child.pid()) + "/children";
    pid_t command = 0;
    ASSERT_TRUE(wait_until(
        [&] { return (std::istringstream(read_file(children)) >> command) && command > 0; }));
    ASSERT_TRUE(asleep_in(command, [](long) { return true; }));
    ASSERT_EQ(::kill(child.pid(), SIGTERM), 0);
    const auto result = child.finish();
    EXPECT_EQ(result.status, 2) << result.err;
    EXPECT_TRUE(result.err.ends_with("\nExit Status: USER_ABORTED\n\n")) << result.err;
}

TEST(Blocking, AReaderThatGoesAwayIsAWriteErrorAndTheLogIsComplete) {
    TempTree t;
    add_many_files(t, 3, 1000);  // far more than the pipe holds
    const std::string log = t.path("run.log");
    const auto result = run_in_shell("\"$0\" \"$@\" | head -1 >/dev/null; exit ${PIPESTATUS[0]}",
                                     {t.root(), "-ostdout", "-1", log});
    EXPECT_EQ(result.status, 9) << result.err;
    EXPECT_TRUE(has(result.err, "\nError writing the listing to the standard output\n"))
        << result.err;
    const std::string text = read_file(log);
    EXPECT_TRUE(has(text, "\n Program termination. Reason: WRITE_ERROR")) << text;
    EXPECT_TRUE(text.ends_with("*****************************************************\n")) << text;
}

TEST(Blocking, AFullDiskBehindTheListingStreamIsAWriteError) {
    const struct {
        const char* line;
        std::vector<std::string> options;
    } cases[] = {
        {"exec \"$0\" \"$@\" >/dev/full", {"-ostdout"}},
        {"exec \"$0\" \"$@\" 2>/dev/full", {}},
    };
    TempTree t;
    t.file("a.txt", "abc");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        std::vector<std::string> args{t.root()};
        args.insert(args.end(), c.options.begin(), c.options.end());
        EXPECT_EQ(run_in_shell(c.line, args).status, 9);
    }
}

// The binary on the slave side of a pseudo-terminal, as a person at a
// terminal runs it; the slave stays open here so that its modes can be
// read after the binary has gone.
class TerminalRun {
public:
    explicit TerminalRun(const std::vector<std::string>& args) {
        if (::openpty(&master_, &slave_, nullptr, nullptr, nullptr) != 0) return;
        ::tcgetattr(slave_, &start_modes_);
        std::vector<std::string> strings{FILARIX_BINARY};
        strings.insert(strings.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (auto& s : strings) argv.push_back(s.data());
        argv.push_back(nullptr);
        std::string tz = "TZ=UTC";
        char* envp[] = {tz.data(), nullptr};
        pid_ = ::fork();
        if (pid_ == 0) {
            ::setsid();
            ::ioctl(slave_, TIOCSCTTY, 0);
            for (int fd = 0; fd < 3; ++fd) ::dup2(slave_, fd);
            ::close(master_);
            ::signal(SIGINT, SIG_DFL);
            ::execve(argv[0], argv.data(), envp);
            ::_exit(127);
        }
    }
    TerminalRun(const TerminalRun&) = delete;
    TerminalRun& operator=(const TerminalRun&) = delete;
    ~TerminalRun() {
        if (pid_ > 0 && !exited_) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
        if (master_ >= 0) ::close(master_);
        if (slave_ >= 0) ::close(slave_);
    }

    // Reads the screen until `enough` holds or the binary has ended;
    // false after 10 s of silence. While a typed key waits unread, the
    // screen is read slowly: the binary looks at the keyboard ten times a
    // second, and must still be running when it looks.
    bool read_until(const std::function<bool(const std::string&)>& enough) {
        for (int silent_ms = 0; !enough(screen_);) {
            if (exited_ && !drain()) return false;
            pollfd p{master_, POLLIN, 0};
            const int n = ::poll(&p, 1, 100);
            if (n < 0 && errno != EINTR) return false;
            if (n <= 0) {
                if (!exited_ && ::waitpid(pid_, &status_, WNOHANG) == pid_) exited_ = true;
                if ((silent_ms += 100) >= 10000) return false;
                continue;
            }
            silent_ms = 0;
            const bool key_unread = unread_keys() > 0;
            if (!drain(key_unread ? 256 : 4096)) return enough(screen_);
            if (key_unread) std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        return true;
    }
    void type(const std::string& keys) {
        EXPECT_EQ(::write(master_, keys.data(), keys.size()), ssize_t(keys.size()));
    }
    // Reads to the end and gives the exit status; a binary still running
    // after 10 s of silence is killed.
    int finish() {
        read_until([this](const std::string&) { return exited_ && !drain(); });
        if (!exited_) {
            ADD_FAILURE() << "the binary did not end";
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, &status_, 0);
        }
        pid_ = -1;
        return WIFEXITED(status_) ? WEXITSTATUS(status_) : 128 + WTERMSIG(status_);
    }
    const std::string& screen() const { return screen_; }
    // Typed bytes the binary has not read yet.
    int unread_keys() const {
        int n = 0;
        return ::ioctl(slave_, FIONREAD, &n) == 0 ? n : 0;
    }
    // The modes before the binary could change them.
    const termios& modes_at_start() const { return start_modes_; }
    termios modes() const {
        termios t{};
        ::tcgetattr(slave_, &t);
        return t;
    }

private:
    // One read of what is waiting on the screen; false when nothing is.
    bool drain(std::size_t most = 4096) {
        pollfd p{master_, POLLIN, 0};
        if (::poll(&p, 1, 0) <= 0) return false;
        char buffer[4096];
        const ssize_t got = ::read(master_, buffer, std::min(most, sizeof buffer));
        if (got <= 0) return false;
        screen_.append(buffer, std::size_t(got));
        return true;
    }

    int master_ = -1, slave_ = -1;
    termios start_modes_{};
    pid_t pid_ = -1;
    bool exited_ = false;
    int status_ = 0;
    std::string screen_;
};

TEST(Blocking, KeysOnATerminalNeedNoEnterAndTheTerminalIsGivenBack) {
    TempTree t;
    add_many_files(t, 5, 1000);
    const struct {
        const char* what;
        std::vector<std::string> options;
        std::string wait_for;
        std::string keys;
    } cases[] = {
        {"Esc during the walk", {}, "/d0/f", "\x1b"},
        {"Ctrl+C at the memo prompt",
         {"--MEMO=" + t.path("memo.txt")},
         "End with two blank",
         "\x03"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<std::string> args{t.root()};
        args.insert(args.end(), c.options.begin(), c.options.end());
        TerminalRun run(args);
        const termios before = run.modes_at_start();
        ASSERT_TRUE(run.read_until([&](const std::string& s) { return has(s, c.wait_for); }))
            << run.screen();
        run.type(c.keys);
        EXPECT_EQ(run.finish(), 2) << run.screen().substr(run.screen().size() - 300);
        EXPECT_TRUE(has(run.screen(), "Exit Status: USER_ABORTED"));
        const termios after = run.modes();
        EXPECT_EQ(after.c_lflag & (ICANON | ECHO), before.c_lflag & (ICANON | ECHO));
        EXPECT_NE(after.c_lflag & ICANON, 0u);
    }
}

}  // namespace
