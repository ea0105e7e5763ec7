// A platform that forwards to another one and makes chosen calls fail, so
// that tests can show what a failing disk or a vanished file leads to.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>

#include "platform/forwarding_system.hpp"
#include "platform/platform.hpp"

namespace testing_support {

class FaultyPlatform : public platform::ForwardingSystem {
public:
    // The calls that can be made to fail, and what failing means:
    enum class Kind : std::size_t {
        open_read,       // open_read or open_entry gives null
        read,            // InputFile::read (also on update files) gives -1
        seek,            // InputFile::seek (also on update files) gives false
        open_update,     // open_update gives null
        update_write,    // UpdateFile::write gives false
        open_text,       // open_text gives null
        write,           // Sink::write gives false, standard streams included
        flush,           // Sink::flush gives false
        close,           // Sink::close gives false
        find_first,      // find_first gives null, as for a directory that refuses to be read
        find_next,       // DirSearch::next gives false, ending the search
        get_times,       // get_times gives false
        set_times,       // set_times gives false
        set_attributes,  // set_attributes gives false
        rename_file,     // rename_file gives false
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

    // Counts one call of a kind; true when it must fail. Used by the
    // wrapped files, sinks and searches.
    bool should_fail(Kind kind);

    // ----- the calls that can fail; the rest go through unchanged -----
    std::unique_ptr<platform::DirSearch> find_first(std::u16string_view pattern,
                                                    platform::FindData& first,
                                                    platform::SearchDetail detail) override;
    // A search within an open directory fails as find_first does.
    std::unique_ptr<platform::DirSearch> search_directory(platform::DirHandle& directory,
                                                          std::u16string_view path,
                                                          std::u16string_view mask,
                                                          platform::FindData& first,
                                                          platform::SearchDetail detail) override;
    std::unique_ptr<platform::DirHandle> open_directory(std::u16string_view path) override;
    std::unique_ptr<platform::DirHandle> open_subdirectory(platform::DirHandle& parent,
                                                           std::u16string_view name) override;
    bool last_search_refused() override;
    bool set_attributes(std::u16string_view path, std::uint32_t attributes) override;
    bool rename_file(std::u16string_view from, std::u16string_view to) override;
    bool get_times(std::u16string_view path, platform::FileTicks& creation,
                   platform::FileTicks& access, platform::FileTicks& write) override;
    bool set_times(std::u16string_view path, platform::FileTicks creation,
                   platform::FileTicks access, platform::FileTicks write) override;
    std::unique_ptr<platform::InputFile> open_read(std::u16string_view path,
                                                   bool fallback_route) override;
    std::unique_ptr<platform::InputFile> open_entry(std::u16string_view path,
                                                    bool fallback_route) override;
    std::unique_ptr<platform::UpdateFile> open_update(std::u16string_view path,
                                                      bool create) override;
    std::unique_ptr<platform::Sink> open_text(std::u16string_view path,
                                              platform::OpenMode mode) override;
    platform::Sink& standard_output() override;
    platform::Sink& standard_error() override;

private:
    static constexpr std::size_t kinds = static_cast<std::size_t>(Kind::count_);
    struct Rule {
        bool armed = false;
        std::size_t countdown = 0;  // calls until the failing one, that one included
        bool persistent = false;
    };

    std::array<Rule, kinds> rules_{};
    std::array<std::size_t, kinds> calls_{};
    std::array<std::size_t, kinds> failures_{};
    std::unique_ptr<platform::Sink> out_;
    std::unique_ptr<platform::Sink> err_;
    bool refused_ = false;  // the last search was made to fail
};

}  // namespace testing_support
