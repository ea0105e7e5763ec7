// The SHA-256, SHA-512, SHA3-256, XXH3-128 and BLAKE3 columns through the binary,
// with the digests on two threads and on one; and the known-digest set's
// two matching modes against a set made by sha256sum.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "e2e_support.hpp"

namespace {

struct Expected {
    long long size;
    const char* sha256;
    const char* sha512;
    const char* sha3;
};

// Computed once with Python's hashlib over the bytes of content(size).
const Expected expected[] = {
    {0, "E3B0C44298FC1C149AFBF4C8996FB92427AE41E4649B934CA495991B7852B855",
     "CF83E1357EEFB8BDF1542850D66D8007D620E4050B5715DC83F4A921D36CE9CE47D0D13C5D85F2B0FF8318D2877EE"
     "C2F63B931BD47417A81A538327AF927DA3E",
     "A7FFC6F8BF1ED76651C14756A061D662F580FF4DE43B49FA82D80A4B80F8434A"},
    {1, "CA358758F6D27E6CF45272937977A748FD88391DB679CEDA7DC7BF1F005EE879",
     "365D11A1DFE610B60EFA996136D37AB8AFD2715B8C6BC2850DC5E6005B702BB9F59B0F306ECB2C43EE44C429967D4"
     "5843524EB2F7C16AAB9BDE142EE268B51C6",
     "5223F7670B3B9BA04F57D477478AE77A58190D89F21DA0B0BE774735E23F9C96"},
    {55, "4CFCC2771BFE1D9569DFF80565EFDDB245E4F480503E29F39CABD2A803DF639A",
     "E9FD79E90BDDF2A68280729C4E3BCC41E0D58FF8593FBD517C9F5200040E99D7AD61A1914E38C8FDD7D86EA8ACBC8"
     "3F80910FB84BA1552365FBEFB71F15ECF01",
     "D69CA61FBA0511359CAA8D6AC871FF9D656E608CE268C9068154F3063D707CDA"},
    {56, "8C6FABC04644A28838809BBF23AAC665F574F8E350C3FC620AECD58193FC6FE9",
     "12E92CEA2663389B8FF451F28F954D9E3AEBF582B6D2D077C769B91086F9C69144D98F8C6D45915B8D2066B05D695"
     "979666D59ED02673CEEF196D59745238476",
     "84509B2617A4903EFC2304F69487A3608E73B71F7B2A4917C94B47ECB2817477"},
    {63, "F9740F526FF5B76381FBD8F27333DE45FF77BC1E6CD2D696357F837F2C6FB3BD",
     "1460774F4BA3BCD703F88853DF541567A0342F8C26655CD91CB19F7E9F418FBE3F83FE17973DD42F4C2D1C152AE69"
     "82597E0DAABD8600B83FF27CD63DD02DF39",
     "A73E5D353E2E4873C4893637617CF8E68E7E37F9C5928156B0AA6DB41FAFC061"},
    {64, "0277D2EE9AB7AC130DA65C6F8B6612449F1F95ADC68597A55393EBFDE47D72CB",
     "B1B03888519D57956F59F3A212D87B129BAECD56C63130F775F42808DF3B5ABD3689193EDF9AFEBA4FC95FD59BEF4"
     "68060671850D52BA06EF4A1F0F93E32F5F4",
     "BADD27C33A9E1C46A7E2A720B711843157FC95272E8283FD81253657B7082015"},
    {65, "B04CF89FC1DD2C3998754469AFE354193D0351A8869A4C01C78E5F3FD9C288C5",
     "5BFAE88594F6BE661FA8222A59BC323C739C32E870C5CC33454E5D75BE2E31690485812D13106576D4E699BF56D02"
     "8711255DA484177E18B032DA2ACBEC50B23",
     "2ECB65EEE63A069A01D13FA56656FAB1505CD6C7E086E35DF19C6A5CBEC29C61"},
    {111, "A923025DC9CD07D4C376BCA68CE7D1EC2064D13E4A76511619B292E6F346AFFF",
     "32951B6AC2FA3BF83AFBB644F8DA2302F87FA5C8DD4D4399953C55F680E0824D93E3713BC2B44F12063F701171E1E"
     "C833F52C344817E9955B9785F3AFA3BAE21",
     "D6710F97A2638B177C9AC0DB265A6EF72391151EB013E0F2D57C8F7D40DAB27E"},
    {112, "3B032E5A3DFAE189D99D442FB57200FE4D7A0C3EF167C5284E485B1C2F2C36AB",
     "65D16295A164AB0EA08BBEF189F420B69B01F7ACE6DA788E6FBE5B376D474D8C4F3D39925C307A66C87F9FD695543"
     "D3CA3C9B29B1A75B04421A819420C493946",
     "FA458AB4784C1D288D790521372CB54AC64A65426407F341901E10EF1EBAD290"},
    {127, "992A17878E3683D5C81A18B53DB21DC913E01024A42D175AC1DBA027A20101A3",
     "071FF44D4DAEDE988180320C84CDD01BF2206C452D61DC4F6268D5D232B74DBB267A2E2DE70CA1D0AF23E47DACB23"
     "64F8C9097626A098AE8C1D99476AB3C337B",
     "AD3AF3EE4EBE9482487CD6FACD1797C7E1292EBCF9F8B795670B846D04C05940"},
    {128, "D7E35D44A21DF6AEDB1DDE3425D95884DF446995820CCEC65182C2D821D21727",
     "D000C13A138F1186E1DD0B37663A51D45AAB6B920D2B7348F1EF99C00ED2347C522BEAA110D011B8AD052D69F256C"
     "1ED220CECC5E5FEE849486E618216BCF0B6",
     "E572BD7AFE8DA831949255BE6A24CA5C9D24F9482C491FC6A543D8163F75CEDD"},
    {135, "F335A554972FFEF6DD957F6E3219C2597D0796013FB67EF9584641CC5D194431",
     "F24B894DF685CA79BD657F21D67964F1B5149324D862E86095701998DD8F22D2DC2C2E6F33CB11173AF3ED1228605"
     "BDD96B40EF3584B3AD4B40173FD61D5E34A",
     "B61C23CDE575909CDDD3897298CE7B15CB1F94CEFE02A19188E08A1F16102AA8"},
    {136, "27DADFE227E51F17BE8569534B71D49F431D26A3E8C2DE9AAAAB81667A3C3DEF",
     "7C8ABC44B997D612F0611C255EA3F85DF1DBA07DB6B313025F4A35B7185AC0280E44D8F36E33309E61ACC681D7C89"
     "94DA7CD868B9E7DCCCEFD064328A7C28A7A",
     "881D3D744D975E8539FED79137C1F3307DF419D61DF084E63BA392B184BB5D36"},
    {137, "A382EF7C46C1412CA9CC94B59A6DFAB34F236CB116DCEF0B7807E40840F84B67",
     "BD4EA32E022A31597B6264124EAD7CF520060722568BEFBFC51C4C5C80126A829CE278D6FFE82F07F79343D237B90"
     "244E00BA37B1BB855EF335CEC5D156375BF",
     "45987EB2C9FDD5EB061BB01647FA87B3CA21B26C60A30D903FB432B63280BEE5"},
    {4096, "67B0FA68BAF258208CD0F5B6108908B74652BF5E28F709BDDD3D4A02C4A61B44",
     "1796C6A67E1C1E4FBE77167560E8FBBD674C566CF9469C2BACC14FCD44DB1A4829AB95043370D0215E511C7E4B18F"
     "6820FF828296F714696C8C65CB847E15A9B",
     "C98BA2F876161D677C61533FA750BC2A154EDA93471A0DC5AA7EC272EB6BA4F9"},
    {1048583, "51E7C1F0930E1BA910996D60525A3A86FDC7606C0A973A6B06BB34B66D450F61",
     "7FF3F9509D11D1B0EB3D6B7E128546BB438EE187D73CBD93768ED05622316158750AA15389AA5B58307269C79F8DF"
     "C79092B62987008C42DF580C5FC8BA896DE",
     "3EEAA3454B293C91ADE735DB6C3EC1E96CFD31E9D7FB68F6F115870A1ADD13A5"},
};

std::string content(long long size) {
    std::string data(static_cast<std::size_t>(size), '\0');
    for (long long i = 0; i < size; ++i)
        data[std::size_t(i)] = static_cast<char>((i * 131 + 7) % 251);
    return data;
}

std::vector<std::string> words(const std::string& line) {
    std::istringstream in(line);
    std::vector<std::string> out;
    for (std::string w; in >> w;) out.push_back(w);
    return out;
}

// The record lines of a console run: up to the first empty line.
std::string record_block(const std::string& err) {
    return err.substr(0, err.find("\n\n", 1));
}

// Many small files and a few large ones, hashed two files at a time or
// one after another: the same listing, byte for byte, and the same status,
// whatever the tree holds beside them.
TEST(ManyFiles, TwoFilesAtOnceListAsOneThreadDoes) {
    e2e::TempTree tree;
    std::string text;
    for (int d = 0; d < 3; ++d)
        for (int i = 0; i < 60; ++i) {
            text.assign(static_cast<std::size_t>((i * 97 + d * 13) % 4100), 'a' + char(i % 26));
            char name[32];
            std::snprintf(name, sizeof name, "d%d/f%d", d, i);
            tree.file(name, text);
        }
    for (int i = 0; i < 3; ++i)
        tree.file(std::string("d1/big") + char('0' + i), std::string(3 << 20, char('0' + i)));
    // One file larger than its neighbours together: hashed by its own read.
    tree.file("d3/huge", std::string(6 << 20, 'h'));
    tree.file("d3/note", "n");
    tree.file("d3/tiny", "t");
    tree.file("d2/new\nline", "x");
    tree.file("d2/bad\xff\xfe", "y");
    tree.file("d2/empty");
    tree.link("f1", "d0/link");
    ASSERT_EQ(::link(tree.path("d0/f2").c_str(), tree.path("d0/hard").c_str()), 0);
    ASSERT_EQ(::mkfifo(tree.path("d0/pipe").c_str(), 0600), 0);
    const struct {
        const char* name;
        std::vector<std::string> options;
    } cases[] = {
        {"console", {"-c", "-5", "-s"}},
        {"CSV", {"-c", "-5", "-s", "--SHA2", "--CSV"}},
        {"JSON Lines", {"--SHA5", "--JSONL", "-D"}},
        {"BLAKE3", {"--BLAKE3", "-c", "--CSV"}},
    };
    e2e::TempTree out;
    for (const auto& c : cases) {
        std::vector<std::string> args{tree.root()};
        args.insert(args.end(), c.options.begin(), c.options.end());
        const auto listing = [&](const std::string& name, std::vector<std::string> extra_env) {
            std::vector<std::string> with_output = args;
            with_output.push_back("-o" + out.path(name));
            const e2e::Result r = e2e::run(with_output, {}, false, std::move(extra_env));
            return std::make_pair(r.status, e2e::read_file(out.path(name)));
        };
        const auto two = listing("listing", {});
        const auto one = listing("listing", {"FILARIX_DIGEST_THREADS=1"});
        EXPECT_EQ(one.first, two.first) << c.name;
        // All but the start time, the free space and the time taken.
        const auto records = [](const std::string& text) {
            const std::size_t started = text.find("\nStarted ");
            const std::size_t from =
                started == std::string::npos ? 0 : text.find('\n', started + 1);
            const std::size_t end = std::min(text.find("Drive Freespace"), text.find("Elapsed"));
            return text.substr(from, end - from);
        };
        EXPECT_GT(records(two.second).size(), 190u * 20) << c.name;
        EXPECT_EQ(records(one.second), records(two.second)) << c.name;
    }
}

TEST(NewDigestColumns, MatchHashlibOnTwoThreadsAndOnOne) {
    e2e::TempTree tree;
    for (const Expected& e : expected) {
        char name[32];
        std::snprintf(name, sizeof name, "s%08lld", e.size);
        tree.file(name, content(e.size));
    }
    const std::vector<std::string> args{tree.root(), "--SHA2", "--SHA5", "--SHA3",
                                        "-c",        "-5",     "-s"};
    const e2e::Result two = e2e::run(args);
    const e2e::Result one = e2e::run(args, {}, false, {"FILARIX_DIGEST_THREADS=1"});
    ASSERT_EQ(two.status, 1) << two.err;
    // The same records in the same order, whichever way the work was shared.
    EXPECT_EQ(one.status, two.status);
    EXPECT_EQ(record_block(one.err), record_block(two.err));

    std::istringstream lines(record_block(two.err));
    std::size_t seen = 0;
    for (std::string line; std::getline(lines, line);) {
        // path size attributes crc md5 sha1 sha256 sha512 sha3 date time zone
        const auto w = words(line);
        if (w.size() != 12) continue;
        const long long size = std::stoll(w[1]);
        for (const Expected& e : expected) {
            if (e.size != size) continue;
            ++seen;
            EXPECT_EQ(w[6], e.sha256) << size;
            EXPECT_EQ(w[7], e.sha512) << size;
            EXPECT_EQ(w[8], e.sha3) << size;
            EXPECT_EQ(line.size(), e2e::kRecordWidth + 12 + 42 + 42 + 66 + 130 + 66) << size;
        }
    }
    EXPECT_EQ(seen, std::size(expected));
}

// What a checksum tool prints for a file, in capitals.
std::string tool_digest(const std::string& tool, const std::vector<std::string>& options,
                        const std::string& path) {
    std::vector<std::string> args = options;
    args.push_back(path);
    const e2e::Result r = e2e::run(args, {}, false, {}, std::nullopt, tool);
    EXPECT_EQ(r.status, 0) << r.err;
    std::string hex = r.out.substr(0, r.out.find(' '));
    for (char& c : hex) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return hex;
}

// The fingerprint and the BLAKE3 column against the tools that print the
// same digits, with the digests on two threads and on one. A file alone
// in its folder is read by itself, so its large reads are hashed on both
// cores; the others are read ahead, two at a time.
TEST(NewDigestColumns, MatchTheirToolsInTextCsvAndJsonl) {
    const struct {
        const char* option;
        const char* field;
        const char* tool;
        std::vector<std::string> tool_options;
        std::vector<long long> sizes;
    } columns[] = {
        {"--XXH3", "xxh3", "/usr/bin/xxhsum", {"-H2"}, {0, 3, 240, 241, 300007}},
        {"--BLAKE3",
         "blake3",
         "/usr/bin/b3sum",
         {},
         {0, 1, 1024, 1025, 2049, 65536, 300007, (5 << 20) + 7}},
    };
    for (const auto& column : columns) {
        e2e::TempTree tree;
        std::vector<std::pair<std::string, std::string>> files;  // name, the tool's digits
        for (long long size : column.sizes) {
            const std::string name = "x" + std::to_string(size);
            const std::string path =
                tree.file(size > (1 << 20) ? "alone/" + name : name, content(size));
            files.emplace_back(name, tool_digest(column.tool, column.tool_options, path));
        }
        const std::size_t digits = files.front().second.size();
        ASSERT_TRUE(digits == 32 || digits == 64) << column.tool;
        const e2e::Result text = e2e::run({tree.root(), column.option, "-c"});
        ASSERT_EQ(text.status, 1) << text.err;
        const e2e::Result one =
            e2e::run({tree.root(), column.option, "-c"}, {}, false, {"FILARIX_DIGEST_THREADS=1"});
        EXPECT_EQ(record_block(one.err), record_block(text.err)) << column.option;
        const e2e::Result csv = e2e::run({tree.root(), column.option, "--CSV", "-o", "stdout"});
        const e2e::Result jsonl = e2e::run({tree.root(), column.option, "--JSONL", "-o", "stdout"});
        ASSERT_EQ(csv.status, 1) << csv.err;
        ASSERT_EQ(jsonl.status, 1) << jsonl.err;
        EXPECT_NE(csv.out.substr(0, csv.out.find('\n')).find("," + std::string(column.field) + ","),
                  std::string::npos)
            << csv.out;
        for (const auto& [name, hex] : files) {
            // path size attributes crc digest date time zone
            const std::string record = e2e::line_with(text.err, "/" + name + " ");
            const auto w = words(record);
            ASSERT_EQ(w.size(), 8u) << record;
            EXPECT_EQ(w[4], hex) << name;
            EXPECT_EQ(record.size(), e2e::kRecordWidth + 12 + 2 + digits) << name;
            EXPECT_NE(e2e::line_with(csv.out, "/" + name + ",").find("," + hex + ","),
                      std::string::npos)
                << name;
            EXPECT_NE(e2e::line_with(jsonl.out, "/" + name + "\"")
                          .find("\"" + std::string(column.field) + "\":\"" + hex + "\""),
                      std::string::npos)
                << name;
        }
    }
}

// The names of the files under root that a console listing holds.
std::set<std::string> listed(const std::string& err, const std::string& root) {
    std::set<std::string> names;
    std::istringstream lines(err);
    for (std::string line; std::getline(lines, line);) {
        const auto w = words(line);
        if (w.size() < 3 || w[0].rfind(root + "/", 0) != 0) continue;
        names.insert(w[0].substr(root.size() + 1));
    }
    return names;
}

TEST(HashSet, EachModeListsTheSameHalfOrTheOther) {
    e2e::TempTree tree, sets;
    std::set<std::string> in_set, outside, all;
    for (int i = 0; i < 12; ++i) {
        std::string name(1, i % 2 ? 'b' : 'a');
        name += std::to_string(i);
        tree.file(name, content(100 + i * 37));
        (i % 2 ? outside : in_set).insert(name);
        all.insert(name);
    }
    // A set of XXH3-128 digits is told from MD5 by xxhsum's tags, and one
    // of BLAKE3 digits from SHA-256 by the same tags made of b3sum's lines.
    const struct {
        const char* tool;
        const char* kind;
    } tools[] = {{"sha256sum a*", "SHA-256"},
                 {"xxhsum -H2 --tag a*", "XXH3-128"},
                 {"b3sum a* | sed 's/^\\([0-9a-f]*\\)  \\(.*\\)$/BLAKE3 (\\2) = \\1/'", "BLAKE3"}};
    for (const auto& tool : tools) {
        const std::string set_file = sets.path("known.set");
        ASSERT_EQ(std::system(("cd '" + tree.root() + "' && " + tool.tool + " > '" + set_file +
                               "' && echo 'not a digest' >> '" + set_file + "'")
                                  .c_str()),
                  0);

        struct Case {
            const char* mode;
            const std::set<std::string>& listed;
        };
        for (const Case& c : {Case{"--KNOWN", in_set}, Case{"--UNKNOWN", outside}, Case{"", all}}) {
            std::vector<std::string> args{tree.root(), "--HASHSET=" + set_file};
            if (*c.mode) args.push_back(c.mode);
            const e2e::Result r = e2e::run(args);
            EXPECT_EQ(r.status, 1) << tool.tool << c.mode << r.err;
            EXPECT_EQ(listed(r.err, tree.root()), c.listed) << tool.tool << c.mode;
            EXPECT_NE(r.err.find("Hash set: 6 files known, 6 files unknown"), std::string::npos)
                << tool.tool << c.mode << r.err;
            // The line that is no digest is reported once, by its number.
            EXPECT_NE(r.err.find(": 1 lines are not " + std::string(tool.kind) +
                                 " digests and were not taken (the first is line 7)"),
                      std::string::npos)
                << r.err;
        }
    }

    const e2e::Result missing = e2e::run({tree.root(), "--HASHSET=" + sets.path("none")});
    EXPECT_EQ(missing.status, 3);
    EXPECT_TRUE(listed(missing.err, tree.root()).empty());
}

// A set that holds no digest would make every file unknown: the run ends
// with the input-file status and the reason, before any file is listed.
TEST(HashSet, ASetWithNoDigestIsAnInputError) {
    e2e::TempTree tree, sets;
    tree.file("a", "a");
    const struct {
        const char* name;
        std::string text;
        const char* reason;
    } cases[] = {
        {"utf16.txt",
         std::string("\xFF\xFE"
                     "0\0c\0c\0"
                     " \0 \0a\0\n\0",
                     16),
         "it is UTF-16 text; save it as UTF-8"},
        {"header-only.csv", "%%%% HASHDEEP-1.0\n%%%% size,sha256,filename\n## $ hashdeep\n",
         "no line is an MD5, SHA-1, SHA-256 or SHA-512 digest"},
        {"empty.txt", "", "it is empty"},
    };
    for (const auto& c : cases) {
        const std::string set_file = sets.file(c.name, c.text);
        const e2e::Result r = e2e::run({tree.root(), "--HASHSET=" + set_file, "--UNKNOWN"});
        EXPECT_EQ(r.status, 3) << c.name;
        EXPECT_NE(r.err.find("\nHash set " + set_file + " holds no digests: " + c.reason + "\n"),
                  std::string::npos)
            << r.err;
        EXPECT_TRUE(listed(r.err, tree.root()).empty()) << c.name;
    }
}

}  // namespace
