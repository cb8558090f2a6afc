#pragma once
// Offline encoder of the Kestrune Model format, used by the content baker, the tests and
// importers. It writes what the model holds, valid or not (the decoder is the judge), so
// tests can build files that break one rule at a time; it refuses only models that have
// no byte layout: strings with NUL bytes (std::invalid_argument), arrays whose sizes
// disagree with their counts (std::invalid_argument), counts beyond 32 bits
// (std::overflow_error). parseModel(writeModel(m)) gives m back, apart from its sha256.

#include <cstddef>
#include <vector>

#include "content/model.h"

namespace kestrune::content {

std::vector<std::byte> writeModel(const Model& model);

}  // namespace kestrune::content
