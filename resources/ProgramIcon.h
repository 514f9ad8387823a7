#pragma once

#include <cstddef>

namespace resources {

struct IconBytes {
    const unsigned char* data;
    std::size_t size;
};

// The program's icon as a PNG file image (48 x 48 pixels).
IconBytes programIconPng();

}  // namespace resources
