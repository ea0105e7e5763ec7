// What the record asks of an earlier listing (--REUSE): the digests of a
// file that has not changed since, so that it need not be read again. The
// catalogue layer holds the listing's rows and answers; the record only
// hands over the facts that tell the file is the same.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "core/digest_set.hpp"
#include "platform/platform.hpp"

namespace filarix {

// Per digest: upper-case hexadecimal, or empty where the row holds none.
using HeldDigests = std::array<std::string, digest_count>;

class DigestReuse {
public:
    virtual ~DigestReuse() = default;
    // The row's digests when the listing has a row for `path` (the exact
    // bytes of the name) whose size, write and change times, device and
    // inode are all there and all those of the file now.
    virtual std::optional<HeldDigests> held_digests(std::string_view path, std::uint64_t size,
                                                    const platform::PreciseFacts& now) = 0;
    // A file whose digests all came from the listing: it was not read.
    virtual void count_unread(std::uint64_t size) = 0;
};

}  // namespace filarix
