#include "render/gl/shader_sources_gl.h"

namespace kestrune::render::gl {

const std::string_view kPrimitiveVertexSource = R"(
layout(location = 0) in vec3 inPosition;
layout(location = 1) in vec3 inNormal;
layout(location = 2) in vec2 inUv;
layout(location = 3) in vec4 inColor;

out vec3 worldNormal;
out vec2 uv;
out vec4 color;

void main() {
    gl_Position = vec4(inPosition, 1.0) * worldViewProjection;
    worldNormal = normalize((vec4(inNormal, 0.0) * world).xyz);
    uv = inUv;
    color = inColor * tint;
    if (remapDepth) {
        gl_Position.z = gl_Position.z * 2.0 - gl_Position.w;
    }
}
)";

const std::string_view kPixelSource = R"(
uniform sampler2D baseTexture;

in vec3 worldNormal;
in vec2 uv;
in vec4 color;

out vec4 fragColor;

void main() {
    vec4 texel = texture(baseTexture, uv);
    texel = mix(vec4(1.0, 1.0, 1.0, 1.0), texel, lightAndTexture.z);
    vec3 lightDirection = normalize(vec3(-0.38, 0.82, -0.42));
    float diffuse = clamp(dot(normalize(worldNormal), lightDirection), 0.0, 1.0);
    float lighting = lightAndTexture.x + lightAndTexture.y * diffuse;
    vec4 result = texel * color;
    result.rgb *= lighting;
    if (result.a - lightAndTexture.w < 0.0) {
        discard;
    }
    fragColor = result;
}
)";

const std::string_view kModelVertexSource = R"(
layout(std140, row_major) uniform SkinConstants {
    mat4 skinMatrices[128];
    uvec4 skinMetadata; // enabled, matrix count, reserved, reserved
};

layout(location = 0) in vec3 inPosition;
layout(location = 1) in vec3 inNormal;
layout(location = 2) in vec2 inUv;
layout(location = 3) in uvec4 inJoints;
layout(location = 4) in vec4 inWeights;

out vec3 worldNormal;
out vec2 uv;
out vec4 color;

void main() {
    vec3 localPosition = inPosition;
    vec3 localNormal = inNormal;
    if (skinMetadata.x != 0u) {
        vec4 sourcePosition = vec4(inPosition, 1.0);
        vec4 sourceNormal = vec4(inNormal, 0.0);
        vec4 skinnedPosition = vec4(0.0);
        vec3 skinnedNormal = vec3(0.0);
        float totalWeight = 0.0;
        for (int influence = 0; influence < 4; ++influence) {
            float weight = inWeights[influence];
            uint joint = inJoints[influence];
            if (weight > 0.0 && joint < skinMetadata.y) {
                skinnedPosition += (sourcePosition * skinMatrices[joint]) * weight;
                skinnedNormal += (sourceNormal * skinMatrices[joint]).xyz * weight;
                totalWeight += weight;
            }
        }
        if (totalWeight > 0.0001) {
            localPosition = skinnedPosition.xyz / totalWeight;
            localNormal = normalize(skinnedNormal / totalWeight);
        }
    }

    gl_Position = vec4(localPosition, 1.0) * worldViewProjection;
    worldNormal = normalize((vec4(localNormal, 0.0) * world).xyz);
    uv = inUv;
    color = tint;
    if (remapDepth) {
        gl_Position.z = gl_Position.z * 2.0 - gl_Position.w;
    }
}
)";

namespace {

// Every program reads the same constant block at binding 0.
constexpr std::string_view kSceneConstantsBlock = R"(
layout(std140, row_major) uniform SceneConstants {
    mat4 worldViewProjection;
    mat4 world;
    vec4 tint;
    vec4 lightAndTexture; // ambient, directional, useTexture, alphaCutoff
};
)";

}  // namespace

std::string completeShaderSource(std::string_view body, bool remapDepth) {
    std::string source = "#version 330 core\n";
    source += remapDepth ? "const bool remapDepth = true;\n" : "const bool remapDepth = false;\n";
    source += kSceneConstantsBlock;
    source += body;
    return source;
}

}  // namespace kestrune::render::gl
