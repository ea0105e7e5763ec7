#include "core/columns.hpp"

#include "core/out_stream.hpp"
#include "core/run.hpp"

namespace filarix {

namespace {

bool digests_shown(const RunSettings& s) {
    return !shown_digests(s).empty();
}

constexpr const char* blanks = "                    ";  // 20

char delimiter(const Run& run) {
    return run.s.delimiter;
}

// A names-only record ends with its path.
bool listed(const RunSettings& s) {
    return !s.NAMEONLY;
}

bool categorised(const RunSettings& s) {
    return s.signature_check == 1 || s.signature_check == 2;
}

// A column that only rows for other programs hold: a text record, whose
// layout others read by position, never does.
bool rows_only(const RunSettings& s, const ColumnDescriptor&) {
    return listed(s) && s.table_format != table_none;
}

int time_width(const Run& run, const ColumnDescriptor&) {
    return run.s.time_type == '3' || run.s.seconds ? 25 : 18;
}

// The date and time titles of one time column.
void time_title(Run& run, OutStream& out, const char* date, const char* time) {
    const char d = delimiter(run);
    out.printf("%-10s%c", date, d);
    out.printf("%5s", time);
    if (run.s.time_type == '3' || run.s.seconds) out.printf("%.7s", blanks);
    out.put(d);
}

// The 8.3 name, long name and extension titles, which stand as one group.
bool name_titles(Run& run, OutStream& out, const ColumnDescriptor&) {
    const RunSettings& s = run.s;
    const char d = delimiter(run);
    const int lfn = static_cast<int>(s.lfn_width);
    if (s.eight_dot_three) {
        if (s.LFN)
            out.printf(" %-*.*s%c", lfn, lfn, "  NAME", d);
        else
            out.printf(" %-12s%c", "  NAME", d);
        if (s.EXT) out.printf("%8.8s%c", "   EXT", d);
    } else if (s.fixed) {
        out.printf("%.*s%c", 13, blanks, d);
    } else if (s.LFN) {
        out.printf(" %-*.*s%c%.6s%c", lfn, lfn, "  NAME", d, "   EXT", d);
    }
    return false;
}

bool name_field_shown(const RunSettings& s, Field f) {
    if (f == Field::short_name) return s.eight_dot_three;
    if (f == Field::long_name) return s.LFN;
    return s.EXT;
}

constexpr std::array<Field, 3> one(Field f) {
    return {f, f, f};
}

constexpr ColumnDescriptor digest_spec(DigestId id) {
    return {
        digest_column(id),
        id,
        [](const RunSettings& s, const ColumnDescriptor& c) {
            return listed(s) && shown_digests(s).has(*c.digest);
        },
        [](const Run&, const ColumnDescriptor& c) { return digest_row(*c.digest).width + 2; },
        [](Run& run, OutStream& out, const ColumnDescriptor& c) {
            const DigestRow& row = digest_row(*c.digest);
            // With MD5 too, the MD5 title stands alone.
            if (*c.digest == DigestId::crc && shown_digests(run.s).has(DigestId::md5)) return false;
            if (row.title[0] != '\0')
                out.printf(" %-*.*s%c", row.title_width, row.title_width, row.title,
                           delimiter(run));
            return false;
        },
        one(digest_field(id)),
        1,
        nullptr,
        FieldType::text,
    };
}

// The columns before the digests, and after them.
constexpr ColumnDescriptor leading[] = {
    {Column::change,
     {},
     [](const RunSettings& s, const ColumnDescriptor&) {
         return listed(s) && !s.diff_name.empty();
     },
     [](const Run&, const ColumnDescriptor&) { return 2; },
     [](Run& run, OutStream& out, const ColumnDescriptor&) {
         out.printf("C%c", delimiter(run));
         return false;
     },
     {Field::change, Field::changed_facts, Field::moved_from},
     3,
     nullptr,
     FieldType::text},
    // The group leads, so that a reader sees the copies of a file together.
    {Column::dupe_group,
     {},
     [](const RunSettings& s, const ColumnDescriptor&) { return s.DUPES; },
     [](const Run&, const ColumnDescriptor&) { return 7; },
     [](Run& run, OutStream& out, const ColumnDescriptor&) {
         out.printf("%6.6s%c", "GROUP", delimiter(run));
         return false;
     },
     one(Field::dupe_group),
     1,
     nullptr,
     FieldType::number},
    {Column::sequence,
     {},
     [](const RunSettings& s, const ColumnDescriptor&) { return s.SEQUENCE != 0; },
     [](const Run&, const ColumnDescriptor&) { return 7; },
     nullptr,
     one(Field::sequence),
     1,
     nullptr,
     FieldType::number},
    {Column::label,
     {},
     [](const RunSettings& s, const ColumnDescriptor&) { return s.label != 0; },
     [](const Run& run, const ColumnDescriptor&) {
         return static_cast<int>(run.s.label_text.size()) + 1;
     },
     nullptr,
     one(Field::label),
     1,
     nullptr,
     FieldType::text},
    {Column::comment,
     {},
     [](const RunSettings& s, const ColumnDescriptor&) { return s.COMMENT != 0; },
     [](const Run& run, const ColumnDescriptor&) {
         return static_cast<int>(run.sys.narrow(run.s.comment_text).size()) + 1;
     },
     [](Run& run, OutStream& out, const ColumnDescriptor&) {
         const int width = static_cast<int>(run.sys.narrow(run.s.comment_text).size());
         out.printf("%-*.*s%c", width, width, "  COMMENT", delimiter(run));
         return false;
     },
     one(Field::comment),
     1,
     nullptr,
     FieldType::name},
    {Column::path,
     {},
     [](const RunSettings&, const ColumnDescriptor&) { return true; },
     [](const Run& run, const ColumnDescriptor&) {
         const RunSettings& s = run.s;
         if (s.VAR || (s.NAMEONLY && s.WIDTH == 0)) return -(s.WIDTH + 1);
         return s.WIDTH + 1;
     },
     [](Run& run, OutStream& out, const ColumnDescriptor&) {
         const RunSettings& s = run.s;
         if (s.NAMEONLY) {
             out.printf("%-*.*s%c\n", s.WIDTH, s.WIDTH, "  NAME", delimiter(run));
             return true;
         }
         out.printf("%-*.*s%c", s.WIDTH, s.WIDTH, "  PATH", delimiter(run));
         return false;
     },
     {Field::path, Field::path_bytes, Field::path_bytes},
     2,
     nullptr,
     FieldType::name},
    {Column::size,
     {},
     [](const RunSettings& s, const ColumnDescriptor&) { return listed(s); },
     [](const Run& run, const ColumnDescriptor&) { return run.s.VAR ? -22 : 22; },
     [](Run& run, OutStream& out, const ColumnDescriptor&) {
         out.printf(" %*.*s%c", 20, 20, "  SIZE", delimiter(run));
         return false;
     },
     one(Field::size),
     1,
     nullptr,
     FieldType::number},
    {Column::attributes,
     {},
     [](const RunSettings& s, const ColumnDescriptor&) { return listed(s); },
     [](const Run&, const ColumnDescriptor&) { return 8; },
     [](Run& run, OutStream& out, const ColumnDescriptor&) {
         out.printf("%s%c", " ATTR  ", delimiter(run));
         return false;
     },
     one(Field::attributes),
     1,
     nullptr,
     FieldType::text},
    // A fixed record keeps the category's place even without categories.
    {Column::category,
     {},
     [](const RunSettings& s, const ColumnDescriptor&) {
         return listed(s) && (categorised(s) || s.fixed != 0);
     },
     [](const Run&, const ColumnDescriptor&) { return 5; },
     [](Run& run, OutStream& out, const ColumnDescriptor&) {
         if (categorised(run.s))
             out.printf(" %3.3s%c", "HED", delimiter(run));
         else
             out.printf("    %c", delimiter(run));
         return false;
     },
     one(Field::category),
     1,
     [](const RunSettings& s, Field) { return categorised(s); },
     FieldType::text},
};

constexpr ColumnDescriptor trailing[] = {
    // The digests' place in a fixed record without any; a row has nothing there.
    {Column::digest_blank,
     {},
     [](const RunSettings& s, const ColumnDescriptor&) {
         return listed(s) && !digests_shown(s) && s.fixed;
     },
     [](const Run&, const ColumnDescriptor&) { return 11; },
     [](Run& run, OutStream& out, const ColumnDescriptor&) {
         out.printf("%.*s%c", 10, blanks, delimiter(run));
         return false;
     },
     one(Field::kind),
     0,
     nullptr,
     FieldType::text},
    {Column::creation_time,
     {},
     [](const RunSettings& s, const ColumnDescriptor&) {
         return listed(s) && shows_creation(s.time_type);
     },
     time_width,
     [](Run& run, OutStream& out, const ColumnDescriptor&) {
         time_title(run, out, "   CDATE", " CTIME");
         return false;
     },
     one(Field::created),
     1,
     nullptr,
     FieldType::time},
    {Column::write_time,
     {},
     [](const RunSettings& s, const ColumnDescriptor&) {
         return listed(s) && shows_write(s.time_type);
     },
     time_width,
     [](Run& run, OutStream& out, const ColumnDescriptor&) {
         time_title(run, out, "   MDATE", " MTIME");
         return false;
     },
     one(Field::modified),
     1,
     nullptr,
     FieldType::time},
    {Column::access_time,
     {},
     [](const RunSettings& s, const ColumnDescriptor&) {
         return listed(s) && shows_access(s.time_type);
     },
     time_width,
     [](Run& run, OutStream& out, const ColumnDescriptor&) {
         time_title(run, out, "   ADATE", " ATIME");
         return false;
     },
     one(Field::accessed),
     1,
     nullptr,
     FieldType::time},
    {Column::zone,
     {},
     [](const RunSettings& s, const ColumnDescriptor&) { return listed(s) && s.time_type != '0'; },
     [](const Run&, const ColumnDescriptor&) { return 4; },
     [](Run& run, OutStream& out, const ColumnDescriptor&) {
         out.printf(" TZ%c", delimiter(run));
         return false;
     },
     one(Field::zone),
     1,
     nullptr,
     FieldType::text},
    {Column::precise_times,
     {},
     rows_only,
     [](const Run&, const ColumnDescriptor&) { return 0; },
     nullptr,
     {Field::modified_ns, Field::change_time_ns, Field::change_time_ns},
     2,
     nullptr,
     FieldType::number},
    {Column::identity,
     {},
     rows_only,
     [](const Run&, const ColumnDescriptor&) { return 0; },
     nullptr,
     {Field::device, Field::inode, Field::links},
     3,
     nullptr,
     FieldType::number},
    {Column::volume_serial,
     {},
     [](const RunSettings& s, const ColumnDescriptor&) { return listed(s) && s.output_to_file(); },
     [](const Run&, const ColumnDescriptor&) { return 12; },
     [](Run& run, OutStream& out, const ColumnDescriptor&) {
         out.printf("%11.11s%c", "  SERIAL #", delimiter(run));
         return false;
     },
     one(Field::volume_serial),
     1,
     nullptr,
     FieldType::text},
    {Column::volume_label,
     {},
     [](const RunSettings& s, const ColumnDescriptor&) { return listed(s) && s.output_to_file(); },
     [](const Run&, const ColumnDescriptor&) { return 13; },
     [](Run& run, OutStream& out, const ColumnDescriptor&) {
         out.printf("%12.12s%c", " DISK LABEL ", delimiter(run));
         return false;
     },
     one(Field::volume_label),
     1,
     nullptr,
     FieldType::name},
    // A fixed record keeps the group's place even when it is empty.
    {Column::names,
     {},
     [](const RunSettings& s, const ColumnDescriptor&) {
         return listed(s) && (s.eight_dot_three || s.LFN || s.EXT || s.fixed);
     },
     [](const Run& run, const ColumnDescriptor&) {
         const RunSettings& s = run.s;
         int w = 0;
         if (s.eight_dot_three) w += 16;
         if (s.LFN) w += static_cast<int>(s.lfn_width) + 2;
         if (s.EXT && !s.fixed) w += 7;
         if (s.EXT) w += 15;
         return w;
     },
     name_titles,
     {Field::short_name, Field::long_name, Field::extension},
     3,
     name_field_shown,
     FieldType::name},
    {Column::owner,
     {},
     [](const RunSettings& s, const ColumnDescriptor&) { return listed(s) && s.owner >= 1; },
     [](const Run&, const ColumnDescriptor&) { return 34; },
     [](Run& run, OutStream& out, const ColumnDescriptor&) {
         out.printf(" %32.32s%c", " OWNER", delimiter(run));
         return false;
     },
     one(Field::owner),
     1,
     nullptr,
     FieldType::text},
    // The name after the record repeats the path, which a row holds whole.
    {Column::name_after,
     {},
     [](const RunSettings& s, const ColumnDescriptor&) { return listed(s) && s.NAMEAFTER; },
     [](const Run& run, const ColumnDescriptor&) {
         const int n = run.s.nameafter_width < 0 ? 50 : run.s.nameafter_width;
         return n > 0 && !run.s.VAR ? n + 1 : -51;
     },
     nullptr,
     one(Field::kind),
     0,
     nullptr,
     FieldType::text},
    {Column::path_length,
     {},
     [](const RunSettings& s, const ColumnDescriptor&) { return listed(s) && s.SHOWLONG; },
     [](const Run&, const ColumnDescriptor&) { return -8; },  // three digits or more
     nullptr,
     one(Field::path_length),
     1,
     nullptr,
     FieldType::number},
    {Column::tree_totals,
     {},
     [](const RunSettings& s, const ColumnDescriptor& c) { return rows_only(s, c) && s.TREESIZE; },
     [](const Run&, const ColumnDescriptor&) { return 0; },
     nullptr,
     {Field::tree_files, Field::tree_bytes, Field::tree_bytes},
     2,
     nullptr,
     FieldType::number},
};

constexpr std::array<ColumnDescriptor, column_count> build_table() {
    std::array<ColumnDescriptor, column_count> table{};
    std::size_t n = 0;
    for (const ColumnDescriptor& c : leading) table[n++] = c;
    for (std::size_t i = 0; i < digest_count; ++i)
        table[n++] = digest_spec(static_cast<DigestId>(i));
    for (const ColumnDescriptor& c : trailing) table[n++] = c;
    return table;
}

constexpr std::array<ColumnDescriptor, column_count> table = build_table();

constexpr bool table_in_order() {
    if (std::size(leading) + digest_count + std::size(trailing) != column_count) return false;
    for (std::size_t i = 0; i < column_count; ++i)
        if (column_index(table[i].id) != i) return false;
    return true;
}
static_assert(table_in_order());

}  // namespace

const ColumnDescriptor& column_spec(Column c) {
    return table[column_index(c)];
}

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
    for (const ColumnDescriptor& c : table)
        if (c.shown(s, c)) columns_[count_++] = &c;
}

bool ColumnList::has(Column c) const {
    for (const ColumnDescriptor* k : *this)
        if (k->id == c) return true;
    return false;
}

std::vector<ColumnPlace> place_columns(const Run& run) {
    std::vector<ColumnPlace> places;
    int start = 0;
    for (const ColumnDescriptor* c : ColumnList(run.s)) {
        const int width = c->width(run, *c);
        places.push_back({c->id, start, width < 0 ? -width : width, width < 0});
        start = start < 0 || width < 0 ? -1 : start + width;
    }
    return places;
}

FieldType field_type(Field f) {
    if (f == Field::path_bytes) return FieldType::text;  // hexadecimal digits
    for (const ColumnDescriptor& c : table)
        for (std::size_t i = 0; i < c.field_count; ++i)
            if (c.fields[i] == f) return c.type;
    return f == Field::target ? FieldType::name : FieldType::text;
}

std::vector<Field> table_fields(const RunSettings& s) {
    std::vector<Field> fields{Field::kind};
    for (const ColumnDescriptor* c : ColumnList(s))
        for (std::size_t i = 0; i < c->field_count; ++i)
            if (!c->field_shown || c->field_shown(s, c->fields[i])) fields.push_back(c->fields[i]);
    // Last, so that the fields before it stand where they always have.
    fields.push_back(Field::target);
    return fields;
}

const char* field_name(Field f) {
    static constexpr const char* before[] = {
        "kind",    "change", "changed_facts", "moved_from", "dupe_group", "sequence", "label",
        "comment", "path",   "path_bytes",    "size",       "attributes", "category",
    };
    static constexpr const char* after[] = {
        "created",        "modified",   "accessed",   "zone",      "modified_ns",
        "change_time_ns", "device",     "inode",      "links",     "volume_serial",
        "volume_label",   "short_name", "long_name",  "extension", "owner",
        "path_length",    "tree_files", "tree_bytes", "target",
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
