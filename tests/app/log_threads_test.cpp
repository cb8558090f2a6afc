#include <gtest/gtest.h>

#include <map>
#include <regex>
#include <sstream>
#include <thread>
#include <vector>

#include "app/log.h"
#include "app/test_support.h"

namespace kestrune::app {
namespace {

// Lines from several threads must reach the file whole: none torn, none lost, each
// thread's lines in the order it wrote them; and the mirror must see the file's order.
TEST(LogThreads, ConcurrentWritersNeverInterleaveWithinALine) {
    constexpr int kThreads = 4;
    constexpr int kLinesPerThread = 200;
    const testing::ScratchDirectory scratch;
    const auto path = scratch / "threads.log";
    const std::optional<std::string> mirrored = testing::captureStandardError([&] {
        Log log(path);
        std::vector<std::thread> writers;
        for (int t = 0; t < kThreads; ++t) {
            writers.emplace_back([&log, t] {
                for (int i = 0; i < kLinesPerThread; ++i) {
                    const std::string text = "writer " + std::to_string(t) + " line " + std::to_string(i) +
                                             " " + std::string(static_cast<std::size_t>(40 + t * 50), 'x');
                    log.write(kLogInfo, std::string_view(text));
                }
            });
        }
        for (std::thread& writer : writers) writer.join();
    });
    const std::string bytes = testing::readFileBytes(path).value_or("");
    if (mirrored) {
        EXPECT_TRUE(*mirrored == bytes) << "the mirror saw another order of lines than the file";
    }
    const std::regex shape(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ \[INFO\] writer (\d) line (\d+) (x+)\r?)");
    std::map<int, int> nextLine;
    std::istringstream lines(bytes);
    std::string line;
    int count = 0;
    while (std::getline(lines, line)) {
        std::smatch match;
        ASSERT_TRUE(std::regex_match(line, match, shape)) << line;
        const int thread = std::stoi(match[1]);
        EXPECT_EQ(std::stoi(match[2]), nextLine[thread]++);
        EXPECT_EQ(match[3].length(), static_cast<std::size_t>(40 + thread * 50));
        ++count;
    }
    EXPECT_EQ(count, kThreads * kLinesPerThread);
}

}  // namespace
}  // namespace kestrune::app
