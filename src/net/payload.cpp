#include "net/payload.h"

#include <cassert>
#include <stdexcept>

#include "base/utf8.h"

namespace kestrune::net {

void throwTruncatedPayload() {
    throw std::runtime_error("truncated protocol payload");
}

std::string PayloadReader::string(std::size_t limitBytes, std::string_view field) {
    const u16 lengthBytes = u16le(field);
    if (lengthBytes > limitBytes) {
        throw std::runtime_error("protocol string exceeds its limit");
    }
    const std::span<const std::byte> bytes = take(lengthBytes, field);
    if (!isWellFormedUtf8(bytes)) {
        throw std::runtime_error("protocol string is not valid UTF-8");
    }
    return std::string(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

void PayloadReader::expectEnd() const {
    if (!atEnd()) {
        throw std::runtime_error("protocol payload contains trailing bytes");
    }
}

void PayloadWriter::string(std::string_view text, std::size_t limitBytes) {
    assert(limitBytes <= 0xFFFF && "a protocol string limit must fit its u16 length");
    if (text.size() > limitBytes) {
        throw std::invalid_argument("protocol string is too long");
    }
    if (!isWellFormedUtf8(text)) {
        throw std::invalid_argument("protocol string is not valid UTF-8");
    }
    u16le(static_cast<u16>(text.size()));
    append(text);
}

}  // namespace kestrune::net
