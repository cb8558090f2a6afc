#include "effect_content.h"

#include <algorithm>
#include <functional>
#include <stdexcept>

#include "content/kmdl_writer.h"
#include "effect_textures.h"
#include "effects/effect_catalogue.h"
#include "mesh_builder.h"
#include "png_encoder.h"
#include "shapes.h"

// Effect models are small rigid props: one node, one mesh, one material without a texture
// (the scene draws them with the catalogue's texture). The catalogue scales a model's x
// and y by its tracks and leaves z alone, so the models are laid out for that: arcs and
// the burst about one unit across, the stone clusters spread in x and y over several
// units with chunks only centimetres deep in z.

namespace kestrune::baker {
namespace {

// ---- Section: Models ----

struct EffectMesh {
    MeshBuilder mesh;
    u32 alphaMode = content::kAlphaBlended;
};

content::Model effectModel(const std::string& name, const EffectMesh& effect) {
    content::Model model;
    content::Node node;
    node.name = "effect";
    node.firstMesh = 0;
    model.nodes.push_back(node);
    content::Material material;
    material.name = name;
    material.alphaMode = effect.alphaMode;
    material.doubleSided = effect.alphaMode == content::kAlphaBlended;
    model.materials.push_back(material);
    model.meshes.push_back(effect.mesh.build(name, 0, -1, 0));
    return model;
}

// A swept ribbon in the x-y plane: `steps` stations along an arc from `fromRadians` to
// `toRadians`, `across` points from its inner to its outer edge; u runs across, v along.
struct Sweep {
    f64 fromRadians;
    f64 toRadians;
    std::function<f64(f64)> radius;  // of the ribbon's middle, by progress 0..1
    std::function<f64(f64)> width;
    std::function<f64(f64)> depth;   // z of the middle
    Vec3 centre;
};

RingSurface sweptRibbon(const Sweep& sweep, u32 steps, u32 across) {
    RingSurface surface;
    surface.closed = false;
    for (u32 k = 0; k <= steps; ++k) {
        const f64 t = static_cast<f64>(k) / steps;
        const f64 angle = lerp(sweep.fromRadians, sweep.toRadians, t);
        const Vec3 outward{cosRadians(angle), sinRadians(angle), 0.0};
        std::vector<Vec3> ring;
        for (u32 i = 0; i < across; ++i) {
            const f64 a = static_cast<f64>(i) / (across - 1) - 0.5;  // inner edge -0.5, outer +0.5
            // The edges trail slightly behind the middle, so the ribbon is cupped.
            const f64 cup = 0.06 * sweep.width(t) * (4.0 * a * a);
            ring.push_back(sweep.centre + outward * (sweep.radius(t) + a * sweep.width(t)) +
                           Vec3{0.0, 0.0, sweep.depth(t) - cup});
        }
        surface.rings.push_back(std::move(ring));
    }
    surface.inside = sweep.centre + Vec3{0.0, 0.0, -1.0};
    return surface;
}

content::Model chargeDashArc() {
    EffectMesh effect;
    const auto swell = [](f64 t) { return sinRadians(kPi * t); };
    effect.mesh.add(sweptRibbon({radians(200.0), radians(-20.0), [](f64) { return 0.42; },
                                 [swell](f64 t) { return 0.24 * swell(t) + 0.01; },
                                 [swell](f64 t) { return 0.22 * swell(t); }, {0.0, -0.12, 0.0}},
                                28, 5));
    return effectModel("charge_dash_arc", effect);
}

content::Model chargeDashSpiral() {
    EffectMesh effect;
    const auto swell = [](f64 t) { return sinRadians(kPi * t); };
    effect.mesh.add(sweptRibbon({radians(230.0), radians(-40.0), [](f64 t) { return lerp(0.5, 0.3, t); },
                                 [swell](f64 t) { return 0.12 * swell(t) + 0.006; },
                                 [](f64 t) { return lerp(-0.12, 0.18, t); }, {}},
                                32, 4));
    effect.mesh.add(sweptRibbon({radians(170.0), radians(10.0), [](f64) { return 0.56; },
                                 [swell](f64 t) { return 0.05 * swell(t) + 0.004; },
                                 [swell](f64 t) { return 0.1 * swell(t); }, {}},
                                20, 3));
    return effectModel("charge_dash_spiral", effect);
}

// Directions spread evenly over the sphere (a Fibonacci lattice).
Vec3 sphereDirection(u32 index, u32 count) {
    const f64 golden = kPi * (3.0 - 2.23606797749979);
    const f64 y = 1.0 - 2.0 * (index + 0.5) / count;
    const f64 ring = std::sqrt(1.0 - y * y);
    const f64 angle = golden * index;
    return {ring * cosRadians(angle), y, ring * sinRadians(angle)};
}

content::Model energyBurst() {
    EffectMesh effect;
    effect.mesh.add(ellipsoid({}, {0.1, 0.1, 0.1}, 12, 6));
    const u32 spikes = 16;
    for (u32 k = 0; k < spikes; ++k) {
        const Vec3 direction = sphereDirection(k, spikes);
        const f64 reach = 0.28 + 0.22 * hashUnit(k, 201);
        const Frame frame = segmentFrame(direction * 0.05, direction);
        effect.mesh.add(lathe(frame, {{0.0, 0.0}, {0.01, 0.045}, {reach * 0.35, 0.028}, {reach, 0.0}}, 6));
    }
    return effectModel("energy_burst", effect);
}

// A low rock: a squashed ring of points jittered by the hash, flat shaded.
RingSurface rockChunk(Vec3 centre, Vec3 radii, u32 seed) {
    std::vector<ProfilePoint> profile;
    const u32 bands = 3;
    for (u32 k = 0; k <= bands; ++k) {
        const f64 angle = kPi * k / bands;
        profile.push_back({-radii.y * cosRadians(angle), sinRadians(angle)});
    }
    RingSurface chunk = lathe({centre, {0.0, 1.0, 0.0}, {1.0, 0.0, 0.0}}, profile, 6, radii.x, radii.z);
    for (std::size_t j = 0; j < chunk.rings.size(); ++j) {
        // The poles move as one point so the chunk stays closed.
        const bool pole = j == 0 || j + 1 == chunk.rings.size();
        for (std::size_t i = 0; i < chunk.rings[j].size(); ++i) {
            const f64 jitter = 0.75 + 0.5 * hashUnit(seed, static_cast<u32>(j), pole ? 0u : static_cast<u32>(i));
            chunk.rings[j][i] = centre + (chunk.rings[j][i] - centre) * jitter;
        }
    }
    chunk.smooth = false;
    return chunk;
}

content::Model crackedGround() {
    EffectMesh effect;
    effect.alphaMode = content::kAlphaOpaque;
    const u32 sectors = 9;
    const f64 gapRadians = 0.035;
    const f64 bands[][2] = {{0.2, 0.62}, {0.66, 1.2}};
    for (u32 k = 0; k < sectors; ++k) {
        for (u32 b = 0; b < 2; ++b) {
            const u32 seed = k * 2 + b;
            const f64 from = kTwoPi * k / sectors + gapRadians + 0.12 * (hashUnit(seed, 301) - 0.5);
            const f64 to = kTwoPi * (k + 1) / sectors - gapRadians;
            const f64 inner = bands[b][0], outer = bands[b][1] * (0.9 + 0.1 * hashUnit(seed, 302));
            std::vector<std::pair<f64, f64>> outline;  // (x, z)
            for (u32 i = 0; i <= 3; ++i) {
                const f64 a = lerp(from, to, i / 3.0);
                outline.emplace_back(outer * cosRadians(a), outer * sinRadians(a));
            }
            for (u32 i = 0; i <= 2; ++i) {
                const f64 a = lerp(to, from, i / 2.0);
                outline.emplace_back(inner * cosRadians(a), inner * sinRadians(a));
            }
            // Each shard heaves up a little and tilts away from the middle.
            const f64 heave = 0.03 + 0.08 * hashUnit(seed, 303);
            const f64 tilt = 0.12 * hashUnit(seed, 304);
            RingSurface shard;
            for (const f64 level : {-0.08, 1.0}) {
                std::vector<Vec3> ring;
                for (const auto& [x, z] : outline) {
                    const f64 r = std::sqrt(x * x + z * z);
                    const f64 y = level < 0.0 ? level : heave + tilt * (r - inner);
                    ring.push_back({x, y, z});
                }
                shard.rings.push_back(std::move(ring));
            }
            shard.smooth = false;
            shard.capFirst = true;
            shard.capLast = true;
            effect.mesh.add(shard);
        }
    }
    // The sunken middle where the blow landed.
    effect.mesh.add(lathe({}, {{-0.08, 0.0}, {-0.079, 0.16}, {-0.02, 0.16}, {-0.019, 0.0}}, 10));
    for (u32 k = 0; k < 5; ++k) {
        const f64 a = kTwoPi * (k + 0.5) / 5.0;
        effect.mesh.add(rockChunk({1.32 * cosRadians(a), 0.04, 1.32 * sinRadians(a)}, {0.09, 0.06, 0.07}, 310 + k));
    }
    return effectModel("cracked_ground", effect);
}

content::Model stoneCluster(u32 chunks, f64 spreadUnits, f64 chunkUnits, f64 depthMetres, u32 seed) {
    EffectMesh effect;
    effect.alphaMode = content::kAlphaOpaque;
    for (u32 k = 0; k < chunks; ++k) {
        const f64 angle = kTwoPi * (k + hashUnit(seed, k)) / chunks;
        const f64 distance = spreadUnits * (0.35 + 0.65 * hashUnit(seed, k, 1));
        const f64 size = chunkUnits * (0.7 + 0.6 * hashUnit(seed, k, 2));
        const Vec3 centre{distance * cosRadians(angle), distance * sinRadians(angle), 0.0};
        effect.mesh.add(rockChunk(centre, {size, size * 0.8, depthMetres}, seed * 100 + k));
    }
    return effectModel("stone_cluster", effect);
}

// ---- Section: Catalogue keys ----

struct ModelGenerator {
    const char* path;
    std::function<content::Model()> make;
};

struct TextureGenerator {
    const char* path;
    std::function<Image()> make;
};

const std::vector<ModelGenerator>& modelGenerators() {
    static const std::vector<ModelGenerator> generators = {
        {"models/charge_dash_01/effect.kmdl", chargeDashArc},
        {"models/charge_dash_02/effect.kmdl", chargeDashSpiral},
        {"models/impact_energy/effect.kmdl", energyBurst},
        {"models/impact_ground/effect.kmdl", crackedGround},
        {"models/impact_stone_01/effect.kmdl", [] { return stoneCluster(7, 5.0, 1.1, 0.06, 401); }},
        {"models/impact_stone_02/effect.kmdl", [] { return stoneCluster(6, 4.0, 1.5, 0.08, 402); }},
    };
    return generators;
}

const std::vector<TextureGenerator>& textureGenerators() {
    static const std::vector<TextureGenerator> generators = {
        {"textures/wrchargedash01.png", radialBurstTexture},
        {"textures/wrchargedash02.png", arcStreakTexture},
        {"textures/wrchargedash03.png", arcSparkTexture},
        {"textures/wrchargedash04.png", shockRingTexture},
        {"textures/preffect011.png", emberOrbTexture},
        {"textures/partstreetlight01.png", lightFlareTexture},
        {"textures/billcastlemonster01.png", explosionTexture},
        {"textures/wrslugger02.png", starSlashTexture},
        {"textures/mtearthquake01.png", [] { return quakeRingTexture(181); }},
        {"textures/mtearthquake02.png", [] { return quakeRingTexture(191); }},
        {"textures/mtminoattack01.png", energySpikeTexture},
        {"textures/mtminoattack02.png", rockTexture},
        {"textures/mtgyration02.png", swirlTexture},
    };
    return generators;
}

template <class Generator>
const Generator& generatorFor(const std::vector<Generator>& generators, const std::string& path) {
    for (const Generator& generator : generators) {
        if (path == generator.path) {
            return generator;
        }
    }
    throw std::logic_error("the effect catalogue names " + path + ", which the baker cannot make");
}

void appendOnce(std::vector<std::string>& paths, std::string_view path) {
    if (!path.empty() && std::find(paths.begin(), paths.end(), path) == paths.end()) {
        paths.emplace_back(path);
    }
}

}  // namespace

std::vector<std::string> catalogueModelPaths() {
    std::vector<std::string> paths;
    for (const effects::ComponentTemplate& t : effects::componentTemplates()) appendOnce(paths, t.modelPath);
    return paths;
}

std::vector<std::string> catalogueTexturePaths() {
    std::vector<std::string> paths;
    for (const effects::ComponentTemplate& t : effects::componentTemplates()) appendOnce(paths, t.texturePath);
    return paths;
}

std::vector<BakedFile> bakeEffects() {
    std::vector<BakedFile> files;
    for (const std::string& path : catalogueModelPaths()) {
        files.push_back({kEffectsFolder + path, content::writeModel(generatorFor(modelGenerators(), path).make())});
    }
    for (const std::string& path : catalogueTexturePaths()) {
        files.push_back({kEffectsFolder + path, encodePng(generatorFor(textureGenerators(), path).make())});
    }
    return files;
}

}  // namespace kestrune::baker
