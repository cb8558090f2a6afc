#include "server_log.h"

#include <ctime>
#include <string>

namespace kestrune::duel {

void ServerLog::line(std::string_view text) {
    const std::time_t now = std::time(nullptr);
    std::tm utc{};
    gmtime_r(&now, &utc);
    char stamp[32];
    const std::size_t stampBytes = std::strftime(stamp, sizeof(stamp), "%Y-%m-%dT%H:%M:%SZ ", &utc);
    std::string whole(stamp, stampBytes);
    whole.append(text);
    whole.push_back('\n');
    out_.write(whole.data(), static_cast<std::streamsize>(whole.size()));
    out_.flush();
}

}  // namespace kestrune::duel
