#include "preview.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <string_view>
#include <vector>

#include "characters.h"
#include "content/animation.h"
#include "content/kmdl_reader.h"
#include "content/skinning.h"
#include "effects/effect_catalogue.h"
#include "preview_window.h"
#include "render/platform_backend.h"
#include "render/render_device.h"

namespace kestrune::baker {
namespace {

// The scene's camera: its field of view, and its eye's offset from its target (behind and
// above the character, looking along +z).
constexpr f32 kFieldOfViewRadians = 0.78f;
constexpr Vec3 kCameraOffset{0.0, 3.15, -6.4};
constexpr f64 kFramingMargin = 1.12;  // room around the model's bounding sphere
constexpr f32 kGridHalfExtentMetres = 10.0f;
constexpr f32 kNearPlaneMetres = 0.05f;
constexpr f32 kFarPlaneMetres = 250.0f;
constexpr render::Color kWhite{1.0f, 1.0f, 1.0f, 1.0f};

// Where and how the scene would draw the model.
struct Staging {
    f64 yawRadians = 0.0;
    f64 liftMetres = 0.0;
    std::vector<std::string_view> hiddenMeshes;
    std::filesystem::path texture;  // an effect's catalogue texture, or empty
    bool additive = false;
};

Staging stagingFor(const std::filesystem::path& modelPath) {
    Staging staging;
    const std::filesystem::path folder = modelPath.parent_path();
    for (const ClassDrawConstants& draw : {kWarriorDraw, kTemplarDraw}) {
        if (folder.filename() == draw.directory) {
            staging.yawRadians = draw.yawOffsetRadians;
            staging.liftMetres = draw.liftMetres;
            if (draw.hiddenMesh != nullptr) staging.hiddenMeshes.emplace_back(draw.hiddenMesh);
        }
    }
    // effects/models/<name>/effect.kmdl: the catalogue names its texture and blend.
    const std::filesystem::path effects = folder.parent_path().parent_path();
    const std::string key = "models/" + folder.filename().string() + "/" + modelPath.filename().string();
    for (const effects::ComponentTemplate& t : effects::componentTemplates()) {
        if (folder.parent_path().filename() == "models" && t.modelPath == key) {
            staging.texture = effects / std::string(t.texturePath);
            staging.additive = t.blend == 1;
            break;
        }
    }
    return staging;
}

content::Matrix4 worldMatrix(const Staging& staging) {
    content::Matrix4 m = content::identityMatrix();
    const f64 c = cosRadians(staging.yawRadians), s = sinRadians(staging.yawRadians);
    m[0] = static_cast<f32>(c);
    m[2] = static_cast<f32>(-s);
    m[8] = static_cast<f32>(s);
    m[10] = static_cast<f32>(c);
    m[13] = static_cast<f32>(staging.liftMetres);
    return m;
}

Vec3 transformPoint(const content::Matrix4& m, Vec3 p) {
    return {p.x * m[0] + p.y * m[4] + p.z * m[8] + m[12], p.x * m[1] + p.y * m[5] + p.z * m[9] + m[13],
            p.x * m[2] + p.y * m[6] + p.z * m[10] + m[14]};
}

// The posed model's vertices in the world, skinned by the palette rule the renderer uses.
std::vector<Vec3> posedVertices(const content::Model& model, std::span<const content::Matrix4> globals,
                                const content::Matrix4& world) {
    std::vector<Vec3> out;
    for (const content::Mesh& mesh : model.meshes) {
        const content::Matrix4 meshWorld =
            content::multiplyMatrices(globals[static_cast<std::size_t>(mesh.node)], world);
        std::vector<content::Matrix4> palette;
        if (mesh.skin >= 0) {
            palette.resize(model.skins[static_cast<std::size_t>(mesh.skin)].joints.size());
            content::computeSkinningPalette(model, mesh, globals, palette);
        }
        for (const content::Vertex& v : mesh.vertices) {
            const Vec3 position{v.position[0], v.position[1], v.position[2]};
            Vec3 posed = position;
            if (!palette.empty()) {
                posed = {};
                for (std::size_t k = 0; k < 4; ++k) {
                    if (v.weights[k] > 0.0f && v.joints[k] < palette.size()) {
                        posed += transformPoint(palette[v.joints[k]], position) * v.weights[k];
                    }
                }
            }
            out.push_back(transformPoint(meshWorld, posed));
        }
    }
    return out;
}

render::Vec3 toRender(Vec3 v) {
    return {static_cast<f32>(v.x), static_cast<f32>(v.y), static_cast<f32>(v.z)};
}

// Looks at the middle of the posed model from the scene camera's direction, turned by the
// orbit, from just far enough to see all of it.
render::Camera frameModel(const std::vector<Vec3>& points, f64 orbitDegrees) {
    Vec3 low{1e30, 1e30, 1e30}, high{-1e30, -1e30, -1e30};
    for (const Vec3& p : points) {
        low = {std::min(low.x, p.x), std::min(low.y, p.y), std::min(low.z, p.z)};
        high = {std::max(high.x, p.x), std::max(high.y, p.y), std::max(high.z, p.z)};
    }
    const Vec3 centre = (low + high) * 0.5;
    const f64 radius = std::max(length(high - low) * 0.5, 0.1);
    const f64 distance = radius * kFramingMargin / sinRadians(kFieldOfViewRadians * 0.5);
    const Vec3 direction = normalized(rotate(axisAngle({0.0, 1.0, 0.0}, radians(orbitDegrees)), kCameraOffset));
    render::Camera camera;
    camera.eye = toRender(centre + direction * distance);
    camera.target = toRender(centre);
    camera.up = {0.0f, 1.0f, 0.0f};
    camera.fieldOfViewYRadians = kFieldOfViewRadians;
    camera.nearPlane = kNearPlaneMetres;
    camera.farPlane = kFarPlaneMetres;
    return camera;
}

}  // namespace

void renderPreview(const PreviewRequest& request) {
    const content::Model model = content::loadModelFile(request.model, content::ModelLimits{});
    std::vector<content::Transform> locals(model.nodes.size());
    for (std::size_t i = 0; i < locals.size(); ++i) locals[i] = model.nodes[i].transform;
    if (!request.clip.empty()) {
        const content::AnimationClip* clip = content::findClip(model, request.clip);
        if (clip == nullptr) {
            throw std::runtime_error(request.model.string() + " has no clip " + request.clip);
        }
        content::sampleClip(model, *clip, request.timeSeconds, false, locals);
    }
    std::vector<content::Matrix4> globals(model.nodes.size());
    content::computeGlobalMatrices(model, locals, globals);

    const Staging staging = stagingFor(request.model);
    const content::Matrix4 world = worldMatrix(staging);
    const render::Camera camera = frameModel(posedVertices(model, globals, world), request.orbitDegrees);

    const PreviewWindow window(request.widthPixels, request.heightPixels);
    render::RenderDevice device(render::createPlatformBackend());
    device.Create(window.native(), request.widthPixels, request.heightPixels, false);
    const render::ModelHandle handle = device.UploadModel(model, request.model.parent_path());
    const render::TextureHandle texture =
        staging.texture.empty() ? render::kNoTexture : device.LoadTexture(staging.texture);
    device.BeginFrame(camera, static_cast<f32>(request.timeSeconds));
    device.DrawGroundGrid({0.0f, 0.0f, 0.0f}, kGridHalfExtentMetres);
    device.DrawModel(handle, model, globals, world, kWhite, staging.hiddenMeshes, texture, staging.additive);
    device.RequestScreenshot(request.output);
    device.Present(0);
    device.Destroy();
}

}  // namespace kestrune::baker
