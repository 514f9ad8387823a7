#pragma once

#include <string>
#include <vector>

// Values that must come back unchanged from a stamped block through the
// stub's reading and decoding.
inline const std::vector<std::string> kRoundTripValues = {
    "plain",
    "",
    "two  blanks and a trailing one ",
    "\"double\" and 'single' quotes",
    "a+b",
    "100% and %41",
    "k=v=w",
    "a;b;",
    "tab\tand\nnewline",
    "https://example.com/path?q=1&r=a+b#top",
    "\xd0\x9f\xd1\x80\xd0\xb8\xd0\xb2\xd0\xb5\xd1\x82, \xd0\xbc\xd0\xb8\xd1\x80!",
    "PayloadInfo:x=1;",
};
