#pragma once

#include <cstddef>

namespace QXlsx {
namespace detail {

// Well-formed UTF-8: no overlong form, no surrogate, nothing past U+10FFFF.
bool isUtf8(const char *p, size_t n);

} // namespace detail
} // namespace QXlsx
