// A job's content as the journal stores it: one byte string that holds
// every field, number, the file and the options, read back exactly.  The
// reader takes any bytes (a journal may be damaged or made by another
// program) and refuses what is not a whole content of this format,
// at a cost in proportion to its size.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "jobs/job.h"

namespace qv::journal {

std::string encode_content(const jobs::Content &content);
// The content, or nothing with why set when the bytes are not one.
std::optional<jobs::Content> decode_content(std::string_view bytes, std::string &why);

// The evidence a send took (by QV_EVIDENCE_* - 1), each present or not.
std::string encode_evidence(const jobs::Evidence &evidence);
// Empty bytes are no evidence at all; nothing with why set for bytes that
// are not evidence of this format.
std::optional<jobs::Evidence> decode_evidence(std::string_view bytes, std::string &why);

}  // namespace qv::journal
