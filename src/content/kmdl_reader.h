#pragma once
// The validating decoder of the Kestrune Model format, and the whole-file load that feeds
// it. Input is untrusted: every read is bounds-checked, every count limited, every
// reference range-checked and every stored float checked before a Model is returned.
// The first violation throws ContentError("<source> at byte <n>: <rule>"); no partial
// model ever escapes. Stateless and safe to call from any thread.

#include <cstddef>
#include <filesystem>
#include <span>
#include <string_view>

#include "content/model.h"

namespace kestrune::content {

// Decodes the whole file `bytes`; `sourceName` names it in messages. The digest of the
// bytes becomes the model's sha256 and is checked against limits.expectedSha256.
Model parseModel(std::span<const std::byte> bytes, const ModelLimits& limits, std::string_view sourceName);

// Reads the file under limits.maxFileBytes and decodes it; its narrow path names it.
Model loadModelFile(const std::filesystem::path& path, const ModelLimits& limits);

}  // namespace kestrune::content
