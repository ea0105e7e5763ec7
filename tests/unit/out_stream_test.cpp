// The buffered output stream: line ends on a sink whose lines end with
// CR LF, bytes kept exact, and text held back and then sent elsewhere.
#include "core/out_stream.hpp"

#include <gtest/gtest.h>

#include <functional>
#include <string>

using filarix::OutStream;

namespace {

class StringSink final : public platform::Sink {
public:
    explicit StringSink(bool crlf) : crlf_(crlf) {}
    bool write(const char* data, std::size_t size) override {
        text.append(data, size);
        return true;
    }
    bool lines_end_crlf() const override { return crlf_; }
    std::string text;

private:
    bool crlf_;
};

TEST(OutStream, LineEndsBecomeCrLfWhereTheSinkWantsItAndExactBytesStay) {
    struct Case {
        std::function<void(OutStream&)> write;
        std::string lf_sink;
        std::string crlf_sink;
    };
    const Case cases[] = {
        {[](OutStream& o) { o.put("a\nb\n\nc"); }, "a\nb\n\nc", "a\r\nb\r\n\r\nc"},
        {[](OutStream& o) { o.put("\r progress\b"); }, "\r progress\b", "\r progress\b"},
        {[](OutStream& o) { o.put("x\r\n"); }, "x\r\n", "x\r\r\n"},  // as the runtime does it
        {[](OutStream& o) { o.printf("%d\n%s\n", 7, "z"); }, "7\nz\n", "7\r\nz\r\n"},
        {[](OutStream& o) { o.printf("%s", std::string(70000, '\n').c_str()); },
         std::string(70000, '\n'),
         [] {
             std::string s;
             for (int i = 0; i < 70000; ++i) s += "\r\n";
             return s;
         }()},
        {[](OutStream& o) { o.repeat('\n', 2); }, "\n\n", "\r\n\r\n"},
        {[](OutStream& o) { o.put_exact("\"new\nline\"\r\n"); }, "\"new\nline\"\r\n",
         "\"new\nline\"\r\n"},
    };
    for (const Case& c : cases) {
        for (const bool crlf : {false, true}) {
            StringSink sink(crlf);
            {
                OutStream out(sink);
                c.write(out);
            }
            EXPECT_EQ(sink.text, crlf ? c.crlf_sink : c.lf_sink);
        }
    }
}

TEST(OutStream, HeldTextWaitsForItsPlace) {
    StringSink out_sink(false), err_sink(false);
    OutStream out(out_sink), err(err_sink);
    out.hold();
    out.put(std::string(100000, 'h'));  // more than the buffer: still held
    out.flush();                        // a pause asked for it: done on release
    EXPECT_EQ(out_sink.text, "");
    out.divert_to(err);
    out.printf("%s\n", "later");
    EXPECT_EQ(err_sink.text, std::string(100000, 'h'));
    err.flush();
    EXPECT_EQ(out_sink.text, "");
    EXPECT_EQ(err_sink.text, std::string(100000, 'h') + "later\n");

    StringSink kept(false);
    OutStream stays(kept);
    stays.hold();
    stays.put("notice\n");
    stays.flush();
    EXPECT_EQ(kept.text, "");
    stays.release();
    EXPECT_EQ(kept.text, "notice\n");
}

}  // namespace
