#pragma once
// One line per connection event, "2026-01-31T12:00:00Z text", written whole and flushed.
// Used only from the server's event-loop thread.

#include <ostream>
#include <string_view>

namespace kestrune::duel {

class ServerLog {
public:
    explicit ServerLog(std::ostream& out) : out_(out) {}
    void line(std::string_view text);

private:
    std::ostream& out_;
};

}  // namespace kestrune::duel
