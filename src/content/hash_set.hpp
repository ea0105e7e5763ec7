// Loading a set of known digests (--HASHSET=FILE) into the run's
// KnownDigests: the output of md5sum, sha1sum, sha256sum and sha512sum,
// tagged lines ("XXH128 (name) = digits"), hashdeep's CSV with its header
// lines, or bare hexadecimal digests, one to a line. The first digest fixes
// the set's kind, by its tag or else by its length.
#pragma once

#include <cstddef>
#include <string_view>

#include "core/run.hpp"

namespace filarix {

struct HashSetLoad {
    bool read_whole = false;    // the file was opened and read to its end
    std::size_t digests = 0;    // digest lines taken (repeats included)
    std::size_t bad_lines = 0;  // lines that are not digests of the set's kind
    std::size_t first_bad_line = 0;
    bool has_text = false;  // a line holds more than blanks
    bool utf16 = false;     // the text begins with a UTF-16 byte-order mark
};

// Adds the digests of a set file's text to the set; no message.
HashSetLoad read_hash_set_text(std::string_view text, KnownDigests& set);

// Loads a set file into run.known_digests and switches HASHSET on. A file
// that cannot be read, or that holds no digest, ends the process with 3;
// lines that are not digests are reported once, with their count and the
// first one's number.
void load_hash_set(Run& run, std::u16string_view path);

}  // namespace filarix
