#pragma once

#include <ostream>
#include <string>

namespace qv::cli {

// `quorvex demo`: tours the library against an embedded simulator.
// Returns 0 when every step behaved as expected, 1 otherwise.
int run_demo(std::ostream &out);

// A date `days` from today in local time, "YYYY-MM-DD": the send jobs'
// dates, which the simulator wants in the future.
std::string date_in(int days);

}  // namespace qv::cli
