#include "app/smoke_report.h"

#include <cmath>
#include <cstdio>
#include <initializer_list>
#include <optional>
#include <stdexcept>

#include "app/text_conversion.h"
#include "app/text_file.h"
#include "base/utf16.h"

namespace kestrune::app {
namespace {

constexpr u32 kReportSchema = 1;
constexpr std::string_view kRuntimeName = "KestruneNative";
constexpr std::string_view kRuntimeVersion = "0.1.0";
constexpr std::string_view kConversionFailedText = "<utf8-conversion-failed>";
constexpr char kControlReplacement = '?';

struct Member {
    std::string_view key;
    std::string value;
};

std::string inQuotes(std::string_view contents) {
    std::string out;
    out.reserve(contents.size() + 2);
    out += '"';
    out += contents;
    out += '"';
    return out;
}
std::string text(std::u16string_view value) { return inQuotes(escapeReportString(value)); }
std::string boolean(bool value) { return value ? "true" : "false"; }
std::string pair(std::string_view first, std::string_view second) {
    std::string out("[");
    out.append(first).append(", ").append(second).push_back(']');
    return out;
}
std::string integer(u64 value) { return std::to_string(value); }

// Members one per line at `indent` plus two spaces; the closing brace at `indent`.
std::string object(std::initializer_list<Member> members, std::string_view indent) {
    std::string out = "{\n";
    std::size_t index = 0;
    for (const Member& member : members) {
        out += indent;
        out += "  \"";
        out += member.key;
        out += "\": ";
        out += member.value;
        if (++index < members.size()) {
            out += ',';
        }
        out += '\n';
    }
    out += indent;
    out += '}';
    return out;
}

f64 average(f64 total, u64 count) { return count == 0 ? 0.0 : total / static_cast<f64>(count); }

}  // namespace

std::string escapeReportString(std::u16string_view value) {
    const std::optional<std::string> utf8 = convertUtf16ToUtf8(value);
    const std::string_view bytes = utf8 ? std::string_view(*utf8) : kConversionFailedText;
    std::string out;
    out.reserve(bytes.size());
    for (const char byte : bytes) {
        switch (byte) {
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '\t': out += "\\t"; break;
            default:
                // bytes of multi-byte sequences are >= 0x80 and pass unchanged
                out += static_cast<unsigned char>(byte) < 0x20 ? kControlReplacement : byte;
        }
    }
    return out;
}

std::string formatReportReal(f64 value) {
    if (!std::isfinite(value)) {
        return "null";
    }
    char buffer[32];
    const int length = std::snprintf(buffer, sizeof buffer, "%g", value);
    return std::string(buffer, static_cast<std::size_t>(length));
}

std::string formatSmokeReport(const RunSummary& summary) {
    const render::RenderDeviceInfo& device = summary.renderer.info;
    const render::RenderStatistics& statistics = summary.renderer.statistics;
    const scene::SceneStatistics& scene = summary.scene;

    const std::string renderer = object(
        {
            {"flipModelEnabled", boolean(device.flipModelEnabled)},
            {"gpuSkinningEnabled", boolean(device.gpuSkinningEnabled)},
            {"msaaSampleCount", integer(device.msaaSampleCount)},
            {"uploadedModels", integer(statistics.uploadedModels)},
            {"uploadedMeshes", integer(statistics.uploadedMeshes)},
            {"uploadedTextures", integer(statistics.uploadedTextures)},
            {"drawCalls", integer(statistics.drawCalls)},
            {"triangles", integer(statistics.triangles)},
            {"skinnedVertices", integer(statistics.skinnedVertices)},
            {"gpuSkinnedVertices", integer(statistics.gpuSkinnedVertices)},
            {"cpuSkinnedVertices", integer(statistics.cpuSkinnedVertices)},
            {"skinPaletteUploads", integer(statistics.skinPaletteUploads)},
            {"frameLatencyWaits", integer(statistics.frameLatencyWaits)},
            {"frameLatencyTimeouts", integer(statistics.frameLatencyTimeouts)},
            {"antiAliasingResolves", integer(statistics.antiAliasingResolves)},
            {"averageRenderCpuMilliseconds",
             formatReportReal(average(statistics.renderCpuMillisecondsTotal, statistics.presentedFrames))},
            {"maximumRenderCpuMilliseconds", formatReportReal(statistics.renderCpuMillisecondsMaximum)},
            {"averagePresentMilliseconds",
             formatReportReal(average(statistics.presentMillisecondsTotal, statistics.presentedFrames))},
            {"maximumPresentMilliseconds", formatReportReal(statistics.presentMillisecondsMaximum)},
        },
        "  ");

    const std::string sceneObject = object(
        {
            {"charactersLoaded", integer(scene.charactersLoaded)},
            {"effectModelsLoaded", integer(scene.effectModelsLoaded)},
            {"clipsAvailable", integer(scene.clipsAvailable)},
            {"meshesAvailable", integer(scene.meshesAvailable)},
            {"authoritativeSnapshots", integer(scene.authoritativeSnapshots)},
            {"authoritativeEvents", integer(scene.authoritativeEvents)},
            {"effectsSpawned", integer(scene.effectsSpawned)},
        },
        "  ");

    std::string starts = "[";
    for (const i64 frame : summary.soundStartFrames) {
        starts += (starts.size() > 1 ? ", " : "") + std::to_string(frame);
    }
    starts += "]";
    const std::string audioObject = object(
        {
            {"device", summary.audioDevice.empty() ? std::string("null") : text(summary.audioDevice)},
            {"soundsPlayed", integer(summary.soundsPlayed)},
            {"soundStartFrames", starts},
        },
        "  ");

    std::string hudObject = "null";
    if (summary.hud) {
        const RunSummary::HudSummary& hud = *summary.hud;
        const hud::HudShown& shown = hud.shown;
        char buffer[hud::kBannerTextBytes];
        const char* banner = hud::bannerText(shown, buffer);
        hudObject = object(
            {
                {"text", boolean(hud.text)},
                {"names", pair(text(utf16FromUtf8Lossy(hud.names[0])), text(utf16FromUtf8Lossy(hud.names[1])))},
                {"score", pair(integer(shown.roundsWon[0]), integer(shown.roundsWon[1]))},
                {"round", integer(shown.round)},
                {"banner", banner != nullptr ? inQuotes(banner) : std::string("null")},
                {"overlay", boolean(shown.overlay)},
            },
            "  ");
    }

    return object(
               {
                   {"schema", integer(kReportSchema)},
                   {"runtime", inQuotes(kRuntimeName)},
                   {"version", inQuotes(kRuntimeVersion)},
                   {"success", boolean(summary.success)},
                   {"error", text(summary.error)},
                   {"adapter", text(summary.adapter)},
                   {"driverType", text(summary.driverType)},
                   {"featureLevel", text(summary.featureLevel)},
                   {"shaderProfile", text(summary.shaderProfile)},
                   {"renderedFrames", integer(summary.renderedFrames)},
                   {"fixedUpdates", integer(summary.fixedUpdates)},
                   {"variableUpdates", integer(summary.variableUpdates)},
                   {"elapsedMilliseconds", formatReportReal(summary.elapsedMilliseconds)},
                   {"width", integer(summary.width)},
                   {"height", integer(summary.height)},
                   {"contentReady", boolean(summary.contentReady)},
                   {"renderer", renderer},
                   {"scene", sceneObject},
                   {"audio", audioObject},
                   {"hud", hudObject},
               },
               "") +
           "\n";
}

void writeSmokeReport(const std::filesystem::path& reportPath, const RunSummary& summary) {
    if (reportPath.empty()) {
        return;
    }
    if (reportPath.has_parent_path()) {
        std::filesystem::create_directories(reportPath.parent_path());
    }
    UniqueFile file(openTextFileForWriting(reportPath));
    if (!file) {
        throw std::runtime_error("Unable to create smoke report.");
    }
    const std::string contents = formatSmokeReport(summary);
    // Automated runs are judged by this file; a report cut short by a full disk must not
    // pass as a written one.
    const std::size_t written = std::fwrite(contents.data(), 1, contents.size(), file.get());
    const bool flushed = std::fflush(file.get()) == 0;
    if (written != contents.size() || !flushed || std::fclose(file.release()) != 0) {
        throw std::runtime_error("Unable to write smoke report.");
    }
}

}  // namespace kestrune::app
