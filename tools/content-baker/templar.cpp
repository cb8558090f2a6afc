// The templar: a slender priest-knight in a long ivory robe with a gold border, a blue
// hooded mantle and stole, a white beard, and a tall staff crowned by a gold ring around a
// glowing orb. Authored facing +z with the right hand at +x, as the model faces.
//
// Index:
//   Section: Skeleton and materials
//   Section: Body and robes
//   Section: Staff
//   Section: Poses
//   Section: Clips

#include "body_parts.h"
#include "character_builder.h"
#include "character_textures.h"
#include "characters.h"
#include "shapes.h"

namespace kestrune::baker {
namespace {

// ---- Section: Skeleton and materials ----

Proportions templarProportions() {
    Proportions p;
    p.hipsY = 1.0;
    p.spineY = 1.12;
    p.chestY = 1.3;
    p.neckY = 1.53;
    p.headY = 1.62;
    p.headTopY = 1.81;
    p.clavicleX = 0.025;
    p.shoulderX = 0.175;
    p.shoulderY = 1.47;
    p.elbowX = 0.215;
    p.elbowY = 1.17;
    p.wristX = 0.245;
    p.wristY = 0.91;
    p.handLength = 0.085;
    p.hipX = 0.1;
    p.hipY = 0.97;
    p.kneeY = 0.53;
    p.ankleX = 0.105;
    p.back = {0.0, 1.4, -0.15};
    p.backTail = {0.0, 0.8, -0.2};
    return p;
}

constexpr f64 kWalkSpeed = 1.95;  // metres per second, the class's ground speeds
constexpr f64 kRunSpeed = 4.35;
constexpr f64 kStaffBelowGrip = 0.8;   // metres of shaft below the right fist
constexpr f64 kStaffAboveGrip = 0.92;  // ... and above it, up to the ring

struct Materials {
    i32 robe;
    i32 mantle;
    i32 skin;
    i32 leather;
    i32 wood;
    i32 gold;
    i32 glow;
};

Materials addMaterials(CharacterBuilder& c) {
    const Colour white{1.0, 1.0, 1.0, 1.0};
    Materials m{};
    m.robe = c.material("ivory_robe", "robe", robeTexture(), white);
    m.mantle = c.material("blue_mantle", "mantle", clothTexture({0.13, 0.2, 0.5, 1.0}, {0.86, 0.66, 0.26, 1.0}),
                          white);
    m.skin = c.material("skin", "skin", skinTexture({0.86, 0.66, 0.52, 1.0}), white);
    m.leather = c.material("leather", "leather", leatherTexture({0.3, 0.2, 0.13, 1.0}), white);
    m.wood = c.material("staff_wood", "wood", woodTexture(), white);
    m.gold = c.material("gold", "gold", goldTexture(), white);
    // The orb glows: unlit, blended, seen from any side.
    m.glow = c.material("orb_glow", "glow", glowTexture({1.0, 0.85, 0.45, 1.0}), {1.0, 0.95, 0.8, 0.95},
                        content::kAlphaBlended, true);
    return m;
}

// ---- Section: Body and robes ----

void addBody(CharacterBuilder& c, const Materials& m) {
    const Skeleton& s = c.skeleton();
    MeshBuilder& skin = c.mesh("templar_skin", m.skin);
    MeshBuilder& robe = c.mesh("templar_robe", m.robe);
    MeshBuilder& leather = c.mesh("templar_leather", m.leather);
    MeshBuilder& wood = c.mesh("templar_staff", m.wood);

    // Head, neck and hands; a nose, and eyes under the brow.
    skin.bind(c.bones({kHead}));
    skin.add(ellipsoid({{0.0, 1.705, 0.015}}, {0.083, 0.104, 0.094}, 16, 10));
    skin.add(capsule({0.0, 1.7, 0.095}, {0.0, 1.665, 0.118}, 0.012, 0.016, 8));
    wood.bind(c.bones({kHead}));
    for (const f64 x : {-0.032, 0.032}) wood.add(ellipsoid({{x, 1.717, 0.088}}, {0.011, 0.008, 0.006}, 8, 4));
    skin.bind(c.bones({kChest, kNeck, kHead}, 0.04));
    skin.add(capsule(s.head[kNeck] + Vec3{0.0, -0.04, 0.0}, s.head[kHead], 0.052, 0.05, 12));
    for (const Side side : {kLeft, kRight}) {
        skin.bind(c.bones({onSide(kHandL, side)}));
        skin.add(handShape(s, side, 0.042));
    }
    // A long white beard, as much a mark of the class as the staff.
    robe.bind(c.bones({kHead}));
    robe.add(lathe({{0.0, 1.675, 0.075}, {0.0, -1.0, 0.35}, {1.0, 0.0, 0.0}},
                   {{0.0, 0.0}, {0.01, 0.05}, {0.06, 0.058}, {0.14, 0.04}, {0.2, 0.0}}, 12, 1.0, 0.6));

    // Legs under the robe, and boots that show below the hem.
    for (const Side side : {kLeft, kRight}) {
        const Joint thigh = onSide(kThighL, side), shin = onSide(kShinL, side), foot = onSide(kFootL, side),
                    toe = onSide(kToeL, side);
        leather.bind(c.bones({kHips, thigh, shin}, 0.05));
        leather.add(capsule(s.head[thigh], s.head[shin], 0.075, 0.055, 10));
        leather.bind(c.bones({thigh, shin, foot}, 0.04));
        leather.add(capsule(s.head[shin], s.head[foot] + Vec3{0.0, 0.03, 0.0}, 0.055, 0.05, 10));
        addFoot(leather, s, side, 0.048, 0.085, 0.075, 0.09, c.bones({foot, toe}, 0.02));
    }
}

void addRobes(CharacterBuilder& c, const Materials& m) {
    const Skeleton& s = c.skeleton();
    MeshBuilder& robe = c.mesh("templar_robe", m.robe);
    MeshBuilder& mantle = c.mesh("templar_mantle", m.mantle);
    MeshBuilder& gold = c.mesh("templar_gold", m.gold);

    // The robe from the neck to the ankles; its skirt sways with both thighs.
    robe.bind(c.bones({kChest, kSpine, kHips, kThighL, kThighR}, 0.1));
    RingSurface gown = lathe({{0.0, 0.0, -0.005}}, {{1.56, 0.0}, {1.545, 0.075}, {1.5, 0.15}, {1.44, 0.19},
                                                     {1.3, 0.19}, {1.12, 0.168}, {0.98, 0.19}, {0.75, 0.225},
                                                     {0.45, 0.26}, {0.2, 0.285}, {0.075, 0.295}},
                             24, 1.0, 0.78);
    gown.uTiles = 2.0;
    gown.capLast = true;
    robe.add(gown);
    // Wide sleeves closed round the wrists.
    for (const Side side : {kLeft, kRight}) {
        const Joint upper = onSide(kUpperArmL, side), fore = onSide(kForearmL, side), hand = onSide(kHandL, side);
        robe.bind(c.bones({onSide(kClavicleL, side), upper, fore}, 0.05));
        robe.add(capsule(s.head[upper], s.head[fore], 0.07, 0.07, 12));
        robe.bind(c.bones({upper, fore, hand}, 0.04));
        RingSurface sleeve = lathe(segmentFrame(s.head[fore] + (s.head[fore] - s.head[hand]) * 0.15, s.head[hand]),
                                   {{0.0, 0.0}, {0.02, 0.07}, {0.14, 0.085}, {0.27, 0.115}, {0.29, 0.115}}, 14);
        sleeve.capLast = true;
        sleeve.vStart = 0.6;
        sleeve.vEnd = 0.97;
        robe.add(sleeve);
    }

    // Rope belt of gold.
    gold.bind(c.bones({kSpine, kHips}, 0.06));
    gold.add(lathe({{0.0, 0.0, -0.005}}, {{1.08, 0.168}, {1.09, 0.18}, {1.115, 0.18}, {1.125, 0.168}}, 24, 1.0,
                   0.8));

    // Mantle over the shoulders and the hood, worn up; a stole hangs down the front.
    mantle.bind(c.bones({kChest, kClavicleL, kClavicleR}, 0.08));
    RingSurface shoulders = lathe({{0.0, 0.0, -0.01}}, {{1.575, 0.0}, {1.56, 0.09}, {1.52, 0.19}, {1.45, 0.245},
                                                         {1.36, 0.265}, {1.27, 0.27}},
                                  24, 1.0, 0.82);
    shoulders.vStart = 0.5;
    shoulders.vEnd = 0.97;
    mantle.add(shoulders);

    RingSurface hood;
    const u32 across = 13;
    const f64 levels[][4] = {
        // height, radius, backward shift, opening half-angle (radians)
        {1.56, 0.125, 0.01, 0.9}, {1.64, 0.13, 0.012, 0.75}, {1.72, 0.128, 0.015, 0.7},
        {1.79, 0.112, 0.025, 0.75}, {1.84, 0.08, 0.045, 0.9}, {1.88, 0.035, 0.07, 1.1},
        {1.9, 0.005, 0.09, 1.2},
    };
    for (const auto& level : levels) {
        std::vector<Vec3> ring;
        const f64 y = level[0], r = level[1], back = level[2], opening = level[3];
        // Round the back from one edge of the face opening to the other, then inside again.
        for (u32 i = 0; i < across; ++i) {
            const f64 a = opening + (kTwoPi - 2.0 * opening) * i / (across - 1);
            ring.push_back({r * sinRadians(a), y, 0.015 - back + r * 1.05 * cosRadians(a)});
        }
        for (u32 i = across; i-- > 0;) {
            const f64 a = opening + (kTwoPi - 2.0 * opening) * i / (across - 1);
            ring.push_back({(r - 0.012) * sinRadians(a), y, 0.015 - back + (r - 0.012) * 1.05 * cosRadians(a)});
        }
        hood.rings.push_back(std::move(ring));
    }
    hood.vStart = 0.0;
    hood.vEnd = 0.4;
    mantle.bind(c.bones({kNeck, kHead}, 0.05));
    mantle.add(hood);

    mantle.bind(c.bones({kChest, kSpine, kHips, kThighL, kThighR}, 0.12));
    for (const f64 x : {-0.07, 0.07}) {
        const Frame frame{{x, 1.48, 0.16}, {0.0, -1.0, 0.18}, {1.0, 0.0, 0.0}};
        mantle.add(lathe(frame, {{0.0, 0.05}, {0.5, 0.055}, {0.92, 0.06}}, 10, 1.0, 0.12));
    }
    // Stole ends behind, over the back.
    mantle.bind(c.bones({kChest, kBack}, 0.1));
    mantle.add(lathe({{0.0, 1.42, -0.17}, {0.0, -1.0, -0.08}, {1.0, 0.0, 0.0}},
                     {{0.0, 0.15}, {0.4, 0.16}, {0.82, 0.17}}, 12, 1.0, 0.08));
}

// ---- Section: Staff ----

void addStaff(CharacterBuilder& c, const Materials& m) {
    const Skeleton& s = c.skeleton();
    MeshBuilder& wood = c.mesh("templar_staff", m.wood);
    MeshBuilder& gold = c.mesh("templar_gold", m.gold);
    MeshBuilder& glow = c.mesh("templar_orb", m.glow);
    const Vec3 grip = s.head[kWeapon];
    // In the bind pose the staff stands upright through the right fist.
    const Frame shaft{grip, {0.0, 1.0, 0.0}, {1.0, 0.0, 0.0}};
    for (MeshBuilder* mesh : {&wood, &gold, &glow}) mesh->bind(c.bones({kWeapon}));
    RingSurface pole = lathe(shaft, {{-kStaffBelowGrip, 0.0}, {-kStaffBelowGrip + 0.005, 0.016},
                                     {0.0, 0.019}, {kStaffAboveGrip - 0.08, 0.022}, {kStaffAboveGrip, 0.0}},
                             10);
    pole.vEnd = 6.0;
    wood.add(pole);
    gold.add(lathe(shaft, {{-kStaffBelowGrip - 0.01, 0.0}, {-kStaffBelowGrip, 0.022}, {-kStaffBelowGrip + 0.08, 0.02},
                           {-kStaffBelowGrip + 0.09, 0.0}},
                   10));
    gold.add(lathe(shaft, {{kStaffAboveGrip - 0.14, 0.0}, {kStaffAboveGrip - 0.13, 0.03},
                           {kStaffAboveGrip - 0.05, 0.04}, {kStaffAboveGrip, 0.028}, {kStaffAboveGrip + 0.01, 0.0}},
                   12));
    // The crown: a gold ring standing across the staff's top, the orb floating inside it.
    const Vec3 crown = shaft.at(0.0, kStaffAboveGrip + 0.12, 0.0);
    gold.add(torus({crown, {0.0, 0.0, 1.0}, {1.0, 0.0, 0.0}}, 0.11, 0.014, 24, 8));
    for (const f64 side : {-1.0, 1.0}) {
        gold.add(capsule(shaft.at(side * 0.035, kStaffAboveGrip - 0.02, 0.0), crown + Vec3{side * 0.1, -0.045, 0.0},
                         0.012, 0.01, 8));
    }
    gold.add(capsule(crown + Vec3{0.0, 0.11, 0.0}, crown + Vec3{0.0, 0.17, 0.0}, 0.012, 0.006, 8));
    glow.add(ellipsoid({crown}, {0.07, 0.07, 0.07}, 14, 8));
}

// ---- Section: Poses ----

// Standing tall, staff upright at the right side, left hand resting before the belt.
Pose stand() {
    Pose p;
    p.hips = {0.0, -0.02, 0.0};
    p[kSpine] = {-2.0, 0.0, 0.0};
    p[kChest] = {2.0, 0.0, 0.0};
    p[kHead] = {-3.0, 0.0, 0.0};
    p.feet[kLeft] = {{-0.02, 0.0, 0.05}, -8.0, 0.0};
    p.feet[kRight] = {{0.02, 0.0, -0.04}, 10.0, 0.0};
    p[kUpperArmR] = {-12.0, 0.0, 12.0};
    p[kForearmR] = {-40.0, 0.0, 0.0};
    p[kHandR] = {52.0, 0.0, -12.0};
    p[kUpperArmL] = {-10.0, 0.0, -8.0};
    p[kForearmL] = {-70.0, 45.0, 0.0};
    p[kBack] = {4.0, 0.0, 0.0};
    return p;
}

void staffArm(Pose& p, Euler upper, f64 elbow, Euler wrist) {
    p[kUpperArmR] = upper;
    p[kForearmR] = {elbow, 0.0, 0.0};
    p[kHandR] = wrist;
}

void freeArm(Pose& p, Euler upper, Euler fore) {
    p[kUpperArmL] = upper;
    p[kForearmL] = fore;
}

Pose walkCarriage() {
    Pose p = stand();
    p.hips = {};
    p.feet[kLeft] = {{0.0, 0.0, 0.0}, -3.0, 0.0};
    p.feet[kRight] = {{0.0, 0.0, 0.0}, 3.0, 0.0};
    freeArm(p, {-4.0, 0.0, -6.0}, {-25.0, 0.0, 0.0});
    return p;
}

Pose runCarriage() {
    Pose p = walkCarriage();
    // The staff slants across the body, head forward and up.
    staffArm(p, {-20.0, 0.0, 12.0}, -80.0, {145.0, 0.0, 20.0});
    freeArm(p, {-10.0, 0.0, -10.0}, {-70.0, 0.0, 0.0});
    p[kBack] = {20.0, 0.0, 0.0};
    return p;
}

// ---- Section: Clips ----

constexpr Breathing kTemplarBreathing{
    .swayMetres = 0.012,
    .hipsRollDegrees = 1.0,
    .dipMetres = 0.004,
    .chestDegrees = 1.4,
    .shoulderDegrees = 1.2,
    .lookDegrees = 6.0,
    .nodDegrees = 2.0,
    .backDegrees = 1.5
};

Motion staffSweep() {
    Pose windUp = stand();
    windUp.hips.y = -0.06;
    windUp[kHips].y = 25.0;
    windUp[kChest] = {0.0, 30.0, 0.0};
    staffArm(windUp, {-70.0, 70.0, 20.0}, -50.0, {30.0, 0.0, 80.0});
    freeArm(windUp, {-40.0, 40.0, -10.0}, {-80.0, 30.0, 0.0});
    Pose strike = stand();
    strike.hips = {0.0, -0.09, 0.06};
    strike[kChest] = {6.0, -20.0, 0.0};
    strike.feet[kLeft].offset.z = 0.15;
    staffArm(strike, {-80.0, -15.0, 10.0}, -20.0, {20.0, 0.0, 85.0});
    freeArm(strike, {-20.0, 0.0, -25.0}, {-40.0, 0.0, 0.0});
    Pose follow = strike;
    follow[kHips].y = -15.0;
    follow[kChest] = {8.0, -40.0, 0.0};
    staffArm(follow, {-70.0, -75.0, 5.0}, -35.0, {20.0, 0.0, 80.0});
    Pose back = stand();
    back.feet[kLeft].offset = {-0.02, 0.06, 0.1};
    return KeyedMotion::clamped()
        .key(0.0, stand())
        .key(0.15, windUp)
        .key(0.3, strike)
        .key(0.42, follow)
        .key(0.55, back)
        .key(21.0 / 30.0, stand());
}

Motion staffThrust() {
    Pose coil = stand();
    coil.hips.y = -0.1;
    coil[kHips].y = 20.0;
    coil[kSpine].x = 10.0;
    staffArm(coil, {-30.0, 20.0, 25.0}, -95.0, {185.0, 0.0, 0.0});
    freeArm(coil, {-50.0, 0.0, -10.0}, {-60.0, 50.0, 0.0});
    Pose thrust = stand();
    thrust.hips = {0.0, -0.14, 0.22};
    thrust[kHips].y = 0.0;
    thrust[kSpine].x = 14.0;
    thrust[kChest] = {4.0, -10.0, 0.0};
    thrust.feet[kLeft].offset = {-0.02, 0.0, 0.42};
    staffArm(thrust, {-100.0, 12.0, 10.0}, -5.0, {180.0, 0.0, 0.0});
    freeArm(thrust, {-70.0, -10.0, -5.0}, {-20.0, 20.0, 0.0});
    Pose stepIn = coil;
    stepIn.feet[kLeft].offset = {-0.02, 0.08, 0.28};
    Pose recover = stand();
    recover.hips.z = 0.1;
    recover.feet[kLeft].offset = {-0.02, 0.07, 0.28};
    return KeyedMotion::clamped()
        .key(0.0, stand())
        .key(0.1, coil)
        .key(0.2, stepIn)
        .key(0.3, thrust)
        .key(0.4, thrust)
        .key(0.52, recover)
        .key(19.0 / 30.0, stand());
}

Motion beamCast() {
    Pose gather = stand();
    gather.hips.y = -0.06;
    gather[kSpine].x = -6.0;
    gather[kChest] = {-8.0, 0.0, 0.0};
    gather[kHead] = {-12.0, 0.0, 0.0};
    staffArm(gather, {-170.0, 0.0, 12.0}, -10.0, {180.0, 0.0, 0.0});
    freeArm(gather, {-165.0, 0.0, -12.0}, {-20.0, 0.0, 0.0});
    gather[kBack] = {-5.0, 0.0, 0.0};
    Pose channel = gather;
    channel.hips.y = -0.03;
    channel[kSpine].x = -10.0;
    Pose release = stand();
    release.hips = {0.0, -0.12, 0.16};
    release[kSpine].x = 16.0;
    release[kChest] = {6.0, -8.0, 0.0};
    release.feet[kLeft].offset = {-0.02, 0.0, 0.3};
    staffArm(release, {-108.0, 8.0, 8.0}, -5.0, {190.0, 0.0, 0.0});
    freeArm(release, {-90.0, 15.0, -5.0}, {-10.0, 0.0, 0.0});
    release[kBack] = {20.0, 0.0, 0.0};
    Pose hold = release;
    hold[kSpine].x = 13.0;
    Pose stepIn = channel;
    stepIn.feet[kLeft].offset = {-0.02, 0.09, 0.18};
    Pose stepBack = stand();
    stepBack.hips.z = 0.08;
    stepBack.feet[kLeft].offset = {-0.02, 0.07, 0.18};
    return KeyedMotion::clamped()
        .key(0.0, stand())
        .key(0.45, gather)
        .key(0.68, channel)
        .key(0.77, stepIn)
        .key(0.85, release)
        .key(1.3, hold)
        .key(1.55, stepBack)
        .key(53.0 / 30.0, stand());
}

Motion overheadSlam() {
    Pose raise = stand();
    raise.hips.y = -0.02;
    raise[kSpine].x = -8.0;
    raise[kChest] = {-6.0, 10.0, 0.0};
    staffArm(raise, {-175.0, 10.0, 10.0}, -60.0, {190.0, 0.0, 0.0});
    freeArm(raise, {-170.0, 0.0, -5.0}, {-50.0, 0.0, 0.0});
    raise.feet[kLeft].offset = {-0.02, 0.08, 0.16};
    Pose slam = stand();
    slam.hips = {0.0, -0.2, 0.12};
    slam[kSpine].x = 30.0;
    slam[kChest] = {10.0, 0.0, 0.0};
    slam.feet[kLeft].offset = {-0.02, 0.0, 0.3};
    staffArm(slam, {-50.0, 0.0, 5.0}, -10.0, {160.0, 0.0, 0.0});
    freeArm(slam, {-55.0, 20.0, -5.0}, {-20.0, 0.0, 0.0});
    slam[kBack] = {25.0, 0.0, 0.0};
    Pose hold = slam;
    hold[kSpine].x = 26.0;
    Pose stepBack = stand();
    stepBack.hips.z = 0.06;
    stepBack.feet[kLeft].offset = {-0.02, 0.08, 0.2};
    return KeyedMotion::clamped()
        .key(0.0, stand())
        .key(0.4, raise)
        .key(0.576, slam)
        .key(0.75, hold)
        .key(0.98, stepBack)
        .key(1.2, stand());
}

Motion jump() {
    Pose crouch = stand();
    crouch.hips.y = -0.16;
    crouch[kSpine].x = 18.0;
    staffArm(crouch, {10.0, 0.0, 15.0}, -40.0, {40.0, 0.0, 0.0});
    freeArm(crouch, {25.0, 0.0, -10.0}, {-20.0, 0.0, 0.0});
    Pose takeoff = stand();
    takeoff.hips.y = 0.08;
    takeoff.feet[kLeft] = {{-0.02, 0.06, 0.05}, -8.0, 35.0};
    takeoff.feet[kRight] = {{0.02, 0.07, -0.04}, 10.0, 35.0};
    freeArm(takeoff, {-120.0, 0.0, -15.0}, {-20.0, 0.0, 0.0});
    Pose apex = stand();
    apex.hips.y = 0.46;
    apex.feet[kLeft] = {{-0.02, 0.36, 0.1}, -8.0, 20.0};
    apex.feet[kRight] = {{0.02, 0.4, -0.06}, 10.0, 25.0};
    staffArm(apex, {-120.0, 0.0, 20.0}, -30.0, {20.0, 0.0, 70.0});
    freeArm(apex, {-60.0, 0.0, -40.0}, {-30.0, 0.0, 0.0});
    apex[kBack] = {-20.0, 0.0, 0.0};
    Pose swipe = apex;
    swipe.hips.y = 0.34;
    swipe[kSpine].x = 18.0;
    swipe.feet[kLeft].offset = {-0.02, 0.22, 0.1};
    swipe.feet[kRight].offset = {0.02, 0.26, -0.08};
    staffArm(swipe, {-60.0, -20.0, 10.0}, -10.0, {-20.0, 0.0, 85.0});
    swipe[kBack] = {-28.0, 0.0, 0.0};
    Pose land = stand();
    land.hips.y = -0.17;
    land[kSpine].x = 22.0;
    land[kBack] = {20.0, 0.0, 0.0};
    return KeyedMotion::clamped()
        .key(0.0, stand())
        .key(0.14, crouch)
        .key(0.24, takeoff)
        .key(0.4, apex)
        .key(0.5, swipe)
        .key(0.68, land)
        .key(1.0, stand());
}

// Struck down: the head snaps back, the knees give and the templar sinks onto them, leaning
// on the staff a moment, then topples forward onto its face, the staff still in its hand
// lying across the ground before it; then still.
Motion knockDown() {
    Pose recoil = stand();
    recoil.hips = {0.0, -0.05, -0.08};
    recoil[kSpine].x = -10.0;
    recoil[kChest] = {-8.0, 4.0, 0.0};
    recoil[kHead] = {-26.0, -6.0, 0.0};
    staffArm(recoil, {-30.0, 0.0, 25.0}, -50.0, {60.0, 0.0, -12.0});
    freeArm(recoil, {-40.0, 0.0, -30.0}, {-30.0, 0.0, 0.0});
    recoil[kBack] = {-8.0, 0.0, 0.0};
    Pose buckle = recoil;
    buckle.hips = {0.0, -0.26, -0.06};
    buckle[kSpine].x = 0.0;
    buckle[kHead] = {-6.0, -4.0, 0.0};
    buckle.feet[kLeft] = {{-0.02, 0.1, -0.2}, -6.0, 50.0};
    buckle.feet[kRight] = {{0.02, 0.1, -0.22}, 6.0, 50.0};
    Pose kneel = stand();
    kneel.hips = {0.0, -0.47, -0.02};
    kneel[kHips] = {10.0, 0.0, 0.0};
    kneel[kSpine].x = 12.0;
    kneel[kChest] = {8.0, 0.0, 0.0};
    kneel[kHead] = {18.0, 4.0, 0.0};
    kneel.feet[kLeft] = {{-0.02, 0.11, -0.42}, -6.0, 100.0};
    kneel.feet[kRight] = {{0.02, 0.11, -0.44}, 6.0, 100.0};
    staffArm(kneel, {-60.0, 0.0, 18.0}, -70.0, {70.0, -30.0, -50.0});
    freeArm(kneel, {-10.0, 0.0, -10.0}, {-20.0, 0.0, 0.0});
    Pose topple = kneel;
    topple.hips = {0.0, -0.6, 0.06};
    topple[kHips] = {45.0, 0.0, 0.0};
    topple[kSpine].x = 10.0;
    topple[kHead] = {-20.0, 20.0, 0.0};
    topple.feet[kLeft] = {{-0.04, 0.06, -0.6}, -7.0, 120.0, -45.0};
    topple.feet[kRight] = {{0.05, 0.06, -0.6}, 8.0, 120.0, -45.0};
    staffArm(topple, {-40.0, 0.0, 20.0}, -20.0, {-135.0, -30.0, -90.0});
    freeArm(topple, {-70.0, 0.0, -40.0}, {-30.0, 0.0, 0.0});
    Pose prone = kneel;
    prone.hips = {0.0, -0.78, -0.1};
    prone[kHips] = {82.0, 0.0, 0.0};
    prone[kSpine].x = 4.0;
    prone[kChest] = {4.0, 0.0, 0.0};
    prone[kNeck].x = -20.0;
    prone[kHead] = {-20.0, 65.0, 0.0};
    prone.feet[kLeft] = {{-0.06, 0.04, -0.99}, -8.0, 150.0, -90.0};
    prone.feet[kRight] = {{0.08, 0.04, -0.97}, 10.0, 150.0, -90.0};
    staffArm(prone, {0.0, -15.0, 80.0}, -10.0, {-70.0, -15.0, -70.0});
    freeArm(prone, {0.0, 8.0, -110.0}, {-80.0, -90.0, 0.0});
    prone[kBack] = {0.0, 0.0, 0.0};
    Pose settled = prone;
    settled[kHead] = {-18.0, 70.0, 0.0};
    return KeyedMotion::clamped()
        .key(0.0, stand())
        .key(0.14, recoil)
        .key(0.32, buckle)
        .key(0.5, kneel)
        .key(0.75, kneel)
        .key(0.95, topple)
        .key(1.15, prone)
        .key(1.6, settled);
}

void addClips(CharacterBuilder& c) {
    const Skeleton& s = c.skeleton();
    const Gait walk{.speedMetresPerSecond = kWalkSpeed, .periodSeconds = 21.0 / 30.0, .stanceFraction = 0.54,
                    .stepHeightMetres = 0.08, .hipsDropMetres = 0.06, .bobMetres = 0.015, .swayMetres = 0.02,
                    .pelvisTurnDegrees = 6.0, .chestCounterDegrees = 4.0, .leanDegrees = 3.0,
                    .armSwingDegrees = 18.0, .elbowSwingDegrees = 12.0, .rightArmSwingFactor = 0.25,
                    .leftArmSwingFactor = 1.0};
    const Gait run{.speedMetresPerSecond = kRunSpeed, .periodSeconds = 18.0 / 30.0, .stanceFraction = 0.3,
                   .stepHeightMetres = 0.17, .toeOffDegrees = 32.0, .hipsDropMetres = 0.08, .bobMetres = -0.025,
                   .swayMetres = 0.012, .pelvisTurnDegrees = 9.0, .chestCounterDegrees = 6.0, .leanDegrees = 12.0,
                   .armSwingDegrees = 28.0, .elbowSwingDegrees = 18.0, .rightArmSwingFactor = 0.3,
                   .leftArmSwingFactor = 1.0, .backFlutterDegrees = 5.0};

    c.clip({"idle", 90, true, breathingIdle(stand(), kTemplarBreathing)});
    c.clip({"walk", 21, true, gaitMotion(s, walkCarriage(), walk)});
    c.clip({"run", 18, true, gaitMotion(s, runCarriage(), run)});
    c.clip({"attack_1", 21, false, staffSweep()});
    c.clip({"attack_2", 19, false, staffThrust()});
    c.clip({"attack_3", 53, false, beamCast()});
    c.clip({"attack_4", 36, false, overheadSlam()});
    c.clip({"jump", 30, false, jump()});
    c.clip({kKnockDownClipName, 48, false, knockDown()});
}

}  // namespace

std::vector<BakedFile> bakeTemplar() {
    CharacterBuilder c("templar", humanoidSkeleton(templarProportions()), kTemplarPlacement);
    const Materials m = addMaterials(c);
    addBody(c, m);
    addRobes(c, m);
    addStaff(c, m);
    addClips(c);
    return c.build();
}

}  // namespace kestrune::baker
