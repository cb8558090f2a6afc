#include "baker_commands.h"

#include <cmath>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>

#include "base/types.h"

#include "bake.h"
#include "characters.h"
#include "font_rasteriser.h"
#include "gltf_import.h"
#include "inspect.h"
#include "preview.h"

namespace kestrune::baker {
namespace {

constexpr std::string_view kUsage =
    "usage: kestrune-bake --out=DIR\n"
    "       kestrune-bake inspect FILE [--sha256=HEX]\n"
    "       kestrune-bake preview FILE --clip=NAME --time=SECONDS --out=IMAGE.bmp|.png\n"
    "                            [--size=WxH] [--orbit=DEGREES]\n"
    "       kestrune-bake import MODEL.gltf|MODEL.glb --out=DIR [--class=warrior|templar] [--clip=NAME=SOURCE]...\n"
    "                            [--sample-rate=N] [--height=METRES]\n"
    "       kestrune-bake --help\n";

// Preview images are at least this small and at most this large, in pixels per side.
constexpr u32 kMinPreviewPixels = 16;
constexpr u32 kMaxPreviewPixels = 8192;

// A command line the tool cannot take: reported with the usage.
class UsageError : public std::invalid_argument {
public:
    using std::invalid_argument::invalid_argument;
};

std::optional<std::string_view> valueOf(std::string_view argument, std::string_view option) {
    if (argument.substr(0, option.size()) == option) {
        return argument.substr(option.size());
    }
    return std::nullopt;
}

int bake(std::span<const std::string_view> arguments, std::ostream& out) {
    std::optional<std::filesystem::path> directory;
    for (const std::string_view argument : arguments) {
        const auto value = valueOf(argument, "--out=");
        if (!value || value->empty()) {
            throw UsageError("unknown argument: " + std::string(argument));
        }
        directory = std::filesystem::path(std::string(*value));
    }
    if (!directory) {
        throw UsageError("--out=DIR is required");
    }
    const std::vector<BakedFile> files = bakeContent();
    writeContentDirectory(*directory, files, out);
    if (!fontRasteriserAvailable()) {
        out << "fonts/ not baked: this build has no font rasteriser (the Linux build of kestrune-bake uses "
               "FreeType); without fonts/ copied from a packaged content folder the HUD draws no text\n";
    }
    return 0;
}

int inspect(std::span<const std::string_view> arguments, std::ostream& out) {
    std::optional<std::filesystem::path> file;
    std::optional<std::string> sha256;
    for (const std::string_view argument : arguments) {
        if (const auto value = valueOf(argument, "--sha256=")) {
            sha256 = std::string(*value);
        } else if (!file && argument.substr(0, 2) != "--") {
            file = std::filesystem::path(std::string(argument));
        } else {
            throw UsageError("unknown argument: " + std::string(argument));
        }
    }
    if (!file) {
        throw UsageError("inspect needs a FILE");
    }
    inspectFile(*file, sha256, out);
    return 0;
}

// A finite number written whole, or a usage error naming the option.
f64 numberOf(std::string_view text, std::string_view option) {
    const std::string copy(text);
    char* end = nullptr;
    const f64 value = std::strtod(copy.c_str(), &end);
    if (copy.empty() || end != copy.c_str() + copy.size() || !std::isfinite(value)) {
        throw UsageError(std::string(option) + " needs a number, not \"" + copy + "\"");
    }
    return value;
}

u32 sideOf(std::string_view text) {
    if (text.empty() || text.size() > 5 || text.find_first_not_of("0123456789") != std::string_view::npos) {
        return 0;
    }
    const auto pixels = static_cast<u32>(std::stoul(std::string(text)));
    return pixels >= kMinPreviewPixels && pixels <= kMaxPreviewPixels ? pixels : 0;
}

int preview(std::span<const std::string_view> arguments) {
    PreviewRequest request;
    bool haveModel = false;
    bool haveOutput = false;
    for (const std::string_view argument : arguments) {
        if (const auto clip = valueOf(argument, "--clip=")) {
            request.clip = std::string(*clip);
        } else if (const auto time = valueOf(argument, "--time=")) {
            request.timeSeconds = numberOf(*time, "--time");
        } else if (const auto out = valueOf(argument, "--out=")) {
            request.output = std::filesystem::path(std::string(*out));
            haveOutput = !out->empty();
        } else if (const auto size = valueOf(argument, "--size=")) {
            const std::size_t cross = size->find('x');
            const u32 width = cross == std::string_view::npos ? 0 : sideOf(size->substr(0, cross));
            const u32 height = cross == std::string_view::npos ? 0 : sideOf(size->substr(cross + 1));
            if (width == 0 || height == 0) {
                throw UsageError("--size needs WxH with sides of 16 to 8192 pixels, not \"" + std::string(*size) +
                                 "\"");
            }
            request.widthPixels = width;
            request.heightPixels = height;
        } else if (const auto orbit = valueOf(argument, "--orbit=")) {
            request.orbitDegrees = numberOf(*orbit, "--orbit");
        } else if (!haveModel && argument.substr(0, 2) != "--") {
            request.model = std::filesystem::path(std::string(argument));
            haveModel = true;
        } else {
            throw UsageError("unknown argument: " + std::string(argument));
        }
    }
    if (!haveModel || !haveOutput) {
        throw UsageError("preview needs a FILE and --out=IMAGE.bmp");
    }
    renderPreview(request);
    return 0;
}

int import(std::span<const std::string_view> arguments, std::ostream& out) {
    ImportOptions options;
    std::optional<std::filesystem::path> model;
    std::optional<std::filesystem::path> directory;
    for (const std::string_view argument : arguments) {
        if (const auto value = valueOf(argument, "--out=")) {
            if (value->empty()) throw UsageError("unknown argument: " + std::string(argument));
            directory = std::filesystem::path(std::string(*value));
        } else if (const auto name = valueOf(argument, "--class=")) {
            if (*name == kWarriorDraw.directory) {
                options.characterClass = &kWarriorDraw;
            } else if (*name == kTemplarDraw.directory) {
                options.characterClass = &kTemplarDraw;
            } else {
                throw UsageError("--class needs warrior or templar, not \"" + std::string(*name) + "\"");
            }
        } else if (const auto clip = valueOf(argument, "--clip=")) {
            const std::size_t equals = clip->find('=');
            if (equals == 0 || equals == std::string_view::npos || equals + 1 == clip->size()) {
                throw UsageError("--clip needs NAME=SOURCE, not \"" + std::string(*clip) + "\"");
            }
            options.clips.push_back({std::string(clip->substr(0, equals)), std::string(clip->substr(equals + 1))});
        } else if (const auto rate = valueOf(argument, "--sample-rate=")) {
            const f64 framesPerSecond = numberOf(*rate, "--sample-rate");
            if (!(framesPerSecond > 0.0) || framesPerSecond > 1000.0) {
                throw UsageError("--sample-rate needs a rate above 0 and at most 1000, not \"" + std::string(*rate) +
                                 "\"");
            }
            options.sampleRate = static_cast<f32>(framesPerSecond);
        } else if (const auto height = valueOf(argument, "--height=")) {
            options.heightMetres = numberOf(*height, "--height");
            if (!(*options.heightMetres > 0.0)) {
                throw UsageError("--height needs a height above 0, not \"" + std::string(*height) + "\"");
            }
        } else if (!model && argument.substr(0, 2) != "--") {
            model = std::filesystem::path(std::string(argument));
        } else {
            throw UsageError("unknown argument: " + std::string(argument));
        }
    }
    if (!model || !directory) {
        throw UsageError("import needs a MODEL and --out=DIR");
    }
    if (options.heightMetres && options.characterClass == nullptr) {
        throw UsageError("--height needs --class");
    }
    importCharacterFile(*model, *directory, options, out);
    return 0;
}

}  // namespace

int runBakerCommand(std::span<const std::string_view> arguments, std::ostream& out, std::ostream& err) {
    for (const std::string_view argument : arguments) {
        if (argument == "--help" || argument == "-h") {
            out << kUsage;
            return 0;
        }
    }
    try {
        if (!arguments.empty() && arguments.front() == "import") {
            return import(arguments.subspan(1), out);
        }
        if (!arguments.empty() && arguments.front() == "inspect") {
            return inspect(arguments.subspan(1), out);
        }
        if (!arguments.empty() && arguments.front() == "preview") {
            return preview(arguments.subspan(1));
        }
        return bake(arguments, out);
    } catch (const UsageError& usage) {
        err << "kestrune-bake: " << usage.what() << '\n' << kUsage;
    } catch (const std::exception& error) {
        err << error.what() << '\n';
    }
    return 1;
}

}  // namespace kestrune::baker
