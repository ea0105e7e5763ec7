// A System that hands every call to another one. Wrappers (fault
// injection, tracing) derive from it and override only the calls they
// change, so a method added to a facility needs one forwarder here rather
// than one in every wrapper.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/platform.hpp"

namespace platform {

class ForwardingSystem : public System {
public:
    explicit ForwardingSystem(System& inner) : inner_(inner) {}
    ForwardingSystem(const ForwardingSystem&) = delete;
    ForwardingSystem& operator=(const ForwardingSystem&) = delete;

    // The system the calls go to.
    System& inner() const { return inner_; }

    // ----- FileSystem -----
    const PathSyntax& syntax() const override { return inner_.syntax(); }
    std::unique_ptr<DirSearch> find_first(std::u16string_view pattern, FindData& first,
                                          SearchDetail detail) override {
        return inner_.find_first(pattern, first, detail);
    }
    std::unique_ptr<DirHandle> open_directory(std::u16string_view path) override {
        return inner_.open_directory(path);
    }
    std::unique_ptr<DirHandle> open_subdirectory(DirHandle& parent,
                                                 std::u16string_view name) override {
        return inner_.open_subdirectory(parent, name);
    }
    void pass_by_subdirectory(DirHandle& parent, std::u16string_view name) override {
        inner_.pass_by_subdirectory(parent, name);
    }
    std::optional<std::uint64_t> directory_file_system(DirHandle& directory,
                                                       std::u16string_view path) override {
        return inner_.directory_file_system(directory, path);
    }
    std::unique_ptr<DirSearch> search_directory(DirHandle& directory, std::u16string_view path,
                                                std::u16string_view mask, FindData& first,
                                                SearchDetail detail) override {
        return inner_.search_directory(directory, path, mask, first, detail);
    }
    bool last_search_refused() override { return inner_.last_search_refused(); }
    std::optional<PreciseFacts> precise_facts(std::u16string_view path,
                                              const FindData& found) override {
        return inner_.precise_facts(path, found);
    }
    std::optional<std::uint32_t> get_attributes(std::u16string_view path) override {
        return inner_.get_attributes(path);
    }
    bool set_attributes(std::u16string_view path, std::uint32_t attributes) override {
        return inner_.set_attributes(path, attributes);
    }
    bool get_times(std::u16string_view path, FileTicks& creation, FileTicks& access,
                   FileTicks& write) override {
        return inner_.get_times(path, creation, access, write);
    }
    bool set_times(std::u16string_view path, FileTicks creation, FileTicks access,
                   FileTicks write) override {
        return inner_.set_times(path, creation, access, write);
    }
    bool is_directory(std::u16string_view path) override { return inner_.is_directory(path); }
    bool exists(std::u16string_view path) override { return inner_.exists(path); }
    std::unique_ptr<InputFile> open_read(std::u16string_view path, bool fallback_route) override {
        return inner_.open_read(path, fallback_route);
    }
    std::unique_ptr<InputFile> open_entry(std::u16string_view path, bool fallback_route) override {
        return inner_.open_entry(path, fallback_route);
    }
    std::optional<std::u16string> link_target(std::u16string_view path) override {
        return inner_.link_target(path);
    }
    std::unique_ptr<UpdateFile> open_update(std::u16string_view path, bool create) override {
        return inner_.open_update(path, create);
    }
    StreamListing named_streams(std::u16string_view path) override {
        return inner_.named_streams(path);
    }
    std::unique_ptr<Sink> open_text(std::u16string_view path, OpenMode mode) override {
        return inner_.open_text(path, mode);
    }
    Sink& standard_output() override { return inner_.standard_output(); }
    Sink& standard_error() override { return inner_.standard_error(); }
    bool create_directory(std::u16string_view path) override {
        return inner_.create_directory(path);
    }
    bool delete_file(std::u16string_view path) override { return inner_.delete_file(path); }
    bool rename_file(std::u16string_view from, std::u16string_view to) override {
        return inner_.rename_file(from, to);
    }

    // ----- Volumes -----
    std::optional<VolumeInfo> volume_info(std::u16string_view root) override {
        return inner_.volume_info(root);
    }
    std::optional<std::uint64_t> free_space(std::u16string_view root) override {
        return inner_.free_space(root);
    }
    std::uint32_t last_access_setting(std::u16string_view first_start_path) override {
        return inner_.last_access_setting(first_start_path);
    }
    bool enable_security_privilege() override { return inner_.enable_security_privilege(); }
    bool enable_backup_privileges() override { return inner_.enable_backup_privileges(); }
    OwnerLookup owner_of(std::u16string_view path) override { return inner_.owner_of(path); }

    // ----- Processes -----
    std::optional<std::u16string> full_path(std::u16string_view path) override {
        return inner_.full_path(path);
    }
    std::u16string executable_path() override { return inner_.executable_path(); }
    std::optional<std::u16string> current_directory() override {
        return inner_.current_directory();
    }
    std::optional<std::u16string> search_path(std::u16string_view name,
                                              std::u16string_view extension) override {
        return inner_.search_path(name, extension);
    }
    std::optional<std::u16string> computer_name() override { return inner_.computer_name(); }
    std::unique_ptr<SharedLibrary> load_library(std::string_view name) override {
        return inner_.load_library(name);
    }
    std::optional<std::u16string> get_env(std::u16string_view name) override {
        return inner_.get_env(name);
    }
    int run_shell(const std::vector<std::u16string>& parts) override {
        return inner_.run_shell(parts);
    }
    int spawn(std::u16string_view program, const std::vector<std::u16string>& args) override {
        return inner_.spawn(program, args);
    }
    std::optional<std::u16string> choose_file(DialogKind kind) override {
        return inner_.choose_file(kind);
    }

    // ----- Console -----
    bool key_waiting() override { return inner_.key_waiting(); }
    int read_key() override { return inner_.read_key(); }
    bool input_is_terminal() override { return inner_.input_is_terminal(); }
    bool read_line(std::string& line) override { return inner_.read_line(line); }
    int console_rows() override { return inner_.console_rows(); }
    bool interrupted() override { return inner_.interrupted(); }
    void install_interrupt_handler() override { inner_.install_interrupt_handler(); }
    void sleep_ms(unsigned milliseconds) override { inner_.sleep_ms(milliseconds); }

    // ----- Clock -----
    std::int64_t now_seconds() override { return inner_.now_seconds(); }
    std::int64_t now_milliseconds() override { return inner_.now_milliseconds(); }
    ZoneInfo zone() override { return inner_.zone(); }
    std::optional<CivilTime> to_utc(FileTicks ticks) override { return inner_.to_utc(ticks); }
    std::optional<CivilTime> to_local(FileTicks ticks) override { return inner_.to_local(ticks); }
    std::optional<CivilTime> local_calendar(std::int64_t seconds) override {
        return inner_.local_calendar(seconds);
    }
    std::optional<std::int64_t> make_local(const CivilTime& when) override {
        return inner_.make_local(when);
    }

    // ----- Text -----
    std::string narrow(std::u16string_view text) override { return inner_.narrow(text); }
    bool narrow_is_utf8() override { return inner_.narrow_is_utf8(); }
    bool text_lines_crlf() override { return inner_.text_lines_crlf(); }
    std::u16string wide(std::string_view text) override { return inner_.wide(text); }

private:
    System& inner_;
};

}  // namespace platform
