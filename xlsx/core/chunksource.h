#pragma once

// Bytes handed out a chunk at a time, such as a zip entry as it is inflated.

#include <QByteArray>

namespace QXlsx {
namespace detail {

class ChunkSource
{
public:
    virtual ~ChunkSource() = default;
    // Next chunk into *chunk; false at the end or on failure.
    virtual bool next(QByteArray *chunk) = 0;
    virtual bool failed() const = 0;
};

} // namespace detail
} // namespace QXlsx
