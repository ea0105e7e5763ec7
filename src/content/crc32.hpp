// CRC-32/ISO-HDLC, the checksum of zip and png: reflected polynomial 0xEDB88320,
// register preset to all ones, result complemented.
#pragma once

#include <cstddef>
#include <cstdint>

namespace filarix {

class Crc32 {
public:
    // Feeds more bytes; picks the fastest kernel the processor offers, or
    // the table kernel alone when hardware is false.
    void update(const void* data, std::size_t size, bool hardware = true);
    // The checksum of everything fed since construction or the last reset().
    std::uint32_t value() const { return ~reg_; }
    void reset() { reg_ = 0xFFFFFFFFu; }

private:
    std::uint32_t reg_ = 0xFFFFFFFFu;
};

// Raw register updates, without the inversions at start and end. Both give the
// same result for every input; they exist separately for tests and benchmarks.
// Table-driven, sixteen bytes per step.
std::uint32_t crc32_update_portable(std::uint32_t reg, const void* data, std::size_t size);
// Carry-less multiplication folding (PCLMULQDQ). Uses the table kernel for short
// inputs and tails, and for everything when the processor lacks the instructions.
std::uint32_t crc32_update_clmul(std::uint32_t reg, const void* data, std::size_t size);
// Whether the processor has PCLMULQDQ and SSE4.1 (asked once, then remembered).
bool crc32_clmul_available();

}  // namespace filarix
