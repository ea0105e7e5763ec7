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
      terminal_(sink.is_terminal()) {}

OutStream::OutStream(std::unique_ptr<platform::Sink> sink)
    : sink_(sink.get()),
      owned_(std::move(sink)),
      buffer_(new char[buffer_size]),
      capacity_(buffer_size),
      terminal_(sink_->is_terminal()) {}

OutStream::~OutStream() {
    if (!closed_) flush();
}

void OutStream::make_room(std::size_t size) {
    if (capacity_ - used_ >= size) return;
    if (mark_ == no_mark) {
        flush();
        return;
    }
    flush_to_mark();
    if (capacity_ - used_ >= size) return;
    // A record longer than the buffer: the buffer grows to hold it, once.
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
    if (closed_) return 0;
    if (text.size() >= capacity_ && mark_ == no_mark) {
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

bool OutStream::flush() {
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
