#include "catalogue/duplicate_reads.hpp"

#include <algorithm>
#include <array>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <new>
#include <thread>

#include "content/digests.hpp"

namespace filarix {

namespace {

constexpr std::size_t page = 4096;
// A file up to this size is read with one call; a bigger one in pieces.
constexpr std::size_t buffer_bytes = std::size_t(1) << 20;
// Files opened and not yet hashed, while both threads hash.
constexpr std::size_t jobs_in_flight = 8;

// Page-aligned: the kernel copies into a misaligned buffer more slowly.
class Buffer {
public:
    Buffer() : storage_(new unsigned char[buffer_bytes + page]) {
        void* start = storage_.get();
        std::size_t room = buffer_bytes + page;
        data_ = static_cast<unsigned char*>(std::align(page, buffer_bytes, start, room));
    }
    unsigned char* data() const { return data_; }

private:
    std::unique_ptr<unsigned char[]> storage_;  // not zeroed: pages come as reads fill them
    unsigned char* data_ = nullptr;
};

// A thread's buffers: two files read whole are hashed together.
struct Buffers {
    Buffer one;
    Buffer two;
};

struct Opened {
    std::unique_ptr<platform::InputFile> file;
    std::optional<platform::FileState> before;
};

enum class Outcome { read, failed, changed, interrupted, no_memory };

void poll_interrupt(Run& run) {
    if (run.sys.interrupted()) end_run(exit_code::user_aborted);
}

// Reads `size` bytes from `offset` unless the file ends or fails first.
long long fill_at(platform::InputFile& file, unsigned char* buffer, std::size_t size,
                  std::uint64_t offset) {
    std::size_t done = 0;
    while (done < size) {
        const long long got = file.read_at(buffer + done, size - done, offset + done);
        if (got < 0) return -1;
        if (got == 0) break;
        done += static_cast<std::size_t>(got);
    }
    return static_cast<long long>(done);
}

// The first and last bytes of a file of `size`; none when it cannot be
// read or no longer has that size.
std::optional<std::uint64_t> sample_of(platform::InputFile& file, std::uint64_t size,
                                       unsigned char* buffer) {
    constexpr auto n = static_cast<std::size_t>(dupe_sample_bytes);
    if (fill_at(file, buffer, n, 0) != static_cast<long long>(n)) return std::nullopt;
    const std::uint64_t head = sample_hash(buffer, n, size);
    if (fill_at(file, buffer, n, size - n) != static_cast<long long>(n)) return std::nullopt;
    return sample_hash(buffer, n, head);
}

// Reads a file listed with `size`: each read asks for one byte more than
// the listing has left, so that the read that reaches the end also shows
// it is the end. A file smaller than the buffer lands whole in it; a
// bigger one goes to `piece` a buffer at a time. The bytes stand only
// when the file held still.
template <typename Piece>
Outcome read_file(platform::System& sys, Opened& f, std::uint64_t size, unsigned char* buffer,
                  const std::atomic<bool>& abandon, Piece piece) {
    if (!f.file || !f.before) return Outcome::failed;
    if (f.before->size != size) return Outcome::changed;
    const bool whole = size < buffer_bytes;
    std::uint64_t at = 0;
    for (;;) {
        if (sys.interrupted()) return Outcome::interrupted;
        if (abandon.load(std::memory_order_relaxed)) return Outcome::failed;
        unsigned char* const into = whole ? buffer + at : buffer;
        const auto ask = static_cast<std::size_t>(
            std::min<std::uint64_t>(whole ? buffer_bytes - at : buffer_bytes, size - at + 1));
        const long long got = f.file->read_at(into, ask, at);
        if (got < 0) return sys.interrupted() ? Outcome::interrupted : Outcome::failed;
        if (got == 0) break;
        if (static_cast<std::uint64_t>(got) > size - at) return Outcome::changed;
        if (!whole) piece(buffer, static_cast<std::size_t>(got));
        at += static_cast<std::uint64_t>(got);
        if (at == size && static_cast<std::size_t>(got) < ask) break;
    }
    const auto after = f.file->state();
    if (!after) return Outcome::failed;
    if (at != size || *after != *f.before) return Outcome::changed;
    return Outcome::read;
}

// A file opened for its sample or its digests, read by whichever thread
// is free.
struct Job {
    enum State { free, queued, running, done };
    State state = free;
    bool sample = false;    // else the digests
    bool hold = false;      // the file stays open after its sample
    std::size_t index = 0;  // in the files asked about
    std::uint64_t size = 0;
    Opened opened;
    std::optional<std::uint64_t> hash;
    Outcome outcome = Outcome::failed;
    DigestTexts texts;

    // Read whole into a buffer, so that two can be hashed together.
    bool pairs() const { return !sample && size < buffer_bytes; }
};

}  // namespace

class DupeFileReads::Impl {
public:
    Impl(Run& run, EntryTools& tools, const DupeCandidates& c, DigestSet read)
        : run_(run),
          tools_(tools),
          c_(c),
          want_{.digests = read},
          windowed_(run.s.DISPLACE > 0 || run.s.displace_end > 0),
          two_threads_(tools.digests.reads_ahead(run.sys)) {}
    ~Impl() {
        if (!worker_.joinable()) return;
        {
            const std::lock_guard lock(mutex_);
            stop_ = true;
        }
        wake_.notify_all();
        worker_.join();
    }

    void samples(const DupeReads::Files& files, const DupeReads::Samples& each) {
        held_.clear();
        // Few enough stay open for their digests; a digest in a window
        // opens its file again.
        const bool hold = files.size() <= dupe_batch_files && !windowed_;
        read_jobs(files, true, hold, [&](Job& job, std::size_t candidate) {
            if (job.opened.file) held_.emplace_back(candidate, std::move(job.opened));
            each(job.index, job.hash);
        });
    }

    void digests(const DupeReads::Files& files, const DupeReads::Digests& each) {
        if (windowed_)
            digest_in_windows(files, each);
        else
            read_jobs(files, false, false, [&](Job& job, std::size_t) {
                deliver(job.index, job.outcome, job.texts, each);
            });
        held_.clear();
    }

private:
    Opened open(std::size_t candidate, bool fallback) {
        const std::u16string path = c_.path(candidate);
        Opened f;
        f.file = open_for_read(run_.sys, path);
        // The runtime's plain open shares more, as a listing's digest tries.
        if (!f.file && fallback) f.file = run_.sys.open_entry(path, true);
        if (f.file) f.before = f.file->state();
        return f;
    }

    // The file as its sample left it open, else opened now.
    Opened take(std::size_t candidate) {
        for (auto& [which, f] : held_)
            if (which == candidate && f.file) return std::move(f);
        return open(candidate, true);
    }

    void deliver(std::size_t k, Outcome o, DigestTexts& texts, const DupeReads::Digests& each) {
        if (o == Outcome::interrupted) end_run(exit_code::user_aborted);
        if (o == Outcome::no_memory) throw std::bad_alloc();
        if (o == Outcome::changed) ++run_.counts.changed_while_read;
        std::optional<HeldDigests> d;
        if (o == Outcome::read) d = std::move(texts.texts);
        each(k, std::move(d));
    }

    // --DISPLACE: the digests of the window, as a listing's.
    void digest_in_windows(const DupeReads::Files& files, const DupeReads::Digests& each) {
        for (std::size_t k = 0; k < files.size(); ++k) {
            poll_interrupt(run_);
            DigestTexts got = digest_file(run_, tools_.digests, c_.path(files[k]), want_, false,
                                          c_.size(files[k]));
            std::optional<HeldDigests> d;
            if (got.read_ok) d = std::move(got.texts);
            each(k, std::move(d));
        }
    }

    // This thread opens the files, reads them beside the worker (when the
    // run has one) and hands out the answers.
    template <typename Answer>
    void read_jobs(const DupeReads::Files& files, bool sample, bool hold, Answer answer) {
        if (two_threads_ && !worker_.joinable()) {
            theirs_ = std::make_unique<Buffers>();
            worker_ = std::thread([this] { work(); });
        }
        // However the batch ends, the worker has let go of every job.
        struct Guard {
            Impl& impl;
            ~Guard() { impl.settle(); }
        } guard{*this};
        // Enough open that each thread may take two.
        const std::size_t ahead = two_threads_ ? jobs_in_flight - 2 : 2;
        std::size_t next = 0;
        std::size_t outstanding = 0;
        {
            const std::lock_guard lock(mutex_);
            all_opened_ = false;
        }
        for (;;) {
            poll_interrupt(run_);
            // One look under the lock: the worker waits for it.
            std::array<Job*, jobs_in_flight> finished{};
            std::size_t finished_count = 0;
            Job* free = nullptr;
            {
                const std::lock_guard lock(mutex_);
                for (Job& job : jobs_) {
                    if (job.state == Job::done) {
                        job.state = Job::free;
                        finished[finished_count++] = &job;
                    }
                    if (job.state == Job::free && !free) free = &job;
                }
            }
            // Free jobs are this thread's alone: the worker takes queued ones.
            for (std::size_t i = 0; i < finished_count; ++i) {
                --outstanding;
                answer(*finished[i], files[finished[i]->index]);
                finished[i]->opened = {};
            }
            if (next < files.size() && free) {
                free->sample = sample;
                free->hold = hold;
                free->index = next;
                free->size = c_.size(files[next]);
                free->opened = sample ? open(files[next], false) : take(files[next]);
                bool ready = false;
                {
                    const std::lock_guard lock(mutex_);
                    free->state = Job::queued;
                    all_opened_ = next + 1 == files.size();
                    ready = two_threads_ && ready_for_worker();
                }
                // Woken only when it has work: each needless wake is two
                // system calls.
                if (ready) wake_.notify_one();
                ++next;
                ++outstanding;
                if (next < files.size() && outstanding < ahead) continue;
            }
            if (outstanding == 0) break;
            std::unique_lock lock(mutex_);
            Job* other = nullptr;
            Job* const job = take_queued(other);
            if (!job) {
                finished_.wait(lock, [&] { return first(Job::done) != nullptr; });
                continue;
            }
            lock.unlock();
            read(*job, other, mine_);
            lock.lock();
            job->state = Job::done;
            if (other) other->state = Job::done;
        }
    }

    // Called with the lock held.
    Job* first(Job::State state) {
        for (Job& job : jobs_)
            if (job.state == state) return &job;
        return nullptr;
    }

    // The first queued job, and in `other` a second to hash with it;
    // both then run. Called with the lock held.
    Job* take_queued(Job*& other) {
        Job* const job = first(Job::queued);
        other = nullptr;
        if (!job) return nullptr;
        job->state = Job::running;
        // The closest size: what one has beyond the other is hashed alone.
        const auto apart = [&](const Job& j) {
            return j.size > job->size ? j.size - job->size : job->size - j.size;
        };
        if (job->pairs())
            for (Job& j : jobs_)
                if (j.state == Job::queued && j.pairs() && (!other || apart(j) < apart(*other)))
                    other = &j;
        if (other) other->state = Job::running;
        return job;
    }

    // For the worker: a queued job, but one that pairs only once a second
    // is there to pair it with or no more will come. Called with the lock held.
    Job* take_ready(Job*& other) { return ready_for_worker() ? take_queued(other) : nullptr; }
    bool ready_for_worker() {
        const Job* const job = first(Job::queued);
        if (!job) return false;
        return !job->pairs() || all_opened_ ||
               std::count_if(jobs_.begin(), jobs_.end(),
                             [](const Job& j) { return j.state == Job::queued && j.pairs(); }) >= 2;
    }

    void read(Job& job, Job* other, Buffers& buffers) {
        if (job.sample) {
            job.hash = job.opened.file ? sample_of(*job.opened.file, job.size, buffers.one.data())
                                       : std::nullopt;
            if (!job.hash || !job.hold) job.opened = {};
            return;
        }
        if (!job.pairs()) {
            DigestFeed feed(want_);
            job.outcome =
                read_file(run_.sys, job.opened, job.size, buffers.one.data(), abandon_,
                          [&](const unsigned char* p, std::size_t n) { feed.update(p, n); });
            if (job.outcome == Outcome::read) job.texts = feed.finish();
            job.opened = {};
            return;
        }
        const auto whole = [&](Job& j, unsigned char* buffer) {
            j.outcome = read_file(run_.sys, j.opened, j.size, buffer, abandon_,
                                  [](const unsigned char*, std::size_t) {});
            j.opened = {};
            return j.outcome == Outcome::read;
        };
        const bool one = whole(job, buffers.one.data());
        const bool two = other && whole(*other, buffers.two.data());
        if (one && two) {
            DigestFeed a(want_), b(want_);
            const auto common = static_cast<std::size_t>(std::min(job.size, other->size));
            DigestFeed::update_two(a, buffers.one.data(), b, buffers.two.data(), common);
            a.update(buffers.one.data() + common, static_cast<std::size_t>(job.size) - common);
            b.update(buffers.two.data() + common, static_cast<std::size_t>(other->size) - common);
            job.texts = a.finish();
            other->texts = b.finish();
            return;
        }
        for (auto [j, buffer] : {std::pair{&job, buffers.one.data()}, {other, buffers.two.data()}})
            if (j && j->outcome == Outcome::read) {
                DigestFeed feed(want_);
                feed.update(buffer, static_cast<std::size_t>(j->size));
                j->texts = feed.finish();
            }
    }

    void work() {
        std::unique_lock lock(mutex_);
        for (;;) {
            Job* job = nullptr;
            Job* other = nullptr;
            wake_.wait(lock, [&] { return stop_ || (job = take_ready(other)) != nullptr; });
            if (stop_) return;
            worker_busy_ = true;
            lock.unlock();
            try {
                read(*job, other, *theirs_);
            } catch (...) {
                // Told on the search's thread, where the run can end.
                for (Job* j : {job, other})
                    if (j) {
                        j->outcome = Outcome::no_memory;
                        j->hash.reset();
                        j->opened = {};
                    }
            }
            lock.lock();
            job->state = Job::done;
            if (other) other->state = Job::done;
            worker_busy_ = false;
            finished_.notify_all();
        }
    }

    // Drops what is queued, waits for what the worker reads (cut short),
    // and frees every job.
    void settle() {
        std::unique_lock lock(mutex_);
        abandon_ = true;
        for (Job& job : jobs_)
            if (job.state == Job::queued) job.state = Job::done;
        finished_.wait(lock, [&] { return !worker_busy_; });
        for (Job& job : jobs_) {
            job.state = Job::free;
            job.opened = {};
        }
        abandon_ = false;
    }

    Run& run_;
    EntryTools& tools_;
    const DupeCandidates& c_;
    const DigestRequest want_;
    const bool windowed_;
    const bool two_threads_;
    Buffers mine_;
    std::vector<std::pair<std::size_t, Opened>> held_;  // candidate, its open file
    std::unique_ptr<Buffers> theirs_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable finished_;
    std::array<Job, jobs_in_flight> jobs_;
    bool worker_busy_ = false;
    bool all_opened_ = false;  // this thread has queued every file of the call
    bool stop_ = false;
    std::atomic<bool> abandon_{false};
    std::thread worker_;  // last: starts once everything above exists
};

DupeFileReads::DupeFileReads(Run& run, EntryTools& tools, const DupeCandidates& candidates,
                             DigestSet read)
    : impl_(std::make_unique<Impl>(run, tools, candidates, read)) {}
DupeFileReads::~DupeFileReads() = default;

void DupeFileReads::samples(const DupeReads::Files& files, const DupeReads::Samples& each) {
    impl_->samples(files, each);
}

void DupeFileReads::digests(const DupeReads::Files& files, const DupeReads::Digests& each) {
    impl_->digests(files, each);
}

}  // namespace filarix
