// The column table: one column per digest of the registry, in its order,
// the fields and titles the descriptors give, and places that add up to
// the record.
#include <gtest/gtest.h>

#include <string>

#include "core/columns.hpp"
#include "memory_platform.hpp"
#include "record/header_line.hpp"
#include "run_helper.hpp"

using namespace filarix;
using namespace testing_support;

namespace {

void show_every_digest(RunSettings& s) {
    for (const DigestRow& row : digest_rows) s.digests.add(row.id);
}

}  // namespace

TEST(ColumnTable, EachDigestOfTheRegistryIsOneColumnInItsOrder) {
    MemoryPlatform mp;
    filarix::Run run(mp);
    apply_start_up_defaults(run.s);
    show_every_digest(run.s);
    std::vector<DigestId> shown;
    for (const ColumnDescriptor* c : ColumnList(run.s))
        if (c->digest) shown.push_back(*c->digest);
    std::vector<DigestId> registry;
    for (const DigestRow& row : digest_rows) registry.push_back(row.id);
    EXPECT_EQ(shown, registry);

    // Each one's field is named as the registry names it, in the same order.
    std::string want;
    for (const DigestRow& row : digest_rows) want += std::string(",") + row.field;
    const std::string header = csv_header_row(run.s, true);
    EXPECT_NE(header.find(want + ","), std::string::npos) << header;
}

TEST(ColumnTable, ADigestAloneShowsTheRegistrysTitle) {
    for (const DigestRow& row : digest_rows) {
        if (row.title[0] == '\0') continue;
        MemoryPlatform mp;
        filarix::Run run(mp);
        apply_start_up_defaults(run.s);
        run.listing_target = ListingTarget::standard_error;
        run.s.digests.add(row.id);
        write_header_line(run);
        run.std_err.flush();
        EXPECT_NE(mp.err_text.find(row.title), std::string::npos) << row.name;
    }
}

TEST(ColumnTable, FieldsTellTheirType) {
    EXPECT_EQ(field_type(Field::created), FieldType::time);
    EXPECT_EQ(field_type(Field::modified), FieldType::time);
    EXPECT_EQ(field_type(Field::accessed), FieldType::time);
    EXPECT_EQ(field_type(Field::size), FieldType::number);
    EXPECT_EQ(field_type(Field::sequence), FieldType::number);
    EXPECT_EQ(field_type(Field::path), FieldType::name);
    EXPECT_EQ(field_type(Field::path_bytes), FieldType::text);
    EXPECT_EQ(field_type(digest_field(DigestId::sha256)), FieldType::text);
}

TEST(ColumnTable, AFixedRecordsPlacesFollowOneAnother) {
    MemoryPlatform mp;
    filarix::Run run(mp);
    apply_start_up_defaults(run.s);
    run.s.fixed = 1;
    show_every_digest(run.s);
    const std::vector<ColumnPlace> places = place_columns(run);
    ASSERT_FALSE(places.empty());
    int start = 0;
    for (const ColumnPlace& p : places) {
        EXPECT_FALSE(p.varies);
        EXPECT_EQ(p.start, start);
        start += p.width;
    }
    EXPECT_EQ(record_length(places), start);
}
