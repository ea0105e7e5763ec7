// End-to-end: --TREESIZE totals read back from the listing itself. Each
// directory's totals must be the sum of the file rows the same listing
// holds below it, a file of two names counted at its first only.
#include "e2e_support.hpp"

namespace {

using e2e::read_file;
using e2e::run;

// Reads a CSV, JSON Lines or text (-V) listing and checks every total
// against the file rows below its directory, in the listing's order: a
// file counts once per identity, at the first row that has it. A table's
// directory row follows everything below it; a text closing line follows
// its subtree and, below a start path, its directory's record. Prints "ok",
// the number of totals checked and those of the start path.
constexpr const char* check_script = R"PY(
import csv, io, json, os, re, sys
listing, form, root = sys.argv[1], sys.argv[2], sys.argv[3]
data = open(listing, "rb").read().decode("utf-8")
rows = []  # kind, path, size, identity, totals
def number(text): return int(text.replace(",", ""))
if form == "csv":
    for r in csv.DictReader(io.StringIO(data, newline="")):
        tree = (int(r["tree_files"]), int(r["tree_bytes"])) if r["tree_files"] else None
        rows.append((r["kind"], r["path"], int(r["size"]), (r["device"], r["inode"]), tree))
elif form == "jsonl":
    for line in data.splitlines():
        r = json.loads(line)
        tree = (r["tree_files"], r["tree_bytes"]) if r.get("tree_files") is not None else None
        rows.append((r["kind"], r["path"], r["size"], (str(r["device"]), str(r["inode"])), tree))
else:
    for line in data.split("\n"):
        m = re.fullmatch(r"Tree totals: ([\d,]+) files, ([\d,]+) bytes: (.*)", line)
        if m:
            rows.append(("totals", m[3], 0, None, (number(m[1]), number(m[2]))))
        elif line.startswith(root + "|") or line.startswith(root + "/"):
            f = line.split("|")
            st = os.lstat(f[0])
            kind = "directory" if "D" in f[2] else "file"
            rows.append((kind, f[0], int(f[1]), (str(st.st_dev), str(st.st_ino)), None))
bad, seen, counted = [], set(), []
for kind, path, size, ident, tree in rows:
    counted.append(kind == "file" and ident not in seen)
    if kind == "file": seen.add(ident)
    if kind == "file" and tree is not None: bad.append(("file with totals", path))
    if form != "text" and kind == "directory" and tree is None: bad.append(("no totals", path))
checked, start = 0, None
for i, (kind, path, size, ident, tree) in enumerate(rows):
    if tree is None: continue
    checked += 1
    below = [j for j, r in enumerate(rows) if r[1].startswith(path + "/")]
    want = (sum(1 for j in below if counted[j]), sum(rows[j][2] for j in below if counted[j]))
    if want != tree: bad.append((path, tree, want))
    if below and max(below) > i: bad.append(("before its subtree", path))
    if form == "text" and path != root:
        own = [j for j, r in enumerate(rows) if r[1] == path and r[0] == "directory"]
        if not own or own[0] > min(below + [i]): bad.append(("record not first", path))
    if path == root: start = tree
print("ok" if not bad else bad, checked, start)
)PY";

// Nested directories, a mask (*.txt), an exclusion (skip*) and a second
// name of a file, met after the first.
void fill_tree(e2e::TempTree& t) {
    t.file("tree/top.txt", "1");
    t.file("tree/skip_me.txt", std::string(100, 's'));
    t.file("tree/a/x.txt", "55555");
    t.file("tree/a/notes.log", std::string(50, 'n'));
    t.file("tree/a/b/y.txt", "999999999");
    t.file("tree/a/b/deep/d/e/f.txt", "7777777");
    t.dir("tree/c/empty");
    EXPECT_EQ(::link(t.path("tree/a/b/y.txt").c_str(), t.path("tree/c/y2.txt").c_str()), 0);
}

TEST(TreeSize, TotalsAreTheSumsOfTheListingsOwnFileRows) {
    e2e::TempTree t;
    fill_tree(t);
    const std::string work = t.dir("work");
    struct Case {
        const char* name;
        std::vector<std::string> options;
        const char* form;
        const char* ini;
        const char* start;  // the start path's totals
    };
    const Case cases[] = {
        {"CSV", {"--TREESIZE", "--CSV", "-o", "list"}, "csv", nullptr, "(4, 22)"},
        {"JSON Lines", {"--treesize", "--JSONL", "-o", "list"}, "jsonl", nullptr, "(4, 22)"},
        {"text", {"--TREESIZE", "-V", "-o", "list"}, "text", nullptr, "(4, 22)"},
        {"INI key", {"--CSV", "-o", "list"}, "csv", "[FILARIX64]\nTREESIZE=ON\n", "(4, 22)"},
        {"size filter",
         {"--TREESIZE", "--JSONL", "-o", "list", "-L", "6"},
         "jsonl",
         nullptr,
         "(2, 6)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::remove((work + "/filarix64.ini").c_str());
        if (c.ini) std::ofstream(work + "/filarix64.ini") << c.ini;
        std::vector<std::string> args{t.path("tree"), "-Ad", "-f", "*.txt", "-x", "skip*"};
        args.insert(args.end(), c.options.begin(), c.options.end());
        const auto listed = run(args, work);
        ASSERT_EQ(listed.status, 1) << listed.err;
        const auto checked = run({"-c", check_script, work + "/list", c.form, t.path("tree")}, {},
                                 false, {}, std::nullopt, "/usr/bin/python3");
        // Seven directories and the start path. Without a size filter it
        // holds top.txt, x.txt, y.txt and f.txt: the second name of y.txt,
        // the log and the excluded file are not counted.
        EXPECT_EQ(checked.out, std::string("ok 8 ") + c.start + "\n")
            << checked.err << read_file(work + "/list");
    }
}

// The text listing keeps every record and its order: the closing lines are
// all that is added. Without directories listed, a row has no totals to
// carry, and the listing is the same as without --TREESIZE.
TEST(TreeSize, TextRecordsStayAsTheyAre) {
    e2e::TempTree t;
    fill_tree(t);
    const auto records = [](const std::string& err) {
        std::string kept;
        std::istringstream in(err);
        for (std::string line; std::getline(in, line);)
            if (line.find('|') != std::string::npos) kept += line + "\n";
        return kept;
    };
    for (const bool directories : {true, false}) {
        std::vector<std::string> args{t.path("tree"), "-V"};
        if (directories) args.push_back("-Ad");
        const auto plain = run(args);
        args.push_back("--TREESIZE");
        const auto totalled = run(args);
        ASSERT_EQ(totalled.status, 1) << totalled.err;
        EXPECT_EQ(records(totalled.err), records(plain.err));
        EXPECT_EQ(totalled.err.find("Tree totals:") != std::string::npos, directories)
            << totalled.err;
        EXPECT_NE(records(plain.err), "");
    }
}

}  // namespace
