#include "app/log.h"

#include <array>
#include <cstdio>
#include <stdexcept>

#include "app/system_output.h"
#include "app/text_file.h"
#include "base/utf16.h"

namespace kestrune::app {
namespace {

constexpr std::array<std::u16string_view, 3> kLevelNames{u"INFO", u"WARN", u"ERROR"};
constexpr std::u16string_view kUnknownLevelName = u"UNKNOWN";
constexpr char kUnrepresentableCharacter = '?';
constexpr char16_t kLastLatin1Character = 0xFF;

std::u16string_view levelName(u32 level) {
    return level < kLevelNames.size() ? kLevelNames[level] : kUnknownLevelName;
}

bool isHighSurrogate(char16_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
bool isLowSurrogate(char16_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

std::string encodeForLogFile(std::u16string_view line) {
    std::string bytes;
    bytes.reserve(line.size());
    for (std::size_t i = 0; i < line.size(); ++i) {
        const char16_t unit = line[i];
        if (unit <= kLastLatin1Character) {
            bytes.push_back(static_cast<char>(unit));
            continue;
        }
        if (isHighSurrogate(unit) && i + 1 < line.size() && isLowSurrogate(line[i + 1])) {
            ++i;  // one character, one byte
        }
        bytes.push_back(kUnrepresentableCharacter);
    }
    return bytes;
}

}  // namespace

std::u16string formatLogLine(std::chrono::system_clock::time_point time, u32 level, std::u16string_view message) {
    using namespace std::chrono;
    // floor, not a cast: a cast truncates toward zero, which is a second late before 1970
    const sys_seconds second = floor<seconds>(time);
    const sys_days day = floor<days>(second);
    const year_month_day date{day};
    const hh_mm_ss<seconds> clock{second - day};
    char stamp[48];
    const int length =
        std::snprintf(stamp, sizeof stamp, "%04d-%02u-%02uT%02d:%02d:%02dZ [", static_cast<int>(date.year()),
                      static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
                      static_cast<int>(clock.hours().count()), static_cast<int>(clock.minutes().count()),
                      static_cast<int>(clock.seconds().count()));

    std::u16string line = utf16FromLatin1(std::string_view(stamp, static_cast<std::size_t>(length)));
    line += levelName(level);
    line += u"] ";
    line += message;
    line += u'\n';
    return line;
}

Log::Log(const std::filesystem::path& path) {
    if (path.has_parent_path()) {
        std::filesystem::create_directories(path.parent_path());
    }
    file_ = openTextFileForWriting(path);
    if (file_ == nullptr) {
        throw std::runtime_error("Unable to create native client log file.");
    }
}

Log::~Log() { std::fclose(file_); }

void Log::write(u32 level, std::u16string_view message) {
    const std::u16string line = formatLogLine(std::chrono::system_clock::now(), level, message);
    const std::string bytes = encodeForLogFile(line);
    const std::lock_guard lock(mutex_);
    // A failing stream just stops storing lines; the mirror still gets them.
    std::fwrite(bytes.data(), 1, bytes.size(), file_);
    std::fflush(file_);
    mirrorToDebugger(line);
}

void Log::write(u32 level, std::string_view message) { write(level, utf16FromLatin1(message)); }

}  // namespace kestrune::app
