#pragma once
// kestrune-play: plays from the folder that holds it, the way a player's package is laid out
// (KestruneNative, kestrune-duel-server and content/ beside it). Online it starts the duel
// server with a bot on a free loopback port, runs the program connected to it and stops the
// server when the program ends; offline it runs the program alone. Returns the program's exit
// code, 1 when the launcher itself fails and 2 for a bad command line; messages go to `out`
// and `err`.

#include <ostream>
#include <span>
#include <string>

namespace kestrune::launcher {

int runLauncher(std::span<const std::string> arguments, std::ostream& out, std::ostream& err);

}  // namespace kestrune::launcher
