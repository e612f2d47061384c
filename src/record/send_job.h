// A send job, one field per command between SubmitAllClear and the overall
// submit.  The server collects and checks the fields; the library keeps no
// state of the job.
#pragma once

#include "record/command.h"

namespace qv::record {

// A field of the job: one text in Body, answered with Code and Body.
constexpr Command job_field(int32_t code, const text::FixedText &failure) {
  return command(code).put(Field::Body, Input::Text0).take_code().take_body().failure(failure);
}
constexpr Command job_command(int32_t code, const text::FixedText &failure) {
  return command(code).take_code().take_body().failure(failure);
}
// The overall submit that also hands back three numbers from the Params.
constexpr Command job_submit_counted(int32_t code, const text::FixedText &failure) {
  return job_command(code, failure)
      .take_number(Field::Param1, Output::Out0)
      .take_number(Field::Param2, Output::Out1)
      .take_number(Field::Param3, Output::Out2);
}

inline constexpr Command kSubmitAllClear = job_command(298, text::kSubmitAllClearFailed);
inline constexpr Command kSubmitPrdId =
    job_field(201, text::kSubmitPrdIdFailed).option(kBodyLenZero);
inline constexpr Command kCheckPrdId =
    job_field(2011, text::kSubmitPrdIdFailed).option(kBodyLenZero);
inline constexpr Command kSubmitTelList = job_field(202, text::kSubmitTelListFailed);
inline constexpr Command kSubmitTelNum = job_field(203, text::kSubmitTelNumFailed);
inline constexpr Command kSubmitContent = job_field(204, text::kSubmitContentFailed);
inline constexpr Command kCheckContent = job_command(2041, text::kCheckContentFailed);
inline constexpr Command kSubmitPushURL = job_field(205, text::kSubmitPushUrlFailed);
inline constexpr Command kSubmitBgnDate = job_field(206, text::kSubmitBgnDateFailed);
inline constexpr Command kSubmitBgnDateEx = job_field(2060, text::kSubmitBgnDateExFailed);
inline constexpr Command kSubmitEndDate = job_field(207, text::kSubmitEndDateFailed);
inline constexpr Command kSubmitBgnTime = job_field(208, text::kSubmitBgnTimeFailed);
inline constexpr Command kSubmitEndTime = job_field(209, text::kSubmitEndTimeFailed);
inline constexpr Command kSubmitTransFilename = job_field(211, text::kSubmitTransFilenameFailed);
inline constexpr Command kSubmitTransFile = job_field(212, text::kSubmitTransFileFailed);
inline constexpr Command kSubmitPQOrderSelect = job_command(2200, text::kSubmitPQOrderSelectFailed)
                                                    .put(Field::Param1, Input::Text0)
                                                    .put(Field::Param2, Input::Text1)
                                                    .put(Field::Param3, Input::Text2);
inline constexpr Command kSubmitAllOver =
    job_command(299, text::kSubmitAllOverFailed).option(kAppendErrorText);
inline constexpr Command kSubmitAllOver_2 = job_submit_counted(299, text::kSubmitAllOverFailed);
inline constexpr Command kSubmitAllOverEx = job_command(2990, text::kSubmitAllOverExFailed);
inline constexpr Command kSubmitAllOverEx_2 =
    job_submit_counted(2990, text::kSubmitAllOverExFailed);

}  // namespace qv::record
