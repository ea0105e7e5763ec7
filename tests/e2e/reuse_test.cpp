// Digests reused from an earlier listing (--REUSE) through the binary: the
// same listing as a full run in CSV, JSON Lines and text records, no
// unchanged file opened, a file rewritten with its size and write time put
// back read again, an interrupted run resumed, and files that are refused.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "e2e_support.hpp"

namespace {

using Records = std::vector<std::vector<std::string>>;

// The records and fields of a CSV text, quotes taken off; a last record
// without its line end is left out.
Records csv_records(const std::string& text) {
    Records records;
    std::vector<std::string> fields;
    std::string field;
    bool quoted = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (quoted) {
            if (c != '"')
                field += c;
            else if (i + 1 < text.size() && text[i + 1] == '"')
                field += text[++i];
            else
                quoted = false;
        } else if (c == '"') {
            quoted = true;
        } else if (c == ',') {
            fields.push_back(std::move(field));
            field.clear();
        } else if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
            fields.push_back(std::move(field));
            field.clear();
            records.push_back(std::move(fields));
            fields.clear();
            ++i;
        } else {
            field += c;
        }
    }
    return records;
}

std::string csv_field(const std::string& f) {
    if (f.find_first_of(",\"\r\n") == std::string::npos) return f;
    std::string out = "\"";
    for (const char c : f) {
        if (c == '"') out += '"';
        out += c;
    }
    return out + "\"";
}

std::string unhex(const std::string& hex) {
    std::string bytes;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
        bytes += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
    return bytes;
}

std::size_t column(const std::vector<std::string>& header, const std::string& name) {
    return static_cast<std::size_t>(std::find(header.begin(), header.end(), name) - header.begin());
}

// The listing with each row's full-precision times and identity as lstat
// tells them now, as a listing that carries them holds them itself.
std::string with_identity(const std::string& csv) {
    Records records = csv_records(csv);
    if (records.empty()) return csv;
    const std::vector<std::string> header = records.front();
    if (column(header, "inode") < header.size()) return csv;
    const std::size_t path = column(header, "path"), bytes = column(header, "path_bytes");
    std::string out;
    for (std::size_t r = 0; r < records.size(); ++r) {
        std::vector<std::string>& f = records[r];
        if (r == 0) {
            f.insert(f.end(), {"modified_ns", "change_time_ns", "device", "inode"});
        } else {
            const std::string name = f.at(bytes).empty() ? f.at(path) : unhex(f.at(bytes));
            struct stat st {};
            if (::lstat(name.c_str(), &st) == 0)
                f.insert(f.end(),
                         {std::to_string(st.st_mtim.tv_sec * 1000000000LL + st.st_mtim.tv_nsec),
                          std::to_string(st.st_ctim.tv_sec * 1000000000LL + st.st_ctim.tv_nsec),
                          std::to_string(st.st_dev), std::to_string(st.st_ino)});
            else
                f.insert(f.end(), 4, std::string());
        }
        for (std::size_t i = 0; i < f.size(); ++i) {
            if (i != 0) out += ',';
            out += csv_field(f[i]);
        }
        out += "\r\n";
    }
    return out;
}

void write_file(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

// The text listing's records: its lines that begin with the tree's path.
std::vector<std::string> text_records(const std::string& listing, const std::string& root) {
    std::vector<std::string> lines;
    std::size_t at = 0;
    for (std::size_t end; (end = listing.find('\n', at)) != std::string::npos; at = end + 1)
        if (listing.compare(at, root.size(), root) == 0)
            lines.push_back(listing.substr(at, end - at));
    return lines;
}

struct Sample {
    e2e::TempTree tree;
    e2e::TempTree keep;  // listings, outside the tree
    const std::vector<std::string> digests{"-c", "-5", "-s"};

    Sample() {
        tree.file("plain.txt", "hello");
        tree.file("with space, and \"quotes\"", "world");
        tree.file("new\nline", "two\nlines");
        tree.file("bad\xff", "not UTF-8");
        tree.file("empty");
        std::string big(300000, '\0');
        for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 7 + i / 251);
        tree.file("big.bin", big);
        tree.file("sub/deeper/x.txt", "deep");
        tree.link("plain.txt", "link");
    }

    // A run over the tree with the digests, listing to `out`.
    e2e::Result list(const std::string& out, std::vector<std::string> options = {}) const {
        std::vector<std::string> args{tree.root(), "-o", out};
        args.insert(args.end(), digests.begin(), digests.end());
        args.insert(args.end(), options.begin(), options.end());
        return e2e::run(args);
    }
    // The listing to reuse: a full CSV run's, with the identity of each row.
    std::string reusable() const {
        const std::string full = keep.path("first.csv");
        EXPECT_EQ(list(full, {"--CSV"}).status, 1);
        const std::string path = keep.path("reuse.csv");
        write_file(path, with_identity(e2e::read_file(full)));
        return path;
    }
};

TEST(Reuse, TheListingIsThatOfAFullRun) {
    Sample s;
    const std::string listing = s.reusable();
    const struct {
        const char* name;
        std::vector<std::string> options;
    } formats[] = {{"csv", {"--CSV"}}, {"jsonl", {"--JSONL"}}, {"text", {}}};
    for (const auto& f : formats) {
        const std::string full = s.keep.path(std::string("full.") + f.name);
        const std::string again = s.keep.path(std::string("again.") + f.name);
        ASSERT_EQ(s.list(full, f.options).status, 1) << f.name;
        std::vector<std::string> reuse = f.options;
        reuse.push_back("--REUSE=" + listing);
        const e2e::Result r = s.list(again, reuse);
        ASSERT_EQ(r.status, 1) << f.name << r.err;
        EXPECT_NE(r.err.find("\n  Digests reused from " + listing +
                             ": 7 files (300,032 bytes "
                             "not read)"),
                  std::string::npos)
            << r.err;
        if (f.options.empty()) {
            const auto records = text_records(e2e::read_file(full), s.tree.root());
            EXPECT_EQ(records.size(), 8u);
            EXPECT_EQ(text_records(e2e::read_file(again), s.tree.root()), records) << f.name;
        } else {
            EXPECT_EQ(e2e::read_file(again), e2e::read_file(full)) << f.name;
        }
    }
}

TEST(Reuse, OnlyTheFileRewrittenWithItsTimesPutBackIsOpened) {
    Sample s;
    const std::string listing = s.reusable();
    // Same size, same write time: only the change time tells.
    s.tree.file("plain.txt", "HELLO");
    const std::string full = s.keep.path("full.csv");
    ASSERT_EQ(s.list(full, {"--CSV"}).status, 1);
    const std::string trace = s.keep.path("opens.txt");
    const std::string again = s.keep.path("again.csv");
    std::vector<std::string> args{
        "-f",          "-e",    "trace=open,openat,openat2", "-o", trace, FILARIX_BINARY,
        s.tree.root(), "--CSV", "--REUSE=" + listing,        "-o", again};
    args.insert(args.end(), s.digests.begin(), s.digests.end());
    const e2e::Result r = e2e::run(args, {}, false, {}, std::nullopt, "/usr/bin/strace");
    ASSERT_EQ(r.status, 1) << r.err;
    EXPECT_EQ(e2e::read_file(again), e2e::read_file(full));
    EXPECT_NE(r.err.find("Digests reused from " + listing + ": 6 files (300,027 bytes not read)"),
              std::string::npos)
        << r.err;
    // The names as strace shows them, control and high bytes escaped.
    const std::string opens = e2e::read_file(trace);
    ASSERT_NE(opens.find("plain.txt\""), std::string::npos) << opens;
    for (const char* name : {"quotes\\\"", "new\\nline", "bad\\377", "empty", "big.bin", "x.txt"})
        EXPECT_EQ(opens.find(name), std::string::npos) << name << "\n" << opens;
}

TEST(Reuse, AnInterruptedRunIsResumedWhole) {
    // Hard links to one file: many files, quickly made.
    e2e::TempTree tree;
    e2e::TempTree keep;
    const std::string source = tree.file("source", "x");
    for (int d = 0; d < 4; ++d) {
        tree.dir("d" + std::to_string(d));
        for (int f = 0; f < 1000; ++f) {
            const std::string name = "d" + std::to_string(d) + "/f" + std::to_string(f);
            ASSERT_EQ(::link(source.c_str(), tree.path(name).c_str()), 0) << name;
        }
    }
    const std::vector<std::string> options{"--CSV", "-c", "-5", "-s"};
    // The rows go to a pipe that is not read once some have come: the
    // listing is far larger than the pipe, so the interrupt surely comes
    // before the walk ends.
    std::vector<std::string> args{tree.root(), "-o", "stdout"};
    args.insert(args.end(), options.begin(), options.end());
    e2e::Child child(args);
    ASSERT_TRUE(child.pump([&](const std::string&) { return child.out().size() > 4096; }));
    ASSERT_EQ(::kill(child.pid(), SIGINT), 0);
    const e2e::Result cut = child.finish();
    ASSERT_EQ(cut.status, 2) << cut.err;
    // Whole rows only: the last ends with its line end, and each has the
    // header's fields.
    ASSERT_TRUE(cut.out.ends_with("\r\n"));
    const Records rows = csv_records(cut.out);
    ASSERT_GT(rows.size(), 2u);
    ASSERT_LT(rows.size(), 4000u);
    for (const auto& row : rows) ASSERT_EQ(row.size(), rows.front().size());

    const std::string partial = keep.path("partial.csv");
    write_file(partial, with_identity(cut.out));
    const std::string resumed = keep.path("resumed.csv");
    const std::string full = keep.path("full.csv");
    args = {tree.root(), "--REUSE=" + partial, "-o", resumed};
    args.insert(args.end(), options.begin(), options.end());
    const e2e::Result r = e2e::run(args);
    ASSERT_EQ(r.status, 1) << r.err;
    args = {tree.root(), "-o", full};
    args.insert(args.end(), options.begin(), options.end());
    ASSERT_EQ(e2e::run(args).status, 1);
    EXPECT_EQ(e2e::read_file(resumed), e2e::read_file(full));
    const auto files = std::count_if(rows.begin() + 1, rows.end(),
                                     [](const auto& row) { return row.front() == "file"; });
    EXPECT_NE(r.err.find("Digests reused from " + partial + ": " + std::to_string(files) +
                         " files (" + std::to_string(files) + " bytes not read)"),
              std::string::npos)
        << r.err;
}

TEST(Reuse, AFileThatIsNoListingIsRefusedBeforeAnythingIsListed) {
    Sample s;
    const std::string text = s.keep.path("text.lst");
    ASSERT_EQ(s.list(text).status, 1);
    const std::string sums = s.keep.path("sums.md5");
    write_file(sums, "5d41402abc4b2a76b9719d911017c592  " + s.tree.path("plain.txt") + "\n");
    const std::string garbage = s.keep.path("garbage");
    write_file(garbage, std::string("\0\x01\xfe\xff{\"kind\"\n", 12));
    const struct {
        std::string file;
        std::string message;
    } cases[] = {
        {text, "Can't reuse digests from " + text + ": it is a fixed-width listing"},
        {sums, "Can't reuse digests from " + sums + ": it is a checksum list"},
        {garbage, "Can't reuse digests from " + garbage + ": it is no CSV or JSON Lines"},
        {s.keep.path("missing.csv"), "Cannot find/open " + s.keep.path("missing.csv")},
        {s.keep.root(), "Cannot find/open " + s.keep.root()},
    };
    for (const auto& c : cases) {
        const std::string out = s.keep.path("out.csv");
        const e2e::Result r = s.list(out, {"--CSV", "--REUSE=" + c.file});
        EXPECT_EQ(r.status, 3) << c.file << r.err;
        EXPECT_NE((r.out + r.err).find(c.message), std::string::npos) << r.out << r.err;
        EXPECT_FALSE(std::filesystem::exists(out)) << c.file;
    }
}

TEST(Reuse, AFileWithThreeNamesIsOpenedOnceAndEveryNameShowsItsDigests) {
    e2e::TempTree tree;
    e2e::TempTree keep;
    std::string bytes(200000, '\0');
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 13 + i / 97);
    const std::string first = tree.file("a/first", bytes);
    tree.file("copy", bytes);
    tree.dir("b");
    tree.dir("c");
    // The other names in other directories, one a name no line may show.
    for (const char* name : {"b/second", "c/third\nname"})
        ASSERT_EQ(::link(first.c_str(), tree.path(name).c_str()), 0) << name;
    const std::string trace = keep.path("opens.txt");
    const std::string listing = keep.path("list.csv");
    const e2e::Result r =
        e2e::run({"-f", "-e", "trace=open,openat,openat2", "-o", trace, FILARIX_BINARY, tree.root(),
                  "--CSV", "-c", "-5", "-s", "--SHA2", "-o", listing},
                 {}, false, {}, std::nullopt, "/usr/bin/strace");
    ASSERT_EQ(r.status, 1) << r.err;
    EXPECT_NE(r.err.find("\n  Hard links not read again: 2 files (400,000 bytes)\n"),
              std::string::npos)
        << r.err;
    // Opened relative to their directories, as strace escapes the names.
    const std::string opens = e2e::read_file(trace);
    std::size_t named = 0;
    for (const char* name : {"\"first\"", "\"second\"", "\"third\\nname\""})
        for (std::size_t at = 0; (at = opens.find(name, at)) != std::string::npos; ++at) ++named;
    EXPECT_EQ(named, 1u) << opens;

    const Records records = csv_records(e2e::read_file(listing));
    ASSERT_FALSE(records.empty());
    const std::vector<std::string>& header = records.front();
    const auto digests_of = [&](const std::string& path) {
        std::vector<std::string> found;
        for (const auto& row : records)
            if (row.size() == header.size() && row[column(header, "path")] == path)
                for (const char* d : {"crc", "md5", "sha1", "sha256"})
                    found.push_back(row.at(column(header, d)));
        return found;
    };
    const std::vector<std::string> copy = digests_of(tree.path("copy"));
    ASSERT_EQ(copy.size(), 4u);
    for (const char* name : {"a/first", "b/second", "c/third\nname"})
        EXPECT_EQ(digests_of(tree.path(name)), copy) << name;
}

}  // namespace
