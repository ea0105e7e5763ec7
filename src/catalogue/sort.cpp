#include "catalogue/sort.hpp"

#include <algorithm>
#include <array>
#include <cstring>
#include <limits>
#include <memory>
#include <new>
#include <system_error>
#include <thread>
#include <utility>

namespace filarix {

namespace {

constexpr std::size_t none = std::numeric_limits<std::size_t>::max();
constexpr std::uint32_t far_away = std::numeric_limits<std::uint32_t>::max();

const ColumnPlace* place_of(const std::vector<ColumnPlace>& places, Column c) {
    for (const ColumnPlace& p : places)
        if (p.id == c) return &p;
    return nullptr;
}

// Characters from the start of the attributes column to the start of a
// later column; -1 when the record has no such column at a fixed distance.
int offset_from_attributes(const std::vector<ColumnPlace>& places, Column c) {
    int offset = 0;
    bool counting = false;
    for (const ColumnPlace& p : places) {
        if (p.id == Column::attributes) counting = true;
        if (!counting) continue;
        if (p.id == c) return offset;
        if (p.varies) return -1;
        offset += p.width;
    }
    return -1;
}

bool is_time_column(Column c) {
    return column_spec(c).type == FieldType::time;
}

// The compare steps of one key letter: every step carries the key's own
// direction, so a later key never changes how an earlier one sorts.
void add_key_steps(const Run& run, const std::vector<ColumnPlace>& places, int key, int direction,
                   std::vector<SortStep>& steps) {
    const RunSettings& s = run.s;
    const auto text = [&](int offset, int length, int dir) {
        if (offset >= 0) steps.push_back({SortField::after_size, offset, length, dir});
    };
    // The first time column of the record holds the date the date keys read.
    int time_at = -1;
    for (const ColumnPlace& p : places)
        if (is_time_column(p.id)) {
            time_at = offset_from_attributes(places, p.id);
            break;
        }
    const bool year_first = s.REVERSE != 0;
    const int month = time_at < 0 ? -1 : time_at + (year_first ? 5 : 0);
    const int day = time_at < 0 ? -1 : time_at + (year_first ? 8 : 3);
    const int year = time_at < 0 ? -1 : time_at + (year_first ? 0 : 6);
    const int clock = time_at < 0 ? -1 : time_at + 11;
    const int clock_length = s.time_type == '3' || s.seconds ? 12 : 5;

    const bool has_size = place_of(places, Column::size) != nullptr;
    switch (key >= 'A' && key <= 'Z' ? key - 'A' + 'a' : key) {
        case 'c': {
            const int crc = offset_from_attributes(places, digest_column(DigestId::crc));
            text(crc < 0 ? -1 : crc + 1, 10, direction);
            break;
        }
        // Date keys sort the latest first when given in lower case.
        case 'd':
            text(day, 2, -direction);
            break;
        case 'm':
            text(month, 2, -direction);
            text(day, 2, -direction);
            break;
        case 'y':
            text(year, 4, -direction);
            text(month, 2, -direction);
            text(day, 2, -direction);
            text(clock, clock_length, -direction);
            break;
        case 'h':
            text(clock, 5, direction);
            break;
        case 's':
            if (has_size) steps.push_back({SortField::size, 0, 0, direction});
            steps.push_back({SortField::path, 0, 0, direction});
            break;
        default:
            steps.push_back({SortField::path, 0, 0, direction});
            break;
    }
}

// The same keys over a row's fields. Its times read "YYYY-MM-DDTHH:MM:SS.mmm".
void add_table_steps(const std::vector<Field>& fields, int key, int direction,
                     std::vector<SortStep>& steps) {
    const auto has = [&](Field f) {
        for (Field k : fields)
            if (k == f) return true;
        return false;
    };
    Field time = Field::path;
    for (Field f : fields)
        if (field_type(f) == FieldType::time) {
            time = f;
            break;
        }
    const auto text = [&](Field f, int offset, int length, int dir) {
        steps.push_back({SortField::table_text, offset, length, dir, f});
    };
    const bool timed = time != Field::path;
    switch (key >= 'A' && key <= 'Z' ? key - 'A' + 'a' : key) {
        case 'c':
            if (has(digest_field(DigestId::crc)))
                text(digest_field(DigestId::crc), 0, 8, direction);
            break;
        case 'd':
            if (timed) text(time, 8, 2, -direction);
            break;
        case 'm':
            if (timed) {
                text(time, 5, 2, -direction);
                text(time, 8, 2, -direction);
            }
            break;
        case 'y':
            if (timed) {
                text(time, 0, 4, -direction);
                text(time, 5, 2, -direction);
                text(time, 8, 2, -direction);
                text(time, 11, 12, -direction);
            }
            break;
        case 'h':
            if (timed) text(time, 11, 5, direction);
            break;
        case 's':
            if (has(Field::size))
                steps.push_back({SortField::table_number, 0, 0, direction, Field::size});
            steps.push_back({SortField::table_text, 0, 1 << 30, direction, Field::path});
            break;
        default:
            steps.push_back({SortField::table_text, 0, 1 << 30, direction, Field::path});
            break;
    }
}

// ----- lines and their fields -----

struct Line {
    const char* data;
    std::size_t size;  // without the line end
    std::uint32_t path_end;
    std::uint32_t attributes_start;
    std::uint8_t end_bytes;  // 0 (the file's last line without one), 1 or 2 (CR LF)
};

std::uint32_t clip32(std::size_t v) {
    return v > far_away ? far_away : static_cast<std::uint32_t>(v);
}

bool is_digit(char c) {
    return c >= '0' && c <= '9';
}

// "A.....". and the delimiter: the attribute letters each in their place.
bool attributes_at(const char* p, std::size_t room, char delimiter) {
    static constexpr char letters[] = "AHRSDE";
    if (room < 8) return false;
    for (int i = 0; i < 6; ++i)
        if (p[i] != letters[i] && p[i] != '.') return false;
    return p[6] == '.' && p[7] == delimiter;
}

// Where the path ends and the attributes column starts in this line. In a
// variable-width record the path may hold the delimiter itself, so the
// fields are not counted by delimiters: the path ends at the first
// delimiter that is followed by the size digits, a delimiter and the
// attribute column, whose shape no other field has.
void locate_fields(const SortLayout& layout, Line& line) {
    const std::size_t n = line.size;
    if (layout.table) return;  // a row's fields are read as they are compared
    if (!layout.variable) {
        line.path_end = clip32(std::min(layout.path_start + layout.path_width, n));
        line.attributes_start = clip32(layout.attributes_start);
        return;
    }
    const char d = layout.delimiter;
    const char* text = line.data;
    std::size_t last_delimiter = none;
    for (std::size_t at = layout.path_start; at < n;) {
        const void* hit = std::memchr(text + at, d, n - at);
        if (!hit) break;
        const std::size_t p = static_cast<std::size_t>(static_cast<const char*>(hit) - text);
        last_delimiter = p;
        std::size_t q = p + 1;
        while (q < n && is_digit(text[q])) ++q;
        if (q > p + 1 && q < n && text[q] == d && attributes_at(text + q + 1, n - q - 1, d)) {
            line.path_end = clip32(p);
            line.attributes_start = clip32(q + 1);
            return;
        }
        at = p + 1;
    }
    // A record without size and attributes: the path runs to its delimiter.
    line.path_end = clip32(last_delimiter != none ? last_delimiter : n);
    line.attributes_start = clip32(n);
}

// Where the record that starts at `from` ends: its line feed, or none yet.
// A CSV line feed inside quotes belongs to a field.
std::size_t record_end(const SortLayout& layout, const char* data, std::size_t from,
                       std::size_t fill) {
    if (layout.table != table_csv) {
        const void* hit = std::memchr(data + from, '\n', fill - from);
        return hit ? static_cast<std::size_t>(static_cast<const char*>(hit) - data) : none;
    }
    bool quoted = false;
    for (std::size_t i = from; i < fill; ++i) {
        if (data[i] == '"')
            quoted = !quoted;
        else if (data[i] == '\n' && !quoted)
            return i;
    }
    return none;
}

// The raw text of a CSV field (its quotes taken off, doubled quotes left
// as they are, which orders them as the quote itself would).
std::string_view csv_field(std::string_view row, std::size_t index) {
    std::size_t at = 0;
    for (std::size_t k = 0;; ++k) {
        std::size_t end = at;
        bool quoted = false;
        while (end < row.size() && (quoted || row[end] != ',')) {
            if (row[end] == '"') quoted = !quoted;
            ++end;
        }
        if (k == index) {
            std::string_view field = row.substr(at, end - at);
            if (field.size() >= 2 && field.front() == '"' && field.back() == '"')
                field = field.substr(1, field.size() - 2);
            return field;
        }
        if (end >= row.size()) return {};
        at = end + 1;
    }
}

// The text of a JSON Lines field: a string's escaped contents or a number.
std::string_view json_field(std::string_view row, std::string_view key) {
    // A string starting at `at` (its opening quote): where it ends, past its close.
    const auto string_end = [&](std::size_t at) {
        for (std::size_t i = at + 1; i < row.size(); ++i) {
            if (row[i] == '\\')
                ++i;
            else if (row[i] == '"')
                return i + 1;
        }
        return row.size();
    };
    std::size_t at = row.find('{');
    while (at != std::string_view::npos && at + 1 < row.size()) {
        const std::size_t key_start = row.find('"', at + 1);
        if (key_start == std::string_view::npos) return {};
        const std::size_t key_end = string_end(key_start);
        const std::string_view name = row.substr(key_start + 1, key_end - key_start - 2);
        std::size_t value = key_end + 1;  // past the colon
        std::size_t value_end = value;
        if (value < row.size() && row[value] == '"') {
            value_end = string_end(value);
            if (name == key) return row.substr(value + 1, value_end - value - 2);
        } else {
            while (value_end < row.size() && row[value_end] != ',' && row[value_end] != '}')
                ++value_end;
            if (name == key) return row.substr(value, value_end - value);
        }
        at = value_end;
    }
    return {};
}

std::string_view table_field_of(const SortLayout& layout, const SortStep& step, const Line& line) {
    const std::string_view row(line.data, line.size);
    std::string_view text;
    if (layout.table == table_csv) {
        std::size_t index = 0;
        while (index < layout.table_fields.size() && layout.table_fields[index] != step.table_field)
            ++index;
        if (index == layout.table_fields.size()) return {};
        text = csv_field(row, index);
    } else {
        text = json_field(row, field_name(step.table_field));
    }
    if (step.field == SortField::table_number) return text;
    const std::size_t offset = std::min(text.size(), std::size_t(step.offset));
    return text.substr(offset, std::size_t(step.length));
}

std::string_view field_of(const SortLayout& layout, const SortStep& step, const Line& line) {
    std::size_t begin = 0, end = 0;
    switch (step.field) {
        case SortField::table_text:
        case SortField::table_number:
            return table_field_of(layout, step, line);
        case SortField::path:
            begin = layout.path_start;
            end = line.path_end;
            break;
        case SortField::size:
            begin = std::size_t(line.path_end) + 1;
            end = line.attributes_start == 0 ? 0 : std::size_t(line.attributes_start) - 1;
            break;
        case SortField::after_size:
            begin = std::size_t(line.attributes_start) + std::size_t(step.offset);
            end = begin + std::size_t(step.length);
            break;
    }
    end = std::min(end, line.size);
    if (begin >= end) return {};
    return {line.data + begin, end - begin};
}

struct FoldTable {
    std::array<unsigned char, 256> to{};
    constexpr FoldTable() {
        for (int c = 0; c < 256; ++c)
            to[c] = static_cast<unsigned char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
    }
};
constexpr FoldTable fold{};

// Without regard to case, as the keys always compared; a field cut short
// by the end of its line sorts before a longer one.
int compare_folded(std::string_view a, std::string_view b) {
    const std::size_t n = std::min(a.size(), b.size());
    std::size_t i = 0;
    // Long shared path prefixes are passed over a word at a time.
    while (i + 8 <= n && std::memcmp(a.data() + i, b.data() + i, 8) == 0) i += 8;
    for (; i < n; ++i) {
        const unsigned char x = fold.to[static_cast<unsigned char>(a[i])];
        const unsigned char y = fold.to[static_cast<unsigned char>(b[i])];
        if (x != y) return x < y ? -1 : 1;
    }
    return a.size() < b.size() ? -1 : (a.size() > b.size() ? 1 : 0);
}

// Sizes right-aligned in a fixed record, bare digits in a variable one:
// compared as numbers either way.
int compare_numbers(std::string_view a, std::string_view b) {
    while (!a.empty() && (a.front() == ' ' || a.front() == '0')) a.remove_prefix(1);
    while (!b.empty() && (b.front() == ' ' || b.front() == '0')) b.remove_prefix(1);
    if (a.size() != b.size()) return a.size() < b.size() ? -1 : 1;
    const int r = std::memcmp(a.data(), b.data(), a.size());
    return r < 0 ? -1 : (r > 0 ? 1 : 0);
}

// The keys' steps in order; lines equal on every step are ordered by
// their bytes, so the result never depends on how the file was cut into
// runs and two sorts of one listing give the same file.
int compare_lines(const SortLayout& layout, const Line& a, const Line& b) {
    for (const SortStep& step : layout.steps) {
        const std::string_view x = field_of(layout, step, a);
        const std::string_view y = field_of(layout, step, b);
        const int r = step.field == SortField::size || step.field == SortField::table_number
                          ? compare_numbers(x, y)
                          : compare_folded(x, y);
        if (r != 0) return r * step.direction;
    }
    const int r = std::memcmp(a.data, b.data, std::min(a.size, b.size));
    if (r != 0) return r;
    return a.size < b.size ? -1 : (a.size > b.size ? 1 : 0);
}

void sort_lines(const SortLayout& layout, std::vector<Line>& lines, unsigned threads) {
    const auto less = [&layout](const Line& a, const Line& b) {
        return compare_lines(layout, a, b) < 0;
    };
    if (threads >= 2 && lines.size() >= 50000) {
        const auto middle = lines.begin() + static_cast<std::ptrdiff_t>(lines.size() / 2);
        try {
            std::thread first([&] { std::sort(lines.begin(), middle, less); });
            std::sort(middle, lines.end(), less);
            first.join();
            std::inplace_merge(lines.begin(), middle, lines.end(), less);
            return;
        } catch (const std::system_error&) {
            // No second thread to be had: one sort does it all.
        }
    }
    std::sort(lines.begin(), lines.end(), less);
}

// ----- files -----

// Why a sort stopped; the listing is left as it was.
struct SortFailure {
    int code;
    std::string message;
};

struct WorkFile {
    std::u16string name;
    std::unique_ptr<platform::UpdateFile> file;
};

// The temporary files beside the listing; whatever is left of them is
// removed when the sort ends, however it ends.
class WorkFiles {
public:
    WorkFiles(Run& run, std::u16string base) : run_(run), base_(std::move(base)) {}
    WorkFiles(const WorkFiles&) = delete;
    WorkFiles& operator=(const WorkFiles&) = delete;
    ~WorkFiles() {
        for (auto& f : files_) remove(*f);
    }

    WorkFile& create() {
        for (;;) {
            std::string suffix = ".sort" + std::to_string(++counter_) + ".tmp";
            std::u16string name = base_ + platform::widen(suffix);
            if (run_.sys.exists(name)) continue;
            auto file = run_.sys.open_update(name, true);
            if (!file || !file->set_end(0)) {
                if (file) {
                    file.reset();
                    run_.sys.delete_file(name);
                }
                throw SortFailure{exit_code::write_error, "\nError creating the sort work file " +
                                                              run_.sys.narrow(name) +
                                                              ", the listing is left unsorted\n"};
            }
            files_.push_back(
                std::make_unique<WorkFile>(WorkFile{std::move(name), std::move(file)}));
            return *files_.back();
        }
    }
    void remove(WorkFile& f) {
        f.file.reset();
        if (!f.name.empty()) run_.sys.delete_file(f.name);
        f.name.clear();
    }
    // A file that is no longer ours to remove (it became the listing).
    void keep(WorkFile& f) {
        f.file.reset();
        f.name.clear();
    }

private:
    Run& run_;
    std::u16string base_;
    unsigned counter_ = 0;
    std::vector<std::unique_ptr<WorkFile>> files_;
};

[[noreturn]] void write_failed(Run& run, const WorkFile& f) {
    throw SortFailure{exit_code::write_error, "\nError writing the sort work file " +
                                                  run.sys.narrow(f.name) +
                                                  ", the listing is left unsorted\n"};
}

class Writer {
public:
    Writer(Run& run, WorkFile& file) : run_(run), file_(file), buffer_(new char[capacity]) {}

    void put(const char* data, std::size_t size) {
        if (size > capacity - used_) flush();
        if (size >= capacity) {
            if (!file_.file->write(data, size)) write_failed(run_, file_);
            return;
        }
        std::memcpy(buffer_.get() + used_, data, size);
        used_ += size;
    }
    void put_line(const Line& line, std::string_view line_end) {
        put(line.data, line.size + line.end_bytes);
        if (line.end_bytes == 0) put(line_end.data(), line_end.size());
    }
    void flush() {
        if (used_ > 0 && !file_.file->write(buffer_.get(), used_)) write_failed(run_, file_);
        used_ = 0;
    }

private:
    static constexpr std::size_t capacity = std::size_t(1) << 20;
    Run& run_;
    WorkFile& file_;
    std::unique_ptr<char[]> buffer_;
    std::size_t used_ = 0;
};

// Fills as much of the buffer as the file holds; a read error ends the sort.
std::size_t read_full(Run& run, platform::InputFile& file, const std::u16string& name, char* buffer,
                      std::size_t size) {
    std::size_t got = 0;
    while (got < size) {
        const long long n = file.read(buffer + got, size - got);
        if (n < 0)
            throw SortFailure{exit_code::input_file, "\nError reading " + run.sys.narrow(name) +
                                                         " for sorting, the listing is left "
                                                         "unsorted\n"};
        if (n == 0) break;
        got += static_cast<std::size_t>(n);
    }
    return got;
}

// Lines of a run file, one at a time; a line stays valid until the next.
class RunReader {
public:
    RunReader(Run& run, WorkFile& file, std::size_t buffer_size)
        : run_(run), file_(file), capacity_(buffer_size), buffer_(new char[buffer_size]) {}

    bool has_line() const { return has_; }
    const Line& line() const { return line_; }
    WorkFile& file() { return file_; }

    void advance(const SortLayout& layout) {
        for (;;) {
            if (const std::size_t feed = record_end(layout, buffer_.get(), pos_, fill_);
                feed != none) {
                const std::size_t end = feed + 1;
                set_line(layout, pos_, end);
                pos_ = end;
                return;
            }
            if (eof_) {
                // Run files end every line; anything left is a last line without one.
                if (pos_ < fill_) {
                    set_line(layout, pos_, fill_);
                    pos_ = fill_;
                } else {
                    has_ = false;
                }
                return;
            }
            std::memmove(buffer_.get(), buffer_.get() + pos_, fill_ - pos_);
            fill_ -= pos_;
            pos_ = 0;
            if (fill_ == capacity_) grow();
            const std::size_t got =
                read_full(run_, *file_.file, file_.name, buffer_.get() + fill_, capacity_ - fill_);
            if (got == 0) eof_ = true;
            fill_ += got;
        }
    }

private:
    void set_line(const SortLayout& layout, std::size_t begin, std::size_t end) {
        line_.data = buffer_.get() + begin;
        std::size_t size = end - begin;
        std::uint8_t end_bytes = 0;
        if (size > 0 && line_.data[size - 1] == '\n') {
            ++end_bytes;
            --size;
            if (size > 0 && line_.data[size - 1] == '\r') {
                ++end_bytes;
                --size;
            }
        }
        line_.size = size;
        line_.end_bytes = end_bytes;
        locate_fields(layout, line_);
        has_ = true;
    }
    // A line longer than the buffer: the buffer grows to hold it.
    void grow() {
        std::unique_ptr<char[]> bigger(new char[capacity_ * 2]);
        std::memcpy(bigger.get(), buffer_.get(), fill_);
        buffer_ = std::move(bigger);
        capacity_ *= 2;
    }

    Run& run_;
    WorkFile& file_;
    std::size_t capacity_;
    std::unique_ptr<char[]> buffer_;
    std::size_t pos_ = 0;
    std::size_t fill_ = 0;
    bool eof_ = false;
    bool has_ = false;
    Line line_{};
};

// Merges sorted runs into one writer with a tree of losers: each line
// written costs one comparison per level of the tree.
template <class Poll>
void merge_runs(const SortLayout& layout, std::vector<RunReader*>& in, Writer& out,
                std::string_view line_end, Poll poll) {
    const std::size_t k = in.size();
    const auto less = [&](std::size_t a, std::size_t b) {
        if (!in[a]->has_line()) return false;
        if (!in[b]->has_line()) return true;
        const int r = compare_lines(layout, in[a]->line(), in[b]->line());
        return r < 0 || (r == 0 && a < b);
    };
    for (RunReader* r : in) r->advance(layout);
    std::vector<std::size_t> loser(k, 0), winner(2 * k, 0);
    for (std::size_t i = 0; i < k; ++i) winner[k + i] = i;
    for (std::size_t node = k - 1; node >= 1; --node) {
        const std::size_t a = winner[2 * node], b = winner[2 * node + 1];
        if (less(a, b)) {
            winner[node] = a;
            loser[node] = b;
        } else {
            winner[node] = b;
            loser[node] = a;
        }
    }
    std::size_t top = k == 1 ? 0 : winner[1];
    for (std::uint64_t written = 0; in[top]->has_line(); ++written) {
        out.put_line(in[top]->line(), line_end);
        in[top]->advance(layout);
        for (std::size_t node = (top + k) / 2; node >= 1; node /= 2)
            if (less(loser[node], top)) std::swap(loser[node], top);
        if ((written & 0xFFFF) == 0) poll();
    }
}

// Where a run summary at the end of a listing starts: the empty line before
// the totals line ("  N directories, ..."), with the environment line
// before it when there is one; none when the text ends without one.
std::size_t summary_start(std::string_view tail) {
    struct Span {
        std::size_t start;
        std::string_view text;
    };
    std::vector<Span> lines;
    for (std::size_t at = 0; at < tail.size();) {
        std::size_t end = tail.find('\n', at);
        if (end == std::string_view::npos) end = tail.size();
        std::string_view text = tail.substr(at, end - at);
        if (!text.empty() && text.back() == '\r') text.remove_suffix(1);
        lines.push_back({at, text});
        at = end + 1;
    }
    const auto totals = [](std::string_view t) {
        if (t.substr(0, 2) != "  ") return false;
        std::size_t i = 2;
        while (i < t.size() && is_digit(t[i])) ++i;
        if (i == 2) return false;
        t.remove_prefix(i);
        return t.substr(0, 14) == " directories, " || t.substr(0, 12) == " directory, ";
    };
    for (std::size_t i = lines.size(); i-- > 1;) {
        if (!totals(lines[i].text) || !lines[i - 1].text.empty()) continue;
        std::size_t start = lines[i - 1].start;
        if (i >= 3 && lines[i - 2].text == "     An environment variable found and used" &&
            lines[i - 3].text.empty())
            start = lines[i - 3].start;
        return start;
    }
    return none;
}

// The lines to sort from a buffer; the last one may end without a line end
// only at the end of the records.
std::size_t cut_lines(const SortLayout& layout, char* data, std::size_t fill, bool at_end,
                      std::vector<Line>& lines, std::string& line_end) {
    std::size_t pos = 0;
    while (pos < fill) {
        const std::size_t feed = record_end(layout, data, pos, fill);
        const bool hit = feed != none;
        if (!hit && !at_end) break;
        const std::size_t end = hit ? feed + 1 : fill;
        Line line{data + pos, end - pos, 0, 0, 0};
        if (hit) {
            line.end_bytes = 1;
            --line.size;
            if (line.size > 0 && line.data[line.size - 1] == '\r') {
                line.end_bytes = 2;
                --line.size;
            }
            if (line_end.empty()) line_end = line.end_bytes == 2 ? "\r\n" : "\n";
        }
        locate_fields(layout, line);
        lines.push_back(line);
        pos = end;
    }
    return pos;
}

void sort_file(Run& run, const std::u16string& name,
               std::unique_ptr<platform::UpdateFile>& source_file, std::uint64_t size,
               std::uint64_t head_lines, const SortLayout& layout, const SortLimits& limits) {
    platform::UpdateFile& source = *source_file;
    const bool watch = !run.sys.interrupted();
    const auto poll = [&] {
        if (watch && run.sys.interrupted())
            throw SortFailure{exit_code::user_aborted,
                              "\nSort interrupted, the listing is left unsorted\n"};
    };
    WorkFiles work(run, name);
    WorkFile& result = work.create();
    Writer out(run, result);

    // The lines before the first record go first, as they are.
    std::uint64_t head_end = 0;
    {
        std::unique_ptr<char[]> block(new char[std::size_t(1) << 20]);
        std::uint64_t left = head_lines;
        while (left > 0) {
            const std::size_t got = read_full(run, source, name, block.get(), std::size_t(1) << 20);
            if (got == 0) break;
            std::size_t used = got;
            for (std::size_t i = 0; i < got; ++i)
                if (block[i] == '\n' && --left == 0) {
                    used = i + 1;
                    break;
                }
            out.put(block.get(), used);
            head_end += used;
        }
    }

    // A run summary at the end stays there.
    std::uint64_t region_end = std::max(size, head_end);
    if (size > head_end && !layout.table) {
        const std::uint64_t from = size - std::min<std::uint64_t>(size - head_end, 65536);
        const std::size_t length = static_cast<std::size_t>(size - from);
        std::string tail(length, '\0');
        if (!source.seek(from) || read_full(run, source, name, tail.data(), length) != length)
            throw SortFailure{exit_code::input_file, "\nError reading " + run.sys.narrow(name) +
                                                         " for sorting, the listing is left "
                                                         "unsorted\n"};
        // A cut line at the start of the tail is no line of its own.
        std::size_t skip = 0;
        if (from > head_end) skip = std::min(tail.find('\n'), tail.size() - 1) + 1;
        const std::size_t at = summary_start(std::string_view(tail).substr(skip));
        if (at != none) region_end = from + skip + at;
    }
    if (!source.seek(head_end))
        throw SortFailure{exit_code::input_file, "\nError reading " + run.sys.narrow(name) +
                                                     " for sorting, the listing is left "
                                                     "unsorted\n"};

    // Runs: as many records as the memory allows, sorted and set aside.
    std::string line_end;
    std::vector<WorkFile*> runs;
    {
        std::size_t capacity = std::max<std::size_t>(limits.run_bytes, 64);
        std::unique_ptr<char[]> buffer(new char[capacity]);
        std::vector<Line> lines;
        std::uint64_t offset = head_end;
        std::size_t fill = 0;
        for (;;) {
            const std::size_t want = static_cast<std::size_t>(
                std::min<std::uint64_t>(capacity - fill, region_end - offset));
            const std::size_t got = read_full(run, source, name, buffer.get() + fill, want);
            offset += got;
            fill += got;
            const bool at_end = offset >= region_end || got < want;
            lines.clear();
            const std::size_t used = cut_lines(layout, buffer.get(), fill, at_end, lines, line_end);
            if (lines.empty() && !at_end && fill == capacity) {
                // One line longer than the buffer: the buffer grows to hold it.
                std::unique_ptr<char[]> bigger(new char[capacity * 2]);
                std::memcpy(bigger.get(), buffer.get(), fill);
                buffer = std::move(bigger);
                capacity *= 2;
                continue;
            }
            if (!lines.empty()) {
                sort_lines(layout, lines, limits.threads);
                if (line_end.empty()) line_end.assign(1, '\n');
                if (at_end && runs.empty()) {
                    for (const Line& line : lines) out.put_line(line, line_end);
                } else {
                    WorkFile& file = work.create();
                    Writer writer(run, file);
                    for (const Line& line : lines) writer.put_line(line, line_end);
                    writer.flush();
                    runs.push_back(&file);
                }
                poll();
            }
            std::memmove(buffer.get(), buffer.get() + used, fill - used);
            fill -= used;
            if (at_end) break;
        }
    }

    // Merges, fan_in runs at a time, until one merge writes the result.
    const std::size_t fan_in = std::max<std::size_t>(limits.fan_in, 2);
    const auto merge = [&](std::size_t count, Writer& to) {
        std::vector<std::unique_ptr<RunReader>> readers;
        std::vector<RunReader*> in;
        const std::size_t each = std::max<std::size_t>(limits.merge_bytes / count, 4096);
        for (std::size_t i = 0; i < count; ++i) {
            if (!runs[i]->file->seek(0)) write_failed(run, *runs[i]);
            readers.push_back(std::make_unique<RunReader>(run, *runs[i], each));
            in.push_back(readers.back().get());
        }
        merge_runs(layout, in, to, line_end, poll);
        for (std::size_t i = 0; i < count; ++i) work.remove(*runs[i]);
        runs.erase(runs.begin(), runs.begin() + static_cast<std::ptrdiff_t>(count));
    };
    while (runs.size() > fan_in) {
        WorkFile& merged = work.create();
        Writer writer(run, merged);
        merge(fan_in, writer);
        writer.flush();
        runs.push_back(&merged);
    }
    if (!runs.empty()) merge(runs.size(), out);

    // The summary, as it was.
    if (region_end < size) {
        if (!source.seek(region_end))
            throw SortFailure{exit_code::input_file, "\nError reading " + run.sys.narrow(name) +
                                                         " for sorting, the listing is left "
                                                         "unsorted\n"};
        const std::size_t length = static_cast<std::size_t>(size - region_end);
        std::string tail(length, '\0');
        if (read_full(run, source, name, tail.data(), length) != length)
            throw SortFailure{exit_code::input_file, "\nError reading " + run.sys.narrow(name) +
                                                         " for sorting, the listing is left "
                                                         "unsorted\n"};
        out.put(tail.data(), tail.size());
    }
    out.flush();
    result.file.reset();
    // A file still open cannot be replaced on every system.
    source_file.reset();

    if (!run.sys.rename_file(result.name, name))
        throw SortFailure{exit_code::write_error, "\nError replacing " + run.sys.narrow(name) +
                                                      " with its sorted copy, the listing is left "
                                                      "unsorted\n"};
    work.keep(result);
}

}  // namespace

SortLayout sort_layout(const Run& run) {
    SortLayout layout;
    const RunSettings& s = run.s;
    const std::vector<ColumnPlace> places =
        run.layout.columns.empty() ? place_columns(run) : run.layout.columns;
    layout.delimiter = s.delimiter;
    if (const ColumnPlace* path = place_of(places, Column::path)) {
        layout.path_start = path->start < 0 ? 0 : std::size_t(path->start);
        layout.path_width = std::size_t(std::max(path->width - 1, 0));
        layout.variable = path->varies;
    }
    if (const ColumnPlace* size = place_of(places, Column::size)) {
        layout.variable = layout.variable || size->varies;
        layout.size_start = size->start < 0 ? 0 : std::size_t(size->start);
    }
    const ColumnPlace* attributes = place_of(places, Column::attributes);
    layout.attributes_start =
        attributes && attributes->start >= 0 ? std::size_t(attributes->start) : far_away;

    layout.table = s.table_format;
    if (layout.table) layout.table_fields = table_fields(s);
    for (std::size_t k = 0; k < s.sort_keys.size() && s.sort_keys[k] != RunSettings::sort_end;
         ++k) {
        const int direction = s.sort_dirs[k] < 0 ? -1 : 1;
        if (layout.table)
            add_table_steps(layout.table_fields, s.sort_keys[k], direction, layout.steps);
        else
            add_key_steps(run, places, s.sort_keys[k], direction, layout.steps);
    }
    return layout;
}

std::uint64_t count_line_ends(Run& run, std::u16string_view name) {
    auto file = run.sys.open_read(name, false);
    if (!file) return 0;
    std::uint64_t count = 0;
    std::unique_ptr<char[]> block(new char[std::size_t(1) << 16]);
    for (;;) {
        const long long n = file->read(block.get(), std::size_t(1) << 16);
        if (n <= 0) break;
        count += static_cast<std::uint64_t>(std::count(block.get(), block.get() + n, '\n'));
    }
    return count;
}

void sort_listing(Run& run, const std::u16string& name, std::uint64_t head_lines,
                  const SortLimits& limits) {
    if (run.s.sort_keys[0] == RunSettings::sort_end) return;
    run.std_err.put("\n\nSORTING OUTPUT\n\n\n");
    const SortLayout layout = sort_layout(run);

    std::u16string chosen = name;
    auto source = run.sys.open_update(chosen, false);
    if (!source) {
        if (auto other = run.sys.choose_file(platform::DialogKind::input_file)) {
            chosen = *other;
            source = run.sys.open_update(chosen, false);
        }
    }
    if (!source) {
        run.std_err.printf("sorry, can't open input file %s, BYE\n",
                           run.sys.narrow(chosen).c_str());
        end_run(exit_code::input_file);
    }
    const auto size = source->size();
    if (!size) {
        run.std_err.put("\nError getting file size for sorting\n");
        end_run(exit_code::input_file);
    }

    SortFailure failure{0, {}};
    try {
        sort_file(run, chosen, source, *size, head_lines, layout, limits);
        return;
    } catch (const SortFailure& f) {
        failure = f;
    } catch (const std::bad_alloc&) {
        failure = {exit_code::memory_error, "\nError getting memory for sorting\n"};
    }
    source.reset();
    run.std_err.put(failure.message);
    end_run(failure.code);
}

void sort_output_file(Run& run, const std::u16string& name) {
    // A run that ended before its records began has nothing to sort.
    if (!run.listing_head_lines) return;
    sort_listing(run, name, *run.listing_head_lines, SortLimits{});
}

bool close_outputs(Run& run) {
    if (!run.s.SORT || !run.s.output_to_file() || !run.output_file) return true;
    // A listing that did not reach the disk whole is not sorted: the run
    // ends with the write error and the file stays as written.
    if (!run.output_file->closed() && !run.output_file->close()) {
        run.std_err.printf("\nError writing the listing to %s\n",
                           run.sys.narrow(run.output_part_name).c_str());
        if (run.exit_reason < 2) run.exit_reason = exit_code::write_error;
        return false;
    }
    run.sorted = true;
    // Rows that went to a device (/dev/null) cannot be read back to sort.
    if (!run.output_file->is_device()) sort_output_file(run, run.s.output_name);
    return true;
}

}  // namespace filarix
