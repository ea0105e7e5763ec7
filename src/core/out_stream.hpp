// A buffered 8-bit text stream over a platform sink: the listing, the log,
// the console streams. Records are formatted with printf formats straight
// into the buffer, so a field is never copied twice.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "platform/platform.hpp"

namespace filarix {

class OutStream {
public:
    // A stream over a sink it does not own (the standard streams).
    explicit OutStream(platform::Sink& sink);
    // A stream that owns its sink (files).
    explicit OutStream(std::unique_ptr<platform::Sink> sink);
    OutStream(const OutStream&) = delete;
    OutStream& operator=(const OutStream&) = delete;
    ~OutStream();

    // Each returns the number of characters written. On a sink whose lines
    // end with CR LF each "\n" of the text is written as "\r\n".
    std::size_t put(std::string_view text);
    std::size_t put(char c);
    std::size_t repeat(char c, std::size_t count);
    int printf(const char* format, ...) __attribute__((format(printf, 2, 3)));
    // Bytes written as they are on every sink: a CSV row carries a line
    // feed of a name as the name has it.
    std::size_t put_exact(std::string_view bytes);

    // While held, nothing is written (but to a terminal, where a person
    // reads it): the buffer grows, so that text written before anyone knows
    // where it belongs can still be sent elsewhere. A flush asked for
    // meanwhile is done on release.
    void hold() { held_ = true; }
    void release();
    // From now on everything written here goes to `other`, the text not
    // yet written first; this stream writes nothing of its own any more.
    void divert_to(OutStream& other);

    // A record is written whole or not at all: between begin_record and
    // end_record its bytes stay in the buffer (which grows if it must), so
    // that drop_record can take back a record cut short by the end of the run.
    void begin_record() { mark_ = used_; }
    void end_record();
    void drop_record();

    // Pushes the buffer to the sink; false once any write has failed.
    bool flush();
    // Flushes and closes the sink; false when anything failed.
    bool close();
    bool failed() const { return failed_; }
    bool closed() const { return closed_; }
    bool is_terminal() const { return terminal_; }
    bool is_device() const { return device_; }
    // Line feeds written so far, the buffered ones included: the sort keeps
    // the lines before the first record where they are.
    std::uint64_t line_ends() const;

private:
    std::size_t put_bytes(std::string_view bytes);
    void make_room(std::size_t size);
    void after_write();
    // Writes the finished bytes before the mark, keeping the record's own.
    void flush_to_mark();
    static constexpr std::size_t no_mark = static_cast<std::size_t>(-1);

    platform::Sink* sink_;
    std::unique_ptr<platform::Sink> owned_;
    std::unique_ptr<char[]> buffer_;
    std::size_t used_ = 0;
    std::size_t capacity_;
    std::size_t mark_ = no_mark;
    std::uint64_t sent_line_ends_ = 0;
    bool failed_ = false;
    bool closed_ = false;
    bool terminal_ = false;
    bool crlf_ = false;
    bool device_ = false;
    bool held_ = false;
    bool flush_held_ = false;
    OutStream* divert_ = nullptr;
};

}  // namespace filarix
