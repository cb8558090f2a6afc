#include "app/text_file.h"

namespace kestrune::app {

std::FILE* openTextFileForWriting(const std::filesystem::path& path) { return std::fopen(path.c_str(), "w"); }

}  // namespace kestrune::app
