#include "effects/effect_catalogue.h"

#include <algorithm>
#include <cstddef>

// The tables below are written to be read side by side with the designers' sheets: one line
// per row, in sheet order, with the sheet's own columns. The static_asserts at the end check
// what a typo would break (contiguous ranges, indices inside their tables, sane times).

namespace kestrune::effects {
namespace {

// ---- Section: Row helpers ----

struct Triple {
    f64 x = 0.0;
    f64 y = 0.0;
    f64 z = 0.0;
};

constexpr f32 toF32(f64 value) { return static_cast<f32>(value); }

// A key as the sheet lists it: time, alpha, colour RGB, offset (A0, A1, A2), width A3 x
// height B0, angles (B1, B2, B3).
constexpr Keyframe key(f64 time, u32 alpha, u32 rgb, Triple offset, f64 width, f64 height, Triple angles) {
    return {toF32(time),
            (alpha << 24) | rgb,
            {toF32(offset.x), toF32(offset.y), toF32(offset.z), toF32(width)},
            {toF32(height), toF32(angles.x), toF32(angles.y), toF32(angles.z)}};
}

// "first to last" as the sheets write ranges of keys and tracks.
constexpr KeyframeTrack keys(u16 first, u16 last) { return {first, static_cast<u8>(last - first + 1)}; }

struct TrackRange {
    u16 first = 0;
    u16 count = 0;
};
constexpr TrackRange tracks(u16 first, u16 last) { return {first, static_cast<u16>(last - first + 1)}; }

constexpr std::string_view kNoModel{};

constexpr ComponentTemplate componentTemplate(u16 family, u16 number, std::string_view model,
                                              std::string_view texture, RenderType type, u8 blend,
                                              f64 lifetimeSeconds, f64 sizeFactor, TrackRange trackRange) {
    return {family, number, model, texture, type, blend, lifetimeSeconds, toF32(sizeFactor),
            trackRange.first, trackRange.count};
}

constexpr ComponentReference reference(u16 templateIndex, f64 delaySeconds, Triple offset, u16 group,
                                       u16 order) {
    return {templateIndex, delaySeconds, Vec3{toF32(offset.x), toF32(offset.y), toF32(offset.z)}, group,
            order};
}

constexpr EffectDefinition definition(u32 id, f64 durationSeconds, u16 firstReference, u16 lastReference) {
    return {id, durationSeconds, firstReference, lastReference};
}

constexpr auto kModel = RenderType::Model;
constexpr auto kQuad = RenderType::Quad;
constexpr auto kGround = RenderType::GroundMark;
constexpr auto kAdditiveQuad = RenderType::AdditiveQuad;

// ---- Section: Effect definitions ----

constexpr std::array kDefinitions{
    //         id   duration  references
    definition(194, 1.5,      0, 2),
    definition(195, 2.0,      3, 5),
    definition(221, 3.0,      6, 9),
    definition(222, 1.0,      10, 11),
    definition(232, 1.5,      12, 23),
};

// ---- Section: Component references ----

constexpr std::array kReferences{
    //        template  delay  offset       group  order      ref
    reference(1,        0,     {0, 0, 0},   217,   0),     //  0
    reference(2,        0.03,  {0, 0, 0},   217,   1),     //  1
    reference(1,        0.04,  {0, 0, 0},   217,   2),     //  2
    reference(0,        0,     {0, 0, 0},   218,   0),     //  3
    reference(3,        0,     {0, 0, 0},   218,   1),     //  4
    reference(3,        0.15,  {0, 0, 0},   218,   2),     //  5
    reference(4,        0,     {0, 0, 0},   406,   0),     //  6
    reference(5,        0.1,   {0, 0, 0},   406,   1),     //  7
    reference(4,        0.1,   {0, 0, 0},   406,   2),     //  8
    reference(4,        0.2,   {0, 0, 0},   406,   3),     //  9
    reference(9,        0,     {0, 0, 0},   408,   0),     // 10
    reference(16,       0,     {0, 0, 0},   408,   1),     // 11
    reference(10,       0.03,  {0, 0, 0},   407,   0),     // 12
    reference(11,       0.03,  {0, 0, 0},   407,   1),     // 13
    reference(12,       0.05,  {0, 0, 0},   407,   2),     // 14
    reference(13,       0.05,  {0, 0, 0},   407,   3),     // 15
    reference(14,       0.05,  {0, 0, 0},   407,   4),     // 16
    reference(15,       0.05,  {0, 0, 0},   407,   5),     // 17
    reference(14,       0.05,  {0, 0, 0},   407,   6),     // 18
    reference(15,       0.05,  {0, 0, 0},   407,   7),     // 19
    reference(7,        0.03,  {0, 0.5, 0}, 407,   8),     // 20
    reference(6,        0.05,  {0, 0.5, 0}, 407,   9),     // 21
    reference(8,        0.05,  {0, 0.5, 0}, 407,   10),    // 22
    reference(7,        0.1,   {0, 0.5, 0}, 407,   11),    // 23
};

// ---- Section: Component templates ----

constexpr std::array kTemplates{
    //                ids       model                                 texture                              type           blend lifetime size tracks             T
    componentTemplate(80, 71,   kNoModel,                             "textures/wrchargedash01.png",      kAdditiveQuad, 1,    0.5,     1,   tracks(0, 1)),   //  0
    componentTemplate(80, 72,   "models/charge_dash_01/effect.kmdl",  "textures/wrchargedash02.png",      kModel,        1,    0.32,    1,   tracks(2, 2)),   //  1
    componentTemplate(80, 73,   "models/charge_dash_02/effect.kmdl",  "textures/wrchargedash03.png",      kModel,        1,    0.4,     1,   tracks(3, 4)),   //  2
    componentTemplate(80, 74,   kNoModel,                             "textures/wrchargedash04.png",      kAdditiveQuad, 1,    0.32,    1,   tracks(5, 5)),   //  3
    componentTemplate(66, 268,  kNoModel,                             "textures/preffect011.png",         kQuad,         1,    0.6,     1,   tracks(6, 6)),   //  4
    componentTemplate(66, 269,  kNoModel,                             "textures/partstreetlight01.png",   kQuad,         1,    1.1,     1,   tracks(7, 7)),   //  5
    componentTemplate(66, 270,  kNoModel,                             "textures/preffect011.png",         kQuad,         1,    0.4,     1,   tracks(8, 8)),   //  6
    componentTemplate(66, 271,  kNoModel,                             "textures/billcastlemonster01.png", kQuad,         1,    0.35,    1,   tracks(9, 9)),   //  7
    componentTemplate(66, 272,  kNoModel,                             "textures/wrslugger02.png",         kQuad,         1,    0.4,     1,   tracks(10, 10)), //  8
    componentTemplate(66, 273,  kNoModel,                             "textures/wrslugger02.png",         kQuad,         1,    0.4,     1,   tracks(11, 11)), //  9
    componentTemplate(68, 52,   kNoModel,                             "textures/mtearthquake01.png",      kGround,       1,    1.3,     1,   tracks(12, 12)), // 10
    componentTemplate(68, 53,   kNoModel,                             "textures/mtearthquake02.png",      kGround,       1,    1.7,     1,   tracks(13, 13)), // 11
    componentTemplate(80, 859,  "models/impact_energy/effect.kmdl",   "textures/mtminoattack01.png",      kModel,        1,    0.35,    2,   tracks(14, 16)), // 12
    componentTemplate(80, 860,  "models/impact_ground/effect.kmdl",   "textures/mtminoattack02.png",      kModel,        0,    1.5,     1,   tracks(17, 17)), // 13
    componentTemplate(80, 861,  "models/impact_stone_01/effect.kmdl", "textures/mtminoattack02.png",      kModel,        0,    1.0,     1,   tracks(18, 21)), // 14
    componentTemplate(80, 862,  "models/impact_stone_02/effect.kmdl", "textures/mtminoattack02.png",      kModel,        0,    1.0,     1,   tracks(22, 26)), // 15
    componentTemplate(80, 863,  kNoModel,                             "textures/mtgyration02.png",        kAdditiveQuad, 1,    0.28,    1,   tracks(27, 28)), // 16
};

// ---- Section: Keyframe tracks ----

constexpr std::array kTracks{
    keys(0, 5),     keys(6, 11),    keys(12, 16),   keys(17, 21),   keys(22, 26),   //  0 to  4
    keys(27, 31),   keys(32, 34),   keys(35, 38),   keys(39, 41),   keys(42, 44),   //  5 to  9
    keys(45, 47),   keys(48, 50),   keys(51, 54),   keys(55, 58),   keys(59, 62),   // 10 to 14
    keys(63, 66),   keys(67, 70),   keys(71, 74),   keys(75, 77),   keys(78, 80),   // 15 to 19
    keys(81, 83),   keys(84, 86),   keys(87, 89),   keys(90, 92),   keys(93, 95),   // 20 to 24
    keys(96, 98),   keys(99, 101),  keys(102, 104), keys(105, 107),                 // 25 to 28
};

// ---- Section: Keys ----

constexpr std::array kKeys{
    //  time  alpha colour    offset (A0, A1, A2)  width x height   angles (B1, B2, B3)
    // Track 0: the first key is listed twice, both at time 0.
    key(0,    0x00, 0xFFFFFF, {0, 0, 0},           4.8,  4.8,       {0, 0, 0}),
    key(0,    0x00, 0xFFFFFF, {0, 0, 0},           4.8,  4.8,       {0, 0, 0}),
    key(0.1,  0x90, 0xFFFFFF, {0, 0, 0},           4.8,  4.8,       {0, 0, 0}),
    key(0.3,  0x80, 0xFFFFFF, {0, 0, 0},           4.8,  4.8,       {0, 0, 0}),
    key(0.7,  0x00, 0xFFFFFF, {0, 0, 0},           4.8,  4.8,       {0, 0, 0}),
    key(1,    0x00, 0xFFFFFF, {0, 0, 0},           4.8,  4.8,       {0, 0, 0}),
    // Track 1
    key(0,    0x00, 0xFFFFFF, {0, 0, 0},           3.2,  3.2,       {1.2, 0, 0}),
    key(0.1,  0x00, 0xFFFFFF, {0, 0, 0},           3.2,  3.2,       {1.2, 0, 0}),
    key(0.2,  0x96, 0xFFFFFF, {0, 0, 0},           4.8,  4.8,       {1.2, 0, 0}),
    key(0.4,  0x80, 0xFFFFFF, {0, 0, 0},           6.4,  6.4,       {1.2, 0, 0}),
    key(0.7,  0x00, 0xFFFFFF, {0, 0, 0},           8,    8,         {1.2, 0, 0}),
    key(1,    0x00, 0xFFFFFF, {0, 0, 0},           8,    8,         {1.2, 0, 0}),
    // Track 2
    key(0,    0x00, 0xFFFFFF, {0, 0, 1},           1,    1,         {0, 0, 0}),
    key(0.2,  0xAA, 0xFFFFFF, {0, 0, 1},           1.7,  1.7,       {0, 0, 0}),
    key(0.5,  0x96, 0xFFFFFF, {0, 0, 1},           2.4,  2.4,       {0, 0, 0}),
    key(0.75, 0x30, 0xFFFFFF, {0, 0, 1},           3.1,  3.1,       {0, 0, 0}),
    key(1,    0x00, 0xFFFFFF, {0, 0, 1},           3.5,  3.5,       {0, 0, 0}),
    // Track 3
    key(0,    0x00, 0xFFFFFF, {0, 0, 0},           1.44, 1.44,      {0, 0, 0}),
    key(0.2,  0x80, 0xFFFFFF, {0, 0, 0},           1.44, 1.44,      {0, 0, 0}),
    key(0.5,  0x60, 0xFFFFFF, {0, 0, 0},           1.44, 1.44,      {0, 0, 0}),
    key(0.75, 0x20, 0xFFFFFF, {0, 0, 0},           1.44, 1.44,      {0, 0, 0}),
    key(1,    0x00, 0xFFFFFF, {0, 0, 0},           1.44, 1.44,      {0, 0, 0}),
    // Track 4
    key(0,    0x00, 0xFFFFFF, {0, 0, 0},           1.08, 1.08,      {0, 0, -1}),
    key(0.2,  0x80, 0xFFFFFF, {0, 0, 0},           1.08, 1.08,      {0, 0, -1}),
    key(0.5,  0x60, 0xFFFFFF, {0, 0, 0},           1.08, 1.08,      {0, 0, -1}),
    key(0.75, 0x20, 0xFFFFFF, {0, 0, 0},           1.08, 1.08,      {0, 0, -1}),
    key(1,    0x00, 0xFFFFFF, {0, 0, 0},           1.08, 1.08,      {0, 0, -1}),
    // Track 5
    key(0,    0x00, 0xFFFFFF, {0, 0, 0},           3.15, 3.15,      {0, 0, 0}),
    key(0.25, 0x50, 0xFFFFFF, {0, 0, 0},           4.95, 4.95,      {0, 0, 0}),
    key(0.5,  0x40, 0xFFFFFF, {0, 0, 0},           6.3,  6.3,       {0, 0, 0}),
    key(0.75, 0x20, 0xFFFFFF, {0, 0, 0},           7.65, 7.65,      {0, 0, 0}),
    key(1,    0x00, 0xFFFFFF, {0, 0, 0},           8.55, 8.55,      {0, 0, 0}),
    // Track 6
    key(0,    0x00, 0xFF6D50, {0, 0, 0},           7,    7,         {0, 0, 0}),
    key(0.3,  0xAA, 0xFF6D50, {0, 0, 0},           5,    5,         {0, 0, 0}),
    key(1,    0x00, 0xFF6D50, {0, 0, 0},           1,    1,         {0, 0, 0}),
    // Track 7
    key(0,    0x00, 0xFFA772, {0, 0, 0},           3,    3,         {0, 0, 0}),
    key(0.2,  0xFF, 0xFFA772, {0, 0, 0},           3,    3,         {0, 0, 0}),
    key(0.8,  0xEE, 0xFFA772, {0, 0, 0},           3,    3,         {0, 0, 0}),
    key(1,    0x00, 0xFFA772, {0, 0, 0},           3,    3,         {0, 0, 0}),
    // Track 8
    key(0,    0x00, 0xFF4F4F, {0, 0, 1},           1,    1,         {0, 0, 0}),
    key(0.2,  0xFF, 0xFF4F4F, {0, 0, 1},           3.5,  3.5,       {0, 0, 0}),
    key(1,    0x00, 0xFF4F4F, {0, 0, 1},           12,   12,        {0, 0, 0}),
    // Track 9
    key(0,    0x00, 0xFFB47D, {0, 0, 1},           1,    1,         {0, 0, 0}),
    key(0.2,  0xFF, 0xFFB47D, {0, 0, 1},           4.5,  4.5,       {0, 0, 0}),
    key(1,    0x00, 0xFFB47D, {0, 0, 1},           16,   16,        {0, 0, 0}),
    // Track 10
    key(0,    0x00, 0xFFFFFF, {0, 0, 1},           5,    5,         {0, 1, 0}),
    key(0.2,  0xFF, 0xFFFFFF, {0, 0, 1},           8,    8,         {0, 1, 0}),
    key(1,    0x00, 0xFFFFFF, {0, 0, 1},           12,   12,        {0, 1, 0}),
    // Track 11
    key(0,    0x00, 0xFFFFFF, {0, 0, 0},           3,    3,         {0, 1, 0}),
    key(0.2,  0xFF, 0xFFFFFF, {0, 0, 0},           6,    6,         {0, 1, 0}),
    key(1,    0x00, 0xFFFFFF, {0, 0, 0},           8,    8,         {0, 1, 0}),
    // Track 12
    key(0,    0x00, 0xFFADA7, {0, 0, 1},           0,    0,         {0, 0, 0}),
    key(0.1,  0xFF, 0xFFADA7, {0, 0, 1},           0,    0,         {0, 0, 0}),
    key(0.5,  0x80, 0xFFADA7, {0, 0, 1},           0,    0,         {0, 0, 0}),
    key(1,    0x00, 0xFFADA7, {0, 0, 1},           0,    0,         {0, 0, 0}),
    // Track 13: the colour changes between keys.
    key(0,    0x00, 0xFF7145, {0, 0, 1},           0,    0,         {0, 0, 0}),
    key(0.1,  0xFF, 0xFF7145, {0, 0, 1},           0,    0,         {0, 0, 0}),
    key(0.5,  0x80, 0xFF312A, {0, 0, 1},           0,    0,         {0, 0, 0}),
    key(1,    0x00, 0xFF312A, {0, 0, 1},           0,    0,         {0, 0, 0}),
    // Track 14
    key(0,    0x00, 0xFF7F6A, {0, 0, 1},           1,    4,         {0, 0, 0}),
    key(0.15, 0xFF, 0xFF7F6A, {0, 0, 1},           1.5,  5,         {0, 0, 0}),
    key(0.5,  0x50, 0xFF7F6A, {0, 0, 1},           2,    5.5,       {0, 0, 0}),
    key(1,    0x00, 0xFF7F6A, {0, 0, 1},           2.5,  4,         {0, 0, 0}),
    // Track 15
    key(0,    0x00, 0xFF4335, {0, 0, 1},           1.9,  3.8,       {0, 0, 0}),
    key(0.25, 0xDD, 0xFF4335, {0, 0, 1},           2.1,  3.6,       {0, 0, 0}),
    key(0.5,  0x40, 0xFF4335, {0, 0, 1},           2.5,  3.5,       {0, 0, 0}),
    key(1,    0x00, 0xFF4335, {0, 0, 1},           3,    3.5,       {0, 0, 0}),
    // Track 16
    key(0,    0x00, 0xCC1F1F, {0, 0, 1},           2.8,  3.3,       {1, 0, 0}),
    key(0.25, 0x96, 0xCC1F1F, {0, 0, 1},           3.1,  3.1,       {1, 0, 0}),
    key(0.5,  0x20, 0xCC1F1F, {0, 0, 1},           3.5,  3,         {1, 0, 0}),
    key(1,    0x00, 0xCC1F1F, {0, 0, 1},           4,    2.8,       {1, 0, 0}),
    // Track 17
    key(0,    0xFF, 0xFFFFFF, {0, -1.5, 1},        1,    1,         {0, 0, 0}),
    key(0.07, 0xFF, 0xFFFFFF, {0, 0, 1},           1,    1,         {0, 0, 0}),
    key(0.6,  0xFF, 0xFFFFFF, {0, 0, 1},           1,    1,         {0, 0, 0}),
    key(1,    0x00, 0xFFFFFF, {0, 0, 1},           1,    1,         {0, 0, 0}),
    // Track 18
    key(0,    0xFF, 0xFFFFFF, {0, 0, 1},           0.07, 0.07,      {0, 0, 0}),
    key(0.2,  0xFF, 0xFFFFFF, {0, 0, 1},           0.07, 0.07,      {0, 0, 0}),
    key(1,    0xFF, 0xFFFFFF, {0, 0, 1},           0.07, 0.07,      {0, 0, 0}),
    // Track 19
    key(0,    0xFF, 0xFFFFFF, {0, 0, 1},           0.08, 0.08,      {1, 0.5, 0}),
    key(0.2,  0xFF, 0xFFFFFF, {0, 0, 1},           0.08, 0.08,      {1, 0.5, 0}),
    key(1,    0xFF, 0xFFFFFF, {0, 0, 1},           0.08, 0.08,      {1, 0.5, 0}),
    // Track 20
    key(0,    0xFF, 0xFFFFFF, {0, 0, 1},           0.07, 0.07,      {3, 3, -1}),
    key(0.2,  0xFF, 0xFFFFFF, {0, 0, 1},           0.07, 0.07,      {3, 3, -1}),
    key(1,    0xFF, 0xFFFFFF, {0, 0, 1},           0.07, 0.07,      {3, 3, -1}),
    // Track 21
    key(0,    0xFF, 0xFFFFFF, {0, 0, 1},           0.06, 0.06,      {-1, -0.5, 0}),
    key(0.2,  0xFF, 0xFFFFFF, {0, 0, 1},           0.06, 0.06,      {-1, -0.5, 0}),
    key(1,    0xFF, 0xFFFFFF, {0, 0, 1},           0.06, 0.06,      {-1, -0.5, 0}),
    // Track 22
    key(0,    0xFF, 0xFFFFFF, {0, 0, 1},           0.15, 0.15,      {0, 0, 0}),
    key(0.5,  0xFF, 0xFFFFFF, {0, 0, 1},           0.15, 0.15,      {0, 0, 0}),
    key(1,    0xFF, 0xFFFFFF, {0, 0, 1},           0.15, 0.15,      {0, 0, 0}),
    // Track 23
    key(0,    0xFF, 0xFFFFFF, {0, 0, 1},           0.12, 0.12,      {1, 0, 1}),
    key(0.5,  0xFF, 0xFFFFFF, {0, 0, 1},           0.12, 0.12,      {1, 0, 1}),
    key(1,    0xFF, 0xFFFFFF, {0, 0, 1},           0.12, 0.12,      {1, 0, 1}),
    // Track 24
    key(0,    0xFF, 0xFFFFFF, {0, 0, 1},           0.2,  0.2,       {-1, -2, 0}),
    key(0.5,  0xFF, 0xFFFFFF, {0, 0, 1},           0.25, 0.15,      {0, 0, 0}),
    key(1,    0xFF, 0xFFFFFF, {0, 0, 1},           0.2,  0.2,       {-1, -2, 0}),
    // Track 25
    key(0,    0xFF, 0xFFFFFF, {0, 0, 1},           0.1,  0.1,       {-1, 0, -1}),
    key(0.5,  0xFF, 0xFFFFFF, {0, 0, 1},           0.1,  0.1,       {-1, 0, -1}),
    key(1,    0xFF, 0xFFFFFF, {0, 0, 1},           0.1,  0.1,       {-1, 0, -1}),
    // Track 26
    key(0,    0xFF, 0xFFFFFF, {0, 0, 1},           0.2,  0.2,       {1, 2, 0}),
    key(0.5,  0xFF, 0xFFFFFF, {0, 0, 1},           0.2,  0.2,       {1, 2, 0}),
    key(1,    0xFF, 0xFFFFFF, {0, 0, 1},           0.2,  0.2,       {1, 2, 0}),
    // Track 27
    key(0,    0x00, 0xFF7D6F, {0, 0, 0},           1.5,  1.5,       {0, 1, 0}),
    key(0.3,  0x80, 0xFF7D6F, {0, 0, 0},           3,    3,         {0, 1, 0}),
    key(1,    0x00, 0xFF7D6F, {0, 0, 0},           5,    5,         {0, 1, 0}),
    // Track 28
    key(0,    0x00, 0xFF9C70, {0, 0, 0},           1,    1,         {1.2, 1, 0}),
    key(0.3,  0x80, 0xFF9C70, {0, 0, 0},           2,    2,         {1.2, 1, 0}),
    key(1,    0x00, 0xFF9C70, {0, 0, 0},           2.5,  2.5,       {1.2, 1, 0}),
};

// ---- Section: Spawn rule ----

enum class Anchor : u8 {
    Source,          // at the acting character, following nothing
    FollowedTarget,  // at the target character, following it
};

struct SpawnRuleRow {
    u32 skill = 0;
    u8 kind = 0;
    std::array<u32, 2> definitionIds{};  // 0 leaves the slot empty
    Anchor anchor = Anchor::Source;
};

// A skill and stage missing here (1002 at kind 3, every other skill) shows nothing.
constexpr std::array kSpawnRuleRows{
    //           skill kind  definitions  anchor
    SpawnRuleRow{1001, 1,    {194},       Anchor::Source},
    SpawnRuleRow{1001, 2,    {195},       Anchor::FollowedTarget},
    SpawnRuleRow{1001, 3,    {195},       Anchor::FollowedTarget},
    SpawnRuleRow{1002, 1,    {221, 222},  Anchor::Source},
    SpawnRuleRow{1002, 2,    {232},       Anchor::Source},
};

// ---- Section: Derived data ----

constexpr std::size_t kNotFound = ~std::size_t{0};

constexpr std::size_t definitionIndex(u32 id) {
    for (std::size_t i = 0; i < kDefinitions.size(); ++i) {
        if (kDefinitions[i].id == id) return i;
    }
    return kNotFound;
}

constexpr u64 componentsOfDefinition(const EffectDefinition& effect) {
    u64 count = 0;
    for (std::size_t r = effect.firstReference; r <= effect.lastReference; ++r) {
        count += instancesOf(kTemplates[kReferences[r].templateIndex]);
    }
    return count;
}

constexpr SpawnRule resolve(const SpawnRuleRow& row) {
    SpawnRule rule;
    rule.skill = row.skill;
    rule.kind = row.kind;
    rule.followsTarget = row.anchor == Anchor::FollowedTarget;
    for (const u32 id : row.definitionIds) {
        if (id == 0) continue;
        const std::size_t index = definitionIndex(id);
        rule.definitions[rule.definitionCount++] = static_cast<u16>(index);
        rule.componentCount += componentsOfDefinition(kDefinitions[index]);
    }
    return rule;
}

constexpr auto resolveAll() {
    std::array<SpawnRule, kSpawnRuleRows.size()> rules{};
    for (std::size_t i = 0; i < rules.size(); ++i) rules[i] = resolve(kSpawnRuleRows[i]);
    return rules;
}

// ---- Section: Consistency checks ----

static_assert(kDefinitions.size() == 5 && kReferences.size() == 24 && kTemplates.size() == 17 &&
                  kTracks.size() == 29 && kKeys.size() == 108,
              "catalogue tables have their designed sizes");

constexpr bool definitionsAreSound() {
    std::size_t nextReference = 0;
    for (std::size_t i = 0; i < kDefinitions.size(); ++i) {
        const EffectDefinition& effect = kDefinitions[i];
        if (effect.id == 0 || !(effect.durationSeconds > 0.0)) return false;
        if (effect.firstReference != nextReference || effect.lastReference < effect.firstReference) return false;
        nextReference = std::size_t{effect.lastReference} + 1;
        for (std::size_t j = 0; j < i; ++j) {
            if (kDefinitions[j].id == effect.id) return false;
        }
    }
    return nextReference == kReferences.size();
}
static_assert(definitionsAreSound(),
              "definitions have unique non-zero ids, positive durations, and their reference ranges "
              "follow each other without gaps and cover every reference");

constexpr bool referencesAreSound() {
    for (const ComponentReference& ref : kReferences) {
        if (ref.templateIndex >= kTemplates.size() || !(ref.delaySeconds >= 0.0)) return false;
    }
    return true;
}
static_assert(referencesAreSound(), "references name existing templates and have non-negative delays");

constexpr bool templatesAreSound() {
    std::size_t nextTrack = 0;
    for (const ComponentTemplate& t : kTemplates) {
        const bool hasModel = !t.modelPath.empty();
        if (hasModel != (t.renderType == RenderType::Model) || t.texturePath.empty()) return false;
        if (t.blend > 1 || !(t.lifetimeSeconds > 0.0) || !(t.sizeFactor > 0.0f)) return false;
        if (t.firstTrack != nextTrack) return false;
        nextTrack = std::size_t{t.firstTrack} + instancesOf(t);
    }
    return nextTrack == kTracks.size();
}
static_assert(templatesAreSound(),
              "templates have a model exactly when drawn as models, a texture, a blend flag of 0 or 1, "
              "positive lifetimes and sizes, and their track ranges follow each other inside the tracks");

constexpr bool tracksAreSound() {
    std::size_t nextKey = 0;
    for (const KeyframeTrack& track : kTracks) {
        if (track.firstKey != nextKey || track.keyCount == 0) return false;
        nextKey = std::size_t{track.firstKey} + track.keyCount;
        if (nextKey > kKeys.size()) return false;
        f32 previousTime = 0.0f;
        for (std::size_t k = track.firstKey; k < nextKey; ++k) {
            const f32 time = kKeys[k].time;
            if (!(time >= previousTime) || time > 1.0f) return false;
            previousTime = time;
        }
    }
    return nextKey == kKeys.size();
}
static_assert(tracksAreSound(),
              "tracks follow each other without gaps from key 0 to the last key, and key times lie in "
              "0..1 without decreasing within a track");

constexpr bool spawnRulesAreSound() {
    for (std::size_t i = 0; i < kSpawnRuleRows.size(); ++i) {
        const SpawnRuleRow& row = kSpawnRuleRows[i];
        if (row.kind < 1 || row.kind > 3 || row.definitionIds[0] == 0) return false;
        for (const u32 id : row.definitionIds) {
            if (id != 0 && definitionIndex(id) == kNotFound) return false;
        }
        for (std::size_t j = 0; j < i; ++j) {
            if (kSpawnRuleRows[j].skill == row.skill && kSpawnRuleRows[j].kind == row.kind) return false;
        }
    }
    return true;
}
static_assert(spawnRulesAreSound(),
              "spawn rows have kinds 1 to 3, name existing definitions, and no skill and kind twice");

constexpr auto kSpawnRules = resolveAll();

}  // namespace

std::span<const EffectDefinition> effectDefinitions() noexcept { return kDefinitions; }
std::span<const ComponentReference> componentReferences() noexcept { return kReferences; }
std::span<const ComponentTemplate> componentTemplates() noexcept { return kTemplates; }
std::span<const KeyframeTrack> keyframeTracks() noexcept { return kTracks; }
std::span<const Keyframe> keyframes() noexcept { return kKeys; }
std::span<const SpawnRule> spawnRules() noexcept { return kSpawnRules; }

std::span<const Keyframe> trackKeys(const KeyframeTrack& track) noexcept {
    return std::span<const Keyframe>(kKeys).subspan(track.firstKey, track.keyCount);
}

const EffectDefinition* findEffectDefinition(u32 id) noexcept {
    const auto found = std::find_if(kDefinitions.begin(), kDefinitions.end(),
                                    [id](const EffectDefinition& effect) { return effect.id == id; });
    return found == kDefinitions.end() ? nullptr : &*found;
}

const SpawnRule* findSpawnRule(u32 skill, u8 kind) noexcept {
    const auto found = std::find_if(kSpawnRules.begin(), kSpawnRules.end(), [&](const SpawnRule& rule) {
        return rule.skill == skill && rule.kind == kind;
    });
    return found == kSpawnRules.end() ? nullptr : &*found;
}

}  // namespace kestrune::effects
