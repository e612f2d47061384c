// What a test does when this machine lacks a component it needs
// (tests/support/missing.sh names them all): it fails and says what is
// missing, unless QUORVEX_ALLOW_MISSING lists the component; then it is
// skipped, and the skip is noted in QUORVEX_SKIP_LOG for the test command's
// last line.
//
//   if (qvtest::find_program("Xvfb").empty())
//     QV_MISSING("xvfb", "Xvfb is not installed (Debian xvfb)");
#pragma once

#include <string>

namespace qvtest {

// Whether QUORVEX_ALLOW_MISSING lists component; if so, it is noted in
// QUORVEX_SKIP_LOG.
bool missing_allowed(const std::string &component);

// The program's path from PATH, then from the system directories that a
// non-root PATH may lack; empty when it is not installed.
std::string find_program(const std::string &name);

}  // namespace qvtest

// Ends the test (or its SetUp) as skipped where the component is allowed
// to be missing, as failed otherwise.
#define QV_MISSING(component, why)                                                          \
  do {                                                                                      \
    if (::qvtest::missing_allowed(component))                                               \
      GTEST_SKIP() << "skipped (allowed by QUORVEX_ALLOW_MISSING): " << (component) << ": " \
                   << (why);                                                                \
    FAIL() << "missing: " << (component) << ": " << (why)                                   \
           << "; bash scripts/setup.sh installs what a package provides; where it "         \
              "cannot be had here, QUORVEX_ALLOW_MISSING="                                  \
           << (component) << " skips its tests";                                            \
  } while (0)
