// A platform that forwards to another one and makes chosen calls fail, so
// that tests can show what a failing disk or a vanished file leads to.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/platform.hpp"

namespace testing_support {

class FaultyPlatform : public platform::System {
public:
    // The calls that can be made to fail, and what failing means:
    enum class Kind : std::size_t {
        open_read,       // open_read gives null
        read,            // InputFile::read (also on update files) gives -1
        open_update,     // open_update gives null
        update_write,    // UpdateFile::write gives false
        open_text,       // open_text gives null
        write,           // Sink::write gives false, standard streams included
        flush,           // Sink::flush gives false
        close,           // Sink::close gives false
        find_first,      // find_first gives null
        find_next,       // DirSearch::next gives false, ending the search
        get_times,       // get_times gives false
        set_times,       // set_times gives false
        set_attributes,  // set_attributes gives false
        count_
    };

    explicit FaultyPlatform(platform::System& inner);
    ~FaultyPlatform() override;
    FaultyPlatform(const FaultyPlatform&) = delete;
    FaultyPlatform& operator=(const FaultyPlatform&) = delete;

    // Makes the nth call of a kind from now on fail (1, or 0: the very next one);
    // persistent: that call and every later one. Replaces an earlier rule
    // for the same kind.
    void fail(Kind kind, std::size_t nth = 1, bool persistent = false);
    void heal(Kind kind);
    void heal_all();
    // Calls of a kind since construction, failed ones included.
    std::size_t calls(Kind kind) const;
    // Calls of a kind that were made to fail.
    std::size_t failures(Kind kind) const;
    platform::System& inner() { return inner_; }

    // Counts one call of a kind; true when it must fail. Used by the
    // wrapped files, sinks and searches.
    bool should_fail(Kind kind);

    // ----- platform::System, forwarded -----
    const platform::PathSyntax& syntax() const override { return inner_.syntax(); }
    std::unique_ptr<platform::DirSearch> find_first(std::u16string_view pattern,
                                                    platform::FindData& first,
                                                    platform::SearchDetail detail) override;
    std::optional<std::uint32_t> get_attributes(std::u16string_view path) override {
        return inner_.get_attributes(path);
    }
    bool set_attributes(std::u16string_view path, std::uint32_t attributes) override;
    bool get_times(std::u16string_view path, platform::FileTicks& creation,
                   platform::FileTicks& access, platform::FileTicks& write) override;
    bool set_times(std::u16string_view path, platform::FileTicks creation,
                   platform::FileTicks access, platform::FileTicks write) override;
    bool is_directory(std::u16string_view path) override { return inner_.is_directory(path); }
    bool exists(std::u16string_view path) override { return inner_.exists(path); }

    std::unique_ptr<platform::InputFile> open_read(std::u16string_view path,
                                                   bool fallback_route) override;
    std::unique_ptr<platform::UpdateFile> open_update(std::u16string_view path,
                                                      bool create) override;
    std::vector<platform::NamedStream> named_streams(std::u16string_view path,
                                                     bool& opened) override {
        return inner_.named_streams(path, opened);
    }
    void set_file_apis_ansi() override { inner_.set_file_apis_ansi(); }
    void set_file_apis_oem() override { inner_.set_file_apis_oem(); }
    bool file_apis_ansi() override { return inner_.file_apis_ansi(); }

    std::unique_ptr<platform::Sink> open_text(std::u16string_view path,
                                              platform::OpenMode mode) override;
    platform::Sink& standard_output() override;
    platform::Sink& standard_error() override;
    bool create_directory(std::u16string_view path) override {
        return inner_.create_directory(path);
    }
    bool delete_file(std::u16string_view path) override { return inner_.delete_file(path); }

    std::optional<platform::VolumeInfo> volume_info(std::u16string_view root) override {
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
    platform::OwnerLookup owner_of(std::u16string_view path) override {
        return inner_.owner_of(path);
    }

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
    std::optional<std::u16string> get_env(std::u16string_view name) override {
        return inner_.get_env(name);
    }
    int run_shell(std::u16string_view before, std::u16string_view file_argument,
                  std::u16string_view after) override {
        return inner_.run_shell(before, file_argument, after);
    }
    int spawn(std::u16string_view program, const std::vector<std::u16string>& args) override {
        return inner_.spawn(program, args);
    }
    std::optional<std::u16string> choose_file(platform::DialogKind kind) override {
        return inner_.choose_file(kind);
    }

    bool key_waiting() override { return inner_.key_waiting(); }
    int read_key() override { return inner_.read_key(); }
    bool read_line(std::string& line) override { return inner_.read_line(line); }
    int console_rows() override { return inner_.console_rows(); }
    bool interrupted() override { return inner_.interrupted(); }
    void install_interrupt_handler() override { inner_.install_interrupt_handler(); }
    void sleep_ms(unsigned milliseconds) override { inner_.sleep_ms(milliseconds); }

    std::int64_t now_seconds() override { return inner_.now_seconds(); }
    platform::ZoneInfo zone() override { return inner_.zone(); }
    std::optional<platform::CivilTime> to_utc(platform::FileTicks ticks) override {
        return inner_.to_utc(ticks);
    }
    std::optional<platform::CivilTime> to_local(platform::FileTicks ticks) override {
        return inner_.to_local(ticks);
    }
    std::optional<platform::CivilTime> local_calendar(std::int64_t seconds) override {
        return inner_.local_calendar(seconds);
    }
    std::optional<std::int64_t> make_local(const platform::CivilTime& when) override {
        return inner_.make_local(when);
    }

    std::string narrow(std::u16string_view text) override { return inner_.narrow(text); }
    std::u16string wide(std::string_view text) override { return inner_.wide(text); }

private:
    static constexpr std::size_t kinds = static_cast<std::size_t>(Kind::count_);
    struct Rule {
        bool armed = false;
        std::size_t countdown = 0;  // calls until the failing one, that one included
        bool persistent = false;
    };

    platform::System& inner_;
    std::array<Rule, kinds> rules_{};
    std::array<std::size_t, kinds> calls_{};
    std::array<std::size_t, kinds> failures_{};
    std::unique_ptr<platform::Sink> out_;
    std::unique_ptr<platform::Sink> err_;
};

}  // namespace testing_support
