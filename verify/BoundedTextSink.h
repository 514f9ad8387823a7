#pragma once

#include <cstddef>
#include <ostream>
#include <streambuf>
#include <string>

// An output stream that keeps at most `capacity` bytes. One byte more puts
// it in a failed state, and sendRequest ends a transfer whose body stream
// fails with CURLE_WRITE_ERROR: a small document is read whole or not at all,
// and a server that sends more cannot grow our memory.
class BoundedTextSink : public std::ostream {
public:
    explicit BoundedTextSink(std::size_t capacity);

    const std::string& text() const { return m_buffer.text; }
    // True once more than `capacity` bytes were offered.
    bool overflowed() const { return m_buffer.overflowed; }

private:
    struct Buffer : std::streambuf {
        std::string text;
        std::size_t capacity = 0;
        bool overflowed = false;

        int_type overflow(int_type c) override;
        std::streamsize xsputn(const char* data, std::streamsize count) override;
    };

    Buffer m_buffer;
};
