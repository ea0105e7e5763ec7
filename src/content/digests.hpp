// CRC-32, MD5 and SHA-1 of a file's or a stream's contents, as the texts
// the record prints. Every digest asked for is fed from one read of the
// file.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "core/run.hpp"

namespace filarix {

struct DigestRequest {
    bool crc = false;
    bool md5 = false;
    bool sha1 = false;
    // The processor's SHA and carry-less multiply instructions may be used
    // (the results are the same either way).
    bool hardware = true;
};

struct DigestTexts {
    std::string crc;   // 8 hex digits, or "CRCERROR"
    std::string md5;   // 32 hex digits, or the 32-character failure text
    std::string sha1;  // 40 hex digits, or the 40-character failure text
    std::uint32_t crc_value = 0;
    bool read_ok = false;
};

inline constexpr const char* crc_failure_text = "CRCERROR";
inline constexpr const char* md5_failure_text = "- ERROR - FILE POSSIBLY LOCKED -";
inline constexpr const char* sha1_failure_text = "-- ERROR - FILE POSSIBLY LOCKED BY OS --";

// Opens a file or a named stream for reading: the backup-semantics route
// first, then once more with the other code page of the file functions.
std::unique_ptr<platform::InputFile> open_for_read(Run& run, std::u16string_view path);

// Digests the window DISPLACE .. displace_end (0: to the end) of the file.
// A directory has no contents and gets the digests of nothing. A file that
// cannot be opened, positioned or read to the end gets the failure texts.
DigestTexts digest_file(Run& run, std::u16string_view path, DigestRequest want,
                        bool is_directory = false);

}  // namespace filarix
