#include "app/text_file.h"

#include <stdio.h>

namespace kestrune::app {

// "w" without "b" is the C runtime's text mode: "\n" is written as CR LF.
std::FILE* openTextFileForWriting(const std::filesystem::path& path) { return _wfopen(path.c_str(), L"w"); }

}  // namespace kestrune::app
