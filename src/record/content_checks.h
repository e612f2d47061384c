// Content preview and admissibility checks, merchant-client parameters and
// the account's interface-control parameters.
#pragma once

#include "record/command.h"

namespace qv::record {

// Content in Body (BodyLen left 0) and a parameter in Param1; a number back
// from Param1.
inline constexpr Command kContentPreview = command(160)
                                               .put(Field::Body, Input::Text0)
                                               .put(Field::Param1, Input::Text1)
                                               .option(kBodyLenZero)
                                               .take_code()
                                               .take_body()
                                               .take_number(Field::Param1, Output::Out0)
                                               .failure(text::kContentPreviewFailed);

inline constexpr Command kGetSJKHDParams = command(161)
                                               .take_code()
                                               .take_body()
                                               .take_text(Field::Param1, Output::Out0)
                                               .take_text(Field::Param2, Output::Out1)
                                               .take_text(Field::Param3, Output::Out2)
                                               .failure(text::kGetSJKHDParamsFailed);

inline constexpr Command kGetSJKHDBid =
    command(162).take_code().take_body().failure(text::kGetSJKHDBidFailed);

// The message gets Param1 instead of Body when the server accepts and the
// third number is 0.
inline constexpr Command kCheckSMSContent = command(1700)
                                                .put(Field::Body, Input::Text0)
                                                .put(Field::Param1, Input::Number0)
                                                .put(Field::Param2, Input::Number1)
                                                .put(Field::Param3, Input::Number2)
                                                .take_code()
                                                .take_body()
                                                .option(kParam1WhenAccepted)
                                                .failure(text::kCheckSMSContentFailed);

inline constexpr Command kClientGuiControl =
    command(1800).take_code().take_body().failure(text::kClientGuiControlFailed);

}  // namespace qv::record
