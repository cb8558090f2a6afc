#include "baker_commands.h"

#include <exception>
#include <filesystem>
#include <optional>
#include <string>

#include "bake.h"
#include "inspect.h"

namespace kestrune::baker {
namespace {

constexpr std::string_view kUsage =
    "usage: kestrune-bake --out=DIR\n"
    "       kestrune-bake inspect FILE [--sha256=HEX]\n";

struct UsageError {
    std::string message;
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
            throw UsageError{"unknown argument: " + std::string(argument)};
        }
        directory = std::filesystem::path(std::string(*value));
    }
    if (!directory) {
        throw UsageError{"--out=DIR is required"};
    }
    const std::vector<BakedFile> files = bakeContent();
    writeContentDirectory(*directory, files, out);
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
            throw UsageError{"unknown argument: " + std::string(argument)};
        }
    }
    if (!file) {
        throw UsageError{"inspect needs a FILE"};
    }
    inspectFile(*file, sha256, out);
    return 0;
}

}  // namespace

int runBakerCommand(std::span<const std::string_view> arguments, std::ostream& out, std::ostream& err) {
    try {
        if (!arguments.empty() && arguments.front() == "inspect") {
            return inspect(arguments.subspan(1), out);
        }
        return bake(arguments, out);
    } catch (const UsageError& usage) {
        err << "kestrune-bake: " << usage.message << '\n' << kUsage;
    } catch (const std::exception& error) {
        err << error.what() << '\n';
    }
    return 1;
}

}  // namespace kestrune::baker
