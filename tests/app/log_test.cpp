#include <gtest/gtest.h>

#include <regex>

#include "app/log.h"
#include "app/test_support.h"

namespace kestrune::app {
namespace {

using namespace std::chrono;
using testing::ScratchDirectory;

TEST(LogLine, IsUtcWithFlooredSecondsAndTheLevelName) {
    const sys_days march1 = 2026y / March / 1;
    const struct { system_clock::time_point time; u32 level; std::u16string message; std::u16string line; } cases[] = {
        {march1 + 8h + 15min + 42s + 999ms, kLogInfo, u"BootCoordinator start",
         u"2026-03-01T08:15:42Z [INFO] BootCoordinator start\n"},
        {sys_days{1970y / January / 1}, kLogWarn, u"w", u"1970-01-01T00:00:00Z [WARN] w\n"},
        {sys_days{1970y / January / 1} - 1ms, kLogError, u"e", u"1969-12-31T23:59:59Z [ERROR] e\n"},
        {sys_days{2024y / February / 29} + 23h + 59min + 59s, 3, u"", u"2024-02-29T23:59:59Z [UNKNOWN] \n"},
        {march1, 7, u"two\nlines", u"2026-03-01T00:00:00Z [UNKNOWN] two\nlines\n"},
        {march1, 0xFFFFFFFF, u"\u20ac", u"2026-03-01T00:00:00Z [UNKNOWN] \u20ac\n"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.line.begin(), c.line.begin() + 20));
        EXPECT_EQ(formatLogLine(c.time, c.level, c.message), c.line);
    }
}

// A log that cannot be opened, and one named without a directory, are checked through the
// program's runs (program_test.cpp).
TEST(Log, EachOpeningStartsAFreshFileInMissingDirectoriesWithOneBytePerCharacter) {
    const ScratchDirectory scratch;
    const auto path = scratch / "deep/er/run.log";
    Log(path).write(kLogInfo, std::string_view(std::string(300, 'x')));  // longer than all of the second run
    {
        Log log(path);
        log.write(kLogInfo, u"caf\u00e9 \u00ff|\u0100|\U0001F600|\xD800|end\nnext");
        log.write(kLogError, std::string_view("Latin-1 byte \xE9"));
    }
    // Every line but the message's second starts with a time stamp (the file cannot know which second).
    const std::string stamped = std::regex_replace(testing::readFileBytes(path).value_or(""),
                                                   std::regex(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ )"), "T ");
    EXPECT_EQ(stamped,
              testing::withTextFileNewlines("T [INFO] caf\xE9 \xFF|?|?|?|end\nnext\nT [ERROR] Latin-1 byte \xE9\n"));
}

}  // namespace
}  // namespace kestrune::app
