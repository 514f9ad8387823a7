#include "verify/BoundedTextSink.h"

BoundedTextSink::BoundedTextSink(std::size_t capacity) : std::ostream(nullptr) {
    m_buffer.capacity = capacity;
    rdbuf(&m_buffer);
}

BoundedTextSink::Buffer::int_type BoundedTextSink::Buffer::overflow(int_type c) {
    if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
    const char character = traits_type::to_char_type(c);
    return xsputn(&character, 1) == 1 ? c : traits_type::eof();
}

std::streamsize BoundedTextSink::Buffer::xsputn(const char* data, std::streamsize count) {
    if (overflowed || static_cast<std::size_t>(count) > capacity - text.size()) {
        overflowed = true;
        return 0;
    }
    text.append(data, static_cast<std::size_t>(count));
    return count;
}
