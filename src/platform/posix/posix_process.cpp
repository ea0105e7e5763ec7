// Owners, paths, the environment and child programs.
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>

#include "platform/posix/posix_internal.hpp"

namespace platform::posix {
namespace {

bool is_executable_file(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
           ::access(path.c_str(), X_OK) == 0;
}

// Starts a program and waits for it: its exit status, 128 + the signal
// that ended it, or -1 when it could not be started.
int run_and_wait(const char* program, const std::vector<char*>& argv) {
    // The child gets the terminal with line editing, as a program expects it.
    leave_key_mode();
    int report[2];
    if (::pipe2(report, O_CLOEXEC) != 0) return -1;
    const pid_t pid = ::fork();
    if (pid < 0) {
        ::close(report[0]);
        ::close(report[1]);
        return -1;
    }
    if (pid == 0) {
        // An ignored signal stays ignored across exec: the program's own
        // choice about closed pipes is not handed on.
        ::signal(SIGPIPE, SIG_DFL);
        ::execv(program, argv.data());
        const int error = errno;
        [[maybe_unused]] const ssize_t n = ::write(report[1], &error, sizeof error);
        ::_exit(127);
    }
    ::close(report[1]);
    int error = 0;
    ssize_t got;
    do got = ::read(report[0], &error, sizeof error);
    while (got < 0 && errno == EINTR);
    ::close(report[0]);
    // An interrupt meant for this program alone (SIGTERM to its pid) is
    // passed on, so that a command that would wait for ever (a reader of a
    // pipe, say) cannot keep the run from ending.
    int status = 0;
    pid_t waited;
    bool passed_on = false;
    for (;;) {
        if (!passed_on && interrupt_pending()) {
            ::kill(pid, SIGTERM);
            passed_on = true;
        }
        waited = ::waitpid(pid, &status, 0);
        if (waited >= 0 || errno != EINTR) break;
    }
    if (got == static_cast<ssize_t>(sizeof error) || waited < 0) return -1;
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
    return -1;
}

}  // namespace

OwnerLookup PosixSystem::owner_of(std::u16string_view path) {
    OwnerLookup result;
    struct stat st;
    if (::lstat(to_bytes(path).c_str(), &st) != 0) return result;  // no_descriptor
    long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
    std::string buffer(size > 0 ? static_cast<std::size_t>(size) : 16384, '\0');
    for (;;) {
        struct passwd entry;
        struct passwd* found = nullptr;
        const int error = ::getpwuid_r(st.st_uid, &entry, buffer.data(), buffer.size(), &found);
        if (error == ERANGE && buffer.size() < (1u << 20)) {
            buffer.resize(buffer.size() * 2);
            continue;
        }
        if (found) {
            result.status = OwnerLookup::Status::ok;
            result.name = entry.pw_name;
        } else if (error == 0 || error == ENOENT || error == ESRCH || error == EBADF ||
                   error == EPERM) {
            result.status = OwnerLookup::Status::ok;  // no account: the number stands in
            result.name = std::to_string(st.st_uid);
        } else {
            result.status = OwnerLookup::Status::lookup_failed;
        }
        return result;
    }
}

std::optional<std::u16string> PosixSystem::full_path(std::u16string_view path) {
    if (path.empty()) return std::nullopt;
    std::u16string whole;
    if (path.front() != u'/') {
        const auto cwd = current_directory();
        if (!cwd) return std::nullopt;
        whole = *cwd + u'/';
    }
    whole += path;
    std::vector<std::u16string_view> parts;
    const std::u16string_view all(whole);
    for (std::size_t pos = 0; pos <= all.size();) {
        const std::size_t end = std::min(all.find(u'/', pos), all.size());
        const std::u16string_view part = all.substr(pos, end - pos);
        if (part == u"..") {
            if (!parts.empty()) parts.pop_back();
        } else if (!part.empty() && part != u".") {
            parts.push_back(part);
        }
        pos = end + 1;
    }
    std::u16string out;
    for (const auto part : parts) {
        out += u'/';
        out += part;
    }
    if (out.empty()) return u"/";
    if (path.back() == u'/') out += u'/';
    return out;
}

std::u16string PosixSystem::executable_path() {
    std::string buffer(256, '\0');
    for (;;) {
        const ssize_t n = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
        if (n < 0) return {};
        if (static_cast<std::size_t>(n) < buffer.size()) {
            buffer.resize(static_cast<std::size_t>(n));
            return from_bytes(buffer);
        }
        buffer.resize(buffer.size() * 2);
    }
}

std::optional<std::u16string> PosixSystem::current_directory() {
    std::string buffer(PATH_MAX, '\0');
    for (;;) {
        if (::getcwd(buffer.data(), buffer.size())) {
            buffer.resize(std::char_traits<char>::length(buffer.c_str()));
            return from_bytes(buffer);
        }
        if (errno != ERANGE || buffer.size() > (1u << 20)) return std::nullopt;
        buffer.resize(buffer.size() * 2);
    }
}

std::optional<std::u16string> PosixSystem::search_path(std::u16string_view name,
                                                       std::u16string_view extension) {
    if (name.empty()) return std::nullopt;
    const std::string bare = to_bytes(name);
    const std::string with_extension = bare + to_bytes(extension);
    auto try_in = [&](std::string_view dir) -> std::optional<std::u16string> {
        for (const std::string* n : {&with_extension, &bare}) {
            const std::string candidate = dir.empty() ? *n : join_path(dir, *n);
            if (is_executable_file(candidate)) return full_path(from_bytes(candidate));
            if (extension.empty()) break;
        }
        return std::nullopt;
    };
    if (bare.find('/') != std::string::npos) return try_in({});
    const char* env = std::getenv("PATH");
    const std::string_view path_list = env ? env : "/usr/local/bin:/usr/bin:/bin";
    for (std::size_t pos = 0; pos <= path_list.size();) {
        const std::size_t end = std::min(path_list.find(':', pos), path_list.size());
        const std::string_view dir = path_list.substr(pos, end - pos);
        if (auto found = try_in(dir.empty() ? std::string_view(".") : dir)) return found;
        pos = end + 1;
    }
    return std::nullopt;
}

std::optional<std::u16string> PosixSystem::computer_name() {
    char buffer[HOST_NAME_MAX + 1] = {};
    if (::gethostname(buffer, sizeof buffer - 1) != 0) return std::nullopt;
    return from_bytes(buffer);
}

std::optional<std::u16string> PosixSystem::get_env(std::u16string_view name) {
    const char* value = std::getenv(to_bytes(name).c_str());
    if (!value) return std::nullopt;
    return from_bytes(value);
}

int PosixSystem::run_shell(const std::vector<std::u16string>& parts) {
    // Single quotes keep every byte of an argument literal; a quote inside
    // it closes the quoting, stands escaped and reopens it.
    std::string command;
    for (std::size_t i = 0; i < parts.size(); ++i) {
        if (i % 2 == 0) {
            command += to_bytes(parts[i]);
            continue;
        }
        command += '\'';
        for (const char c : to_bytes(parts[i])) {
            if (c == '\'')
                command += "'\\''";
            else
                command += c;
        }
        command += '\'';
    }
    char sh[] = "sh";
    char dash_c[] = "-c";
    const std::vector<char*> argv{sh, dash_c, command.data(), nullptr};
    return run_and_wait("/bin/sh", argv);
}

int PosixSystem::spawn(std::u16string_view program, const std::vector<std::u16string>& args) {
    std::string path = to_bytes(program);
    if (path.empty()) return -1;
    std::vector<std::string> words;
    words.reserve(args.size());
    for (const auto& a : args) words.push_back(to_bytes(a));
    std::vector<char*> argv;
    argv.push_back(path.data());
    for (auto& w : words) argv.push_back(w.data());
    argv.push_back(nullptr);
    return run_and_wait(path.c_str(), argv);
}

}  // namespace platform::posix
