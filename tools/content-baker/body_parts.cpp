#include "body_parts.h"

namespace kestrune::baker {
namespace {

// Half a foot's cross-section, (across, up) as fractions of its half width and height:
// a flat sole and a rounded instep, walked round once.
constexpr std::array<std::pair<f64, f64>, 12> kFootSection = {{
    {1.0, 0.0},
    {1.0, 0.35},
    {0.8, 0.75},
    {0.4, 0.97},
    {0.0, 1.0},
    {-0.4, 0.97},
    {-0.8, 0.75},
    {-1.0, 0.35},
    {-1.0, 0.0},
    {-0.5, 0.0},
    {0.0, 0.0},
    {0.5, 0.0},
}};

}  // namespace

Skeleton humanoidSkeleton(const Proportions& p) {
    Skeleton s;
    const auto set = [&](Joint joint, Vec3 head, Vec3 tail) {
        s.head[joint] = head;
        s.tail[joint] = tail;
    };
    set(kHips, {0.0, p.hipsY, 0.0}, {0.0, p.spineY, -0.01});
    set(kSpine, {0.0, p.spineY, -0.01}, {0.0, p.chestY, -0.01});
    set(kChest, {0.0, p.chestY, -0.01}, {0.0, p.neckY - 0.02, 0.0});
    set(kNeck, {0.0, p.neckY, 0.0}, {0.0, p.headY, 0.01});
    set(kHead, {0.0, p.headY, 0.01}, {0.0, p.headTopY, 0.02});
    for (const Side side : {kLeft, kRight}) {
        const Vec3 clavicle{sideX(side, p.clavicleX), p.shoulderY - 0.01, 0.0};
        const Vec3 shoulder{sideX(side, p.shoulderX), p.shoulderY, -0.01};
        const Vec3 elbow{sideX(side, p.elbowX), p.elbowY, 0.0};
        const Vec3 wrist{sideX(side, p.wristX), p.wristY, 0.02};
        const Vec3 fingers{sideX(side, p.wristX + 0.01), p.wristY - p.handLength, 0.03};
        set(onSide(kClavicleL, side), clavicle, shoulder);
        set(onSide(kUpperArmL, side), shoulder, elbow);
        set(onSide(kForearmL, side), elbow, wrist);
        set(onSide(kHandL, side), wrist, fingers);

        const Vec3 hip{sideX(side, p.hipX), p.hipY, 0.0};
        const Vec3 knee{sideX(side, (p.hipX + p.ankleX) * 0.5), p.kneeY, 0.01};
        const Vec3 ankle{sideX(side, p.ankleX), p.ankleY, -0.01};
        const Vec3 ball{sideX(side, p.ankleX), p.ankleY * 0.35, p.ballZ};
        const Vec3 tip{sideX(side, p.ankleX), p.ankleY * 0.3, p.ballZ + p.toeLength};
        set(onSide(kThighL, side), hip, knee);
        set(onSide(kShinL, side), knee, ankle);
        set(onSide(kFootL, side), ankle, ball);
        set(onSide(kToeL, side), ball, tip);
    }
    // Grips sit in the closed fists, their bones along the grip (forward in the bind pose).
    for (const Side side : {kLeft, kRight}) {
        const Vec3 grip{sideX(side, p.wristX + 0.01), p.wristY - p.handLength * 0.6, 0.03};
        const Joint joint = side == kLeft ? kOffhand : kWeapon;
        set(joint, grip, grip + Vec3{0.0, 0.0, p.weaponReach});
    }
    set(kBack, p.back, p.backTail);
    return s;
}

void addFoot(MeshBuilder& mesh, const Skeleton& skeleton, Side side, f64 halfWidth, f64 height, f64 heelBack,
             f64 toeReach, SkinBinding footAndToe) {
    const Vec3 ankle = skeleton.head[onSide(kFootL, side)];
    const Vec3 ball = skeleton.head[onSide(kToeL, side)];
    // Side is -x so that the section's second coordinate points up.
    const Frame frame{{ankle.x, 0.0, ankle.z}, {0.0, 0.0, 1.0}, {-1.0, 0.0, 0.0}};
    const f64 ballAlong = ball.z - ankle.z;
    struct Station {
        f64 along;
        f64 width;
        f64 height;
    };
    const Station stations[] = {
        {-heelBack, 0.75, 0.55},
        {-heelBack + 0.025, 0.95, 0.85},
        {0.0, 1.0, 1.0},
        {ballAlong * 0.6, 1.0, 0.8},
        {ballAlong, 0.95, 0.55},
        {ballAlong + toeReach * 0.6, 0.8, 0.42},
        {ballAlong + toeReach, 0.5, 0.25},
    };
    RingSurface surface;
    for (const Station& station : stations) {
        std::vector<Vec3> ring;
        for (const auto& [across, up] : kFootSection) {
            ring.push_back(frame.at(across * halfWidth * station.width, station.along, up * height * station.height));
        }
        surface.rings.push_back(std::move(ring));
    }
    surface.capFirst = true;
    surface.capLast = true;
    surface.uTiles = 2.0;
    mesh.bind(std::move(footAndToe));
    mesh.add(surface);
}

RingSurface handShape(const Skeleton& skeleton, Side side, f64 radius) {
    const Joint hand = onSide(kHandL, side);
    return capsule(skeleton.head[hand], skeleton.tail[hand], radius, radius * 0.85, 10, 0.6, 1.0);
}

}  // namespace kestrune::baker
