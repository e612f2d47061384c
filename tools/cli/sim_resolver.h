// The simulator's resolver: decides a "maybe submitted" job from the
// evidence the sender took around its submit, read in the simulator's own
// formats (tools/sim/README.md).  It knows nothing of another server's
// replies, so a host registers it only for the simulator.  Written in
// C++17, so that the library's tests can compile it too.
#pragma once

#include <quorvex.h>

#include <cstdint>
#include <optional>
#include <string_view>

namespace qv::cli {

// The answer (QV_RESOLVED_*) from the simulator's replies, GBK as it sent
// them; nullopt for a reply that was not taken.
//  - packages: AllInfoPackId's job numbers, newest first, ";"-separated,
//    cut with ";..." when the list outgrows a message;
//  - details: LastDetails' rows "job,number,state,submitted" for the job's
//    first number, newest job first.
// The jobs new since the submit are those that AllInfoPackId lists after
// the "maybe" before the newest one it listed before it.  Exactly one of
// them holding the first number: submitted.  None new, or none of the new
// ones holding it: not submitted.  Anything else (two new ones holding
// it, more new jobs than the list shows, a reply missing or not in the
// simulator's format): unknown.  It assumes that no other client sends a
// job to the same first number on the account meanwhile, and that the
// simulator has read the last request of the old connection by the time
// the new one has logged in and asked (it applies a request as soon as it
// reads it).
int32_t resolve_on_simulator(std::optional<std::string_view> packages_before,
                             std::optional<std::string_view> packages_after,
                             std::optional<std::string_view> details_after);

// A QvJobResolver that reads the job's evidence and answers as above;
// Context is not used.
int32_t QV_CALL simulator_resolver(QvJob *job, void *context);

}  // namespace qv::cli
