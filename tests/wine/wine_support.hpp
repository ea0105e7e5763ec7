// Running the Windows build under Wine: one fresh Wine prefix for the whole
// suite with its server kept alive (a cold start costs seconds, a warm one
// a few hundredths), paths in Windows form, and the Linux build alongside
// for comparisons.
#pragma once

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "../e2e/e2e_support.hpp"

namespace wine {

struct Result {
    int status = -1;
    std::string out;
    std::string err;
};

inline std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Windows text streams end their lines with "\r\n"; the suite compares
// texts with "\n" line ends after checking that no bare "\n" slipped in.
inline std::string from_windows_text(const std::string& text) {
    std::string plain;
    plain.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r'))
            ADD_FAILURE() << "a line ends without a carriage return at byte " << i;
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
        plain.push_back(text[i]);
    }
    return plain;
}

// A text file written by the Windows build, with "\n" line ends.
inline std::string read_windows_text(const std::string& path) {
    return from_windows_text(read_file(path));
}

// The Windows name Wine gives a Linux path: drive Z: is the root.
inline std::string windows_path(const std::string& linux_path) {
    std::string path = "Z:" + linux_path;
    for (char& c : path)
        if (c == '/') c = '\\';
    return path;
}

// The Wine loader: the 64-bit one directly where the package put it.
inline std::string loader() {
    for (const char* candidate : {"/usr/lib/wine/wine64", "/usr/bin/wine64", "/usr/bin/wine"})
        if (::access(candidate, X_OK) == 0) return candidate;
    return "wine";
}

// The prefix and the environment every child gets.
class Session : public ::testing::Environment {
public:
    static Session*& instance() {
        static Session* session = nullptr;
        return session;
    }
    void SetUp() override {
        char name[] = "/tmp/fxwine-prefix-XXXXXX";
        if (::mkdtemp(name) != nullptr) prefix_ = name;
        environment_ = {"WINEDEBUG=-all",  "WINEPREFIX=" + prefix_,
                        "HOME=" + prefix_, "TZ=UTC",
                        "LANG=C.UTF-8",    "PATH=/usr/local/bin:/usr/bin:/bin"};
        // A server that stays up spares every run the start of Wine itself.
        spawn({"/usr/bin/wineserver", "-p"}, {});
        instance() = this;
    }
    void TearDown() override {
        spawn({"/usr/bin/wineserver", "-k"}, {});
        std::error_code ec;
        std::filesystem::remove_all(prefix_, ec);
    }

    // Runs a program with the suite's environment; standard input is empty.
    Result spawn(const std::vector<std::string>& argv, const std::string& cwd) const {
        Result result;
        char out_name[] = "/tmp/fxwine-out-XXXXXX", err_name[] = "/tmp/fxwine-err-XXXXXX";
        const int out = ::mkstemp(out_name), err = ::mkstemp(err_name);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_adddup2(&actions, out, 1);
        posix_spawn_file_actions_adddup2(&actions, err, 2);
        if (!cwd.empty()) posix_spawn_file_actions_addchdir_np(&actions, cwd.c_str());
        std::vector<std::string> strings = argv;
        std::vector<char*> args, env;
        for (auto& s : strings) args.push_back(s.data());
        args.push_back(nullptr);
        std::vector<std::string> env_strings = environment_;
        for (auto& s : env_strings) env.push_back(s.data());
        env.push_back(nullptr);
        pid_t pid = -1;
        if (::posix_spawn(&pid, args[0], &actions, nullptr, args.data(), env.data()) == 0) {
            int status = 0;
            ::waitpid(pid, &status, 0);
            result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        }
        posix_spawn_file_actions_destroy(&actions);
        ::close(out);
        ::close(err);
        result.out = read_file(out_name);
        result.err = read_file(err_name);
        ::unlink(out_name);
        ::unlink(err_name);
        return result;
    }

private:
    std::string prefix_;
    std::vector<std::string> environment_;
};

// The Windows build, under Wine.
inline Result run_exe(const std::vector<std::string>& args, const std::string& cwd = {}) {
    std::vector<std::string> argv{loader(), FILARIX_EXE};
    argv.insert(argv.end(), args.begin(), args.end());
    Result result = Session::instance()->spawn(argv, cwd);
    result.out = from_windows_text(result.out);
    // Wine's own notes (a volume it cannot read, say) share the error
    // stream; they are whole lines of their own.
    std::string err;
    for (std::size_t at = 0; at < result.err.size();) {
        std::size_t end = result.err.find('\n', at);
        end = end == std::string::npos ? result.err.size() : end + 1;
        if (result.err.compare(at, 6, "wine: ") != 0) err.append(result.err, at, end - at);
        at = end;
    }
    result.err = from_windows_text(err);
    return result;
}

// The Linux build, with the same environment.
inline Result run_linux(const std::vector<std::string>& args, const std::string& cwd = {}) {
    std::vector<std::string> argv{FILARIX_BINARY};
    argv.insert(argv.end(), args.begin(), args.end());
    return Session::instance()->spawn(argv, cwd);
}

}  // namespace wine
