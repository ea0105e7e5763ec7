// The binary's CRC-32, MD5 and SHA-1 columns against md5sum, sha1sum and a
// bitwise CRC, on a few hundred random files of random sizes.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace {

std::uint32_t bitwise_crc32(const std::string& data) {
    std::uint32_t reg = 0xFFFFFFFFu;
    for (unsigned char byte : data) {
        reg ^= byte;
        for (int bit = 0; bit < 8; ++bit) reg = (reg >> 1) ^ (0xEDB88320u & (0u - (reg & 1u)));
    }
    return ~reg;
}

std::string command_output(const std::string& command) {
    std::string text;
    if (FILE* pipe = popen(command.c_str(), "r")) {
        char buffer[4096];
        std::size_t n;
        while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) text.append(buffer, n);
        pclose(pipe);
    }
    return text;
}

// name -> upper-case digest, from "digest  path" lines.
std::map<std::string, std::string> sums(const std::string& tool, const std::string& dir) {
    std::map<std::string, std::string> result;
    std::istringstream lines(command_output("cd '" + dir + "' && " + tool + " f*"));
    std::string digest, name;
    while (lines >> digest >> name) {
        for (auto& c : digest) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        result[name] = digest;
    }
    return result;
}

TEST(DigestColumns, AgreeWithTheStandardTools) {
    char pattern[] = "/tmp/filarix-digest-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    const std::string dir = pattern;
    std::mt19937_64 random(20261208);
    std::map<std::string, std::uint32_t> crcs;
    const int files = 300;
    for (int i = 0; i < files; ++i) {
        // Mostly small files, some around the block edges, a few of megabytes.
        std::size_t size;
        const int kind = static_cast<int>(random() % 10);
        if (kind < 6)
            size = random() % 4096;
        else if (kind < 8)
            size = 64 * (random() % 4) + 55 + random() % 10;
        else
            size = random() % (3u << 20);
        std::string data(size, '\0');
        for (auto& c : data) c = static_cast<char>(random());
        char name[32];
        std::snprintf(name, sizeof name, "f%04d", i);
        std::ofstream(dir + "/" + name, std::ios::binary) << data;
        crcs[name] = bitwise_crc32(data);
    }
    const auto md5 = sums("md5sum", dir);
    const auto sha1 = sums("sha1sum", dir);
    ASSERT_EQ(md5.size(), std::size_t(files));

    const std::string listing = command_output(std::string("TZ=UTC '") + FILARIX_BINARY + "' '" +
                                               dir + "' -c -5 -s 2>&1 >/dev/null");
    std::istringstream lines(listing);
    std::string line;
    int records = 0;
    while (std::getline(lines, line)) {
        std::istringstream fields(line);
        std::string path, size, attributes, crc, md5_text, sha1_text;
        if (!(fields >> path >> size >> attributes >> crc >> md5_text >> sha1_text)) continue;
        const std::string name = path.substr(path.rfind('/') + 1);
        if (!crcs.count(name)) continue;
        ++records;
        char expected_crc[16];
        std::snprintf(expected_crc, sizeof expected_crc, "%08X", unsigned(crcs[name]));
        EXPECT_EQ(crc, expected_crc) << name;
        EXPECT_EQ(md5_text, md5.at(name)) << name;
        EXPECT_EQ(sha1_text, sha1.at(name)) << name;
        EXPECT_EQ(line.size(), 107u + 12 + 42 + 42) << name;
    }
    EXPECT_EQ(records, files);
    std::filesystem::remove_all(dir);
}

}  // namespace
