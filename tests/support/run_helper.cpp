#include "run_helper.hpp"

#include <cstdio>

#include "driver/driver.hpp"

namespace testing_support {

RunResult run_in_memory(MemoryPlatform& mp, std::vector<std::u16string> args,
                        const std::function<void(Run&)>& adjust) {
    return run_in_memory(mp, mp, std::move(args), adjust);
}

RunResult run_in_memory(MemoryPlatform& mp, platform::System& through,
                        std::vector<std::u16string> args, const std::function<void(Run&)>& adjust) {
    mp.out_text.clear();
    mp.err_text.clear();
    RunResult result;
    {
        Run run(through);
        run.args = std::move(args);
        result.code = run_driver(run, adjust);
    }
    result.out = mp.out_text;
    result.err = mp.err_text;
    return result;
}

std::vector<std::string> split_lines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start <= text.size()) {
        const std::size_t end = text.find('\n', start);
        if (end == std::string::npos) {
            if (start < text.size()) lines.push_back(text.substr(start));
            break;
        }
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

std::vector<std::string> listing_lines(const std::string& text) {
    std::vector<std::string> records;
    for (const auto& line : split_lines(text)) {
        if (line.find(" director") != std::string::npos && line.rfind("  ", 0) == 0) break;
        if (!line.empty()) records.push_back(line);
    }
    return records;
}

std::vector<std::string> file_records(const std::string& text) {
    std::vector<std::string> lines = listing_lines(text);
    std::size_t skip = 0;
    while (skip < lines.size() &&
           (lines[skip].rfind("Started ", 0) == 0 || lines[skip].rfind("COMMAND LINE:", 0) == 0))
        ++skip;
    if (skip < lines.size()) {
        const std::string& header = lines[skip];
        if (header.rfind("  PATH", 0) == 0 || header.rfind("  NAME", 0) == 0 ||
            header.rfind("  COMMENT", 0) == 0)
            ++skip;
    }
    lines.erase(lines.begin(), lines.begin() + static_cast<std::ptrdiff_t>(skip));
    return lines;
}

std::string default_record(const std::string& path, long long size, const std::string& attributes,
                           const std::string& date_time, const std::string& zone) {
    char text[512];
    std::snprintf(text, sizeof text, "%-54.54s  %20lld %s. %sw %s ", path.c_str(), size,
                  attributes.c_str(), date_time.c_str(), zone.c_str());
    return text;
}

}  // namespace testing_support
