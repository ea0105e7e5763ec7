// An in-memory platform with Windows path rules, so that the core's
// Windows behaviour (drive letters, the long-path prefix, UNC shares,
// volume roots, short names, reparse points, named streams) can be tested
// on any host. Tests build a tree with the add_* calls, run the core
// against it and inspect the tree and the public members afterwards.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/platform.hpp"

namespace testing_support {

using platform::FileTicks;

using platform::days_from_civil;

// Calendar seconds (since 1970, UTC) of a UTC civil time.
constexpr std::int64_t seconds_from_utc(int year, int month, int day, int hour = 0, int minute = 0,
                                        int second = 0) {
    return days_from_civil(year, month, day) * 86400 + hour * 3600 + minute * 60 + second;
}

// File ticks (100 ns since 1601) of a UTC civil time.
constexpr FileTicks ticks_from_utc(int year, int month, int day, int hour = 0, int minute = 0,
                                   int second = 0, int millisecond = 0) {
    return static_cast<FileTicks>((seconds_from_utc(year, month, day, hour, minute, second) +
                                   platform::epoch_difference_seconds) *
                                      platform::ticks_per_second +
                                  static_cast<std::int64_t>(millisecond) * 10000);
}

// The three times every node gets unless told otherwise.
inline constexpr FileTicks default_ticks = ticks_from_utc(2024, 1, 2, 3, 4, 5);

// The bytes of a file or a stream. Large sizes cost nothing: zero_tail
// zero bytes follow the stored bytes.
struct Content {
    std::string bytes;
    std::uint64_t zero_tail = 0;
    // Moves with every write through a handle; an open handle reports it
    // as the change time. A test that changes the content moves it too.
    FileTicks changed = 0;
    // Runs after every read through a handle, so that a test can change
    // the file while it is being read.
    std::function<void(Content&)> after_read{};

    std::uint64_t size() const { return bytes.size() + zero_tail; }
    // Every byte, the zero tail included.
    std::string text() const {
        return bytes + std::string(static_cast<std::size_t>(zero_tail), '\0');
    }
    void materialize() {
        bytes.append(static_cast<std::size_t>(zero_tail), '\0');
        zero_tail = 0;
    }
};

struct Stream {
    std::u16string name;  // bare name: u"Zone.Identifier"
    std::shared_ptr<Content> content;
};

// How a test wants a file or directory made. Fields in declaration order,
// for designated initialisers: add_file(p, "x", {.attributes = attr::hidden}).
struct NodeOptions {
    // Nothing: archive for files, directory for directories. The directory
    // bit is always set for directories and cleared for files.
    std::optional<std::uint32_t> attributes{};
    FileTicks creation = default_ticks;
    FileTicks access = default_ticks;
    FileTicks write = default_ticks;
    std::u16string short_name{};  // 8.3 name; empty when the long name is one
    // Nothing: the node has no security descriptor (owner_of says so).
    std::optional<std::string> owner = std::string("Administrators");
    bool owner_lookup_fails = false;                                // owner_of gives lookup_failed
    std::vector<std::pair<std::u16string, std::string>> streams{};  // name -> content
    bool locked = false;          // no open of any kind succeeds; cannot be deleted
    bool locked_primary = false;  // open_read fails unless through the fallback route
    bool protect = false;         // set_attributes, set_times, open_update, open_text, delete fail
    bool unlistable = false;      // directories: every find_first inside it is refused
    bool streams_unreadable = false;  // named_streams opens it but the listing breaks off
    // What precise_facts answers; nothing: the system cannot say.
    std::optional<platform::PreciseFacts> precise{};
};

struct Node {
    std::u16string name;  // with its case as given
    bool is_dir = false;
    std::uint32_t attributes = 0;
    FileTicks creation = default_ticks;
    FileTicks access = default_ticks;
    FileTicks write = default_ticks;
    std::u16string short_name;
    std::optional<std::string> owner = std::string("Administrators");
    bool owner_lookup_fails = false;
    bool locked = false;
    bool locked_primary = false;
    bool protect = false;
    bool unlistable = false;
    bool streams_unreadable = false;
    bool special = false;  // a pipe or a device: listed, never opened
    std::optional<platform::PreciseFacts> precise;
    std::shared_ptr<Content> content = std::make_shared<Content>();
    std::vector<Stream> streams;  // in insertion order
    // Keyed by the upper-cased name.
    std::map<std::u16string, std::shared_ptr<Node>> children;

    std::uint64_t size() const { return is_dir ? 0 : content->size(); }
    // The whole content as a string (zero tail included).
    std::string text() const { return content->text(); }
    Stream* stream(std::u16string_view stream_name);
    Node* child(std::u16string_view child_name);
};

struct VolumeOptions {
    std::u16string label = u"SYSTEM";
    std::uint32_t serial = 0x1234ABCDu;
    std::u16string file_system = u"NTFS";
    // Nothing: true exactly when the file system is NTFS.
    std::optional<bool> named_streams{};
    std::uint64_t free_bytes = 10'000'000'000ull;
    std::uint32_t last_access = platform::last_access_not_found;
    bool unqueryable = false;  // volume_info and free_space give nothing
};

struct Volume {
    std::u16string root;  // as first given: u"C:" or u"\\\\SERVER\\SHARE"
    VolumeOptions options;
    std::shared_ptr<Node> top;  // the root directory
};

// Command text and literal arguments, alternating.
struct ShellCall {
    std::vector<std::u16string> parts;
};

struct SpawnCall {
    std::u16string program;
    std::vector<std::u16string> args;
};

struct ReadOpen {
    std::u16string path;
    bool fallback_route = false;
};

struct NoCaseLess {
    bool operator()(const std::u16string& a, const std::u16string& b) const;
};

class MemoryPlatform : public platform::System {
public:
    // Starts with volume "C:" (VolumeOptions defaults) holding "C:\work",
    // the current directory.
    MemoryPlatform();
    ~MemoryPlatform() override;
    MemoryPlatform(const MemoryPlatform&) = delete;
    MemoryPlatform& operator=(const MemoryPlatform&) = delete;

    // ----- building the tree -----
    // A drive "C:" or a share "\\SERVER\SHARE" (trailing backslash allowed).
    // Adding an existing volume replaces its options and keeps its tree.
    Volume& add_volume(std::u16string_view root, const VolumeOptions& options = {});
    // The volume holding a path; null when there is none.
    Volume* volume(std::u16string_view path);
    // The add_* calls create missing parents (and a missing volume, with
    // default options) and replace an existing node of the same name.
    Node& add_dir(std::u16string_view path, const NodeOptions& options = {});
    Node& add_file(std::u16string_view path, std::string_view content = {},
                   const NodeOptions& options = {});
    // A file of a given size reading as zero bytes, without storing them.
    Node& add_file(std::u16string_view path, std::uint64_t size, const NodeOptions& options = {});
    // A named pipe or a device node: listed as a file of size 0, but
    // open_read, open_update and open_text refuse it, as a real backend
    // refuses anything but a regular file.
    Node& add_special(std::u16string_view path, const NodeOptions& options = {});
    // A directory that is a reparse point (directory | reparse_point).
    Node& add_symlink_dir(std::u16string_view path, const NodeOptions& options = {});
    // Adds or replaces a named stream of an existing file or directory.
    void add_stream(std::u16string_view path, std::u16string_view stream_name,
                    std::string_view content);
    // Removes a file or a whole directory; false when missing.
    bool remove(std::u16string_view path);
    // The node of a path (with or without the long prefix); null when
    // missing. A stream path gives its file's node.
    Node* node(std::u16string_view path);
    // The content of a file or stream; nothing when missing.
    std::optional<std::string> contents(std::u16string_view path);
    // Sets interrupted() after n more find_first calls (0: at once).
    void interrupt_after_finds(std::size_t n);
    static FileTicks seconds_to_ticks(std::int64_t seconds);

    // ----- settings and records the tests read and write -----
    std::size_t find_first_calls = 0;
    // As on Windows, a search delivers no precise facts: each is asked.
    std::size_t precise_facts_calls = 0;
    std::vector<std::u16string> find_patterns;  // every find_first pattern, in order
    std::vector<ReadOpen> read_opens;           // every open_read, in order
    // Opening a file's main data for reading sets its access time to now,
    // as a file system that records access does.
    bool reads_touch_access = false;

    std::string out_text;  // what went to standard output
    std::string err_text;  // what went to standard error
    bool out_is_terminal = false;
    bool err_is_terminal = false;
    bool in_is_terminal = false;
    std::size_t out_flushes = 0;
    std::size_t err_flushes = 0;
    // Writes to the stream fail from then on (a full disk, a closed pipe).
    bool out_fails = false;
    bool err_fails = false;

    bool security_privilege = true;  // enable_security_privilege's answer
    bool backup_privileges = true;   // enable_backup_privileges' answer
    int security_privilege_requests = 0;
    int backup_privilege_requests = 0;

    std::u16string cwd = u"C:\\work";  // empty: current_directory gives nothing
    std::u16string executable = u"C:\\TOOLS\\FILARIX64.EXE";
    std::vector<std::u16string> search_dirs;  // search_path looks here, in order
    std::optional<std::u16string> computer = std::u16string(u"EXAMINER-PC");
    std::map<std::u16string, std::u16string, NoCaseLess> env;

    std::vector<ShellCall> shell_calls;
    std::vector<SpawnCall> spawn_calls;
    int shell_result = 0;
    int spawn_result = 0;
    // When set, called instead of returning shell_result / spawn_result.
    std::function<int(const ShellCall&)> on_shell;
    std::function<int(const SpawnCall&)> on_spawn;

    std::optional<std::u16string> chosen_file;  // choose_file's answer
    std::vector<platform::DialogKind> dialogs;  // every choose_file, in order

    std::deque<int> keys;                 // read_key pops; -1 when empty
    std::deque<std::string> input_lines;  // read_line pops; false when empty
    int rows = 0;                         // console_rows
    bool interrupt_requested = false;     // interrupted()
    bool interrupt_handler_installed = false;
    std::uint64_t slept_ms = 0;  // sleep_ms adds here

    std::int64_t now = 1705246936;  // 2024-01-14 15:42:16 UTC
    // Local time is UTC - offset_seconds; daylight time is never applied.
    platform::ZoneInfo zone_info{"Eastern Standard Time", "", 18000, false};

    // ----- platform::System -----
    const platform::PathSyntax& syntax() const override;
    std::unique_ptr<platform::DirSearch> find_first(std::u16string_view pattern,
                                                    platform::FindData& first,
                                                    platform::SearchDetail detail) override;
    bool last_search_refused() override { return search_refused_; }
    std::optional<platform::PreciseFacts> precise_facts(std::u16string_view path,
                                                        const platform::FindData& found) override;
    std::optional<std::uint32_t> get_attributes(std::u16string_view path) override;
    bool set_attributes(std::u16string_view path, std::uint32_t attributes) override;
    bool get_times(std::u16string_view path, FileTicks& creation, FileTicks& access,
                   FileTicks& write) override;
    // A zero time leaves that time unchanged, as on Windows.
    bool set_times(std::u16string_view path, FileTicks creation, FileTicks access,
                   FileTicks write) override;
    bool is_directory(std::u16string_view path) override;
    bool exists(std::u16string_view path) override;

    std::unique_ptr<platform::InputFile> open_read(std::u16string_view path,
                                                   bool fallback_route) override;
    // A reparse point is refused, as a link is by a real backend.
    std::unique_ptr<platform::InputFile> open_entry(std::u16string_view path,
                                                    bool fallback_route) override;
    // Where read_when_prepared, a file made ready to open is read whole at
    // once, as a walk that reads small files as it lists them hands them over.
    std::unique_ptr<platform::PendingOpen> prepare_entry_open(std::u16string_view path) override;
    bool read_when_prepared = false;
    // The tree's reparse points have no target to tell.
    std::optional<std::u16string> link_target(std::u16string_view) override { return std::nullopt; }
    std::unique_ptr<platform::UpdateFile> open_update(std::u16string_view path,
                                                      bool create) override;
    platform::StreamListing named_streams(std::u16string_view path) override;

    std::unique_ptr<platform::Sink> open_text(std::u16string_view path,
                                              platform::OpenMode mode) override;
    platform::Sink& standard_output() override;
    platform::Sink& standard_error() override;
    bool create_directory(std::u16string_view path) override;
    bool delete_file(std::u16string_view path) override;
    // Moves a file node, replacing a file of the target name.
    bool rename_file(std::u16string_view from, std::u16string_view to) override;

    std::optional<platform::VolumeInfo> volume_info(std::u16string_view root) override;
    std::optional<std::uint64_t> free_space(std::u16string_view root) override;
    std::uint32_t last_access_setting(std::u16string_view first_start_path) override;

    bool enable_security_privilege() override;
    bool enable_backup_privileges() override;
    platform::OwnerLookup owner_of(std::u16string_view path) override;

    std::optional<std::u16string> full_path(std::u16string_view path) override;
    std::u16string executable_path() override { return executable; }
    std::optional<std::u16string> current_directory() override;
    std::optional<std::u16string> search_path(std::u16string_view name,
                                              std::u16string_view extension) override;
    std::optional<std::u16string> computer_name() override { return computer; }
    std::optional<std::u16string> get_env(std::u16string_view name) override;
    int run_shell(const std::vector<std::u16string>& parts) override;
    int spawn(std::u16string_view program, const std::vector<std::u16string>& args) override;
    std::optional<std::u16string> choose_file(platform::DialogKind kind) override;

    bool key_waiting() override { return !keys.empty(); }
    bool input_is_terminal() override { return in_is_terminal; }
    int read_key() override;
    bool read_line(std::string& line) override;
    int console_rows() override { return rows; }
    bool interrupted() override { return interrupt_requested; }
    void install_interrupt_handler() override { interrupt_handler_installed = true; }
    void sleep_ms(unsigned milliseconds) override { slept_ms += milliseconds; }

    std::int64_t now_seconds() override { return now; }
    platform::ZoneInfo zone() override { return zone_info; }
    std::optional<platform::CivilTime> to_utc(FileTicks ticks) override;
    std::optional<platform::CivilTime> to_local(FileTicks ticks) override;
    std::optional<platform::CivilTime> local_calendar(std::int64_t seconds) override;
    std::optional<std::int64_t> make_local(const platform::CivilTime& when) override;

    std::string narrow(std::u16string_view text) override;
    std::u16string wide(std::string_view text) override;

private:
    struct Location;
    struct Found;

    std::optional<std::u16string> absolute(std::u16string_view path) const;
    std::optional<Location> locate(std::u16string_view path) const;
    Found find(std::u16string_view path);
    // The content a write may go to, creating the file or stream when
    // asked; file is the file node when the main data was opened.
    std::shared_ptr<Content> writable(std::u16string_view path, bool create, Node*& file);
    Node& make_node(std::u16string_view path, bool is_dir, const NodeOptions& options);
    std::shared_ptr<Node> new_node(std::u16string_view name, bool is_dir,
                                   const NodeOptions& options) const;
    FileTicks now_ticks() const;

    std::map<std::u16string, Volume> volumes_;  // keyed by the upper-cased root
    std::size_t interrupt_countdown_ = 0;
    bool search_refused_ = false;
    std::unique_ptr<platform::Sink> out_sink_;
    std::unique_ptr<platform::Sink> err_sink_;
};

}  // namespace testing_support
