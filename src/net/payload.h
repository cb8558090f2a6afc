#pragma once
// The payload reader and writer every duel message codec is built from: little-endian
// primitives plus the protocol's length-prefixed UTF-8 strings. The reader throws
// std::runtime_error ("truncated protocol payload", string errors) because its bytes come
// from the peer; the writer throws std::invalid_argument because its strings come from a
// caller that could have checked them.

#include <cstddef>
#include <span>
#include <string>
#include <string_view>

#include "base/byte_reader.h"
#include "base/byte_writer.h"

namespace kestrune::net {

[[noreturn]] void throwTruncatedPayload();

// Inline and stateless, so a read's bounds check costs one compare and no call.
struct ThrowTruncatedPayload {
    [[noreturn]] void operator()(std::size_t, std::string_view) const { throwTruncatedPayload(); }
};

class PayloadReader : public ByteReader<ThrowTruncatedPayload> {
public:
    explicit PayloadReader(std::span<const std::byte> payload)
        : ByteReader<ThrowTruncatedPayload>(payload, ThrowTruncatedPayload{}) {}

    // u16 byte length, then that many bytes of UTF-8. The length is checked against the
    // limit before anything is copied.
    std::string string(std::size_t limitBytes, std::string_view field);

    // Every decoder ends with this: a valid prefix followed by junk is still a bad message.
    void expectEnd() const;
};

class PayloadWriter : public ByteWriter {
public:
    using ByteWriter::ByteWriter;

    // Throws "protocol string is too long" above the limit, then "protocol string is not
    // valid UTF-8"; the limit must fit the u16 length prefix.
    void string(std::string_view text, std::size_t limitBytes);
};

}  // namespace kestrune::net
