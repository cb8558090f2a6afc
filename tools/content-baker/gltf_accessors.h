#pragma once
// Validated reads out of a parsed glTF document: accessors (dense and sparse) as numbers,
// buffer views as bytes. Nothing in the document is trusted: every index is range-checked,
// every byte range is checked against its view and buffer with overflow-safe arithmetic,
// every count against the caller's limit before anything is allocated, and every float for
// finiteness. Failures throw ImportError naming the file, the element that uses the
// accessor and what is wrong. Offline code; allocates freely.

#include <cstddef>
#include <initializer_list>
#include <span>
#include <string>
#include <vector>

#include "base/types.h"
#include "import_error.h"

namespace tinygltf {
class Model;
}

namespace kestrune::baker {

// glTF component types.
inline constexpr int kSignedByte = 5120;
inline constexpr int kUnsignedByte = 5121;
inline constexpr int kSignedShort = 5122;
inline constexpr int kUnsignedShort = 5123;
inline constexpr int kUnsignedInt = 5125;
inline constexpr int kFloat = 5126;

// glTF element types, as components per element.
enum class ElementType { scalar = 1, vec2 = 2, vec3 = 3, vec4 = 4, mat4 = 16 };

class GltfReader {
public:
    // `sourceName` opens every message: "<sourceName>: <element>: <what>".
    GltfReader(const tinygltf::Model& document, std::string sourceName);

    const tinygltf::Model& document() const noexcept { return document_; }

    [[noreturn]] void fail(const std::string& what) const;

    // The accessor's values, element after element, `type`'s components each. Integer
    // components become numbers as stored, or by glTF's normalisation when the accessor is
    // normalised. `use` names the reader in messages ("mesh 0 primitive 1 POSITION").
    std::vector<f64> numbers(int accessor, ElementType type, std::initializer_list<int> componentTypes,
                             std::size_t maxCount, const std::string& use) const;

    // The element count of the accessor, checked against `maxCount`, without reading it.
    std::size_t count(int accessor, std::size_t maxCount, const std::string& use) const;

    // The bytes of a buffer view, checked against its buffer.
    std::span<const u8> bufferView(int view, const std::string& use) const;

private:
    const tinygltf::Model& document_;
    std::string sourceName_;
};

}  // namespace kestrune::baker
