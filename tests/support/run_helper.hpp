// Runs the whole program in-process on the memory platform and splits what
// it printed into the listing and the summary.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "core/run.hpp"
#include "memory_platform.hpp"

namespace testing_support {

using namespace filarix;

struct RunResult {
    int code = -1;
    std::string out;  // standard output
    std::string err;  // standard error
};

RunResult run_in_memory(MemoryPlatform& mp, std::vector<std::u16string> args,
                        const std::function<void(Run&)>& adjust = {});
// The same through another platform that wraps the memory one (a faulty
// platform, say); the texts are still the memory platform's.
RunResult run_in_memory(MemoryPlatform& mp, platform::System& through,
                        std::vector<std::u16string> args,
                        const std::function<void(Run&)>& adjust = {});

std::vector<std::string> split_lines(const std::string& text);
// The record lines of a listing: the non-empty lines before the totals.
std::vector<std::string> listing_lines(const std::string& text);
// The record lines of a listing file: the listing lines after the start
// banner and the column header line.
std::vector<std::string> file_records(const std::string& text);
// The default record layout: path (54), size, attributes, write time, zone.
std::string default_record(const std::string& path, long long size, const std::string& attributes,
                           const std::string& date_time, const std::string& zone = "EST");

}  // namespace testing_support
