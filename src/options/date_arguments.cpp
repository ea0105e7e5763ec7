#include "options/date_arguments.hpp"

DateValue read_date(std::string_view) { return {}; }
int age_in_days(Run&, std::string_view) { return 0; }
std::u16string compact_date(std::u16string_view value) { return std::u16string(value); }
void read_age_value(Run&, std::u16string_view, AgeSide, AgeSource) {}
void timed_pause(Run& run, int seconds) {
    run.std_out.flush();
    run.std_err.flush();
    run.sys.sleep_ms(static_cast<unsigned>(seconds) * 1000u);
}
