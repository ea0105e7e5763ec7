// The digests of a file's or a stream's contents, as the texts the record
// prints. Every digest asked for is fed from one read of the file; on a
// machine with two cores or more the digests are shared between the reading
// thread and one worker that hashes the same buffers.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "core/run.hpp"

namespace filarix {

struct DigestRequest {
    bool crc = false;
    bool md5 = false;
    bool sha1 = false;
    bool sha256 = false;
    bool sha512 = false;
    bool sha3 = false;
    // The processor's SHA and carry-less multiply instructions may be used
    // (the results are the same either way).
    bool hardware = true;
};

struct DigestTexts {
    std::string crc;     // 8 hex digits, or "CRCERROR"
    std::string md5;     // 32 hex digits, or the 32-character failure text
    std::string sha1;    // 40 hex digits, or the 40-character failure text
    std::string sha256;  // 64 hex digits, or the 64-character failure text
    std::string sha512;  // 128 hex digits, or the 128-character failure text
    std::string sha3;    // 64 hex digits (SHA3-256), or the 64-character failure text
    std::uint32_t crc_value = 0;
    bool read_ok = false;
    // The file changed while it was read (the failure texts stand).
    bool changed = false;
};

// Each failure text fills its digest's column exactly, so a record keeps
// its width when a file cannot be read.
inline constexpr std::string_view crc_failure_text = "CRCERROR";
inline constexpr std::string_view md5_failure_text = "- ERROR - FILE POSSIBLY LOCKED -";
inline constexpr std::string_view sha1_failure_text = "-- ERROR - FILE POSSIBLY LOCKED BY OS --";
inline constexpr std::string_view sha256_failure_text =
    "-------------- ERROR - FILE POSSIBLY LOCKED BY OS --------------";
inline constexpr std::string_view sha512_failure_text =
    "---------------------------------------------- ERROR - FILE POSSIBLY LOCKED BY OS "
    "----------------------------------------------";
inline constexpr std::string_view sha3_failure_text = sha256_failure_text;
static_assert(sha256_failure_text.size() == 64 && sha512_failure_text.size() == 128);

class DigestWorker;

// The digests' read buffers and worker thread, kept from file to file: the
// walk's owner keeps one for the whole run and hands it to each digest.
class DigestEngine {
public:
    DigestEngine();
    ~DigestEngine();
    DigestEngine(const DigestEngine&) = delete;
    DigestEngine& operator=(const DigestEngine&) = delete;
    // Made at the first digest, so a run that digests nothing starts no
    // thread and reads the thread setting only when it is needed.
    DigestWorker& worker(Run& run);

private:
    std::unique_ptr<DigestWorker> worker_;
};

// Opens a catalogued file or named stream for reading, never through a
// link: the backup-semantics route first, then once more with the other
// code page of the file functions.
std::unique_ptr<platform::InputFile> open_for_read(Run& run, std::u16string_view path);

// Digests the window DISPLACE .. displace_end (0: to the end) of the file.
// A directory has no contents and gets the digests of nothing. A file that
// cannot be opened, positioned or read to the end gets the failure texts,
// and so does one that changed while it was read or since it was listed
// with `listed_size`; that one is counted in changed_while_read.
DigestTexts digest_file(Run& run, DigestEngine& digests, std::u16string_view path,
                        DigestRequest want, bool is_directory = false,
                        std::optional<std::uint64_t> listed_size = std::nullopt);

// The environment variable that keeps every digest on the reading thread
// when it holds 1 (the results are the same either way).
inline constexpr std::u16string_view digest_threads_variable = u"FILARIX_DIGEST_THREADS";

// The digest columns (CRC to SHA3-256): the text each shows, its table
// field, and the width a long digest is printed in.
const std::string& digest_text(const DigestTexts& d, Column c);
Field digest_field(Column c);
int digest_width(Column c);

}  // namespace filarix
