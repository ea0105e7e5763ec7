// The digests of a file's or a stream's contents, as the texts the record
// prints. Every digest asked for is fed from one read of the file (a large
// one mapped into memory instead, where the system can); on a
// machine with two cores or more the digests are shared between the reading
// thread and one worker that hashes the same buffers, or, when the walk
// names the files it lists next, two files are hashed at once, one on
// each core.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/digest_registry.hpp"
#include "core/run.hpp"

namespace filarix {

struct DigestRequest {
    DigestSet digests;
    // The processor's SHA and carry-less multiply instructions may be used
    // (the results are the same either way).
    bool hardware = true;
};

struct DigestTexts {
    // Per digest asked for: its upper-case hexadecimal digits (CRC-32's
    // eight), or its failure text, which fills the column exactly so that a
    // record keeps its width when a file cannot be read.
    std::array<std::string, digest_count> texts;
    std::uint32_t crc_value = 0;
    bool read_ok = false;
    // The file changed while it was read (the failure texts stand).
    bool changed = false;

    const std::string& of(DigestId id) const { return texts[digest_index(id)]; }
};

class DigestWorker;
class AheadReader;

// A file of the walk whose record will ask for its digests soon.
struct AheadFile {
    std::u16string path;
    DigestSet digests;
    std::uint64_t listed_size = 0;
};

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
    DigestWorker& worker(platform::System& sys);

    // Whether files are read ahead of their records (reads_ahead) and
    // hashed two at a time: the run keeps two threads and its system
    // lets another thread read.
    bool reads_ahead(platform::System& sys);
    // Makes the files ready to open, on this thread, and reads and hashes them on both cores
    // ahead of their records; digest_file of one of them with the same
    // digests and listed size takes its result. They queue behind those
    // of earlier calls; a call with none drops whatever no record took.
    void read_ahead(Run& run, std::vector<AheadFile>&& files);
    // The result of a file read ahead, waiting for it (and hashing the
    // next ones meanwhile); nothing for a file not read ahead so.
    std::optional<DigestTexts> take_ahead(Run& run, std::u16string_view path, DigestRequest want,
                                          std::optional<std::uint64_t> listed_size);
    // Files read ahead that are this small are read whole at once and
    // hashed together; the walk may read them as it lists them.
    static constexpr std::size_t small_file_size = 8192;

private:
    std::unique_ptr<DigestWorker> worker_;
    std::unique_ptr<AheadReader> ahead_;
};

// Opens a catalogued file or named stream for reading, never through a
// link: the backup-semantics route first, then once more with the other
// code page of the file functions.
std::unique_ptr<platform::InputFile> open_for_read(platform::System& sys, std::u16string_view path);

// Digests the window DISPLACE .. displace_end (0: to the end) of the file.
// A directory has no contents and gets the digests of nothing. A file that
// cannot be opened, positioned or read to the end gets the failure texts,
// and so does one that changed while it was read or since it was listed
// with `listed_size`; that one is counted in changed_while_read.
DigestTexts digest_file(Run& run, DigestEngine& digests, std::u16string_view path,
                        DigestRequest want, bool is_directory = false,
                        std::optional<std::uint64_t> listed_size = std::nullopt);

// Every digest asked for, fed by a reader of its own: the duplicate
// search reads its files itself, two at once.
class DigestFeed {
public:
    explicit DigestFeed(DigestRequest want);
    ~DigestFeed();
    DigestFeed(const DigestFeed&) = delete;
    DigestFeed& operator=(const DigestFeed&) = delete;
    void update(const unsigned char* data, std::size_t n);
    // Feeds n bytes to each of two feeds that ask for the same digests;
    // SHA-256 hashes the two together.
    static void update_two(DigestFeed& a, const unsigned char* data_a, DigestFeed& b,
                           const unsigned char* data_b, std::size_t n);
    // The texts of the bytes fed, as digest_file gives them for a file.
    DigestTexts finish();

private:
    struct State;
    std::unique_ptr<State> state_;
};

// The environment variable that keeps every digest on the reading thread
// when it holds 1 (the results are the same either way).
inline constexpr std::u16string_view digest_threads_variable = u"FILARIX_DIGEST_THREADS";

}  // namespace filarix
