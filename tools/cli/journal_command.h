// The journal command: a host's send-job journal from the command line.
//   quorvex journal FILE add --ref REF <send's job options>
//   quorvex journal FILE send --server HOST:PORT [--user U --password P] [--max N]
//                             [--sim-resolver]
//   quorvex journal FILE recover [--server HOST:PORT [--user U --password P]] [--sim-resolver]
//   quorvex journal FILE list [--state STATE]
//   quorvex journal FILE resolve ID STATE [JOB-NUMBER]
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace qv::cli {

extern const char *const kJournalUsage;

// Runs the words after "journal"; 0 when everything asked was done, 1 when
// the library refused or failed (the reason on out), and StepError for a
// command line that does not fit the usage.
int run_journal(const std::vector<std::string> &args, std::ostream &out);

}  // namespace qv::cli
