#include "content/digests.hpp"

#include <algorithm>
#include <cstdio>
#include <memory>

#include "content/crc32.hpp"
#include "content/md5.hpp"
#include "content/sha1.hpp"

namespace filarix {

namespace {

// Large sequential reads; the backends tell the OS the access is sequential.
constexpr std::size_t read_size = 1 << 20;

// Page-aligned: the kernel copies into a misaligned buffer several times
// more slowly than into an aligned one.
unsigned char* read_buffer(Run& run) {
    constexpr std::size_t page = 4096;
    if (!run.read_buffer) run.read_buffer = std::make_unique<unsigned char[]>(read_size + page);
    void* start = run.read_buffer.get();
    std::size_t room = read_size + page;
    return static_cast<unsigned char*>(std::align(page, read_size, start, room));
}

void set_failure(DigestTexts& texts, DigestRequest want) {
    texts.read_ok = false;
    if (want.crc) texts.crc = crc_failure_text;
    if (want.md5) texts.md5 = md5_failure_text;
    if (want.sha1) texts.sha1 = sha1_failure_text;
}

}  // namespace

std::unique_ptr<platform::InputFile> open_for_read(Run& run, std::u16string_view path) {
    return run.sys.open_read(path, false);
}

DigestTexts digest_file(Run& run, std::u16string_view path, DigestRequest want, bool is_directory) {
    DigestTexts texts;
    Crc32 crc;
    Md5 md5;
    Sha1 sha1(want.hardware);
    bool ok = true;
    if (!is_directory) {
        auto file = open_for_read(run, path);
        // The runtime's plain open shares more; it gets the same window.
        if (!file) file = run.sys.open_read(path, true);
        if (!file) {
            set_failure(texts, want);
            return texts;
        }
        const auto begin = static_cast<std::uint64_t>(std::max<std::int64_t>(run.s.DISPLACE, 0));
        const bool bounded = run.s.displace_end > 0;
        std::uint64_t left =
            bounded ? static_cast<std::uint64_t>(std::max<std::int64_t>(run.s.displace_end, 0)) -
                          std::min(begin, static_cast<std::uint64_t>(run.s.displace_end))
                    : UINT64_MAX;
        if (begin != 0 && !file->seek(begin)) ok = false;
        unsigned char* buffer = read_buffer(run);
        while (ok && left > 0) {
            if (run.sys.interrupted()) end_run(exit_code::user_aborted);
            const std::size_t want_bytes =
                static_cast<std::size_t>(std::min<std::uint64_t>(read_size, left));
            const long long got = file->read(buffer, want_bytes);
            if (got < 0) {
                // A read cut short by the interrupt is the end of the run,
                // not a file that could not be read.
                if (run.sys.interrupted()) end_run(exit_code::user_aborted);
                ok = false;
                break;
            }
            if (got == 0) break;
            const auto n = static_cast<std::size_t>(got);
            if (want.crc) crc.update(buffer, n, want.hardware);
            if (want.md5) md5.update(buffer, n);
            if (want.sha1) sha1.update(buffer, n);
            if (bounded) left -= n;
        }
    }
    if (!ok) {
        set_failure(texts, want);
        return texts;
    }
    texts.read_ok = true;
    if (want.crc) {
        texts.crc_value = crc.value();
        char text[16];
        std::snprintf(text, sizeof text, "%08X", unsigned(texts.crc_value));
        texts.crc = text;
    }
    if (want.md5) {
        const auto digest = md5.finish();
        texts.md5 = to_upper_hex(digest.data(), digest.size());
    }
    if (want.sha1) {
        const auto digest = sha1.finish();
        texts.sha1 = to_upper_hex(digest.data(), digest.size());
    }
    return texts;
}

}  // namespace filarix
