#include "rig.h"

#include <cmath>
#include <numeric>

#include "content/transform_math.h"

namespace kestrune::baker {
namespace {

struct JointInfo {
    std::string_view name;
    Joint parent;
};

constexpr std::array<JointInfo, kJoints> kJointInfo = {{
    {"hips", kJointCount},
    {"spine", kHips},
    {"chest", kSpine},
    {"neck", kChest},
    {"head", kNeck},
    {"clavicle_l", kChest},
    {"upperarm_l", kClavicleL},
    {"forearm_l", kUpperArmL},
    {"hand_l", kForearmL},
    {"clavicle_r", kChest},
    {"upperarm_r", kClavicleR},
    {"forearm_r", kUpperArmR},
    {"hand_r", kForearmR},
    {"thigh_l", kHips},
    {"shin_l", kThighL},
    {"foot_l", kShinL},
    {"toe_l", kFootL},
    {"thigh_r", kHips},
    {"shin_r", kThighR},
    {"foot_r", kShinR},
    {"toe_r", kFootR},
    {"weapon", kHandR},
    {"offhand", kHandL},
    {"back", kChest},
}};

constexpr Vec3 kForward{0.0, 0.0, 1.0};
constexpr Vec3 kUp{0.0, 1.0, 0.0};
// Keeps the solved leg just short of straight, where the knee's direction is undefined.
constexpr f64 kMaxReachFraction = 0.9995;

struct Frame {
    Vec3 position;
    Quat rotation;
};

// The rotation of a bone frame whose bone runs along `boneDirection` with its front toward
// `pole`: y against the bone (bones hang), z the pole made perpendicular to it.
Quat boneFrame(Vec3 boneDirection, Vec3 pole) noexcept {
    const Vec3 y = -boneDirection;
    const Vec3 z = normalized(pole - y * dot(pole, y));
    return quatFromBasis(cross(y, z), y, z);
}

content::Transform toTransform(Vec3 translation, Quat rotation) {
    const Quat q = normalized(rotation);
    content::Transform t;
    t.translation = {static_cast<f32>(translation.x), static_cast<f32>(translation.y),
                     static_cast<f32>(translation.z)};
    t.rotation = {static_cast<f32>(q.x), static_cast<f32>(q.y), static_cast<f32>(q.z), static_cast<f32>(q.w)};
    return t;
}

Vec3 localTranslation(const Skeleton& skeleton, Joint joint) noexcept {
    const Joint parent = jointParent(joint);
    return parent == kJointCount ? skeleton.head[joint] : skeleton.head[joint] - skeleton.head[parent];
}

content::Transform placementTransform(const Placement& placement) {
    return toTransform({0.0, placement.heightMetres, 0.0}, axisAngle(kUp, placement.yawRadians));
}

// Thigh, shin and foot turns (local) that put the ankle of `side` on its plant.
void solveLeg(const Skeleton& skeleton, const Frame& hips, const FootPlant& plant, Side side,
              std::array<Quat, kJoints>& local) {
    const Joint thigh = side == kLeft ? kThighL : kThighR;
    const Joint shin = side == kLeft ? kShinL : kShinR;
    const Joint foot = side == kLeft ? kFootL : kFootR;

    const Vec3 hip = hips.position + rotate(hips.rotation, skeleton.head[thigh] - skeleton.head[kHips]);
    const Vec3 target = skeleton.head[foot] + plant.offset;
    const f64 thighLength = length(skeleton.head[shin] - skeleton.head[thigh]);
    const f64 shinLength = length(skeleton.head[foot] - skeleton.head[shin]);

    const Vec3 toTarget = target - hip;
    f64 reach = length(toTarget);
    const Vec3 along = reach > 0.0 ? toTarget * (1.0 / reach) : -kUp;
    const f64 minReach = std::fabs(thighLength - shinLength) + 1e-4;
    const f64 maxReach = (thighLength + shinLength) * kMaxReachFraction;
    reach = reach < minReach ? minReach : (reach > maxReach ? maxReach : reach);

    const Quat heading = axisAngle(kUp, radians(plant.headingDegrees));
    // Unlifted, the pole is exactly the heading's forward: the clips that never lift a knee
    // keep their bytes.
    const Quat kneeTurn =
        plant.kneeLiftDegrees == 0.0 ? heading : heading * axisAngle({1.0, 0.0, 0.0}, radians(-plant.kneeLiftDegrees));
    const Vec3 pole = rotate(kneeTurn, kForward);
    const Vec3 bendTowards = normalized(pole - along * dot(pole, along));
    f64 cosHip = (thighLength * thighLength + reach * reach - shinLength * shinLength) / (2.0 * thighLength * reach);
    cosHip = cosHip < -1.0 ? -1.0 : (cosHip > 1.0 ? 1.0 : cosHip);
    const f64 sinHip = std::sqrt(1.0 - cosHip * cosHip);
    const Vec3 thighDirection = normalized(along * cosHip + bendTowards * sinHip);
    const Vec3 knee = hip + thighDirection * thighLength;
    const Vec3 shinDirection = normalized(target - knee);

    const Quat thighBind = boneFrame(normalized(skeleton.head[shin] - skeleton.head[thigh]), kForward);
    const Quat shinBind = boneFrame(normalized(skeleton.head[foot] - skeleton.head[shin]), kForward);
    const Quat thighGlobal = boneFrame(thighDirection, pole) * conjugate(thighBind);
    const Quat shinGlobal = boneFrame(shinDirection, pole) * conjugate(shinBind);
    const Quat footGlobal = heading * axisAngle({1.0, 0.0, 0.0}, radians(plant.pitchDegrees));

    local[thigh] = conjugate(hips.rotation) * thighGlobal;
    local[shin] = conjugate(thighGlobal) * shinGlobal;
    local[foot] = conjugate(shinGlobal) * footGlobal;
}

}  // namespace

std::string_view jointName(Joint joint) noexcept { return kJointInfo[joint].name; }
Joint jointParent(Joint joint) noexcept { return kJointInfo[joint].parent; }

std::array<f64, kPoseChannels> poseChannels(const Pose& pose) noexcept {
    std::array<f64, kPoseChannels> c{};
    std::size_t i = 0;
    for (f64 v : {pose.hips.x, pose.hips.y, pose.hips.z}) c[i++] = v;
    for (const Euler& e : pose.turn) {
        c[i++] = e.x;
        c[i++] = e.y;
        c[i++] = e.z;
    }
    for (const FootPlant& f : pose.feet) {
        for (f64 v : {f.offset.x, f.offset.y, f.offset.z, f.headingDegrees, f.pitchDegrees, f.kneeLiftDegrees}) {
            c[i++] = v;
        }
    }
    return c;
}

Pose poseFromChannels(const std::array<f64, kPoseChannels>& c) noexcept {
    Pose pose;
    std::size_t i = 0;
    pose.hips = {c[0], c[1], c[2]};
    i = 3;
    for (Euler& e : pose.turn) {
        e = {c[i], c[i + 1], c[i + 2]};
        i += 3;
    }
    for (FootPlant& f : pose.feet) {
        f.offset = {c[i], c[i + 1], c[i + 2]};
        f.headingDegrees = c[i + 3];
        f.pitchDegrees = c[i + 4];
        f.kneeLiftDegrees = c[i + 5];
        i += 6;
    }
    return pose;
}

std::vector<content::Transform> solvePose(const Skeleton& skeleton, const Placement& placement, const Pose& pose) {
    std::array<Quat, kJoints> local{};
    for (std::size_t j = 0; j < kJoints; ++j) local[j] = quatFromEuler(pose.turn[j]);

    const Frame hips{skeleton.head[kHips] + pose.hips, local[kHips]};
    solveLeg(skeleton, hips, pose.feet[kLeft], kLeft, local);
    solveLeg(skeleton, hips, pose.feet[kRight], kRight, local);

    std::vector<content::Transform> out(kCharacterNodes);
    out[kPlacementNode] = placementTransform(placement);
    for (std::size_t j = 0; j < kJoints; ++j) {
        const auto joint = static_cast<Joint>(j);
        const Vec3 translation = joint == kHips ? hips.position : localTranslation(skeleton, joint);
        out[nodeOfJoint(joint)] = toTransform(translation, local[j]);
    }
    return out;
}

std::vector<content::Node> characterNodes(const Skeleton& skeleton, const Placement& placement,
                                          std::string_view placementName) {
    std::vector<content::Node> nodes(kCharacterNodes);
    nodes[kPlacementNode].name = std::string(placementName);
    nodes[kPlacementNode].transform = placementTransform(placement);
    for (std::size_t j = 0; j < kJoints; ++j) {
        const auto joint = static_cast<Joint>(j);
        content::Node& node = nodes[nodeOfJoint(joint)];
        node.name = std::string(jointName(joint));
        const Joint parent = jointParent(joint);
        node.parent = static_cast<i32>(parent == kJointCount ? kPlacementNode : nodeOfJoint(parent));
        node.transform = toTransform(localTranslation(skeleton, joint), Quat{});
    }
    return nodes;
}

content::Skin characterSkin(const std::vector<content::Node>& nodes, std::string_view skinName) {
    std::vector<content::Matrix4> globals(nodes.size());
    for (std::size_t i = 0; i < nodes.size(); ++i) globals[i] = content::transformToMatrix(nodes[i].transform);
    // Parents come before children in a character's node list.
    std::vector<u32> order(nodes.size());
    std::iota(order.begin(), order.end(), 0u);
    content::composeGlobalMatrices(nodes, order, globals);

    content::Skin skin;
    skin.name = std::string(skinName);
    skin.skeleton = static_cast<i32>(nodeOfJoint(kHips));
    for (std::size_t j = 0; j < kJoints; ++j) {
        const u32 node = nodeOfJoint(static_cast<Joint>(j));
        skin.joints.push_back(node);
        skin.inverseBindMatrices.push_back(content::affineInverse(globals[node]));
    }
    return skin;
}

}  // namespace kestrune::baker
