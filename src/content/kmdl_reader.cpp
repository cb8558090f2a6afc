#include "content/kmdl_reader.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <limits>
#include <optional>
#include <string>
#include <unordered_set>

#include "base/byte_reader.h"
#include "base/little_endian.h"
#include "base/utf8.h"
#include "content/content_file.h"
#include "content/digest_job.h"
#include "content/kmdl_format.h"
#include "content/memory_advice.h"
#include "content/sha256.h"

namespace kestrune::content {
namespace {

using namespace kmdl;

// Files at least this large hash on a second thread while the main thread decodes.
// Below it the thread's start-up costs more than the overlap saves.
constexpr std::size_t kParallelDigestMinBytes = std::size_t{1} << 20;
// Pieces in which loadModelFile reads, so that hashing can start on the first of them.
constexpr std::size_t kReadPieceBytes = std::size_t{8} << 20;

constexpr f64 kMinQuaternionLength = 0.98;
constexpr f64 kMaxQuaternionLength = 1.02;
constexpr f64 kMinWeightSum = 0.98;
constexpr f64 kMaxWeightSum = 1.02;

constexpr std::array<std::string_view, 10> kNodeTrsLabels = {
    "node TRS translation.x", "node TRS translation.y", "node TRS translation.z", "node TRS rotation.x",
    "node TRS rotation.y",    "node TRS rotation.z",    "node TRS rotation.w",    "node TRS scale.x",
    "node TRS scale.y",       "node TRS scale.z",
};

inline bool isFinite(f32 value) noexcept {
    constexpr u32 kExponentMask = 0x7F800000;
    return (std::bit_cast<u32>(value) & kExponentMask) != kExponentMask;
}

enum class TransformFault { None, NotFinite, NonUnitQuaternion };

TransformFault checkTransform(const Transform& t) noexcept {
    bool finite = true;
    for (f32 v : t.translation) finite &= isFinite(v);
    for (f32 v : t.rotation) finite &= isFinite(v);
    for (f32 v : t.scale) finite &= isFinite(v);
    if (!finite) {
        return TransformFault::NotFinite;
    }
    const f64 x = t.rotation[0], y = t.rotation[1], z = t.rotation[2], w = t.rotation[3];
    const f64 length = std::sqrt(x * x + y * y + z * z + w * w);
    if (length < kMinQuaternionLength || length > kMaxQuaternionLength) {
        return TransformFault::NonUnitQuaternion;
    }
    return TransformFault::None;
}

// Ten little-endian floats: translation, rotation x y z w, scale.
inline Transform decodeTransform(const std::byte* p) noexcept {
    Transform t;
    for (std::size_t i = 0; i < 3; ++i) t.translation[i] = loadF32le(p + 4 * i);
    for (std::size_t i = 0; i < 4; ++i) t.rotation[i] = loadF32le(p + 12 + 4 * i);
    for (std::size_t i = 0; i < 3; ++i) t.scale[i] = loadF32le(p + 28 + 4 * i);
    return t;
}

// Texture paths are relative, '/'-separated, without "." or ".." segments, and free of
// bytes that some file system rejects or reads as something else.
bool isValidTexturePath(std::string_view path) noexcept {
    if (path.empty()) {
        return true;
    }
    if (path.front() == '/' || path.front() == '\\') {
        return false;
    }
    for (char c : path) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || c == '\\' || c == ':' || c == '"' || c == '*' || c == '<' || c == '>' || c == '?' ||
            c == '|') {
            return false;
        }
    }
    std::size_t segmentStart = 0;
    while (true) {
        const std::size_t slash = path.find('/', segmentStart);
        const std::string_view segment =
            path.substr(segmentStart, slash == std::string_view::npos ? std::string_view::npos : slash - segmentStart);
        if (segment.empty() || segment == "." || segment == "..") {
            return false;
        }
        if (slash == std::string_view::npos) {
            return true;
        }
        segmentStart = slash + 1;
    }
}

class ModelDecoder {
public:
    ModelDecoder(std::span<const std::byte> bytes, const ModelLimits& limits, std::string_view sourceName)
        : bytes_(bytes), limits_(limits), sourceName_(sourceName), reader_(bytes, TruncationHandler{this}) {}

    Model decode() {
        decodeHeader();
        decodeStringTable();
        decodeNodes();
        buildNodeOrder();
        decodeSkins();
        decodeMaterials();
        decodeMeshes();
        checkMeshLinks();
        decodeClips();
        if (!reader_.atEnd()) {
            failAt(reader_.offset(), "trailing bytes after final animation clip");
        }
        return std::move(model_);
    }

private:
    struct TruncationHandler {
        ModelDecoder* decoder;
        [[noreturn]] void operator()(std::size_t offset, std::string_view label) const {
            decoder->failAt(offset, label, " is truncated");
        }
    };

    struct Header {
        u32 nodeCount = 0;
        u32 skinCount = 0;
        u32 meshCount = 0;
        u32 materialCount = 0;
        u32 clipCount = 0;
        u32 stringTableBytes = 0;
    };

    [[noreturn]] void failAt(std::size_t position, std::string_view message, std::string_view suffix = {}) const {
        throw ContentError(positioned(sourceName_, position, message, suffix));
    }

    static std::string positioned(std::string_view source, std::size_t position, std::string_view message,
                                  std::string_view suffix) {
        std::string text;
        text.reserve(source.size() + message.size() + suffix.size() + 32);
        text += source;
        text += " at byte ";
        text += std::to_string(position);
        text += ": ";
        text += message;
        text += suffix;
        return text;
    }

    // count x recordBytes for a block that starts at `blockStart`; cannot overflow with
    // 32-bit counts, but the size of a block is never trusted to a wrapped product.
    u64 blockBytes(u64 count, u64 recordBytes, std::size_t blockStart, std::string_view label) const {
        if (count != 0 && recordBytes > std::numeric_limits<u64>::max() / count) {
            failAt(blockStart, label, " byte count overflows uint64");
        }
        return count * recordBytes;
    }

    u64 addToTotal(u64 total, u64 amount, std::size_t position, std::string_view label) const {
        if (amount > std::numeric_limits<u64>::max() - total) {
            failAt(position, label, " count overflows uint64");
        }
        return total + amount;
    }

    bool available(u64 countBytes) const noexcept { return countBytes <= reader_.remaining(); }

    // Reservations never exceed what the remaining bytes could hold, so a small file that
    // claims many records cannot make the decoder allocate for them.
    std::size_t reservable(u32 count, std::size_t minRecordBytes) const noexcept {
        return std::min<std::size_t>(count, reader_.remaining() / minRecordBytes);
    }

    // ---- Section: header and string table ----

    void decodeHeader() {
        const std::span<const std::byte> magic = reader_.take(kMagic.size(), "magic");
        const u32 version = reader_.u32le("version");
        const u32 endianMarker = reader_.u32le("endian marker");
        header_.nodeCount = reader_.u32le("node count");
        header_.skinCount = reader_.u32le("skin count");
        header_.meshCount = reader_.u32le("mesh count");
        header_.materialCount = reader_.u32le("material count");
        header_.clipCount = reader_.u32le("clip count");
        header_.stringTableBytes = reader_.u32le("string-table byte count");
        const u32 flags = reader_.u32le("flags");

        if (std::memcmp(magic.data(), kMagic.data(), kMagic.size()) != 0) {
            failAt(0, "unsupported magic; expected KMDL0001");
        }
        if (version != kVersion || endianMarker != kEndianMarker) {
            failAt(8, "unsupported version or endian marker");
        }
        if (flags != 0) {
            failAt(40, "unknown required flags are set");
        }
        const Header& h = header_;
        if (h.nodeCount == 0 || h.nodeCount > limits_.maxNodes || h.skinCount > limits_.maxSkins ||
            h.materialCount == 0 || h.meshCount > limits_.maxMeshes || h.materialCount > limits_.maxMaterials ||
            h.stringTableBytes == 0 || h.clipCount > limits_.maxClips ||
            h.stringTableBytes > limits_.maxStringTableBytes) {
            failAt(16, "one or more header counts exceed configured limits");
        }
    }

    void decodeStringTable() {
        table_ = reader_.take(header_.stringTableBytes, "string table");
        const std::size_t size = table_.size();
        if (table_[0] != std::byte{0}) {
            failAt(kStringTableOffset, "string table must begin with the empty string");
        }
        if (table_[size - 1] != std::byte{0}) {
            failAt(kStringTableOffset + size - 1, "string table is not NUL-terminated");
        }
        stringStarts_.assign((size + 63) / 64, 0);
        const auto* text = reinterpret_cast<const unsigned char*>(table_.data());
        std::size_t start = 0;
        while (start < size) {
            stringStarts_[start / 64] |= u64{1} << (start % 64);
            const auto* nul = static_cast<const unsigned char*>(std::memchr(text + start, 0, size - start));
            const std::size_t end = static_cast<std::size_t>(nul - text);  // the last byte is NUL, so found
            if (!isWellFormedUtf8(text + start, end - start)) {
                failAt(kStringTableOffset + start, "string table contains invalid UTF-8");
            }
            start = end + 1;
        }
    }

    // The string that starts at `offset`: only the first byte of a string is a valid start.
    std::string_view resolve(u32 offset, std::string_view label, bool allowEmpty) const {
        if (offset >= table_.size() || (stringStarts_[offset / 64] & (u64{1} << (offset % 64))) == 0) {
            failAt(kStringTableOffset, label, " has an invalid string offset");
        }
        const auto* text = reinterpret_cast<const char*>(table_.data()) + offset;
        const std::string_view value(text);  // NUL-terminated inside the table
        if (value.empty() && !allowEmpty) {
            failAt(kStringTableOffset + offset, label, " is empty");
        }
        return value;
    }

    std::string_view readString(std::string_view label, bool allowEmpty = false) {
        return resolve(reader_.u32le(label), label, allowEmpty);
    }

    // ---- Section: nodes and hierarchy ----

    void decodeNodes() {
        const std::size_t blockStart = reader_.offset();
        if (!available(blockBytes(header_.nodeCount, kNodeRecordBytes, blockStart, "node records"))) {
            failAt(blockStart, "node records are truncated");
        }
        model_.nodes.reserve(header_.nodeCount);
        const i64 nodeCount = header_.nodeCount;
        for (i64 i = 0; i < nodeCount; ++i) {
            const std::size_t p = reader_.offset();
            Node node;
            node.name = readString("node name");
            node.parent = reader_.i32le("node parent");
            std::array<f32, 10> trs;
            for (std::size_t k = 0; k < trs.size(); ++k) trs[k] = reader_.f32le(kNodeTrsLabels[k]);
            std::copy_n(trs.begin(), 3, node.transform.translation.begin());
            std::copy_n(trs.begin() + 3, 4, node.transform.rotation.begin());
            std::copy_n(trs.begin() + 7, 3, node.transform.scale.begin());
            node.firstMesh = reader_.i32le("node first mesh");
            node.skin = reader_.i32le("node skin");

            const TransformFault fault = checkTransform(node.transform);
            if (fault != TransformFault::None) {
                const std::string label = "node " + std::to_string(i);
                failAt(p, label,
                       fault == TransformFault::NotFinite ? " contains NaN or infinity" : " has a non-unit quaternion");
            }
            if (node.parent == i || node.parent < -1 || node.parent >= nodeCount) {
                failAt(p, "node has an invalid parent");
            }
            if (node.firstMesh < -1 || node.firstMesh >= static_cast<i64>(header_.meshCount) || node.skin < -1 ||
                node.skin >= static_cast<i64>(header_.skinCount)) {
                failAt(p, "node has an invalid mesh or skin reference");
            }
            model_.nodes.push_back(std::move(node));
        }
    }

    // Breadth-first from the roots in index order, children in index order. Nodes that
    // hang off a cycle are never reached, so a short order means a cycle.
    void buildNodeOrder() {
        const std::size_t nodeCount = model_.nodes.size();
        // Children grouped by parent (counting sort keeps each group in index order).
        std::vector<u32> childStart(nodeCount + 1, 0);
        for (const Node& node : model_.nodes) {
            if (node.parent >= 0) ++childStart[static_cast<std::size_t>(node.parent) + 1];
        }
        for (std::size_t i = 0; i < nodeCount; ++i) childStart[i + 1] += childStart[i];
        std::vector<u32> children(childStart[nodeCount]);
        std::vector<u32> fill(childStart.begin(), childStart.end() - 1);
        std::vector<u32>& order = model_.nodeOrder;
        order.reserve(nodeCount);
        for (std::size_t i = 0; i < nodeCount; ++i) {
            const i32 parent = model_.nodes[i].parent;
            if (parent >= 0) {
                children[fill[static_cast<std::size_t>(parent)]++] = static_cast<u32>(i);
            } else {
                order.push_back(static_cast<u32>(i));
            }
        }
        if (order.empty()) {
            failAt(0, "node hierarchy has no root");
        }
        // `order` doubles as the queue: entries before `next` are done, the rest are queued.
        for (std::size_t next = 0; next < order.size(); ++next) {
            const u32 node = order[next];
            for (u32 c = childStart[node]; c < childStart[node + 1]; ++c) order.push_back(children[c]);
        }
        if (order.size() < nodeCount) {
            failAt(0, "node hierarchy contains a cycle");
        }
    }

    // ---- Section: skins and materials ----

    void decodeSkins() {
        const std::size_t blockStart = reader_.offset();
        if (!available(blockBytes(header_.skinCount, kSkinHeaderBytes, blockStart, "skin headers"))) {
            failAt(blockStart, "skin headers are truncated");
        }
        model_.skins.reserve(header_.skinCount);
        const u32 nodeCount = header_.nodeCount;
        std::vector<u64> listed((nodeCount + 63) / 64, 0);
        for (u32 s = 0; s < header_.skinCount; ++s) {
            const std::size_t p = reader_.offset();
            Skin skin;
            skin.name = readString("skin name");
            skin.skeleton = reader_.i32le("skin skeleton");
            const u32 jointCount = reader_.u32le("skin joint count");
            if (skin.skeleton < -1 || skin.skeleton >= static_cast<i64>(nodeCount) || jointCount == 0 ||
                jointCount > nodeCount || jointCount > limits_.maxJointsPerSkin) {
                failAt(p, "skin has invalid skeleton or joint count");
            }
            if (!available(blockBytes(jointCount, kSkinJointBytes, p + kSkinHeaderBytes, "skin payload"))) {
                failAt(p + kSkinHeaderBytes, "skin payload is truncated");
            }
            const std::span<const std::byte> payload = reader_.take(jointCount * kSkinJointBytes, "skin payload");
            const std::size_t payloadStart = p + kSkinHeaderBytes;

            skin.joints.reserve(jointCount);
            for (u32 j = 0; j < jointCount; ++j) {
                const u32 joint = loadU32le(payload.data() + 4 * j);
                if (joint >= nodeCount || (listed[joint / 64] & (u64{1} << (joint % 64))) != 0) {
                    failAt(payloadStart + 4 * j, "skin contains duplicate or invalid joint");
                }
                listed[joint / 64] |= u64{1} << (joint % 64);
                skin.joints.push_back(joint);
            }
            for (u32 joint : skin.joints) listed[joint / 64] = 0;  // clears only what this skin set

            const std::size_t matricesStart = 4 * std::size_t{jointCount};
            skin.inverseBindMatrices.resize(jointCount);
            for (u32 j = 0; j < jointCount; ++j) {
                Matrix4& matrix = skin.inverseBindMatrices[j];
                for (std::size_t e = 0; e < 16; ++e) {
                    const std::size_t at = matricesStart + kMatrixBytes * j + 4 * e;
                    matrix[e] = loadF32le(payload.data() + at);
                    if (!isFinite(matrix[e])) {
                        // This one rule names the format, not the file.
                        throw ContentError(
                            positioned("Kestrune Model", payloadStart + at, "inverse bind", " contains NaN or infinity"));
                    }
                }
            }
            model_.skins.push_back(std::move(skin));
        }
    }

    void decodeMaterials() {
        const std::size_t blockStart = reader_.offset();
        if (!available(blockBytes(header_.materialCount, kMaterialRecordBytes, blockStart, "material records"))) {
            failAt(blockStart, "material records are truncated");
        }
        model_.materials.reserve(header_.materialCount);
        for (u32 m = 0; m < header_.materialCount; ++m) {
            const std::size_t p = reader_.offset();
            Material material;
            material.name = readString("material name");
            material.texture = readString("material texture", true);
            bool finite = true;
            for (f32& c : material.baseColor) {
                c = reader_.f32le("material base color");
                finite &= isFinite(c);
            }
            material.alphaMode = reader_.u32le("material alpha mode");
            const u32 doubleSided = reader_.u32le("material double-sided flag");
            if (doubleSided > 1 || material.alphaMode > kAlphaBlended || !finite ||
                !isValidTexturePath(material.texture)) {
                failAt(p, "material contains invalid values or texture path");
            }
            material.doubleSided = doubleSided == 1;
            model_.materials.push_back(std::move(material));
        }
    }

    // ---- Section: meshes ----

    void decodeMeshes() {
        model_.meshes.reserve(reservable(header_.meshCount, kMeshHeaderBytes));
        u64 totalVertices = 0;
        u64 totalIndices = 0;
        for (u32 m = 0; m < header_.meshCount; ++m) {
            const std::size_t p = reader_.offset();
            Mesh mesh;
            mesh.name = readString("mesh name");
            mesh.node = reader_.i32le("mesh node");
            mesh.skin = reader_.i32le("mesh skin");
            mesh.material = reader_.i32le("mesh material");
            const u32 vertexCount = reader_.u32le("mesh vertex count");
            const u32 indexCount = reader_.u32le("mesh index count");
            if (mesh.node < 0 || mesh.node >= static_cast<i64>(header_.nodeCount) || mesh.skin < -1 ||
                mesh.skin >= static_cast<i64>(header_.skinCount) || mesh.material < -1 ||
                mesh.material >= static_cast<i64>(header_.materialCount) || vertexCount == 0 || indexCount == 0 ||
                indexCount % 3 != 0 || vertexCount > limits_.maxVerticesPerMesh ||
                indexCount > limits_.maxIndicesPerMesh) {
                failAt(p, "mesh header contains invalid references or counts");
            }
            totalVertices = addToTotal(totalVertices, vertexCount, p, "total vertices");
            totalIndices = addToTotal(totalIndices, indexCount, p, "total indices");
            if (totalVertices > limits_.maxTotalVertices || totalIndices > limits_.maxTotalIndices) {
                failAt(p, "aggregate mesh counts exceed configured limits");
            }
            const std::size_t payloadStart = p + kMeshHeaderBytes;
            const u64 payloadBytes =
                addToTotal(blockBytes(vertexCount, kVertexBytes, payloadStart, "mesh vertices"),
                           blockBytes(indexCount, kIndexBytes, payloadStart, "mesh indices"), payloadStart,
                           "mesh payload");
            if (!available(payloadBytes)) {
                failAt(payloadStart, "mesh payload is truncated");
            }
            const u32 paletteSize =
                mesh.skin >= 0 ? static_cast<u32>(model_.skins[static_cast<std::size_t>(mesh.skin)].joints.size()) : 0;
            decodeVertices(mesh, reader_.take(std::size_t{vertexCount} * kVertexBytes, "mesh vertices"), payloadStart,
                           paletteSize);
            decodeIndices(mesh, reader_.take(std::size_t{indexCount} * kIndexBytes, "mesh indices"),
                          payloadStart + std::size_t{vertexCount} * kVertexBytes, vertexCount);
            model_.meshes.push_back(std::move(mesh));
        }
    }

    // `paletteSize` is the joint count of the mesh's skin, 0 for a rigid mesh.
    void decodeVertices(Mesh& mesh, std::span<const std::byte> payload, std::size_t payloadStart,
                        u32 paletteSize) const {
        const std::size_t vertexCount = payload.size() / kVertexBytes;
        mesh.vertices.reserve(vertexCount);
        adviseLargeBuffer(mesh.vertices.data(), mesh.vertices.capacity() * sizeof(Vertex));
        const std::byte* p = payload.data();
        for (std::size_t v = 0; v < vertexCount; ++v, p += kVertexBytes) {
            Vertex vertex;
            for (std::size_t i = 0; i < 3; ++i) vertex.position[i] = loadF32le(p + 4 * i);
            for (std::size_t i = 0; i < 3; ++i) vertex.normal[i] = loadF32le(p + 12 + 4 * i);
            for (std::size_t i = 0; i < 2; ++i) vertex.uv[i] = loadF32le(p + 24 + 4 * i);
            for (std::size_t i = 0; i < 4; ++i) vertex.joints[i] = loadU16le(p + 32 + 2 * i);
            for (std::size_t i = 0; i < 4; ++i) vertex.weights[i] = loadF32le(p + 40 + 4 * i);

            bool valid = true;
            for (f32 c : vertex.position) valid &= isFinite(c);
            for (f32 c : vertex.normal) valid &= isFinite(c);
            for (f32 c : vertex.uv) valid &= isFinite(c);
            for (f32 w : vertex.weights) valid &= isFinite(w) && !(w < 0.0f);
            if (!valid) {
                failAt(payloadStart + v * kVertexBytes, "vertex contains invalid floating-point data");
            }
            if (paletteSize != 0) {
                for (std::size_t k = 0; k < 4; ++k) {
                    if (vertex.weights[k] > 0.0f && vertex.joints[k] >= paletteSize) {
                        failAt(payloadStart + v * kVertexBytes, "vertex joint is outside its skin palette");
                    }
                }
                const f64 sum = f64{vertex.weights[0]} + f64{vertex.weights[1]} + f64{vertex.weights[2]} +
                                f64{vertex.weights[3]};
                if (sum < kMinWeightSum || sum > kMaxWeightSum) {
                    failAt(payloadStart + v * kVertexBytes, "skinned vertex weights do not sum to one");
                }
            }
            mesh.vertices.push_back(vertex);
        }
    }

    void decodeIndices(Mesh& mesh, std::span<const std::byte> payload, std::size_t payloadStart,
                       u32 vertexCount) const {
        const std::size_t indexCount = payload.size() / kIndexBytes;
        mesh.indices.reserve(indexCount);
        adviseLargeBuffer(mesh.indices.data(), mesh.indices.capacity() * sizeof(u32));
        for (std::size_t i = 0; i < indexCount; ++i) {
            const u32 index = loadU32le(payload.data() + kIndexBytes * i);
            if (index >= vertexCount) {
                failAt(payloadStart + kIndexBytes * i, "triangle index is outside the vertex buffer");
            }
            mesh.indices.push_back(index);
        }
    }

    void checkMeshLinks() const {
        std::vector<i32> firstMesh(model_.nodes.size(), -1);
        for (std::size_t m = 0; m < model_.meshes.size(); ++m) {
            const Mesh& mesh = model_.meshes[m];
            const auto node = static_cast<std::size_t>(mesh.node);
            if (firstMesh[node] < 0) firstMesh[node] = static_cast<i32>(m);
            if (model_.nodes[node].skin != mesh.skin) {
                failAt(0, "mesh skin does not match its owning node");
            }
        }
        for (std::size_t n = 0; n < model_.nodes.size(); ++n) {
            if (model_.nodes[n].firstMesh != firstMesh[n]) {
                failAt(0, "node first-mesh reference is inconsistent");
            }
        }
    }

    // ---- Section: animation clips ----

    void decodeClips() {
        model_.clips.reserve(reservable(header_.clipCount, kClipHeaderBytes));
        std::unordered_set<std::string_view> names;
        names.reserve(model_.clips.capacity());
        u64 totalSamples = 0;
        for (u32 c = 0; c < header_.clipCount; ++c) {
            const std::size_t p = reader_.offset();
            const std::string_view name = readString("clip name");
            AnimationClip clip;
            clip.duration = reader_.f32le("clip duration");
            clip.sampleRate = reader_.f32le("clip sample rate");
            clip.frameCount = reader_.u32le("clip frame count");
            clip.nodeCount = reader_.u32le("clip node count");

            if (!names.insert(name).second) {
                failAt(p, "animation clip name is duplicated");
            }
            if (!isFinite(clip.duration) || !isFinite(clip.sampleRate) || clip.duration < 0.0f ||
                clip.sampleRate <= 0.0f || clip.sampleRate > limits_.maxSampleRate || clip.frameCount < 2 ||
                clip.frameCount > limits_.maxFramesPerClip || clip.nodeCount != header_.nodeCount) {
                failAt(p, "animation clip header is invalid");
            }
            const f64 frameSpan = f64{clip.sampleRate} * f64{clip.duration};
            if (!std::isfinite(frameSpan) || frameSpan > limits_.maxFramesPerClip) {
                failAt(p, "animation duration/sample-rate product exceeds limits");
            }
            const f64 expectedFrames = std::max(std::ceil(frameSpan) + 1.0, 2.0);
            if (static_cast<f64>(clip.frameCount) != expectedFrames) {
                failAt(p, "animation frame count is inconsistent with duration and sample rate");
            }
            const u64 sampleCount = u64{clip.frameCount} * clip.nodeCount;
            totalSamples = addToTotal(totalSamples, sampleCount, p, "animation samples");
            if (totalSamples > limits_.maxTotalAnimationSamples) {
                failAt(p, "aggregate animation sample count exceeds configured limit");
            }
            const std::size_t payloadStart = p + kClipHeaderBytes;
            if (!available(blockBytes(sampleCount, kTransformBytes, payloadStart, "animation samples"))) {
                failAt(payloadStart, "animation samples are truncated");
            }
            const std::span<const std::byte> payload =
                reader_.take(static_cast<std::size_t>(sampleCount) * kTransformBytes, "animation samples");
            clip.samples.reserve(static_cast<std::size_t>(sampleCount));
            adviseLargeBuffer(clip.samples.data(), clip.samples.capacity() * sizeof(Transform));
            for (std::size_t s = 0; s < sampleCount; ++s) {
                const Transform sample = decodeTransform(payload.data() + s * kTransformBytes);
                const TransformFault fault = checkTransform(sample);
                if (fault != TransformFault::None) {
                    failAt(payloadStart + s * kTransformBytes, "animation TRS",
                           fault == TransformFault::NotFinite ? " contains NaN or infinity"
                                                              : " has a non-unit quaternion");
                }
                clip.samples.push_back(sample);
            }
            clip.name = name;
            model_.clips.push_back(std::move(clip));
        }
    }

    std::span<const std::byte> bytes_;
    const ModelLimits& limits_;
    std::string_view sourceName_;
    ByteReader<TruncationHandler> reader_;
    Header header_;
    std::span<const std::byte> table_;
    std::vector<u64> stringStarts_;  // bit per table byte: set where a string starts
    Model model_;
};

}  // namespace

namespace {

void checkFileSize(std::span<const std::byte> bytes, const ModelLimits& limits, std::string_view sourceName) {
    if (bytes.size() > limits.maxFileBytes) {
        throw ContentError(std::string(sourceName) + ": payload exceeds configured file-size limit");
    }
    if (bytes.size() < kmdl::kHeaderBytes) {
        throw ContentError(std::string(sourceName) + ": truncated Kestrune Model header");
    }
}

// The digest is checked before anything is decoded. Decoding runs while the digest is
// still being computed, so a decoding failure is reported only once the digest has been
// checked and found right.
Model decodeAfterDigest(std::span<const std::byte> bytes, const ModelLimits& limits, std::string_view sourceName,
                        const std::optional<Sha256Digest>& expected, DigestJob& digest) {
    Model model;
    try {
        model = ModelDecoder(bytes, limits, sourceName).decode();
    } catch (...) {
        checkModelDigest(expected, digest.finish(), sourceName);
        throw;
    }
    model.sha256 = digest.finish();
    checkModelDigest(expected, model.sha256, sourceName);
    return model;
}

}  // namespace

Model parseModel(std::span<const std::byte> bytes, const ModelLimits& limits, std::string_view sourceName) {
    checkFileSize(bytes, limits, sourceName);
    const std::optional<Sha256Digest> expected = decodeExpectedModelDigest(limits.expectedSha256);
    DigestJob digest(bytes.size() >= kParallelDigestMinBytes);
    digest.publish(bytes);
    return decodeAfterDigest(bytes, limits, sourceName, expected, digest);
}

Model loadModelFile(const std::filesystem::path& path, const ModelLimits& limits) {
    const std::string sourceName = path.string();
    // Hashing follows the read piece by piece; the file's failures still come first. The
    // job is declared after the bytes so that, whatever throws, its thread has stopped
    // before the bytes are released.
    std::vector<std::byte> bytes;
    DigestJob digest(true);
    readWholeFileInPieces(path, limits.maxFileBytes, ContentFileKind::KestruneModel, bytes, kReadPieceBytes,
                          [&](std::span<const std::byte> readSoFar) { digest.publish(readSoFar); });
    checkFileSize(bytes, limits, sourceName);
    const std::optional<Sha256Digest> expected = decodeExpectedModelDigest(limits.expectedSha256);
    return decodeAfterDigest(bytes, limits, sourceName, expected, digest);
}

}  // namespace kestrune::content
