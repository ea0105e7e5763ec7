#include "options/output_names.hpp"

void expand_output_mask(Run&) {}

std::u16string automatic_log_name(Run& run) {
    const auto full = run.sys.full_path(run.output_name);
    std::u16string name = full ? *full : run.output_name;
    const std::size_t sep = name.find_last_of(run.syntax.separator);
    const std::size_t dot = name.rfind(u'.');
    if (dot != std::u16string::npos && (sep == std::u16string::npos || dot > sep)) name.resize(dot);
    return name + u".log";
}
