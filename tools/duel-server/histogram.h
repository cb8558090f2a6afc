#pragma once
// The server's CPU time per tick and the load client's gaps between snapshots are kept in
// the runtime's microsecond histogram.

#include "base/microsecond_histogram.h"

namespace kestrune::duel {

using kestrune::MicrosecondHistogram;

}  // namespace kestrune::duel
