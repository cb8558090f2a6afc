#include "app/test_support.h"

#include <fstream>
#include <iterator>
#include <random>
#include <utility>

namespace kestrune::app::testing {

ScratchDirectory::ScratchDirectory() {
    std::random_device random;
    const std::string name = "kestrune-app-test-" + std::to_string(random()) + std::to_string(random());
    path_ = std::filesystem::temp_directory_path() / name;
    std::filesystem::create_directories(path_);
}

ScratchDirectory::~ScratchDirectory() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

std::filesystem::path ScratchDirectory::operator/(std::string_view child) const {
    return path_ / std::filesystem::path(std::u8string(child.begin(), child.end()));
}

std::optional<std::string> readFileBytes(const std::filesystem::path& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file) return std::nullopt;
    return std::string(std::istreambuf_iterator<char>(file), {});
}

std::string sessionPayloadHeader(std::string_view magic, u16 ticketBytes, u16 nameBytes) {
    std::string out(magic);
    for (const u16 value : {ticketBytes, nameBytes}) {
        out += static_cast<char>(value & 0xFF);
        out += static_cast<char>(value >> 8);
    }
    return out;
}

TestPipe::~TestPipe() {
    for (const std::intptr_t end : {read_, write_}) {
        if (end != kClosed) closeEnd(end);
    }
}

u64 TestPipe::readHandleValue() const { return static_cast<u64>(read_); }

void TestPipe::closeWriteEnd() { closeEnd(std::exchange(write_, kClosed)); }

u64 TestPipe::handOverReadEnd() { return static_cast<u64>(std::exchange(read_, kClosed)); }

std::string withTextFileNewlines(std::string_view text) {
    std::string out;
    for (const char c : text) {
        if (c == '\n') out += textFileNewline();
        else out += c;
    }
    return out;
}

}  // namespace kestrune::app::testing
