// The warrior: a broad knight in plate with a great helm and red crest, a red tabard and
// cape, a long sword with a glowing fuller in the right hand and a heater shield on the
// left arm; a spare sword rides across the back (the game hides it). Authored facing +z
// with the right hand at +x; the placement node turns it to face -z.
//
// Index:
//   Section: Skeleton and materials
//   Section: Body and armour
//   Section: Weapons
//   Section: Poses
//   Section: Clips

#include <cmath>

#include "body_parts.h"
#include "character_builder.h"
#include "character_textures.h"
#include "characters.h"
#include "shapes.h"

namespace kestrune::baker {
namespace {

// ---- Section: Skeleton and materials ----

Proportions warriorProportions() {
    Proportions p;
    p.hipsY = 0.98;
    p.hipY = 0.96;
    p.kneeY = 0.525;
    p.shoulderX = 0.205;
    p.elbowX = 0.265;
    p.wristX = 0.30;
    return p;
}

// Ground speeds of the class (metres per second), which the walk and run cycles match.
constexpr f64 kWalkSpeed = 2.1;
constexpr f64 kRunSpeed = 4.65;

struct Materials {
    i32 plate;
    i32 mail;
    i32 cloth;
    i32 leather;
    i32 gold;
    i32 shield;
    i32 glow;
};

Materials addMaterials(CharacterBuilder& c) {
    const Colour white{1.0, 1.0, 1.0, 1.0};
    Materials m{};
    m.plate = c.material("steel_plate", "plate", steelPlateTexture(), white);
    m.mail = c.material("chainmail", "mail", chainmailTexture(), white);
    m.cloth = c.material("crimson_cloth", "cloth",
                         clothTexture({0.58, 0.07, 0.08, 1.0}, {0.88, 0.68, 0.26, 1.0}), white);
    m.leather = c.material("leather", "leather", leatherTexture({0.40, 0.25, 0.14, 1.0}), white);
    m.gold = c.material("gold_trim", "gold", goldTexture(), white);
    m.shield = c.material("shield_face", "shield", shieldFaceTexture(), white);
    // The fuller's runes glow: unlit and blended over the blade.
    m.glow = c.material("rune_glow", "glow", glowTexture({0.35, 0.85, 1.0, 1.0}), {0.8, 0.95, 1.0, 0.9},
                        content::kAlphaBlended, true);
    return m;
}

// ---- Section: Body and armour ----

constexpr f64 kVisorY = 1.712;  // height of the helm's eye slits

void addBody(CharacterBuilder& c, const Materials& m) {
    const Skeleton& s = c.skeleton();
    MeshBuilder& mail = c.mesh("warrior_mail", m.mail);

    // Torso under the plate, and the neck.
    mail.bind(c.bones({kHips, kSpine, kChest}, 0.06));
    mail.add(lathe({{0.0, 0.0, -0.01}}, {{0.84, 0.15}, {0.92, 0.17}, {1.08, 0.165}, {1.28, 0.19}, {1.42, 0.2},
                                          {1.50, 0.14}, {1.55, 0.0}},
                   20, 1.0, 0.72));
    mail.bind(c.bones({kChest, kNeck, kHead}, 0.04));
    mail.add(capsule(s.head[kNeck] + Vec3{0.0, -0.05, 0.0}, s.head[kHead], 0.065, 0.06, 12));
    // Arms and legs between the plates.
    for (const Side side : {kLeft, kRight}) {
        const Joint clavicle = onSide(kClavicleL, side), upper = onSide(kUpperArmL, side),
                    fore = onSide(kForearmL, side), hand = onSide(kHandL, side);
        const Joint thigh = onSide(kThighL, side), shin = onSide(kShinL, side), foot = onSide(kFootL, side);
        mail.bind(c.bones({clavicle, upper, fore}, 0.04));
        mail.add(capsule(s.head[upper], s.head[fore], 0.062, 0.052, 12));
        mail.bind(c.bones({upper, fore, hand}, 0.04));
        mail.add(capsule(s.head[fore], s.head[hand], 0.052, 0.042, 12));
        mail.bind(c.bones({kHips, thigh, shin}, 0.05));
        mail.add(capsule(s.head[thigh] + Vec3{0.0, 0.03, 0.0}, s.head[shin], 0.09, 0.066, 12));
        mail.bind(c.bones({thigh, shin, foot}, 0.04));
        mail.add(capsule(s.head[shin], s.head[foot], 0.064, 0.048, 12));
    }
    // The helm's eye slits, dark against the steel, each turned to lie on its curve.
    mail.bind(c.bones({kHead}));
    for (const f64 angle : {-0.42, 0.42}) {
        const Vec3 onHelm{0.12 * sinRadians(angle), kVisorY, 0.012 + 0.132 * cosRadians(angle)};
        const Vec3 tangent{cosRadians(angle), 0.0, -1.1 * sinRadians(angle)};
        mail.add(box({onHelm, {0.0, 1.0, 0.0}, tangent}, {0.045, 0.011, 0.008}));
    }
}

void addArmour(CharacterBuilder& c, const Materials& m) {
    const Skeleton& s = c.skeleton();
    MeshBuilder& plate = c.mesh("warrior_plate", m.plate);
    MeshBuilder& gold = c.mesh("warrior_gold", m.gold);
    MeshBuilder& leather = c.mesh("warrior_leather", m.leather);

    // Breastplate and backplate in one shell, and the plated skirt below the belt.
    plate.bind(c.bones({kSpine, kChest}, 0.08));
    plate.add(lathe({{0.0, 0.0, 0.0}}, {{1.0, 0.182}, {1.1, 0.19}, {1.22, 0.212}, {1.34, 0.222}, {1.44, 0.21},
                                        {1.5, 0.16}, {1.535, 0.09}},
                    24, 1.0, 0.74));
    plate.bind(c.bones({kHips}));
    plate.add(lathe({{0.0, 0.0, 0.0}}, {{1.0, 0.188}, {0.94, 0.2}, {0.86, 0.218}, {0.81, 0.222}}, 24, 1.0, 0.78));
    // Gorget around the neck.
    plate.bind(c.bones({kChest, kNeck}, 0.05));
    plate.add(lathe({{0.0, 0.0, 0.0}}, {{1.49, 0.125}, {1.54, 0.105}, {1.59, 0.082}}, 16, 1.0, 0.9));

    // Great helm with a flat crown ring, worn by the head.
    plate.bind(c.bones({kHead}));
    plate.add(lathe({{0.0, 0.0, 0.012}}, {{1.575, 0.098}, {1.6, 0.112}, {1.7, 0.12}, {1.78, 0.114}, {1.83, 0.09},
                                          {1.855, 0.05}, {1.862, 0.0}},
                    20, 1.0, 1.1));
    gold.bind(c.bones({kHead}));
    gold.add(lathe({{0.0, 0.0, 0.012}}, {{1.74, 0.122}, {1.755, 0.125}, {1.77, 0.122}}, 20, 1.0, 1.1));
    gold.add(box({{0.0, 1.66, 0.142}, {0.0, 1.0, 0.0}, {1.0, 0.0, 0.0}}, {0.012, 0.085, 0.008}));

    for (const Side side : {kLeft, kRight}) {
        const f64 x = sideX(side, 1.0);
        const Joint upper = onSide(kUpperArmL, side), fore = onSide(kForearmL, side), hand = onSide(kHandL, side);
        const Joint thigh = onSide(kThighL, side), shin = onSide(kShinL, side), foot = onSide(kFootL, side),
                    toe = onSide(kToeL, side);
        const Vec3 shoulder = s.head[upper];

        // Pauldrons: two layered domes tilted out over the shoulder, gold-rimmed.
        const Frame pauldron{shoulder + Vec3{x * 0.01, 0.0, 0.0}, {x * 0.45, 1.0, 0.0}, {0.0, 0.0, 1.0}};
        plate.bind(c.bones({upper}));
        plate.add(lathe(pauldron, {{-0.06, 0.145}, {0.0, 0.142}, {0.05, 0.125}, {0.09, 0.09}, {0.112, 0.045},
                                   {0.118, 0.0}},
                        18, 1.0, 1.05));
        plate.add(lathe({pauldron.at(0.0, -0.1, 0.0), pauldron.axis, pauldron.side},
                        {{-0.035, 0.125}, {0.0, 0.13}, {0.035, 0.115}}, 18, 1.0, 1.05));
        gold.bind(c.bones({upper}));
        gold.add(lathe(pauldron, {{-0.07, 0.15}, {-0.06, 0.155}, {-0.05, 0.15}}, 18, 1.0, 1.05));

        // Rerebrace, couter, vambrace and gauntlet.
        plate.add(capsule(shoulder + (s.head[fore] - shoulder) * 0.3, s.head[fore] + Vec3{0.0, 0.04, 0.0}, 0.07,
                          0.062, 14));
        plate.bind(c.bones({upper, fore}, 0.05));
        plate.add(ellipsoid({s.head[fore] + Vec3{0.0, 0.0, -0.02}, {0.0, 1.0, 0.0}, {1.0, 0.0, 0.0}},
                            {0.066, 0.06, 0.066}, 12, 6));
        plate.bind(c.bones({fore}));
        plate.add(lathe(segmentFrame(s.head[fore], s.head[hand]),
                        {{0.05, 0.058}, {0.12, 0.06}, {0.21, 0.062}, {0.255, 0.07}, {0.27, 0.0}}, 14));
        plate.bind(c.bones({hand}));
        plate.add(handShape(s, side, 0.052));

        // Cuisse, poleyn and greave; sabatons over the feet.
        plate.bind(c.bones({thigh}));
        plate.add(capsule(s.head[thigh] + Vec3{0.0, -0.06, 0.0}, s.head[shin] + Vec3{0.0, 0.06, 0.0}, 0.1, 0.078,
                          14));
        plate.bind(c.bones({thigh, shin}, 0.05));
        plate.add(ellipsoid({s.head[shin] + Vec3{0.0, 0.0, 0.035}, {0.0, 1.0, 0.0}, {1.0, 0.0, 0.0}},
                            {0.068, 0.07, 0.06}, 12, 6));
        plate.bind(c.bones({shin}));
        plate.add(capsule(s.head[shin] + Vec3{0.0, -0.05, 0.0}, s.head[foot] + Vec3{0.0, 0.06, 0.0}, 0.076, 0.06,
                          14, 1.0, 1.1));
        addFoot(plate, s, side, 0.058, 0.1, 0.085, 0.1, c.bones({foot, toe}, 0.02));
    }

    // Belt with a pouch and a gold buckle.
    leather.bind(c.bones({kHips, kSpine}, 0.05));
    leather.add(lathe({{0.0, 0.0, 0.0}}, {{0.975, 0.196}, {0.99, 0.2}, {1.035, 0.2}, {1.05, 0.193}}, 24, 1.0, 0.76));
    leather.bind(c.bones({kHips}));
    leather.add(box({{-0.15, 0.95, 0.08}, {0.0, 1.0, 0.0}, {0.85, 0.0, 0.5}}, {0.045, 0.05, 0.03}));
    gold.bind(c.bones({kHips}));
    gold.add(box({{0.0, 1.012, 0.158}, {0.0, 1.0, 0.0}, {1.0, 0.0, 0.0}}, {0.035, 0.03, 0.01}));
}

// A hanging panel of cloth: a thin flattened tube from `top` straight down, `width` wide
// at the top and `bottomWidth` at the hem.
RingSurface clothPanel(Vec3 top, f64 lengthMetres, f64 width, f64 bottomWidth, f64 thickness) {
    const Frame frame{top, {0.0, -1.0, 0.0}, {1.0, 0.0, 0.0}};
    RingSurface panel = lathe(frame,
                              {{0.0, width * 0.5}, {lengthMetres * 0.5, (width + bottomWidth) * 0.25},
                               {lengthMetres, bottomWidth * 0.5}},
                              14, 1.0, thickness / width);
    panel.uTiles = 1.0;
    return panel;
}

void addCloth(CharacterBuilder& c, const Materials& m) {
    MeshBuilder& cloth = c.mesh("warrior_cloth", m.cloth);

    // Tabard panels swing with both thighs.
    cloth.bind(c.bones({kHips, kThighL, kThighR}, 0.12));
    cloth.add(clothPanel({0.0, 0.99, 0.178}, 0.44, 0.24, 0.2, 0.02));
    cloth.add(clothPanel({0.0, 0.99, -0.165}, 0.44, 0.24, 0.2, 0.02));

    // The cape: a curved sheet from the shoulders to the backs of the knees; its lower part
    // follows the back joint, which the clips swing.
    RingSurface cape;
    const u32 across = 11;
    for (u32 k = 0; k <= 6; ++k) {
        const f64 t = k / 6.0;
        const f64 y = lerp(1.5, 0.62, t);
        const f64 halfWidth = lerp(0.21, 0.3, t);
        // Seen from above an arc round the back: the middle furthest back, the edges wrapping
        // forward to the shoulders.
        const f64 middleZ = lerp(-0.2, -0.3, t);
        const f64 edgeZ = lerp(-0.08, -0.2, t);
        std::vector<Vec3> ring;
        for (u32 i = 0; i < across; ++i) {
            const f64 a = -1.0 + 2.0 * i / (across - 1);
            ring.push_back({a * halfWidth, y, lerp(middleZ, edgeZ, a * a)});
        }
        for (u32 i = across; i-- > 0;) {
            const f64 a = -1.0 + 2.0 * i / (across - 1);
            ring.push_back({a * halfWidth * 0.97, y, lerp(middleZ, edgeZ, a * a) + 0.016});
        }
        cape.rings.push_back(std::move(ring));
    }
    cape.uTiles = 1.0;
    cloth.bind(c.bones({kChest, kBack}, 0.1));
    cloth.add(cape);

    // Crest along the helm's crown, front to back.
    RingSurface crest;
    const Vec3 path[] = {{0.0, 1.86, 0.07}, {0.0, 1.905, 0.0}, {0.0, 1.9, -0.08}, {0.0, 1.85, -0.15},
                         {0.0, 1.77, -0.2}, {0.0, 1.68, -0.22}};
    const f64 heights[] = {0.03, 0.06, 0.065, 0.06, 0.045, 0.0};
    for (std::size_t k = 0; k < std::size(path); ++k) {
        const Frame frame{path[k], {0.0, 0.0, 1.0}, {1.0, 0.0, 0.0}};
        std::vector<Vec3> ring;
        for (u32 i = 0; i < 8; ++i) {
            const f64 a = kTwoPi * i / 8.0;
            ring.push_back(frame.at(0.018 * cosRadians(a), 0.0, -(heights[k] + 0.005) * sinRadians(a)));
        }
        crest.rings.push_back(std::move(ring));
    }
    crest.vStart = 0.0;
    crest.vEnd = 0.8;
    cloth.bind(c.bones({kHead}));
    cloth.add(crest);
}

// ---- Section: Weapons ----

// A straight double-edged blade along `frame`'s axis from `from` to `to` metres, its flat
// facing the frame's side, with a ridge down the middle.
RingSurface blade(const Frame& frame, f64 from, f64 to, f64 halfWidth, f64 halfThickness) {
    const std::pair<f64, f64> section[] = {{halfThickness, 0.0}, {0.0, halfWidth}, {-halfThickness, 0.0},
                                           {0.0, -halfWidth}};
    RingSurface surface;
    const f64 span = to - from;
    const f64 stations[][2] = {{0.0, 1.0}, {0.55, 0.92}, {0.86, 0.7}, {0.97, 0.25}, {1.0, 0.0}};
    for (const auto& station : stations) {
        surface.rings.push_back(crossSection(frame, from + span * station[0], section, station[1]));
    }
    surface.smooth = false;
    surface.capFirst = true;
    surface.vEnd = 3.0;
    return surface;
}

// A sword along `frame`'s axis with its grip centred on the frame's origin: blade, fuller
// glow, crossguard, grip and pommel, into the given meshes.
struct SwordMeshes {
    MeshBuilder* blade;
    MeshBuilder* glow;
    MeshBuilder* guard;
    MeshBuilder* grip;
};

void addSword(const SwordMeshes& meshes, const Frame& frame, f64 bladeLength, const SkinBinding& binding) {
    for (MeshBuilder* mesh : {meshes.blade, meshes.glow, meshes.guard, meshes.grip}) {
        if (mesh != nullptr) mesh->bind(binding);
    }
    meshes.blade->add(blade(frame, 0.1, 0.1 + bladeLength, 0.052, 0.009));
    if (meshes.glow != nullptr) {
        // A rune strip hovering over each face of the fuller.
        for (const f64 face : {-1.0, 1.0}) {
            const Frame strip{frame.origin + frame.sideAxis() * (face * 0.0095), frame.axis, frame.side};
            RingSurface runes = lathe(strip, {{0.16, 0.0}, {0.2, 1.0}, {0.1 + bladeLength * 0.72, 1.0},
                                              {0.1 + bladeLength * 0.8, 0.0}},
                                      6, 0.0015, 0.012);
            runes.uTiles = 0.5;
            meshes.glow->add(runes);
        }
    }
    meshes.guard->add(box({frame.at(0.0, 0.085, 0.0), frame.axis, frame.side}, {0.024, 0.018, 0.14}));
    meshes.guard->add(ellipsoid({frame.at(0.0, -0.125, 0.0), frame.axis, frame.side}, {0.03, 0.032, 0.03}, 10, 6));
    meshes.grip->add(capsule(frame.at(0.0, -0.1, 0.0), frame.at(0.0, 0.07, 0.0), 0.019, 0.019, 8));
}

void addWeapons(CharacterBuilder& c, const Materials& m) {
    const Skeleton& s = c.skeleton();
    MeshBuilder& sword = c.mesh("warrior_sword", m.plate);
    MeshBuilder& glow = c.mesh("warrior_sword_runes", m.glow);
    MeshBuilder& gold = c.mesh("warrior_gold", m.gold);
    MeshBuilder& leather = c.mesh("warrior_leather", m.leather);

    // In the bind pose the sword points forward from the right fist, its flat facing the
    // sides; the edges then lead its cuts once the arm is raised.
    const Frame swordFrame{s.head[kWeapon], {0.0, 0.0, 1.0}, {1.0, 0.0, 0.0}};
    addSword({&sword, &glow, &gold, &leather}, swordFrame, 0.95, c.bones({kWeapon}));

    // The heater shield hangs outside the left forearm, its long side along z: raised on the
    // forearm across the body it stands upright facing forward.
    MeshBuilder& shield = c.mesh("warrior_shield", m.shield);
    MeshBuilder& plate = c.mesh("warrior_plate", m.plate);
    const Vec3 forearmMiddle = (s.head[kForearmL] + s.head[kHandL]) * 0.5;
    const Frame face{forearmMiddle + Vec3{-0.085, 0.0, -0.02}, {-1.0, 0.0, 0.0}, {0.0, 0.0, 1.0}};
    // Outline from the top middle, round the right, to the point and back: (along the long
    // side, across).
    std::vector<std::pair<f64, f64>> outline;
    const u32 points = 28;
    for (u32 i = 0; i < points; ++i) {
        const f64 t = static_cast<f64>(i) / points;  // 0 top middle, 0.5 the point
        const f64 a = t <= 0.5 ? t : 1.0 - t;
        const f64 sign = t <= 0.5 ? 1.0 : -1.0;
        f64 along = 0.0;
        f64 across = 0.0;
        if (a < 0.125) {  // top edge, slightly arched
            across = a / 0.125 * 0.25;
            along = 0.33 - 0.03 * (across / 0.25) * (across / 0.25);
        } else if (a < 0.25) {  // straight side
            across = 0.25;
            along = lerp(0.3, 0.02, (a - 0.125) / 0.125);
        } else {  // curve to the point
            const f64 k = (a - 0.25) / 0.25;
            across = 0.25 * cosRadians(k * kPi / 2.0);
            along = 0.02 - 0.4 * sinRadians(k * kPi / 2.0);
        }
        outline.emplace_back(along, sign * across);
    }
    RingSurface front;
    for (const f64 scale : {0.03, 0.2, 0.4, 0.6, 0.8, 0.93, 1.0}) {
        front.rings.push_back(crossSection(face, 0.012 + 0.05 * (1.0 - scale * scale), outline, scale));
    }
    front.inside = face.at(0.0, -0.2, 0.0);
    shield.bind(c.bones({kOffhand}));
    shield.add(front);
    RingSurface back;
    back.rings = {crossSection(face, 0.012, outline, 1.0), crossSection(face, -0.012, outline, 1.0),
                  crossSection(face, -0.016, outline, 0.9), crossSection(face, -0.016, outline, 0.03)};
    back.smooth = false;
    back.inside = face.at(0.0, 0.1, 0.0);
    plate.bind(c.bones({kOffhand}));
    plate.add(back);

    // The spare sword across the back, hilt over the right shoulder; hidden in the game.
    MeshBuilder& spare = c.mesh(std::string(kSpareWeaponMark) + "_spare_sword", m.plate);
    const Frame spareFrame = segmentFrame({0.2, 1.66, -0.235}, {-0.26, 0.98, -0.25}, {0.0, 0.0, 1.0});
    const Frame spareGrip{spareFrame.at(0.0, 0.12, 0.0), spareFrame.axis, spareFrame.side};
    addSword({&spare, nullptr, &spare, &spare}, spareGrip, 0.8, c.bones({kChest}));
}

// ---- Section: Poses ----

// The combat stance every clip starts and ends in: shield side forward, knees bent, sword
// up at the right, shield raised on the left forearm.
Pose guard() {
    Pose p;
    p.hips = {0.0, -0.05, 0.0};
    p[kHips] = {0.0, 12.0, 0.0};
    p[kSpine] = {5.0, 0.0, 0.0};
    p[kChest] = {3.0, -6.0, 0.0};
    p[kHead] = {-4.0, -6.0, 0.0};
    p.feet[kLeft] = {{-0.03, 0.0, 0.14}, -4.0, 0.0};
    p.feet[kRight] = {{0.05, 0.0, -0.13}, 28.0, 0.0};
    p[kUpperArmR] = {-18.0, 0.0, 14.0};
    p[kForearmR] = {-62.0, 0.0, 0.0};
    p[kHandR] = {18.0, 0.0, 0.0};
    p[kUpperArmL] = {-32.0, 0.0, -16.0};
    p[kForearmL] = {-82.0, 58.0, 0.0};
    p[kBack] = {6.0, 0.0, 0.0};
    return p;
}

// Sword arm shortcut: upper arm (swing, turn, spread), elbow bend, wrist.
void swordArm(Pose& p, Euler upper, f64 elbow, Euler wrist) {
    p[kUpperArmR] = upper;
    p[kForearmR] = {elbow, 0.0, 0.0};
    p[kHandR] = wrist;
}

Pose walkCarriage() {
    Pose p;
    p[kHead] = {-3.0, 0.0, 0.0};
    p.feet[kLeft] = {{0.0, 0.0, 0.0}, -4.0, 0.0};
    p.feet[kRight] = {{0.0, 0.0, 0.0}, 4.0, 0.0};
    swordArm(p, {-8.0, 0.0, 10.0}, -34.0, {34.0, 0.0, 0.0});
    p[kUpperArmL] = {-14.0, 0.0, -14.0};
    p[kForearmL] = {-62.0, 42.0, 0.0};
    p[kBack] = {10.0, 0.0, 0.0};
    return p;
}

Pose runCarriage() {
    Pose p = walkCarriage();
    swordArm(p, {6.0, 0.0, 14.0}, -70.0, {62.0, 0.0, 0.0});
    p[kUpperArmL] = {-22.0, 0.0, -16.0};
    p[kForearmL] = {-78.0, 50.0, 0.0};
    p[kBack] = {38.0, 0.0, 0.0};
    return p;
}

// ---- Section: Clips ----

constexpr Breathing kWarriorBreathing{
    .swayMetres = 0.018,
    .hipsRollDegrees = 1.2,
    .dipMetres = 0.006,
    .spineDegrees = 1.0,
    .chestDegrees = 1.6,
    .shoulderDegrees = 1.5,
    .lookDegrees = 5.0,
    .wristDegrees = 4.0,
    .backDegrees = 2.0
};

Motion comboSlash() {
    Pose windUp = guard();
    windUp.hips.y = -0.08;
    windUp[kHips].y = 30.0;
    windUp[kChest] = {0.0, 30.0, 0.0};
    swordArm(windUp, {-75.0, 75.0, 10.0}, -40.0, {60.0, 0.0, 0.0});
    Pose strike = guard();
    strike.hips = {0.0, -0.1, 0.05};
    strike[kHips].y = 0.0;
    strike[kChest] = {8.0, -15.0, 0.0};
    strike.feet[kLeft].offset.z = 0.2;
    swordArm(strike, {-88.0, -5.0, 0.0}, -8.0, {80.0, 0.0, 0.0});
    Pose follow = strike;
    follow[kHips].y = -15.0;
    follow[kChest] = {10.0, -35.0, 0.0};
    swordArm(follow, {-80.0, -80.0, 0.0}, -22.0, {70.0, 0.0, 0.0});
    Pose lift = guard();
    lift.feet[kLeft].offset = {-0.03, 0.06, 0.17};
    return KeyedMotion::clamped()
        .key(0.0, guard())
        .key(0.13, windUp)
        .key(0.3, strike)
        .key(0.4, follow)
        .key(0.55, lift)
        .key(22.0 / 30.0, guard());
}

Motion comboBackhand() {
    Pose windUp = guard();
    windUp.hips.y = -0.09;
    windUp[kHips].y = -10.0;
    windUp[kChest] = {10.0, -35.0, 0.0};
    swordArm(windUp, {-35.0, -65.0, -5.0}, -60.0, {50.0, 0.0, 0.0});
    Pose rise = guard();
    rise.hips.y = -0.05;
    rise[kChest] = {-2.0, 5.0, 0.0};
    swordArm(rise, {-110.0, 5.0, 10.0}, -10.0, {70.0, 0.0, 0.0});
    Pose high = rise;
    high[kHips].y = 25.0;
    high[kChest] = {-6.0, 30.0, 0.0};
    swordArm(high, {-150.0, 55.0, 30.0}, -20.0, {55.0, 0.0, 0.0});
    return KeyedMotion::clamped()
        .key(0.0, guard())
        .key(0.15, windUp)
        .key(0.33, rise)
        .key(0.43, high)
        .key(0.6, high)
        .key(23.0 / 30.0, guard());
}

Motion comboChop() {
    Pose raised = guard();
    raised.hips.y = -0.02;
    raised[kSpine].x = -8.0;
    raised[kChest] = {-6.0, 10.0, 0.0};
    swordArm(raised, {-170.0, 0.0, 10.0}, -55.0, {55.0, 0.0, 0.0});
    raised.feet[kLeft].offset = {-0.03, 0.09, 0.2};
    Pose chop = guard();
    chop.hips = {0.0, -0.15, 0.09};
    chop[kHips].y = 5.0;
    chop[kSpine].x = 22.0;
    chop[kChest] = {10.0, -5.0, 0.0};
    swordArm(chop, {-62.0, 0.0, 4.0}, -4.0, {82.0, 0.0, 0.0});
    chop.feet[kLeft].offset = {-0.03, 0.0, 0.3};
    Pose hold = chop;
    hold[kSpine].x = 18.0;
    Pose stepBack = guard();
    stepBack.feet[kLeft].offset = {-0.03, 0.07, 0.22};
    return KeyedMotion::clamped()
        .key(0.0, guard())
        .key(0.22, raised)
        .key(0.4, chop)
        .key(0.52, hold)
        .key(0.68, stepBack)
        .key(25.0 / 30.0, guard());
}

Motion comboThrust() {
    Pose cock = guard();
    cock.hips.y = -0.09;
    cock[kHips].y = 30.0;
    cock[kChest] = {0.0, 25.0, 0.0};
    swordArm(cock, {15.0, 0.0, 35.0}, -115.0, {95.0, 0.0, 0.0});
    Pose lunge = guard();
    lunge.hips = {0.0, -0.17, 0.25};
    lunge[kHips].y = 0.0;
    lunge[kSpine].x = 16.0;
    lunge[kChest] = {4.0, -8.0, 0.0};
    lunge.feet[kLeft].offset = {-0.03, 0.0, 0.55};
    // Thrust a little right of the body, so the blade shows from behind.
    swordArm(lunge, {-106.0, 20.0, 0.0}, 0.0, {90.0, 0.0, 0.0});
    Pose stepIn = cock;
    stepIn.feet[kLeft].offset = {-0.03, 0.1, 0.35};
    Pose recover = guard();
    recover.hips.z = 0.12;
    recover.feet[kLeft].offset = {-0.03, 0.08, 0.35};
    return KeyedMotion::clamped()
        .key(0.0, guard())
        .key(0.25, cock)
        .key(0.37, stepIn)
        .key(0.48, lunge)
        .key(0.66, lunge)
        .key(0.84, recover)
        .key(1.0, guard());
}

Motion dashStrike() {
    Pose crouch = guard();
    crouch.hips.y = -0.14;
    crouch[kSpine].x = 22.0;
    crouch[kHips].y = 20.0;
    crouch[kChest] = {6.0, 20.0, 0.0};
    swordArm(crouch, {20.0, 40.0, 20.0}, -30.0, {75.0, 0.0, 0.0});
    Pose dash = crouch;
    dash.hips = {0.0, -0.12, 0.5};
    dash.feet[kLeft] = {{-0.03, 0.16, 0.62}, -4.0, -10.0};
    dash.feet[kRight] = {{0.05, 0.02, 0.2}, 28.0, 30.0};
    Pose strike = guard();
    strike.hips = {0.0, -0.16, 0.62};
    strike[kHips].y = -10.0;
    strike[kSpine].x = 15.0;
    strike[kChest] = {8.0, -30.0, 0.0};
    strike.feet[kLeft] = {{-0.03, 0.0, 0.8}, -4.0, 0.0};
    strike.feet[kRight] = {{0.05, 0.0, 0.3}, 28.0, 0.0};
    swordArm(strike, {-85.0, -30.0, 0.0}, -6.0, {80.0, 0.0, 0.0});
    Pose follow = strike;
    follow[kChest] = {10.0, -45.0, 0.0};
    swordArm(follow, {-75.0, -85.0, 0.0}, -20.0, {70.0, 0.0, 0.0});
    Pose stepBack = guard();
    stepBack.hips = {0.0, -0.08, 0.3};
    stepBack.feet[kLeft] = {{-0.03, 0.08, 0.5}, -4.0, 0.0};
    stepBack.feet[kRight] = {{0.05, 0.0, -0.13}, 28.0, 0.0};
    return KeyedMotion::clamped()
        .key(0.0, guard())
        .key(0.08, crouch)
        .key(0.2, dash)
        .key(0.3, strike)
        .key(0.42, follow)
        .key(0.62, stepBack)
        .key(0.9, guard());
}

Motion heavySlam() {
    Pose crouch = guard();
    crouch.hips.y = -0.18;
    crouch[kSpine].x = 18.0;
    swordArm(crouch, {-20.0, 20.0, 20.0}, -80.0, {40.0, 0.0, 0.0});
    Pose leap = guard();
    leap.hips = {0.0, 0.3, 0.1};
    leap[kHips].y = 0.0;
    leap[kSpine].x = -10.0;
    leap[kChest] = {-8.0, 0.0, 0.0};
    leap.feet[kLeft] = {{-0.03, 0.25, 0.16}, -4.0, 25.0};
    leap.feet[kRight] = {{0.05, 0.3, -0.05}, 28.0, 30.0};
    swordArm(leap, {-178.0, 0.0, 8.0}, -55.0, {40.0, 0.0, 0.0});
    leap[kUpperArmL] = {-140.0, 0.0, -35.0};
    leap[kForearmL] = {-40.0, 20.0, 0.0};
    leap[kBack] = {-15.0, 0.0, 0.0};
    Pose apex = leap;
    apex.hips = {0.0, 0.4, 0.16};
    apex.feet[kLeft].offset = {-0.03, 0.32, 0.22};
    apex.feet[kRight].offset = {0.05, 0.34, 0.0};
    Pose land = guard();
    land.hips = {0.0, -0.12, 0.14};
    land[kHips].y = 0.0;
    land[kSpine].x = 20.0;
    swordArm(land, {-140.0, 0.0, 8.0}, -30.0, {60.0, 0.0, 0.0});
    land[kUpperArmL] = {-60.0, 0.0, -50.0};
    land[kForearmL] = {-30.0, 0.0, 0.0};
    land[kBack] = {25.0, 0.0, 0.0};
    Pose slam = land;
    slam.hips = {0.0, -0.26, 0.18};
    slam[kSpine].x = 38.0;
    slam[kChest] = {12.0, 0.0, 0.0};
    swordArm(slam, {-40.0, 0.0, 6.0}, 0.0, {110.0, 0.0, 0.0});
    Pose hold = slam;
    hold[kSpine].x = 34.0;
    return KeyedMotion::clamped()
        .key(0.0, guard())
        .key(0.25, crouch)
        .key(0.45, leap)
        .key(0.6, apex)
        .key(0.78, land)
        .key(0.85, slam)
        .key(1.1, hold)
        .key(1.5, guard());
}

Motion heavyCleave() {
    Pose windUp = guard();
    windUp.hips.y = -0.03;
    windUp[kHips].y = 25.0;
    windUp[kSpine].x = -4.0;
    windUp[kChest] = {-4.0, 38.0, 0.0};
    swordArm(windUp, {-160.0, 40.0, 20.0}, -72.0, {45.0, 0.0, 0.0});
    Pose step = windUp;
    step.feet[kLeft].offset = {-0.03, 0.1, 0.26};
    Pose strike = guard();
    strike.hips = {0.0, -0.16, 0.12};
    strike[kHips].y = -5.0;
    strike[kSpine].x = 24.0;
    strike[kChest] = {8.0, -35.0, 0.0};
    strike.feet[kLeft].offset = {-0.03, 0.0, 0.36};
    swordArm(strike, {-55.0, -35.0, 0.0}, -5.0, {90.0, 0.0, 0.0});
    Pose follow = strike;
    follow[kChest] = {12.0, -45.0, 0.0};
    swordArm(follow, {-22.0, -70.0, -5.0}, -12.0, {100.0, 0.0, 0.0});
    Pose stepBack = guard();
    stepBack.hips.z = 0.06;
    stepBack.feet[kLeft].offset = {-0.03, 0.09, 0.28};
    return KeyedMotion::clamped()
        .key(0.0, guard())
        .key(0.32, windUp)
        .key(0.46, step)
        .key(0.58, strike)
        .key(0.75, follow)
        .key(0.95, stepBack)
        .key(1.2, guard());
}

Motion jumpAttack() {
    Pose crouch = guard();
    crouch.hips.y = -0.17;
    crouch[kSpine].x = 20.0;
    swordArm(crouch, {20.0, 10.0, 20.0}, -50.0, {50.0, 0.0, 0.0});
    Pose takeoff = guard();
    takeoff.hips.y = 0.08;
    takeoff[kSpine].x = -4.0;
    takeoff.feet[kLeft] = {{-0.03, 0.06, 0.14}, -4.0, 35.0};
    takeoff.feet[kRight] = {{0.05, 0.07, -0.13}, 28.0, 35.0};
    swordArm(takeoff, {-120.0, 0.0, 15.0}, -40.0, {45.0, 0.0, 0.0});
    Pose apex = guard();
    apex.hips.y = 0.5;
    apex[kSpine].x = -6.0;
    apex.feet[kLeft] = {{-0.03, 0.4, 0.2}, -4.0, 20.0};
    apex.feet[kRight] = {{0.05, 0.44, -0.05}, 28.0, 25.0};
    swordArm(apex, {-172.0, 0.0, 10.0}, -50.0, {45.0, 0.0, 0.0});
    apex[kUpperArmL] = {-70.0, 0.0, -45.0};
    apex[kBack] = {-20.0, 0.0, 0.0};
    Pose slash = apex;
    slash.hips.y = 0.36;
    slash[kSpine].x = 20.0;
    slash.feet[kLeft].offset = {-0.03, 0.25, 0.18};
    slash.feet[kRight].offset = {0.05, 0.28, -0.08};
    swordArm(slash, {-50.0, 0.0, 5.0}, -5.0, {95.0, 0.0, 0.0});
    slash[kBack] = {-30.0, 0.0, 0.0};
    Pose land = guard();
    land.hips.y = -0.19;
    land[kSpine].x = 24.0;
    swordArm(land, {-40.0, -10.0, 10.0}, -20.0, {90.0, 0.0, 0.0});
    land[kBack] = {20.0, 0.0, 0.0};
    return KeyedMotion::clamped()
        .key(0.0, guard())
        .key(0.14, crouch)
        .key(0.24, takeoff)
        .key(0.4, apex)
        .key(0.5, slash)
        .key(0.68, land)
        .key(1.0, guard());
}

// Struck down: the head snaps back, a step back that the knees cannot hold, a fall onto the
// seat and then flat on the back, knees up, arms flung out with the sword still in the fist
// and the shield lying face up; then still.
Motion knockDown() {
    Pose recoil = guard();
    recoil.hips = {0.0, -0.07, -0.06};
    recoil[kSpine].x = -12.0;
    recoil[kChest] = {-10.0, -2.0, 0.0};
    recoil[kHead] = {-28.0, 8.0, 0.0};
    swordArm(recoil, {-40.0, 10.0, 40.0}, -30.0, {30.0, 0.0, 0.0});
    recoil[kUpperArmL] = {-50.0, 0.0, -40.0};
    recoil[kBack] = {-10.0, 0.0, 0.0};
    Pose stagger = recoil;
    stagger.hips = {0.0, -0.2, -0.22};
    stagger[kHips] = {-18.0, 8.0, 0.0};
    stagger[kSpine].x = -10.0;
    stagger[kHead] = {-10.0, 10.0, 0.0};
    stagger.feet[kRight] = {{0.06, 0.0, -0.42}, 20.0, 0.0};
    stagger.feet[kLeft] = {{-0.04, 0.05, 0.05}, -4.0, 0.0};
    Pose sit = stagger;
    sit.hips = {0.0, -0.75, -0.5};
    sit[kHips] = {-55.0, 6.0, 0.0};
    sit[kSpine].x = -5.0;
    sit[kHead] = {12.0, 6.0, 0.0};
    sit.feet[kLeft] = {{-0.06, 0.0, -0.05}, -8.0, 0.0, 60.0};
    sit.feet[kRight] = {{0.08, 0.0, -0.2}, 12.0, 0.0, 60.0};
    swordArm(sit, {-20.0, 0.0, 55.0}, -20.0, {60.0, 0.0, 0.0});
    sit[kUpperArmL] = {-20.0, 0.0, -55.0};
    sit[kForearmL] = {-30.0, 60.0, 0.0};
    Pose flat = sit;
    flat.hips = {0.0, -0.73, -0.55};
    flat[kHips] = {-86.0, 4.0, 0.0};
    flat[kSpine].x = 2.0;
    flat[kChest] = {0.0, 0.0, 0.0};
    flat[kNeck].x = -10.0;
    flat[kHead] = {-18.0, 28.0, 0.0};
    flat.feet[kLeft] = {{-0.12, 0.02, 0.22}, -12.0, -20.0, 80.0};
    flat.feet[kRight] = {{0.14, 0.0, 0.02}, 16.0, 0.0, 80.0};
    swordArm(flat, {0.0, 30.0, 75.0}, -10.0, {60.0, -45.0, 50.0});
    flat[kUpperArmL] = {0.0, -30.0, -70.0};
    flat[kForearmL] = {-10.0, 80.0, 0.0};
    flat[kBack] = {-20.0, 0.0, 0.0};
    Pose settled = flat;
    settled[kHead] = {-22.0, 32.0, 0.0};
    settled.feet[kLeft] = {{-0.14, 0.025, 0.26}, -16.0, -24.0, 80.0};
    return KeyedMotion::clamped()
        .key(0.0, guard())
        .key(0.12, recoil)
        .key(0.38, stagger)
        .key(0.66, sit)
        .key(0.9, flat)
        .key(1.3, settled);
}

void addClips(CharacterBuilder& c) {
    const Skeleton& s = c.skeleton();
    const Gait walk{.speedMetresPerSecond = kWalkSpeed, .periodSeconds = 21.0 / 30.0, .stanceFraction = 0.52,
                    .stepHeightMetres = 0.09, .hipsDropMetres = 0.07, .bobMetres = 0.015, .swayMetres = 0.025,
                    .pelvisTurnDegrees = 7.0, .chestCounterDegrees = 5.0, .leanDegrees = 5.0,
                    .armSwingDegrees = 16.0, .elbowSwingDegrees = 10.0, .rightArmSwingFactor = 0.8,
                    .leftArmSwingFactor = 0.35};
    const Gait run{.speedMetresPerSecond = kRunSpeed, .periodSeconds = 18.0 / 30.0, .stanceFraction = 0.28,
                   .stepHeightMetres = 0.2, .toeOffDegrees = 35.0, .hipsDropMetres = 0.09, .bobMetres = -0.03,
                   .swayMetres = 0.015, .pelvisTurnDegrees = 10.0, .chestCounterDegrees = 8.0, .leanDegrees = 14.0,
                   .armSwingDegrees = 30.0, .elbowSwingDegrees = 20.0, .rightArmSwingFactor = 0.5,
                   .leftArmSwingFactor = 0.35, .backFlutterDegrees = 7.0};

    c.clip({"CH010301", 90, true, breathingIdle(guard(), kWarriorBreathing)});
    c.clip({"CH010304", 21, true, gaitMotion(s, walkCarriage(), walk)});
    c.clip({"CH010305", 18, true, gaitMotion(s, runCarriage(), run)});
    c.clip({"CH010306", 22, false, comboSlash()});
    c.clip({"CH010307", 23, false, comboBackhand()});
    c.clip({"CH010308", 25, false, comboChop()});
    c.clip({"CH010309", 30, false, comboThrust()});
    c.clip({"CH010311", 27, false, dashStrike()});
    c.clip({"CH010356", 45, false, heavySlam()});
    c.clip({"CH010321", 36, false, heavyCleave()});
    c.clip({"CH010326", 30, false, jumpAttack()});
    c.clip({kKnockDownClipName, 39, false, knockDown()});
}

}  // namespace

std::vector<BakedFile> bakeWarrior() {
    CharacterBuilder c("warrior", humanoidSkeleton(warriorProportions()), kWarriorPlacement);
    const Materials m = addMaterials(c);
    addBody(c, m);
    addArmour(c, m);
    addCloth(c, m);
    addWeapons(c, m);
    addClips(c);
    return c.build();
}

}  // namespace kestrune::baker
