// End-to-end: --DUPES groups read back from the listing and compared with
// the groups jdupes finds in the same tree, as sets of paths.
#include <algorithm>

#include "e2e_support.hpp"

namespace {

using e2e::read_file;
using e2e::run;

// Reads a CSV, JSON Lines or text (-V) listing of --DUPES and checks its
// order: group numbers from 1 up, each group's rows together, groups by
// descending size then first path, names in path order. Then compares the
// groups with those of `jdupes -r -H` (every name of a file), kept to the
// files `keep` (a Python expression of name and size) selects and with the
// groups that are names of one file alone left out. Prints "ok" and the
// group count, or what differs.
constexpr const char* check_script = R"PY(
import csv, io, json, os, subprocess, sys
listing, form, root, keep = sys.argv[1], sys.argv[2], sys.argv[3], sys.argv[4]
data = open(listing, "rb").read().decode("utf-8", "surrogateescape")
rows = []  # group, path, size
def exact(r):
    raw = r.get("path_bytes")
    return os.fsdecode(bytes.fromhex(raw)) if raw else r["path"]
if form == "csv":
    for r in csv.DictReader(io.StringIO(data, newline="")):
        rows.append((int(r["dupe_group"]), exact(r), int(r["size"])))
elif form == "jsonl":
    for line in data.splitlines():
        r = json.loads(line)
        rows.append((r["dupe_group"], exact(r), r["size"]))
else:
    for line in data.split("\n"):
        f = line.split("|")
        if len(f) > 2 and f[1].startswith(root + "/"):
            rows.append((int(f[0]), f[1], int(f[2])))
bad, ours = [], {}
for g, path, size in rows:
    ours.setdefault(g, []).append((path, size))
if sorted(ours) != list(range(1, len(ours) + 1)): bad.append(("numbers", sorted(ours)))
if [g for g, _, _ in rows] != sorted(g for g, _, _ in rows): bad.append("groups apart")
def fs(p): return os.fsencode(p)
for g, names in ours.items():
    if [fs(p) for p, _ in names] != sorted(fs(p) for p, _ in names): bad.append(("name order", g))
    if len({s for _, s in names}) != 1: bad.append(("sizes", g))
keys = [(-ours[g][0][1], fs(ours[g][0][0])) for g in sorted(ours)]
if keys != sorted(keys): bad.append("group order")
out = subprocess.run(["jdupes", "-r", "-q", "-H", root], capture_output=True).stdout
theirs = []
for block in out.split(b"\n\n"):
    names = [os.fsdecode(n) for n in block.split(b"\n") if n]
    names = [n for n in names if eval(keep, {}, {"name": os.path.basename(n),
                                                  "size": os.lstat(n).st_size})]
    if len({(os.lstat(n).st_dev, os.lstat(n).st_ino) for n in names}) >= 2:
        theirs.append(frozenset(names))
mine = {frozenset(p for p, _ in names) for names in ours.values()}
if mine != set(theirs): bad.append(("differ", mine ^ set(theirs)))
print("ok" if not bad else bad, len(ours))
)PY";

std::string repeated(const std::string& unit, std::size_t size) {
    std::string text;
    while (text.size() < size) text += unit;
    text.resize(size);
    return text;
}

// Groups of two and three, a file differing from its group only in the
// last byte or in the middle (the same first and last bytes), files of
// one size with other contents, a size no other file has, empty files, a
// name that is not UTF-8 and one with blanks.
void fill_tree(e2e::TempTree& t) {
    const std::string big = repeated("0123456789abcdef", 20000);
    t.file("tree/a/big1.bin", big);
    t.file("tree/b/big2.bin", big);
    t.file("tree/big3.bin", big);
    std::string last = big;
    last.back() = 'X';
    t.file("tree/a/last.bin", last);
    std::string middle = big;
    middle[10000] = 'M';
    t.file("tree/a/middle.bin", middle);
    t.file("tree/pair one.txt", repeated("pair", 5000));
    t.file("tree/b/bad\xff.txt", repeated("pair", 5000));
    t.file("tree/small1.txt", "tiny");
    t.file("tree/b/small2.txt", "tiny");
    t.file("tree/same1.dat", repeated("A", 3000));
    t.file("tree/same2.dat", repeated("B", 3000));
    t.file("tree/unique.dat", repeated("U", 7777));
    t.file("tree/empty1");
    t.file("tree/b/empty2");
}

TEST(Dupes, GroupsAreThoseJdupesFinds) {
    e2e::TempTree t;
    fill_tree(t);
    const std::string work = t.dir("work");
    struct Case {
        const char* name;
        std::vector<std::string> options;
        const char* form;
        const char* keep;
        const char* groups;
    };
    const Case cases[] = {
        {"CSV", {"--DUPES", "--CSV", "-o", "list"}, "csv", "True", "ok 3\n"},
        {"JSON Lines with MD5",
         {"--dupes", "--JSONL", "-5", "-o", "list"},
         "jsonl",
         "True",
         "ok 3\n"},
        {"text", {"--DUPES", "-V", "-o", "list"}, "text", "True", "ok 3\n"},
        {"mask",
         {"--DUPES", "--CSV", "-o", "list", "-f", "*.bin"},
         "csv",
         "name.endswith('.bin')",
         "ok 1\n"},
        {"exclude",
         {"--DUPES", "--CSV", "-o", "list", "-x", "big3*"},
         "csv",
         "name != 'big3.bin'",
         "ok 3\n"},
        {"size limits",
         {"--DUPES", "--JSONL", "-o", "list", "-G", "10", "-L", "20000"},
         "jsonl",
         "10 <= size <= 20000",
         "ok 2\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::string> args{t.path("tree")};
        args.insert(args.end(), c.options.begin(), c.options.end());
        const auto listed = run(args, work);
        ASSERT_EQ(listed.status, 1) << listed.err;
        const auto checked =
            run({"-c", check_script, work + "/list", c.form, t.path("tree"), c.keep}, {}, false, {},
                std::nullopt, "/usr/bin/python3");
        EXPECT_EQ(checked.out, c.groups) << checked.err << read_file(work + "/list");
    }
}

// The summary counts files, not names, and the bytes all copies but one
// take; a run with no copies lists nothing and ends with status 0.
TEST(Dupes, HardLinksAreOneFileAndEmptyFilesNoCopies) {
    e2e::TempTree t;
    const std::string content = repeated("h", 6000);
    t.file("tree/h1", content);
    ASSERT_EQ(::link(t.path("tree/h1").c_str(), t.path("tree/h2").c_str()), 0);
    t.file("tree/copy", content);
    t.file("tree/lone", "lone");
    ASSERT_EQ(::link(t.path("tree/lone").c_str(), t.path("tree/lone2").c_str()), 0);
    t.file("tree/e1");
    t.file("tree/e2");
    const auto r = run({t.path("tree"), "--DUPES", "--CSV", "--SHA2", "-o", "stdout"});
    ASSERT_EQ(r.status, 1) << r.err;
    EXPECT_NE(r.err.find("\n  Duplicate groups: 1, files: 2, bytes that could be saved: 6,000\n"),
              std::string::npos)
        << r.err;
    // The three names, one group, in path order; lone and its second name
    // are one file, and the empty files none.
    std::vector<std::string> listed;
    std::istringstream rows(r.out);
    for (std::string line; std::getline(rows, line);) listed.push_back(line.substr(0, 40));
    ASSERT_EQ(listed.size(), 4u) << r.out;
    EXPECT_TRUE(listed[0].starts_with("kind,dupe_group,path,")) << listed[0];
    for (const char* name : {"copy", "h1", "h2"})
        EXPECT_NE(r.out.find("file,1," + t.path("tree/") + name + ","), std::string::npos)
            << name << "\n"
            << r.out;

    const auto none = run({t.path("tree"), "--DUPES", "-f", "lone*", "e*"});
    EXPECT_EQ(none.status, 0) << none.err;
    EXPECT_NE(none.err.find("Duplicate groups: 0, files: 0, bytes that could be saved: 0"),
              std::string::npos)
        << none.err;
}

// A file whose size no other file has is never opened, and a file whose
// size others have is opened once, for its sample and its digest.
TEST(Dupes, AFileOfAUniqueSizeIsNeverOpened) {
    e2e::TempTree t;
    fill_tree(t);
    const std::string trace = t.path("trace");
    const auto r = run({"-f", "-e", "trace=open,openat,openat2", "-o", trace, FILARIX_BINARY,
                        t.path("tree"), "--DUPES", "--CSV", "-o", t.path("list")},
                       {}, false, {}, std::nullopt, "/usr/bin/strace");
    ASSERT_EQ(r.status, 1) << r.err;
    const std::string opens = read_file(trace);
    ASSERT_NE(opens.find("big1.bin\""), std::string::npos) << opens;
    for (const char* name : {"unique.dat", "empty1", "empty2"})
        EXPECT_EQ(opens.find(std::string(name) + "\""), std::string::npos) << name << "\n" << opens;
    // Each file is opened once: kept open from its sample to its digest.
    const auto opened = [&](const std::string& name) {
        std::size_t n = 0;
        for (auto at = opens.find(name + "\""); at != std::string::npos;
             at = opens.find(name + "\"", at + 1))
            ++n;
        return n;
    };
    for (const char* name : {"last.bin", "middle.bin", "big2.bin"})
        EXPECT_EQ(opened(name), 1u) << name << "\n" << opens;
}

// A hash set counts the rows listed, each looked up once in its group's
// digests; --KNOWN selects before the search.
TEST(Dupes, AHashSetCountsTheRowsListed) {
    e2e::TempTree t;
    fill_tree(t);
    const auto sum =
        run({t.path("tree/big3.bin")}, {}, false, {}, std::nullopt, "/usr/bin/sha256sum");
    ASSERT_EQ(sum.status, 0);
    std::ofstream(t.path("set.txt")) << sum.out;
    struct Case {
        const char* match;
        const char* counts;
        std::size_t rows;
    };
    const Case cases[] = {
        {nullptr, "Hash set: 3 files known, 4 files unknown", 7},
        {"--KNOWN", "Hash set: 3 files known, 0 files unknown", 3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.match ? c.match : "all");
        std::vector<std::string> args{t.path("tree"), "--DUPES", "--HASHSET=" + t.path("set.txt"),
                                      "--CSV",        "-o",      "stdout"};
        if (c.match) args.push_back(c.match);
        const auto r = run(args);
        ASSERT_EQ(r.status, 1) << r.err;
        EXPECT_NE(r.err.find(c.counts), std::string::npos) << r.err;
        EXPECT_EQ(static_cast<std::size_t>(std::count(r.out.begin(), r.out.end(), '\n')),
                  c.rows + 1)
            << r.out;
    }
}

// The rows come in the duplicate phase only; Ctrl+C there leaves whole
// rows and status 2.
TEST(Dupes, CtrlCInTheDuplicatePhaseLeavesWholeRows) {
    e2e::TempTree t;
    char name[32];
    for (int d = 0; d < 4; ++d)
        for (int f = 0; f < 500; ++f) {
            const std::string content = "pair " + std::to_string(d * 1000 + f);
            for (const char copy : {'a', 'b'}) {
                std::snprintf(name, sizeof name, "d%d/%c%d", d, copy, f);
                t.file(name, content);
            }
        }
    e2e::Child child({t.root(), "--DUPES", "--CSV", "-o", "stdout"});
    ASSERT_TRUE(child.pump([&](const std::string&) { return child.out().size() > 4096; }));
    ASSERT_EQ(::kill(child.pid(), SIGINT), 0);
    const e2e::Result cut = child.finish();
    ASSERT_EQ(cut.status, 2) << cut.err;
    ASSERT_TRUE(cut.out.ends_with("\r\n"));
    const auto rows = std::count(cut.out.begin(), cut.out.end(), '\n');
    EXPECT_GT(rows, 2);
    EXPECT_LT(rows, 4001);
}

// Two files of one size, first and last bytes alike, made to share their
// CRC-32: asked for CRC-32 alone, the run still proves copies with SHA-256.
constexpr const char* crc_twins_script = R"PY(
import sys, zlib
n, p = 10000, 5000
a = bytearray(b"q" * n)
def crc(x): return zlib.crc32(bytes(x))
def flipped(x, i):
    y = bytearray(x); y[p + i // 8] ^= 1 << (i % 8); return y
effects = [crc(flipped(a, i)) ^ crc(a) for i in range(32)]
b = bytearray(a); b[p - 1] ^= 0xFF
basis = {}
for i, v in enumerate(effects):
    c = 1 << i
    for bit in reversed(range(32)):
        if not (v >> bit) & 1: continue
        if bit in basis: v, c = v ^ basis[bit][0], c ^ basis[bit][1]
        else: basis[bit] = (v, c); break
t, combo = crc(b) ^ crc(a), 0
for bit in reversed(range(32)):
    if (t >> bit) & 1: t, combo = t ^ basis[bit][0], combo ^ basis[bit][1]
for i in range(32):
    if (combo >> i) & 1: b = flipped(b, i)
assert crc(a) == crc(b) and a != b
open(sys.argv[1] + "/a.bin", "wb").write(a)
open(sys.argv[1] + "/b.bin", "wb").write(b)
print("%08X" % crc(a))
)PY";

TEST(Dupes, FilesSharingOnlyACrcAreNoCopies) {
    e2e::TempTree t;
    const auto made = run({"-c", crc_twins_script, t.dir("tree")}, {}, false, {}, std::nullopt,
                          "/usr/bin/python3");
    ASSERT_EQ(made.out.size(), 9u) << made.err;
    const auto plain = run({t.path("tree"), "-c", "--CSV", "-o", "stdout"});
    ASSERT_EQ(plain.status, 1) << plain.err;
    // Both rows show the one CRC-32.
    const std::string crc = "," + made.out.substr(0, 8) + ",";
    const auto first = plain.out.find(crc);
    ASSERT_NE(first, std::string::npos) << plain.out;
    EXPECT_NE(plain.out.find(crc, first + 1), std::string::npos) << plain.out;
    const auto r = run({t.path("tree"), "--DUPES", "-c", "--CSV", "-o", "stdout"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("Duplicate groups: 0, files: 0,"), std::string::npos) << r.err;
}

// The rows' SHA-256 against each file's own bytes: a copy shows the
// digest its group was proven on, which must be its own.
constexpr const char* sha256_script = R"PY(
import csv, hashlib, sys
bad = [r["path"] for r in csv.DictReader(open(sys.argv[1], newline=""))
       if hashlib.sha256(open(r["path"], "rb").read()).hexdigest().upper() != r["sha256"]]
print("ok" if not bad else bad)
)PY";

// Files of one size whose first and last bytes are alike, so that only
// their whole bytes tell them apart (content n differs from the others in
// its middle byte); sampled ones and small ones read whole at once, sets
// with more contents than the search holds to compare with and longer than
// one read job takes, hard links. Each on one thread and on two: the groups
// are jdupes', and every row's digest is its file's.
TEST(Dupes, CopiesAreProvenByTheirBytes) {
    struct File {
        std::string name;
        int content;  // -1: a second name of the file before
    };
    struct Case {
        const char* name;
        std::size_t size;
        std::vector<File> files;
        const char* groups;
    };
    const auto numbered = [](std::size_t files, int contents) {
        std::vector<File> out;
        for (std::size_t i = 0; i < files; ++i)
            out.push_back({"f" + std::to_string(100 + i), static_cast<int>(i % contents)});
        return out;
    };
    const Case cases[] = {
        {"a middle byte apart", 10000, {{"a", 0}, {"b", 1}}, "ok 0\n"},
        {"three, two alike", 10000, {{"a", 0}, {"b", 1}, {"c", 0}}, "ok 1\n"},
        {"more contents than are held", 10000, numbered(12, 6), "ok 6\n"},
        {"a set longer than a job", 10000, numbered(21, 7), "ok 7\n"},
        {"a copy of a content past those held",
         10000,
         {{"a", 0}, {"b", 1}, {"c", 2}, {"d", 3}, {"e", 4}, {"f", 5}, {"g", 5}, {"h", 1}},
         "ok 2\n"},
        {"small files read whole at once",
         3000,
         {{"a", 0}, {"b", 1}, {"c", 0}, {"d", 1}, {"e", 2}},
         "ok 2\n"},
        {"hard links and a copy",
         10000,
         {{"a", 0}, {"b", -1}, {"c", 0}, {"d", 1}, {"e", -1}},
         "ok 1\n"},
    };
    for (const Case& c : cases)
        for (const bool one_thread : {false, true}) {
            SCOPED_TRACE(std::string(c.name) + (one_thread ? ", one thread" : ", two threads"));
            e2e::TempTree t;
            std::string last;
            for (const File& f : c.files) {
                if (f.content < 0) {
                    ASSERT_EQ(
                        ::link(t.path("tree/" + last).c_str(), t.path("tree/" + f.name).c_str()),
                        0);
                    continue;
                }
                std::string bytes = repeated("0123456789abcdef", c.size);
                bytes[c.size / 2] = static_cast<char>('A' + f.content);
                t.file("tree/" + f.name, bytes);
                last = f.name;
            }
            const std::string list = t.path("list");
            std::vector<std::string> env;
            if (one_thread) env.push_back("FILARIX_DIGEST_THREADS=1");
            const auto listed =
                run({t.path("tree"), "--DUPES", "--SHA2", "--CSV", "-o", list}, {}, false, env);
            ASSERT_LE(listed.status, 1) << listed.err;
            const auto checked = run({"-c", check_script, list, "csv", t.path("tree"), "True"}, {},
                                     false, {}, std::nullopt, "/usr/bin/python3");
            EXPECT_EQ(checked.out, c.groups) << checked.err << read_file(list);
            const auto digests =
                run({"-c", sha256_script, list}, {}, false, {}, std::nullopt, "/usr/bin/python3");
            EXPECT_EQ(digests.out, "ok\n") << digests.err;
        }
}

// With --PROGRESS on a terminal the search draws a line of its own below
// the walk's, from none of the files whose size another shares to all of
// them; into a pipe nothing.
TEST(Dupes, ProgressShowsTheSearchOnATerminal) {
    e2e::TempTree t;
    for (int i = 0; i < 20; ++i) {
        const std::string content(100 + i, static_cast<char>('a' + i));
        t.file("tree/a" + std::to_string(i), content);
        t.file("tree/b" + std::to_string(i), content);
    }
    t.file("tree/unique", "alone");
    const std::string list = t.path("list");
    e2e::Terminal term({t.path("tree"), "--DUPES", "--PROGRESS", "-o", list});
    EXPECT_TRUE(term.wait_for("Duplicate groups"));
    EXPECT_EQ(term.finish(), 1);
    const std::string& out = term.output;
    const auto walked = out.find("41/41 files");
    const auto started = out.find(" Duplicate search: 0/40 files");
    const auto ended = out.find(" Duplicate search: 40/40 files");
    ASSERT_NE(walked, std::string::npos) << out;
    ASSERT_NE(started, std::string::npos) << out;
    ASSERT_NE(ended, std::string::npos) << out;
    EXPECT_LT(walked, started) << out;
    EXPECT_LT(started, ended) << out;
    // Below the walk's line, not over it.
    EXPECT_NE(out.find('\n', walked), std::string::npos);
    EXPECT_LT(out.find('\n', walked), started) << out;
    EXPECT_NE(out.find("100%", ended), std::string::npos) << out;

    const auto piped = run({t.path("tree"), "--DUPES", "--PROGRESS", "-o", list});
    EXPECT_EQ(piped.status, 1) << piped.err;
    EXPECT_EQ(piped.err.find("Duplicate search"), std::string::npos) << piped.err;
}

}  // namespace

// A copy below a path longer than the system takes whole is still found:
// the search opens it after the walk has let go of its directories.
TEST(Dupes, ACopyBelowAPathTooLongForTheSystemIsFound) {
    e2e::TempTree t;
    t.file("tree/top", "copy");
    const std::string level(200, 'd');
    std::vector<int> chain{::open(t.path("tree").c_str(), O_RDONLY | O_DIRECTORY)};
    for (int i = 0; i < 25; ++i) {
        ASSERT_EQ(::mkdirat(chain.back(), level.c_str(), 0700), 0);
        chain.push_back(::openat(chain.back(), level.c_str(), O_RDONLY | O_DIRECTORY));
        ASSERT_GE(chain.back(), 0);
    }
    const int deep = ::openat(chain.back(), "deep", O_WRONLY | O_CREAT, 0600);
    ASSERT_EQ(::write(deep, "copy", 4), 4);
    ::close(deep);

    const auto r = run({t.path("tree"), "--DUPES", "--CSV", "-o", "stdout"});
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_NE(r.err.find("Duplicate groups: 1, files: 2, bytes that could be saved: 4"),
              std::string::npos)
        << r.err;
    EXPECT_NE(r.out.find("/" + level + "/deep,"), std::string::npos) << r.out.substr(0, 300);

    // The chain is taken down from its end: no path to it is short enough.
    ::unlinkat(chain.back(), "deep", 0);
    for (std::size_t i = chain.size() - 1; i > 0; --i) {
        ::close(chain[i]);
        ::unlinkat(chain[i - 1], level.c_str(), AT_REMOVEDIR);
    }
    ::close(chain[0]);
}

// Under a small descriptor limit the search holds fewer files open at once
// instead of losing the copies it could not open.
TEST(Dupes, EveryCopyIsFoundUnderASmallDescriptorLimit) {
    e2e::TempTree t;
    for (int i = 0; i < 300; ++i) t.file("tree/s" + std::to_string(i), "same bytes here\n");
    for (int i = 0; i < 200; ++i) t.file("tree/z" + std::to_string(i), std::string(5000, 'z'));
    for (const char* limit : {"16", "40"}) {
        const std::string command = std::string("ulimit -n ") + limit +
                                    "; exec '" FILARIX_BINARY "' '" + t.path("tree") +
                                    "' --DUPES --CSV -o stdout";
        const auto r = run({"-c", command}, {}, false, {}, std::nullopt, "/bin/sh");
        EXPECT_EQ(r.status, 1) << limit << r.err.substr(0, 300);
        EXPECT_NE(r.err.find("Duplicate groups: 2, files: 500, bytes that could be saved: 999,784"),
                  std::string::npos)
            << "limit " << limit << "\n"
            << r.err.substr(r.err.size() > 600 ? r.err.size() - 600 : 0);
    }
}
