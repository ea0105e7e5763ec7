// One parse of a command line on a fresh run, as the driver starts it, with
// what it printed and how it ended; and small texts for comparing lists.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "core/run.hpp"
#include "memory_platform.hpp"

namespace testing_support {

using namespace filarix;

using Args = std::vector<std::u16string>;
using Prepare = std::function<void(MemoryPlatform&, filarix::Run&)>;

std::string text_of(std::u16string_view text);
// Every item followed by "|".
std::string joined(const std::vector<std::u16string>& list);

struct Parse {
    MemoryPlatform mp;
    std::unique_ptr<filarix::Run> run;
    int code = -1;  // -1: the parse went through
    bool process_exit = false;
    std::string out;
    std::string err;
    // As the driver does: each action a source asks for is performed at
    // once. Off, the sources only list them.
    bool perform_actions = false;

    // The arguments follow the program's own path; `prepare` runs on the
    // fresh run before the settings sources.
    void go(const Args& args, const Prepare& prepare = {});
};

// The pauses the sources asked for, added up: a source on its own only
// lists them, it never sleeps.
std::uint64_t paused_ms(const filarix::Run& run);

// The settings record after a parse of no arguments at all.
RunSettings parsed_defaults();
// One line per switch, count or code that differs ("field 12: got 1, want
// 0"); empty when the two records agree.
std::string flag_differences(const SettingFlags& got, const SettingFlags& want);

}  // namespace testing_support
