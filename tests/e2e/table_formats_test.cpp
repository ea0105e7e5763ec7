// End-to-end: CSV and JSON Lines listings read back by Python's csv and
// json modules and imported into SQLite, names of every awkward kind
// included, and the --PROGRESS line on a terminal and not into a pipe.
#include <sys/xattr.h>

#include "e2e_support.hpp"

namespace {

using e2e::read_file;

using e2e::run;

// Reads a listing and checks every row against the tree itself: the name's
// bytes, size, write time, full-precision times, identity and MD5 of each
// file, each stream's size and each ZIP member's size (which have no times
// or identity of their own). Prints "ok" and the counts, or what differs.
constexpr const char* check_script = R"PY(
import csv, datetime, hashlib, io, json, os, sys, zipfile
root, listing, form, zulu = sys.argv[1].encode(), sys.argv[2], sys.argv[3], sys.argv[4] == "z"
data = open(listing, "rb").read()
text = data.decode("utf-8")  # strict: the listing is UTF-8 throughout
if form == "csv":
    rows = list(csv.DictReader(io.StringIO(text, newline="")))
else:
    rows = [json.loads(line) for line in text.split("\n") if line]
def name_of(row):
    raw = row.get("path_bytes") or ""
    return bytes.fromhex(raw) if raw else row["path"].encode("utf-8")
def precise(row):
    return tuple(None if row.get(k) in (None, "") else int(row[k])
                 for k in ("modified_ns", "change_time_ns", "device", "inode", "links"))
def iso(ns):
    t = datetime.datetime.fromtimestamp(ns // 10**9, datetime.timezone.utc)
    return t.strftime("%Y-%m-%dT%H:%M:%S") + ".%03d" % (ns // 10**6 % 1000) + ("Z" if zulu else "+00:00")
bad = []
files = set()
for row in rows:
    name, kind = name_of(row), row["kind"]
    if kind == "file":
        files.add(name)
        st = os.lstat(name)
        want = (st.st_size, iso(st.st_mtime_ns), hashlib.md5(open(name, "rb").read()).hexdigest().upper(),
                (st.st_mtime_ns, st.st_ctime_ns, st.st_dev, st.st_ino, st.st_nlink))
        got = (int(row["size"]), row["modified"], row["md5"], precise(row))
        if got != want: bad.append((name, got, want))
    elif precise(row) != (None,) * 5:
        bad.append((name, precise(row)))
    if kind == "stream":
        owner, _, stream = name.rpartition(b":")
        if int(row["size"]) != len(os.getxattr(owner, b"user." + stream)): bad.append(name)
    elif kind == "zip member":
        archive, _, member = name.partition(b">>")
        if int(row["size"]) != zipfile.ZipFile(os.fsdecode(archive)).getinfo(member.decode()).file_size: bad.append(name)
on_disk = {os.path.join(d, f) for d, _, fs in os.walk(root) for f in fs}
if files != on_disk: bad.append(("files", sorted(on_disk ^ files)))
kinds = sorted({r["kind"] for r in rows})
print("ok" if not bad else bad, len(files), ",".join(kinds))
)PY";

// Names with the delimiter, quotes, line ends, a tab, "|", non-ASCII and
// bytes that are not UTF-8.
void fill_awkward_tree(e2e::TempTree& t) {
    const std::vector<std::string> names = {
        "a,b.txt",
        "q\"uo\"te.txt",
        "new\nline.txt",
        "cr\rx.txt",
        "tab\there.txt",
        "pi|pe.txt",
        "\xC3\xBCn\xC3\xAF.txt",
        "bad\xFF\xFE.bin",
        "sub dir/plain.txt",
        "\"",
    };
    int size = 1;
    for (const auto& n : names) t.file("tree/" + n, std::string(std::size_t(size++ * 7), 'x'));
    const std::string plain = t.path("tree/sub dir/plain.txt");
    // A stream where the file system carries user attributes.
    ::setxattr(plain.c_str(), "user.note,1", "hello", 5, 0);
    const auto zipped = run({"-c",
                             "import zipfile,sys\n"
                             "z=zipfile.ZipFile(sys.argv[1],'w')\n"
                             "z.writestr('m,\"1\".txt','abc'*9)\nz.close()",
                             t.path("tree/arc.zip")},
                            {}, false, {}, std::nullopt, "/usr/bin/python3");
    ASSERT_EQ(zipped.status, 0) << zipped.err;
    t.stamp("tree/arc.zip");
}

TEST(TableFormats, PythonReadsBackEveryNameSizeTimeAndDigest) {
    e2e::TempTree t;
    fill_awkward_tree(t);
    const std::string work = t.dir("work");
    struct Row {
        std::vector<std::string> options;
        const char* form;
        bool on_stdout;
        const char* zulu;
    };
    const Row rows[] = {
        {{"--CSV", "-o", "list"}, "csv", false, "local"},
        {{"--jsonl", "-o", "list"}, "jsonl", false, "local"},
        {{"--CSV", "-ostdout", "-z"}, "csv", true, "z"},
        {{"--JSONL", "-ostdout"}, "jsonl", true, "local"},
        // Sorted by size, then by name: rows holding line feeds stay whole.
        {{"--JSONL", "-o", "list", "-yN"}, "jsonl", false, "local"},
        {{"--CSV", "-o", "list", "-ys"}, "csv", false, "local"},
    };
    for (const Row& row : rows) {
        std::vector<std::string> args{t.path("tree"), "--MD5", "--ziplog"};
        args.insert(args.end(), row.options.begin(), row.options.end());
        const auto listed = run(args, work);
        SCOPED_TRACE(row.options[0] + " " + row.options[1]);
        ASSERT_EQ(listed.status, 1) << listed.err;
        const std::string listing = work + "/list";
        if (row.on_stdout) std::ofstream(listing, std::ios::binary) << listed.out;
        // The summary went to the error stream.
        EXPECT_NE(listed.err.find(" files, "), std::string::npos);
        const auto checked = run({"-c", check_script, t.path("tree"), listing, row.form, row.zulu},
                                 {}, false, {}, std::nullopt, "/usr/bin/python3");
        EXPECT_EQ(checked.out.substr(0, 6), "ok 11 ") << checked.out << checked.err;
        EXPECT_NE(checked.out.find("zip member"), std::string::npos) << checked.out;
    }
    // The last sort kept the header row first.
    const std::string sorted = read_file(work + "/list");
    EXPECT_EQ(sorted.rfind("kind,path,path_bytes,size,attributes,md5,modified,zone,modified_ns,"
                           "change_time_ns,device,inode,links,",
                           0),
              0u)
        << sorted.substr(0, 200);
}

// The README's commands: the CSV imported with one command, the JSON
// Lines through SQLite's JSON functions; both count the same files and bytes.
// Each listing is written twice, the second time appended (-O): the CSV
// keeps one header row.
TEST(TableFormats, SqliteImportsBothListings) {
    e2e::TempTree t;
    fill_awkward_tree(t);
    const std::string work = t.dir("work");
    for (const char* output : {"-o", "-O"}) {
        ASSERT_EQ(run({t.path("tree"), "--CSV", output, "list.csv"}, work).status, 1);
        ASSERT_EQ(run({t.path("tree"), "--JSONL", output, "list.jsonl"}, work).status, 1);
    }
    const std::string sqlite = "/usr/bin/sqlite3";
    const auto csv = run({"csv.db", ".import --csv list.csv files",
                          "select count(*), sum(size), sum(kind = 'kind') from files"
                          " where kind in ('file', 'kind')"},
                         work, false, {}, std::nullopt, sqlite);
    const auto jsonl = run({"json.db", "create table raw(j text)", ".mode ascii",
                            ".separator \"\\037\" \"\\n\"", ".import list.jsonl raw", ".mode list",
                            "select count(*), sum(json_extract(j, '$.size')) from raw"
                            " where json_extract(j, '$.kind') = 'file'"},
                           work, false, {}, std::nullopt, sqlite);
    // Twice eleven files of 7, 14, ... 70 bytes and the archive.
    const long archive = long(std::filesystem::file_size(t.path("tree/arc.zip")));
    const std::string expected = "22|" + std::to_string(2 * (385 + archive));
    EXPECT_EQ(csv.out, expected + "|0\n") << csv.err;
    EXPECT_EQ(jsonl.out, expected + "\n") << jsonl.err;
}

// A directory or a link has no contents of its own: its digest fields are
// empty (CSV) or null (JSON), so that a query for duplicates does not put
// it with the empty files. A link is listed as one, with its target, and
// nothing is read through it, wherever it points.
TEST(TableFormats, DirectoriesAndLinksCarryNoDigest) {
    e2e::TempTree t, elsewhere;
    t.file("tree/empty.txt");
    t.dir("tree/sub");
    t.stamp("tree/sub");
    const std::string secret = elsewhere.file("secret.txt", "abc");
    t.link(secret, "tree/to-secret");
    t.link("sub", "tree/to-sub");
    const std::string tree = t.path("tree");
    const std::string empty_md5 = "D41D8CD98F00B204E9800998ECF8427E";
    // The write time, and the entry's own status (a link's, not its target's).
    const auto when = [&](const std::string& name) {
        return ",2024-01-02T03:04:05.000+00:00,UTC," + e2e::precise_fields(tree + name, false) +
               ",";
    };
    const auto csv = run({tree, "-5", "--DIRECT", "--CSV", "-ostdout"});
    EXPECT_EQ(csv.status, 1) << csv.err;
    EXPECT_EQ(csv.out,
              "kind,path,path_bytes,size,attributes,md5,modified,zone,modified_ns,change_time_ns,"
              "device,inode,links,target\r\n"
              "directory," +
                  tree + "/sub,,0,....D.," + when("/sub") + "\r\n" + "link," + tree +
                  "/to-sub,,0,....D.," + when("/to-sub") + "sub\r\n" + "file," + tree +
                  "/empty.txt,,0,A.....," + empty_md5 + when("/empty.txt") + "\r\n" + "link," +
                  tree + "/to-secret,,0,......," + when("/to-secret") + secret + "\r\n");

    const auto row = [&](const char* kind, const std::string& name, const char* attributes,
                         const std::string& md5, const std::string& target) {
        return std::string("{\"kind\":\"") + kind + "\",\"path\":\"" + tree + name +
               "\",\"size\":0,\"attributes\":\"" + attributes + "\",\"md5\":" + md5 +
               ",\"modified\":\"2024-01-02T03:04:05.000+00:00\",\"zone\":\"UTC\"," +
               e2e::precise_fields(tree + name, true) +
               (target.empty() ? "" : ",\"target\":\"" + target + "\"") + "}\n";
    };
    const auto jsonl = run({tree, "-5", "--DIRECT", "--JSONL", "-ostdout"});
    EXPECT_EQ(jsonl.out, row("directory", "/sub", "....D.", "null", "") +
                             row("link", "/to-sub", "....D.", "null", "sub") +
                             row("file", "/empty.txt", "A.....", '"' + empty_md5 + '"', "") +
                             row("link", "/to-secret", "......", "null", secret));
}

// Each row holds its entry's own status at full precision: two names of
// one file share its device and inode, a link has its own, and a start
// path that names a file (reached without a directory search) is no
// different.
TEST(TableFormats, RowsHoldTheEntrysOwnTimesAndIdentity) {
    e2e::TempTree t;
    t.file("tree/one.txt", "x");
    t.stamp("tree/one.txt", e2e::kStamp, 123456789);
    t.dir("tree/sub");
    std::filesystem::create_hard_link(t.path("tree/one.txt"), t.path("tree/sub/two.txt"));
    t.link("one.txt", "tree/ln");
    const auto listed = run({t.path("tree"), "-Ad", "--JSONL", "-ostdout"});
    ASSERT_EQ(listed.status, 1) << listed.err;
    for (const char* name : {"one.txt", "sub/two.txt", "ln", "sub"}) {
        SCOPED_TRACE(name);
        const std::string row = e2e::line_with(listed.out, "\"path\":\"" + t.path("tree/") + name);
        EXPECT_NE(
            row.find(",\"zone\":\"UTC\"," + e2e::precise_fields(t.path("tree/") + name, true) +
                     (name == std::string("ln") ? ",\"target\"" : "}")),
            std::string::npos)
            << row;
    }
    const std::string one = e2e::precise_fields(t.path("tree/one.txt"), true);
    EXPECT_EQ(e2e::precise_fields(t.path("tree/sub/two.txt"), true), one);
    EXPECT_NE(one.find("\"modified_ns\":1704164645123456789,"), std::string::npos) << one;
    EXPECT_NE(one.find("\"links\":2"), std::string::npos) << one;
    EXPECT_NE(e2e::precise_fields(t.path("tree/ln"), true), one);

    // A write time past what 64 bits of nanoseconds hold (the year 2500) is
    // none, and the row says the system cannot tell rather than a wrong value.
    t.file("far/future.txt", "x");
    t.stamp("far/future.txt", 16725225600);
    const auto far = run({t.path("far"), "--JSONL", "-ostdout"});
    EXPECT_NE(far.out.find("\"modified_ns\":null,\"change_time_ns\":null,\"device\":null,"
                           "\"inode\":null,\"links\":null"),
              std::string::npos)
        << far.out;

    const auto single = run({t.path("tree/one.txt"), "--CSV", "-ostdout"});
    EXPECT_NE(
        single.out.find(",UTC," + e2e::precise_fields(t.path("tree/one.txt"), false) + ",\r\n"),
        std::string::npos)
        << single.out;
}

// Whatever else the run has to say, the standard output of a CSV or JSON
// Lines run holds the header row and the rows alone; the notices go to the
// error stream.
TEST(TableFormats, TheStandardOutputHoldsRowsAndTheNoticesGoToTheErrorStream) {
    e2e::TempTree t;
    t.file("tree/a.txt", "abc");
    // A ZIP file that cannot be opened: a pipe that took its name.
    ASSERT_EQ(::mkfifo(t.path("tree/p.zip").c_str(), 0600), 0);
    const std::string work = t.dir("work");
    struct Row {
        std::vector<std::string> options;
        std::string notice;
        std::string ini;
    };
    const Row rows[] = {
        {{"--CSV", "-R"}, "No hashing options were chosen", ""},
        {{"--JSONL", "--ziplog"}, "Ziplog check, can't open file", ""},
        {{"--CSV", "-v"}, "Auto logfile created", ""},
        {{"--JSONL", "-i"}, "disk label: 1000", ""},
        {{"--CSV", "-ILABEL"}, "disk label: LABEL", ""},
        {{"--JSONL"}, "Illegal ini file directive STREAM", "[FILARIX64]\nSTREAM\n"},
    };
    for (const Row& row : rows) {
        std::vector<std::string> args{t.path("tree"), "-ostdout"};
        args.insert(args.end(), row.options.begin(), row.options.end());
        SCOPED_TRACE(row.options.back());
        if (!row.ini.empty()) std::ofstream(work + "/filarix64.ini") << row.ini;
        const auto listed = run(args, work);
        EXPECT_EQ(listed.status, 1) << listed.err;
        const bool csv = row.options[0] == "--CSV";
        std::string expected = csv ? "kind,\nfile,\nfile,\n" : "{\"kind\":\n{\"kind\":\n";
        std::string got;
        for (std::size_t at = 0, end; at < listed.out.size(); at = end + 1) {
            end = std::min(listed.out.find('\n', at), listed.out.size());
            got += listed.out.substr(at, csv ? 5 : 8) + "\n";
        }
        EXPECT_EQ(got, expected) << listed.out;
        EXPECT_NE(listed.err.find(row.notice), std::string::npos) << listed.err;
    }
}

TEST(TableFormats, ProgressShowsAShareOnATerminalAndNothingInAPipe) {
    e2e::TempTree t;
    for (int i = 0; i < 40; ++i) t.file("tree/f" + std::to_string(i), std::string(1000, 'y'));
    const std::string list = t.path("list.txt");
    e2e::Terminal term({t.path("tree"), "--PROGRESS", "-o", list});
    EXPECT_TRUE(term.wait_for("100%"));
    EXPECT_EQ(term.finish(), 1);
    EXPECT_NE(term.output.find("40/40 files"), std::string::npos) << term.output;
    EXPECT_NE(term.output.find("left"), std::string::npos) << term.output;

    const auto piped = run({t.path("tree"), "--PROGRESS", "-o", list});
    EXPECT_EQ(piped.status, 1);
    EXPECT_EQ(piped.err.find('%'), std::string::npos) << piped.err;
    EXPECT_EQ(piped.err.find('\r'), std::string::npos) << piped.err;
    // Without the option the directory line is drawn as before.
    EXPECT_NE(run({t.path("tree"), "-o", list}).err.find('\r'), std::string::npos);
}

}  // namespace
