// Shared helpers for the end-to-end tests: run the real binary as a child
// process (both pipes drained with poll), build temporary trees, and build
// the expected record lines.
#pragma once

#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <regex>
#include <string>
#include <vector>

namespace e2e {

// Every file gets this write time: 01/02/2024 03:04:05 UTC.
inline constexpr std::time_t kStamp = 1704164645;
inline constexpr const char* kStampText = "01/02/2024 03:04";
inline constexpr std::size_t kRecordWidth = 107;

struct Result {
    int status = -1;  // exit status, or 128 + signal
    std::string out;
    std::string err;
};

// A running binary with stdout and stderr on pipes. With `input`, standard
// input is a pipe holding that text and then its end; `program` runs
// another copy of the binary.
class Child {
public:
    // `extra_env` holds NAME=value texts set on top of the fixed environment.
    explicit Child(const std::vector<std::string>& args, const std::string& cwd = {},
                   bool as_nobody = false, const std::vector<std::string>& extra_env = {},
                   const std::optional<std::string>& input = std::nullopt,
                   const std::string& program = FILARIX_BINARY) {
        std::vector<std::string> strings{program};
        strings.insert(strings.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (auto& s : strings) argv.push_back(s.data());
        argv.push_back(nullptr);
        std::vector<std::string> env_strings{"TZ=UTC", "PATH=/usr/local/bin:/usr/bin:/bin"};
        env_strings.insert(env_strings.end(), extra_env.begin(), extra_env.end());
        std::vector<char*> envp;
        for (auto& e : env_strings) envp.push_back(e.data());
        envp.push_back(nullptr);
        int out[2], err[2];
        if (::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0) return;
        // The text is in the pipe before the child starts, so writing it
        // never waits for the child (it must fit the pipe's buffer).
        int in[2] = {-1, -1};
        if (input) {
            if (::pipe2(in, O_CLOEXEC) != 0) return;
            const bool whole =
                ::write(in[1], input->data(), input->size()) == ssize_t(input->size());
            ::close(in[1]);
            if (!whole) {
                ::close(in[0]);
                return;
            }
        }
        pid_ = ::fork();
        if (pid_ == 0) {
            if (in[0] >= 0) ::dup2(in[0], 0);
            ::dup2(out[1], 1);
            ::dup2(err[1], 2);
            ::signal(SIGINT, SIG_DFL);
            ::signal(SIGPIPE, SIG_DFL);
            sigset_t none;
            sigemptyset(&none);
            ::sigprocmask(SIG_SETMASK, &none, nullptr);
            if (!cwd.empty() && ::chdir(cwd.c_str()) != 0) ::_exit(126);
            if (as_nobody &&
                (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0))
                ::_exit(126);
            ::execve(argv[0], argv.data(), envp.data());
            ::_exit(127);
        }
        if (in[0] >= 0) ::close(in[0]);
        ::close(out[1]);
        ::close(err[1]);
        fds_[0] = out[0];
        fds_[1] = err[0];
    }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;
    ~Child() {
        for (int& fd : fds_)
            if (fd >= 0) ::close(fd);
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
    }

    pid_t pid() const { return pid_; }
    const std::string& out() const { return result_.out; }
    const std::string& err() const { return result_.err; }

    // Reads both pipes until `enough` holds for stderr or both reach EOF.
    // Returns false when nothing arrives for 10 seconds.
    bool pump(const std::function<bool(const std::string&)>& enough = {}) {
        while (fds_[0] >= 0 || fds_[1] >= 0) {
            if (enough && enough(result_.err)) return true;
            pollfd p[2] = {{fds_[0], POLLIN, 0}, {fds_[1], POLLIN, 0}};
            const int n = ::poll(p, 2, 10000);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) return false;
            for (int i = 0; i < 2; ++i) {
                if (p[i].revents == 0) continue;
                char buffer[65536];
                const ssize_t got = ::read(fds_[i], buffer, sizeof buffer);
                if (got > 0) {
                    (i == 0 ? result_.out : result_.err).append(buffer, std::size_t(got));
                } else if (got == 0 || errno != EINTR) {
                    ::close(fds_[i]);
                    fds_[i] = -1;
                }
            }
        }
        return true;
    }

    // Drains both pipes and waits for the exit.
    // A binary that went silent is killed, so that a hang fails the test
    // instead of stopping the suite.
    Result finish() {
        const bool ended = pump();
        EXPECT_TRUE(ended) << "the binary went silent for 10 s";
        if (!ended && pid_ > 0) ::kill(pid_, SIGKILL);
        int status = 0;
        if (pid_ > 0 && ::waitpid(pid_, &status, 0) == pid_) {
            result_.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            pid_ = -1;
        }
        return result_;
    }

private:
    pid_t pid_ = -1;
    int fds_[2] = {-1, -1};
    Result result_;
};

inline Result run(const std::vector<std::string>& args, const std::string& cwd = {},
                  bool as_nobody = false, const std::vector<std::string>& extra_env = {},
                  const std::optional<std::string>& input = std::nullopt,
                  const std::string& program = FILARIX_BINARY) {
    Child child(args, cwd, as_nobody, extra_env, input, program);
    return child.finish();
}

// A temporary directory tree, removed (permissions restored) on destruction.
class TempTree {
public:
    TempTree() {
        char name[] = "/tmp/fxe2e-XXXXXX";
        if (::mkdtemp(name) != nullptr) root_ = name;
    }
    TempTree(const TempTree&) = delete;
    TempTree& operator=(const TempTree&) = delete;
    ~TempTree() {
        for (const auto& p : locked_) ::chmod(p.c_str(), 0700);
        std::error_code ec;
        std::filesystem::remove_all(root_, ec);
    }

    const std::string& root() const { return root_; }
    std::string path(const std::string& rel) const {
        return rel.empty() ? root_ : root_ + "/" + rel;
    }

    std::string dir(const std::string& rel) {
        std::filesystem::create_directories(path(rel));
        return path(rel);
    }
    // A file with `content`, padded (sparse) to `size` when that is larger.
    std::string file(const std::string& rel, const std::string& content = {}, long long size = 0) {
        const std::string p = path(rel);
        std::filesystem::create_directories(std::filesystem::path(p).parent_path());
        std::ofstream(p, std::ios::binary) << content;
        if (size > static_cast<long long>(content.size())) ::truncate(p.c_str(), size);
        stamp(rel);
        return p;
    }
    std::string link(const std::string& target, const std::string& rel, std::time_t when = kStamp) {
        const std::string p = path(rel);
        EXPECT_EQ(::symlink(target.c_str(), p.c_str()), 0) << p;
        stamp(rel, when);
        return p;
    }
    void stamp(const std::string& rel, std::time_t when = kStamp, long nanoseconds = 0) {
        const timespec times[2] = {{when, nanoseconds}, {when, nanoseconds}};
        ::utimensat(AT_FDCWD, path(rel).c_str(), times, AT_SYMLINK_NOFOLLOW);
    }
    void mode(const std::string& rel, mode_t m) {
        ::chmod(path(rel).c_str(), m);
        if ((m & S_IRWXU) != S_IRWXU) locked_.push_back(path(rel));
    }

private:
    std::string root_;
    std::vector<std::string> locked_;
};

// One expected record line, `column` being the path as printed.
inline std::string record(const std::string& column, long long size,
                          const std::string& attributes = "A.....",
                          const std::string& when = kStampText) {
    char text[256];
    std::snprintf(text, sizeof text, "%-54.54s  %20lld %s. %sw %s ", column.c_str(), size,
                  attributes.c_str(), when.c_str(), "UTC");
    return text;
}

// The record lines of a standard error text: after the leading newline, up
// to the first empty line. Each must be exactly kRecordWidth bytes.
inline std::vector<std::string> records(const std::string& err) {
    std::vector<std::string> lines;
    if (err.empty() || err[0] != '\n') {
        ADD_FAILURE() << "stderr does not start with a newline";
        return lines;
    }
    std::size_t at = 1;
    for (std::size_t end; (end = err.find('\n', at)) != std::string::npos && end > at;
         at = end + 1) {
        lines.push_back(err.substr(at, end - at));
        EXPECT_EQ(lines.back().size(), kRecordWidth) << lines.back();
    }
    return lines;
}

// The entry's own status (lstat) as a row writes its modified_ns,
// change_time_ns, device, inode and links: "1,2,3,4,5" for CSV, or
// "\"modified_ns\":1,..." for JSON.
inline std::string precise_fields(const std::string& path, bool json) {
    struct stat st {};
    EXPECT_EQ(::lstat(path.c_str(), &st), 0) << path;
    const auto ns = [](const timespec& t) {
        return std::to_string(static_cast<long long>(t.tv_sec) * 1000000000LL + t.tv_nsec);
    };
    const std::pair<const char*, std::string> fields[] = {
        {"modified_ns", ns(st.st_mtim)},        {"change_time_ns", ns(st.st_ctim)},
        {"device", std::to_string(st.st_dev)},  {"inode", std::to_string(st.st_ino)},
        {"links", std::to_string(st.st_nlink)},
    };
    std::string out;
    for (const auto& [name, value] : fields) {
        if (!out.empty()) out += ',';
        out += json ? "\"" + std::string(name) + "\":" + value : value;
    }
    return out;
}

// 4,000 hard links to one file "source" in d0..d3: many files, quickly made.
inline void linked_files(TempTree& tree) {
    const std::string source = tree.file("source", "x");
    for (const std::string d : {"d0", "d1", "d2", "d3"}) {
        tree.dir(d);
        for (int f = 0; f < 1000; ++f) {
            const std::string name = tree.path(d) + "/f" + std::to_string(f);
            ASSERT_EQ(::link(source.c_str(), name.c_str()), 0) << name;
        }
    }
}

// A whole file as bytes; empty when it cannot be read.
inline std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// A listing on the standard output without its start banner, which holds
// the time.
inline std::string without_banner(std::string out) {
    const auto at = out.find("Started ");
    if (at != std::string::npos) out.erase(at, out.find('\n', at) - at);
    return out;
}

// The line of a text that holds `needle`, without its line end; empty
// when no line does.
inline std::string line_with(const std::string& text, const std::string& needle) {
    const auto at = text.find(needle);
    if (at == std::string::npos) return {};
    const auto start = text.rfind('\n', at);
    const std::size_t begin = start == std::string::npos ? 0 : start + 1;
    return text.substr(begin, text.find('\n', at) - begin);
}

// The start banner a console run writes on the standard output: when the
// run started in GMT (or local time) and the zone, without the command line.
inline bool is_start_banner(const std::string& out) {
    static const std::regex banner(
        R"(\nStarted \w{3} \w{3} \d\d \d\d:\d\d:\d\d \d{4} (GMT, )?\d\d:\d\d .*)"
        R"(\([A-Za-z0-9+-]*/[A-Za-z0-9+-]*:-?\d+\*?\)\n\n\n)");
    return std::regex_match(out, banner);
}

// The totals line "  N director.., M files, B bytes, X MB".
inline std::string totals(long dirs, long files, const std::string& bytes, const char* mb) {
    return "\n\n  " + std::to_string(dirs) + (dirs == 1 ? " directory, " : " directories, ") +
           std::to_string(files) + " files, " + bytes + " bytes, " + mb + " MB\n";
}

// A binary on a pseudo-terminal: its output is read, keys are typed.
class Terminal {
public:
    explicit Terminal(const std::vector<std::string>& args) {
        std::vector<std::string> strings{FILARIX_BINARY};
        strings.insert(strings.end(), args.begin(), args.end());
        winsize size{};
        size.ws_row = 30;
        size.ws_col = 132;
        pid_ = ::forkpty(&fd_, nullptr, nullptr, &size);
        if (pid_ == 0) {
            std::vector<char*> argv;
            for (auto& s : strings) argv.push_back(s.data());
            argv.push_back(nullptr);
            ::setenv("TZ", "UTC", 1);
            ::execv(argv[0], argv.data());
            ::_exit(127);
        }
    }
    ~Terminal() {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
        if (fd_ >= 0) ::close(fd_);
    }
    // Reads until `text` has appeared `count` times; false after 10 s of silence.
    bool wait_for(const std::string& text, int count = 1) {
        for (;;) {
            int seen = 0;
            for (auto at = output.find(text); at != std::string::npos;
                 at = output.find(text, at + 1))
                ++seen;
            if (seen >= count) return true;
            if (!read_some()) return false;
        }
    }
    void type(char key) { ASSERT_EQ(::write(fd_, &key, 1), 1); }
    int finish() {
        while (read_some()) {
        }
        int status = 0;
        ::waitpid(pid_, &status, 0);
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    std::string output;

private:
    bool read_some() {
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, 10000) <= 0) return false;
        char buffer[4096];
        const ssize_t got = ::read(fd_, buffer, sizeof buffer);
        if (got <= 0) return false;  // EIO once the child has gone
        output.append(buffer, std::size_t(got));
        return true;
    }
    pid_t pid_ = -1;
    int fd_ = -1;
};

}  // namespace e2e
