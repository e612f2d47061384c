#pragma once

#include <ostream>

namespace qv::cli {

// `quorvex demo`: tours the library against an embedded simulator.
// Returns 0 when every step behaved as expected, 1 otherwise.
int run_demo(std::ostream &out);

}  // namespace qv::cli
