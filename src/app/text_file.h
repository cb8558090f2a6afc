#pragma once
// Opens a file for writing as 8-bit text, truncating it: text mode on Windows (each "\n"
// reaches the disk as CR LF), plain bytes on Linux. Returns nullptr when the file cannot
// be opened; the caller owns the stream and closes it with std::fclose.

#include <cstdio>
#include <filesystem>
#include <memory>

namespace kestrune::app {

std::FILE* openTextFileForWriting(const std::filesystem::path& path);

struct FileCloser {
    void operator()(std::FILE* file) const noexcept { std::fclose(file); }
};
using UniqueFile = std::unique_ptr<std::FILE, FileCloser>;

}  // namespace kestrune::app
