#include "render/hlsl_sources.h"

namespace kestrune::render {

// Each text opens and closes with a newline; the compiler is given exactly these characters.
const std::string_view kPrimitiveVertexHlsl = R"(
cbuffer SceneConstants : register(b0) {
    row_major float4x4 worldViewProjection;
    row_major float4x4 world;
    float4 tint;
    float4 lightAndTexture; // ambient, directional, useTexture, alphaCutoff
};

struct VertexInput {
    float3 position : POSITION;
    float3 normal : NORMAL;
    float2 uv : TEXCOORD0;
    float4 color : COLOR0;
};

struct VertexOutput {
    float4 position : SV_POSITION;
    float3 worldNormal : NORMAL;
    float2 uv : TEXCOORD0;
    float4 color : COLOR0;
};

VertexOutput main(VertexInput input) {
    VertexOutput output;
    output.position = mul(float4(input.position, 1.0f), worldViewProjection);
    output.worldNormal = normalize(mul(float4(input.normal, 0.0f), world).xyz);
    output.uv = input.uv;
    output.color = input.color * tint;
    return output;
}
)";

const std::string_view kPixelHlsl = R"(
Texture2D baseTexture : register(t0);
SamplerState linearSampler : register(s0);

cbuffer SceneConstants : register(b0) {
    row_major float4x4 worldViewProjection;
    row_major float4x4 world;
    float4 tint;
    float4 lightAndTexture;
};

float4 main(
    float4 position : SV_POSITION,
    float3 worldNormal : NORMAL,
    float2 uv : TEXCOORD0,
    float4 color : COLOR0) : SV_TARGET {
    float4 texel = baseTexture.Sample(linearSampler, uv);
    texel = lerp(float4(1.0f, 1.0f, 1.0f, 1.0f), texel, lightAndTexture.z);
    float3 lightDirection = normalize(float3(-0.38f, 0.82f, -0.42f));
    float diffuse = saturate(dot(normalize(worldNormal), lightDirection));
    float lighting = lightAndTexture.x + lightAndTexture.y * diffuse;
    float4 result = texel * color;
    result.rgb *= lighting;
    clip(result.a - lightAndTexture.w);
    return result;
}
)";

const std::string_view kModelVertexHlsl = R"(
cbuffer SceneConstants : register(b0) {
    row_major float4x4 worldViewProjection;
    row_major float4x4 world;
    float4 tint;
    float4 lightAndTexture;
};

cbuffer SkinConstants : register(b1) {
    row_major float4x4 skinMatrices[128];
    uint4 skinMetadata; // enabled, matrix count, reserved, reserved
};

struct VertexInput {
    float3 position : POSITION;
    float3 normal : NORMAL;
    float2 uv : TEXCOORD0;
    uint4 joints : BLENDINDICES0;
    float4 weights : BLENDWEIGHT0;
};

struct VertexOutput {
    float4 position : SV_POSITION;
    float3 worldNormal : NORMAL;
    float2 uv : TEXCOORD0;
    float4 color : COLOR0;
};

VertexOutput main(VertexInput input) {
    float3 localPosition = input.position;
    float3 localNormal = input.normal;
    if (skinMetadata.x != 0) {
        float4 sourcePosition = float4(input.position, 1.0f);
        float4 sourceNormal = float4(input.normal, 0.0f);
        float4 skinnedPosition = 0.0f;
        float3 skinnedNormal = 0.0f;
        float totalWeight = 0.0f;
        [unroll]
        for (uint influence = 0; influence < 4; ++influence) {
            float weight = input.weights[influence];
            uint joint = input.joints[influence];
            if (weight > 0.0f && joint < skinMetadata.y) {
                skinnedPosition += mul(sourcePosition, skinMatrices[joint]) * weight;
                skinnedNormal += mul(sourceNormal, skinMatrices[joint]).xyz * weight;
                totalWeight += weight;
            }
        }
        if (totalWeight > 0.0001f) {
            localPosition = skinnedPosition.xyz / totalWeight;
            localNormal = normalize(skinnedNormal / totalWeight);
        }
    }

    VertexOutput output;
    output.position = mul(float4(localPosition, 1.0f), worldViewProjection);
    output.worldNormal = normalize(mul(float4(localNormal, 0.0f), world).xyz);
    output.uv = input.uv;
    output.color = tint;
    return output;
}
)";

}  // namespace kestrune::render
