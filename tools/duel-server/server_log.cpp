#include "server_log.h"

#include <chrono>
#include <string>

#include "base/text_format.h"

namespace kestrune::duel {

// UTC from the calendar of <chrono>, the same on every platform and free of the C
// library's shared time buffer.
void ServerLog::line(std::string_view text) {
    using namespace std::chrono;
    const auto now = floor<seconds>(system_clock::now());
    const auto day = floor<days>(now);
    const year_month_day date{day};
    const hh_mm_ss time{now - day};
    std::string whole = formatText("%04d-%02u-%02uT%02d:%02d:%02dZ ", static_cast<int>(date.year()),
                                   static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
                                   static_cast<int>(time.hours().count()), static_cast<int>(time.minutes().count()),
                                   static_cast<int>(time.seconds().count()));
    whole.append(text);
    whole.push_back('\n');
    out_.write(whole.data(), static_cast<std::streamsize>(whole.size()));
    out_.flush();
}

}  // namespace kestrune::duel
