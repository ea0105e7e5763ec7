#include "core/columns.hpp"

#include "core/run.hpp"

namespace filarix {

namespace {

bool digests_shown(const RunSettings& s) {
    return !shown_digests(s).empty();
}

// One row per column: when a record holds it. The order is the record's;
// the digest row stands for one column per digest the settings show.
struct ColumnRow {
    Column id;
    bool (*shown)(const RunSettings&);
};

constexpr ColumnRow rows[] = {
    {Column::sequence, [](const RunSettings& s) { return s.SEQUENCE != 0; }},
    {Column::label, [](const RunSettings& s) { return s.label != 0; }},
    {Column::comment, [](const RunSettings& s) { return s.COMMENT != 0; }},
    {Column::path, [](const RunSettings&) { return true; }},
    // A names-only record ends with its path.
    {Column::size, [](const RunSettings& s) { return !s.NAMEONLY; }},
    {Column::attributes, [](const RunSettings& s) { return !s.NAMEONLY; }},
    {Column::category,
     [](const RunSettings& s) {
         return !s.NAMEONLY && (s.signature_check == 1 || s.signature_check == 2 || s.fixed != 0);
     }},
    {Column::digest, [](const RunSettings& s) { return !s.NAMEONLY; }},
    {Column::digest_blank,
     [](const RunSettings& s) { return !s.NAMEONLY && !digests_shown(s) && s.fixed; }},
    {Column::creation_time,
     [](const RunSettings& s) { return !s.NAMEONLY && shows_creation(s.time_type); }},
    {Column::write_time,
     [](const RunSettings& s) { return !s.NAMEONLY && shows_write(s.time_type); }},
    {Column::access_time,
     [](const RunSettings& s) { return !s.NAMEONLY && shows_access(s.time_type); }},
    {Column::zone, [](const RunSettings& s) { return !s.NAMEONLY && s.time_type != '0'; }},
    {Column::volume_serial, [](const RunSettings& s) { return !s.NAMEONLY && s.output_to_file(); }},
    {Column::volume_label, [](const RunSettings& s) { return !s.NAMEONLY && s.output_to_file(); }},
    // A fixed record keeps the group's place even when it is empty.
    {Column::names,
     [](const RunSettings& s) {
         return !s.NAMEONLY && (s.eight_dot_three || s.LFN || s.EXT || s.fixed);
     }},
    {Column::owner, [](const RunSettings& s) { return !s.NAMEONLY && s.owner >= 1; }},
    {Column::name_after, [](const RunSettings& s) { return !s.NAMEONLY && s.NAMEAFTER; }},
    {Column::path_length, [](const RunSettings& s) { return !s.NAMEONLY && s.SHOWLONG; }},
};

// Characters of a column with its delimiter; for a column whose width
// varies by entry, its usual width as a negative number.
int column_width(const Run& run, Column c) {
    const RunSettings& s = run.s;
    const int time_width = s.time_type == '3' || s.seconds ? 25 : 18;
    switch (c) {
        case Column::sequence:
            return 7;
        case Column::label:
            return static_cast<int>(s.label_text.size()) + 1;
        case Column::comment:
            return static_cast<int>(run.sys.narrow(s.comment_text).size()) + 1;
        case Column::path:
            if (s.VAR || (s.NAMEONLY && s.WIDTH == 0)) return -(s.WIDTH + 1);
            return s.WIDTH + 1;
        case Column::size:
            return s.VAR ? -22 : 22;
        case Column::attributes:
            return 8;
        case Column::category:
            return 5;
        case Column::digest_blank:
            return 11;
        case Column::creation_time:
        case Column::write_time:
        case Column::access_time:
            return time_width;
        case Column::zone:
            return 4;
        case Column::volume_serial:
            return 12;
        case Column::volume_label:
            return 13;
        case Column::names: {
            int w = 0;
            if (s.eight_dot_three) w += 16;
            if (s.LFN) w += static_cast<int>(s.lfn_width) + 2;
            if (s.EXT && !s.fixed) w += 7;
            if (s.EXT) w += 15;
            return w;
        }
        case Column::owner:
            return 34;
        case Column::name_after: {
            const int n = s.nameafter_width < 0 ? 50 : s.nameafter_width;
            return n > 0 && !s.VAR ? n + 1 : -51;
        }
        case Column::path_length:
            return -8;  // three digits or more
        default:
            break;
    }
    if (const auto id = column_digest(c)) return digest_row(*id).width + 2;
    return 0;
}

}  // namespace

bool shows_creation(int t) {
    return t == '3' || t == 'c' || t == 'C';
}
bool shows_write(int t) {
    return t == '3' || t == 'w' || t == 'W';
}
bool shows_access(int t) {
    return t == '3' || t == 'a' || t == 'A';
}

ColumnList::ColumnList(const RunSettings& s) {
    const DigestSet digests = shown_digests(s);
    for (const ColumnRow& row : rows) {
        if (!row.shown(s)) continue;
        if (row.id != Column::digest) {
            columns_[count_++] = row.id;
            continue;
        }
        for (const DigestRow& digest : digest_rows)
            if (digests.has(digest.id)) columns_[count_++] = digest_column(digest.id);
    }
}

bool ColumnList::has(Column c) const {
    for (Column k : *this)
        if (k == c) return true;
    return false;
}

std::vector<ColumnPlace> place_columns(const Run& run) {
    std::vector<ColumnPlace> places;
    int start = 0;
    for (Column c : ColumnList(run.s)) {
        const int width = column_width(run, c);
        places.push_back({c, start, width < 0 ? -width : width, width < 0});
        start = start < 0 || width < 0 ? -1 : start + width;
    }
    return places;
}

std::vector<Field> table_fields(const RunSettings& s) {
    std::vector<Field> fields{Field::kind};
    for (Column c : ColumnList(s)) {
        switch (c) {
            case Column::sequence:
                fields.push_back(Field::sequence);
                break;
            case Column::label:
                fields.push_back(Field::label);
                break;
            case Column::comment:
                fields.push_back(Field::comment);
                break;
            case Column::path:
                fields.push_back(Field::path);
                fields.push_back(Field::path_bytes);
                break;
            case Column::size:
                fields.push_back(Field::size);
                break;
            case Column::attributes:
                fields.push_back(Field::attributes);
                break;
            case Column::category:
                if (s.signature_check == 1 || s.signature_check == 2)
                    fields.push_back(Field::category);
                break;
            case Column::creation_time:
                fields.push_back(Field::created);
                break;
            case Column::write_time:
                fields.push_back(Field::modified);
                break;
            case Column::access_time:
                fields.push_back(Field::accessed);
                break;
            case Column::zone:
                fields.push_back(Field::zone);
                break;
            case Column::volume_serial:
                fields.push_back(Field::volume_serial);
                break;
            case Column::volume_label:
                fields.push_back(Field::volume_label);
                break;
            case Column::names:
                if (s.eight_dot_three) fields.push_back(Field::short_name);
                if (s.LFN) fields.push_back(Field::long_name);
                if (s.EXT) fields.push_back(Field::extension);
                break;
            case Column::owner:
                fields.push_back(Field::owner);
                break;
            case Column::path_length:
                fields.push_back(Field::path_length);
                break;
            // A fixed record's blanks hold nothing, and the name after the
            // record repeats the path, which a row holds whole already.
            case Column::digest_blank:
            case Column::name_after:
                break;
            default:
                if (const auto id = column_digest(c)) fields.push_back(digest_field(*id));
                break;
        }
    }
    // Last, so that the fields before it stand where they always have.
    fields.push_back(Field::target);
    return fields;
}

const char* field_name(Field f) {
    static constexpr const char* before[] = {
        "kind",       "sequence", "label",      "comment",  "path",
        "path_bytes", "size",     "attributes", "category",
    };
    static constexpr const char* after[] = {
        "created",    "modified",  "accessed",  "zone",  "volume_serial", "volume_label",
        "short_name", "long_name", "extension", "owner", "path_length",   "target",
    };
    static_assert(std::size(before) == static_cast<std::size_t>(Field::digest));
    static_assert(std::size(after) == field_count - static_cast<std::size_t>(Field::created));
    const auto i = static_cast<std::size_t>(f);
    if (f < Field::digest) return before[i];
    if (f >= Field::created) return after[i - static_cast<std::size_t>(Field::created)];
    return digest_row(static_cast<DigestId>(i - static_cast<std::size_t>(Field::digest))).field;
}

std::string csv_header_row(const RunSettings& s, bool file_adds_cr) {
    std::string row;
    for (Field f : table_fields(s)) {
        if (!row.empty()) row += ',';
        row += field_name(f);
    }
    return row + (file_adds_cr ? "\n" : "\r\n");
}

int record_length(const std::vector<ColumnPlace>& places) {
    int length = 0;
    for (const ColumnPlace& p : places) length += p.width;
    return length;
}

}  // namespace filarix
