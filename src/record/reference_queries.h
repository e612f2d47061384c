// The reference queries: server-side data the host looks up.
#pragma once

#include "record/command.h"

namespace qv::record {

inline constexpr Command kMsgStates =
    command(101).take_text(Field::Body, Output::Message).take_code();

inline constexpr Command kInfoType =
    command(102).take_text(Field::Body, Output::Message).take_code().failure(text::kInfoTypeFailed);

inline constexpr Command kMobileNum =
    command(103).take_text(Field::Body, Output::Message).take_code();

// Sends a text and a parameter; answers a size limit in Body and Param1.
inline constexpr Command kMMSMaxSize = command(104)
                                           .put(Field::Body, Input::Text0)
                                           .put(Field::Param1, Input::Text1)
                                           .take_code()
                                           .take_text(Field::Body, Output::Message)
                                           .take_text(Field::Param1, Output::Out0)
                                           .failure(text::kMmsMaxSizeFailed);

inline constexpr Command kNumRule =
    command(106).take_text(Field::Body, Output::Message).take_code().failure(text::kNumRuleFailed);

inline constexpr Command kGetUdInfo = command(107)
                                          .take_code()
                                          .take_text(Field::Body, Output::Message)
                                          .take_text(Field::Param1, Output::Out0)
                                          .take_text(Field::Param2, Output::Out1)
                                          .take_text(Field::Param3, Output::Out2)
                                          .failure(text::kUdInfoFailed);

}  // namespace qv::record
