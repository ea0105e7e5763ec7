#include "core/out_stream.hpp"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace filarix {

namespace {
constexpr std::size_t buffer_size = 64 * 1024;
}

OutStream::OutStream(platform::Sink& sink)
    : sink_(&sink),
      buffer_(new char[buffer_size]),
      capacity_(buffer_size),
      terminal_(sink.is_terminal()),
      crlf_(sink.lines_end_crlf()),
      device_(sink.is_device()) {}

OutStream::OutStream(std::unique_ptr<platform::Sink> sink)
    : sink_(sink.get()),
      owned_(std::move(sink)),
      buffer_(new char[buffer_size]),
      capacity_(buffer_size),
      terminal_(sink_->is_terminal()),
      crlf_(sink_->lines_end_crlf()),
      device_(sink_->is_device()) {}

OutStream::~OutStream() {
    // A diverted stream has nothing of its own, and its target may be gone.
    if (!closed_ && divert_ == nullptr) flush();
}

void OutStream::make_room(std::size_t size) {
    if (capacity_ - used_ >= size) return;
    if (mark_ == no_mark && !held_) {
        flush();
        return;
    }
    if (!held_) flush_to_mark();
    if (capacity_ - used_ >= size) return;
    // A record longer than the buffer, or held text: the buffer grows.
    std::size_t grown = capacity_ * 2;
    while (grown - used_ < size) grown *= 2;
    std::unique_ptr<char[]> bigger(new char[grown]);
    std::memcpy(bigger.get(), buffer_.get(), used_);
    buffer_ = std::move(bigger);
    capacity_ = grown;
}

void OutStream::flush_to_mark() {
    if (mark_ == 0 || mark_ == no_mark) return;
    sent_line_ends_ +=
        static_cast<std::uint64_t>(std::count(buffer_.get(), buffer_.get() + mark_, '\n'));
    if (!failed_ && !sink_->write(buffer_.get(), mark_)) failed_ = true;
    std::memmove(buffer_.get(), buffer_.get() + mark_, used_ - mark_);
    used_ -= mark_;
    mark_ = 0;
}

void OutStream::end_record() {
    mark_ = no_mark;
    after_write();
}

void OutStream::drop_record() {
    if (mark_ != no_mark) used_ = mark_;
    mark_ = no_mark;
}

// A person watching the console sees each line as it is finished; files
// and pipes get whole buffers.
void OutStream::after_write() {
    if (terminal_ && mark_ == no_mark && used_ > 0 && buffer_[used_ - 1] == '\n') flush();
}

std::size_t OutStream::put(std::string_view text) {
    if (divert_ != nullptr) return divert_->put(text);
    if (closed_) return 0;
    if (!crlf_ || text.find('\n') == std::string_view::npos) return put_bytes(text);
    for (std::size_t start = 0;;) {
        const std::size_t end = text.find('\n', start);
        if (end == std::string_view::npos) {
            put_bytes(text.substr(start));
            break;
        }
        put_bytes(text.substr(start, end - start));
        put_bytes("\r\n");
        start = end + 1;
    }
    return text.size();
}

std::size_t OutStream::put_exact(std::string_view bytes) {
    if (divert_ != nullptr) return divert_->put_exact(bytes);
    return put_bytes(bytes);
}

std::size_t OutStream::put_bytes(std::string_view text) {
    if (closed_) return 0;
    if (text.size() >= capacity_ && mark_ == no_mark && !held_) {
        flush();
        sent_line_ends_ += static_cast<std::uint64_t>(std::count(text.begin(), text.end(), '\n'));
        if (!failed_ && !sink_->write(text.data(), text.size())) failed_ = true;
        return text.size();
    }
    make_room(text.size());
    std::memcpy(buffer_.get() + used_, text.data(), text.size());
    used_ += text.size();
    after_write();
    return text.size();
}

std::size_t OutStream::put(char c) {
    return put(std::string_view(&c, 1));
}

std::size_t OutStream::repeat(char c, std::size_t count) {
    for (std::size_t done = 0; done < count;) {
        const std::size_t n = std::min<std::size_t>(count - done, 256);
        char block[256];
        std::memset(block, c, n);
        put(std::string_view(block, n));
        done += n;
    }
    return count;
}

int OutStream::printf(const char* format, ...) {
    if (closed_) return 0;
    make_room(4096);
    va_list args;
    va_start(args, format);
    const std::size_t room = capacity_ - used_;
    int n = std::vsnprintf(buffer_.get() + used_, room, format, args);
    va_end(args);
    if (n < 0) return 0;
    if (static_cast<std::size_t>(n) < room) {
        const std::string_view text(buffer_.get() + used_, static_cast<std::size_t>(n));
        // Line ends to widen, or a stream elsewhere: the text goes the way put takes.
        if (divert_ != nullptr || (crlf_ && text.find('\n') != std::string_view::npos)) {
            put(std::string(text));
            return n;
        }
        used_ += static_cast<std::size_t>(n);
        after_write();
        return n;
    }
    // Too long for what is left of the buffer: format it on its own.
    std::string big(static_cast<std::size_t>(n) + 1, '\0');
    va_start(args, format);
    std::vsnprintf(big.data(), big.size(), format, args);
    va_end(args);
    big.pop_back();
    put(big);
    return n;
}

std::uint64_t OutStream::line_ends() const {
    return sent_line_ends_ +
           static_cast<std::uint64_t>(std::count(buffer_.get(), buffer_.get() + used_, '\n'));
}

void OutStream::release() {
    held_ = false;
    if (flush_held_) flush();
    flush_held_ = false;
}

void OutStream::divert_to(OutStream& other) {
    held_ = false;
    mark_ = no_mark;
    // What is here has its line ends already, as the other stream writes them.
    if (used_ > 0) other.put_exact(std::string_view(buffer_.get(), used_));
    used_ = 0;
    divert_ = &other;
    if (flush_held_) other.flush();
    flush_held_ = false;
}

bool OutStream::flush() {
    if (divert_ != nullptr) return divert_->flush();
    if (held_ && !terminal_) {
        flush_held_ = true;
        return !failed_;
    }
    // Inside a record only the finished lines before it go out.
    if (mark_ != no_mark) {
        flush_to_mark();
        if (!failed_ && !closed_ && !sink_->flush()) failed_ = true;
        return !failed_;
    }
    sent_line_ends_ +=
        static_cast<std::uint64_t>(std::count(buffer_.get(), buffer_.get() + used_, '\n'));
    if (used_ > 0 && !failed_) {
        if (!sink_->write(buffer_.get(), used_)) failed_ = true;
    }
    used_ = 0;
    if (!failed_ && !closed_ && !sink_->flush()) failed_ = true;
    return !failed_;
}

bool OutStream::close() {
    if (closed_) return !failed_;
    flush();
    closed_ = true;
    if (!sink_->close()) failed_ = true;
    return !failed_;
}

}  // namespace filarix
