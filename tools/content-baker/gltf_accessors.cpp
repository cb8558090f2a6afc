#include "gltf_accessors.h"

#include <tiny_gltf.h>

#include <cmath>
#include <algorithm>
#include <cstdint>
#include <cstring>

namespace kestrune::baker {
namespace {

const char* componentName(int componentType) noexcept {
    switch (componentType) {
    case kSignedByte: return "signed bytes";
    case kUnsignedByte: return "unsigned bytes";
    case kSignedShort: return "signed shorts";
    case kUnsignedShort: return "unsigned shorts";
    case kUnsignedInt: return "unsigned ints";
    case kFloat: return "floats";
    default: return "an unknown component type";
    }
}

std::size_t componentBytes(int componentType) noexcept {
    switch (componentType) {
    case kSignedByte:
    case kUnsignedByte: return 1;
    case kSignedShort:
    case kUnsignedShort: return 2;
    default: return 4;
    }
}

// tinygltf's code of an element type.
int typeCode(ElementType type) noexcept {
    switch (type) {
    case ElementType::scalar: return TINYGLTF_TYPE_SCALAR;
    case ElementType::vec2: return TINYGLTF_TYPE_VEC2;
    case ElementType::vec3: return TINYGLTF_TYPE_VEC3;
    case ElementType::vec4: return TINYGLTF_TYPE_VEC4;
    default: return TINYGLTF_TYPE_MAT4;
    }
}

const char* typeName(int code) noexcept {
    switch (code) {
    case TINYGLTF_TYPE_SCALAR: return "SCALAR";
    case TINYGLTF_TYPE_VEC2: return "VEC2";
    case TINYGLTF_TYPE_VEC3: return "VEC3";
    case TINYGLTF_TYPE_VEC4: return "VEC4";
    case TINYGLTF_TYPE_MAT2: return "MAT2";
    case TINYGLTF_TYPE_MAT3: return "MAT3";
    case TINYGLTF_TYPE_MAT4: return "MAT4";
    default: return "of an unknown type";
    }
}

// One component as a number: as stored, or normalised as glTF defines it for integers.
f64 decodeComponent(const u8* p, int componentType, bool normalized) noexcept {
    switch (componentType) {
    case kSignedByte: {
        const auto v = static_cast<std::int8_t>(p[0]);
        return normalized ? std::max(v / 127.0, -1.0) : v;
    }
    case kUnsignedByte: return normalized ? p[0] / 255.0 : p[0];
    case kSignedShort: {
        i16 v;
        std::memcpy(&v, p, 2);
        return normalized ? std::max(v / 32767.0, -1.0) : v;
    }
    case kUnsignedShort: {
        u16 v;
        std::memcpy(&v, p, 2);
        return normalized ? v / 65535.0 : v;
    }
    case kUnsignedInt: {
        u32 v;
        std::memcpy(&v, p, 4);
        return v;
    }
    default: {
        f32 v;
        std::memcpy(&v, p, 4);
        return v;
    }
    }
}

// Whether `count` elements of `elementBytes`, `strideBytes` apart, fit in `available` bytes
// from `offset`, without computing anything that could wrap.
bool fits(std::size_t offset, std::size_t count, std::size_t strideBytes, std::size_t elementBytes,
          std::size_t available) noexcept {
    if (offset > available || available - offset < elementBytes) return false;
    return (count - 1) <= (available - offset - elementBytes) / strideBytes;
}

}  // namespace

GltfReader::GltfReader(const tinygltf::Model& document, std::string sourceName)
    : document_(document), sourceName_(std::move(sourceName)) {}

void GltfReader::fail(const std::string& what) const { throw ImportError(sourceName_ + ": " + what); }

std::span<const u8> GltfReader::bufferView(int view, const std::string& use) const {
    if (view < 0 || static_cast<std::size_t>(view) >= document_.bufferViews.size()) {
        fail(use + " names buffer view " + std::to_string(view) + ", but the file has " +
             std::to_string(document_.bufferViews.size()));
    }
    const tinygltf::BufferView& v = document_.bufferViews[static_cast<std::size_t>(view)];
    const std::string name = "buffer view " + std::to_string(view);
    if (v.buffer < 0 || static_cast<std::size_t>(v.buffer) >= document_.buffers.size()) {
        fail(name + " names buffer " + std::to_string(v.buffer) + ", but the file has " +
             std::to_string(document_.buffers.size()));
    }
    const std::vector<unsigned char>& data = document_.buffers[static_cast<std::size_t>(v.buffer)].data;
    if (v.byteOffset > data.size() || v.byteLength > data.size() - v.byteOffset) {
        fail(name + " (" + std::to_string(v.byteLength) + " bytes at offset " + std::to_string(v.byteOffset) +
             ") lies outside buffer " + std::to_string(v.buffer) + " of " + std::to_string(data.size()) + " bytes");
    }
    return std::span<const u8>(data.data() + v.byteOffset, v.byteLength);
}

std::size_t GltfReader::count(int accessor, std::size_t maxCount, const std::string& use) const {
    if (accessor < 0 || static_cast<std::size_t>(accessor) >= document_.accessors.size()) {
        fail(use + " names accessor " + std::to_string(accessor) + ", but the file has " +
             std::to_string(document_.accessors.size()));
    }
    const tinygltf::Accessor& a = document_.accessors[static_cast<std::size_t>(accessor)];
    const std::string name = use + ": accessor " + std::to_string(accessor);
    if (a.count == 0) {
        fail(name + " is empty");
    }
    if (a.count > maxCount) {
        fail(name + " has " + std::to_string(a.count) + " elements, more than the " + std::to_string(maxCount) +
             " it may have");
    }
    return a.count;
}

std::vector<f64> GltfReader::numbers(int accessor, ElementType type, std::initializer_list<int> componentTypes,
                                     std::size_t maxCount, const std::string& use) const {
    const std::size_t elements = count(accessor, maxCount, use);
    const tinygltf::Accessor& a = document_.accessors[static_cast<std::size_t>(accessor)];
    const std::string name = use + ": accessor " + std::to_string(accessor);
    const auto components = static_cast<std::size_t>(type);
    if (a.type != typeCode(type)) {
        fail(name + " is " + typeName(a.type) + ", not " + typeName(typeCode(type)));
    }
    bool allowed = false;
    std::string allowedNames;
    for (const int t : componentTypes) {
        allowed = allowed || t == a.componentType;
        allowedNames += (allowedNames.empty() ? "" : " or ") + std::string(componentName(t));
    }
    if (!allowed) {
        fail(name + " holds " + componentName(a.componentType) + ", not " + allowedNames);
    }
    const std::size_t size = componentBytes(a.componentType);
    const std::size_t elementBytes = size * components;

    std::vector<f64> values(elements * components, 0.0);
    const auto decodeInto = [&](std::span<const u8> bytes, std::size_t offset, std::size_t strideBytes,
                                std::size_t n, const std::string& what, std::vector<f64>& out) {
        if (strideBytes < elementBytes) {
            fail(what + " has elements of " + std::to_string(elementBytes) + " bytes but a stride of " +
                 std::to_string(strideBytes));
        }
        if (!fits(offset, n, strideBytes, elementBytes, bytes.size())) {
            fail(what + " needs " + std::to_string(n) + " elements of " + std::to_string(elementBytes) +
                 " bytes from offset " + std::to_string(offset) + ", more than the " +
                 std::to_string(bytes.size()) + " bytes of its buffer view");
        }
        for (std::size_t e = 0; e < n; ++e) {
            const u8* element = bytes.data() + offset + e * strideBytes;
            for (std::size_t c = 0; c < components; ++c) {
                out[e * components + c] =
                    decodeComponent(element + c * size, a.componentType, a.normalized);
            }
        }
    };

    if (a.bufferView >= 0) {
        const std::span<const u8> bytes = bufferView(a.bufferView, name);
        const std::size_t stride = document_.bufferViews[static_cast<std::size_t>(a.bufferView)].byteStride;
        decodeInto(bytes, a.byteOffset, stride == 0 ? elementBytes : stride, elements, name, values);
    }
    if (a.sparse.isSparse) {
        const std::string sparse = name + " sparse";
        if (a.sparse.count <= 0 || static_cast<std::size_t>(a.sparse.count) > elements) {
            fail(sparse + " replaces " + std::to_string(a.sparse.count) + " elements of " + std::to_string(elements));
        }
        const auto replaced = static_cast<std::size_t>(a.sparse.count);
        const int indexType = a.sparse.indices.componentType;
        if (indexType != kUnsignedByte && indexType != kUnsignedShort && indexType != kUnsignedInt) {
            fail(sparse + " indices are " + componentName(indexType) +
                 ", not unsigned bytes or unsigned shorts or unsigned ints");
        }
        const std::span<const u8> indexBytes = bufferView(a.sparse.indices.bufferView, sparse + " indices");
        const std::size_t indexSize = componentBytes(indexType);
        if (a.sparse.indices.byteOffset < 0 ||
            !fits(static_cast<std::size_t>(a.sparse.indices.byteOffset), replaced, indexSize, indexSize,
                  indexBytes.size())) {
            fail(sparse + " indices need " + std::to_string(replaced * indexSize) + " bytes from offset " +
                 std::to_string(a.sparse.indices.byteOffset) + " of a buffer view of " +
                 std::to_string(indexBytes.size()));
        }
        std::vector<f64> sparseValues(replaced * components);
        const std::span<const u8> valueBytes = bufferView(a.sparse.values.bufferView, sparse + " values");
        if (a.sparse.values.byteOffset < 0) {
            fail(sparse + " values have a negative offset");
        }
        decodeInto(valueBytes, static_cast<std::size_t>(a.sparse.values.byteOffset), elementBytes, replaced,
                   sparse + " values", sparseValues);
        f64 previous = -1.0;
        for (std::size_t i = 0; i < replaced; ++i) {
            const f64 index = decodeComponent(
                indexBytes.data() + static_cast<std::size_t>(a.sparse.indices.byteOffset) + i * indexSize, indexType,
                false);
            if (index <= previous || index >= static_cast<f64>(elements)) {
                fail(sparse + " index " + std::to_string(i) + " is " + std::to_string(static_cast<u64>(index)) +
                     ", not increasing and below " + std::to_string(elements));
            }
            previous = index;
            for (std::size_t c = 0; c < components; ++c) {
                values[static_cast<std::size_t>(index) * components + c] = sparseValues[i * components + c];
            }
        }
    }
    if (a.componentType == kFloat) {
        for (std::size_t i = 0; i < values.size(); ++i) {
            if (!std::isfinite(values[i])) {
                fail(name + " element " + std::to_string(i / components) + " is not finite");
            }
        }
    }
    return values;
}

}  // namespace kestrune::baker
