#include "api/guard.h"

#include "connection/socket_errors.h"

namespace qv::api {

void escaped(const std::exception *e) {
  const auto *error = dynamic_cast<const connection::Error *>(e);
  if (error && error->cause() == connection::Cause::TimedOut)
    connection::record_failure(connection::OutcomeKind::TimedOut, *error);
  else if (error)
    connection::record_failure(connection::OutcomeKind::Failed, *error);
  else
    connection::other_failure(e ? e->what() : "An unknown error.");
}

}  // namespace qv::api
