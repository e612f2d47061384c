// The account's password and its sub-accounts.
#pragma once

#include "record/command.h"

namespace qv::record {

using F = Field;
using In = Input;
using Out = Output;

// Text0 and Text1 are the saved name and password, Text2 and Text3 the new
// password twice; the export fills them.
inline constexpr Command kEditPassword =
    command(110)
        .put(F::Body, In::Text0)
        .put(F::Param1, In::Text1)
        .put(F::Param2, In::Text2)
        .put(F::Param3, In::Text3)
        .take_body()
        .take_code()
        .secret(F::Param1)
        .secret(F::Param2)
        .secret(F::Param3)
        .failure(text::kEditPasswordFailed)
        .option(kConfirmNewPassword | kReloginBeforeMessage | kSavePasswordOnAccept);

// Body, Param1, Param2, Param3 from four texts.
constexpr Command four_texts(int32_t code) {
  return command(code)
      .put(F::Body, In::Text0)
      .put(F::Param1, In::Text1)
      .put(F::Param2, In::Text2)
      .put(F::Param3, In::Text3)
      .take_body()
      .take_code();
}

// Code first, then Body and three numbers from the Params.
constexpr Command three_numbers(int32_t code) {
  return command(code)
      .take_code()
      .take_body()
      .take_number(F::Param1, Out::Out0)
      .take_number(F::Param2, Out::Out1)
      .take_number(F::Param3, Out::Out2);
}

// Param1 is the new sub-account's password.
inline constexpr Command kAddSubUser =
    four_texts(111).secret(F::Param1).failure(text::kAddSubUserFailed);
inline constexpr Command kAddSubUserEx =
    four_texts(1110).secret(F::Param1).failure(text::kAddSubUserFailed);
inline constexpr Command kAddSubAccount =
    four_texts(1111).secret(F::Param1).failure(text::kAddSubUserFailed);

inline constexpr Command kDisableSubUser = command(112)
                                               .put(F::Param1, In::Text0)
                                               .put(F::Param2, In::Text1)
                                               .take_body()
                                               .take_code()
                                               .failure(text::kDisableSubUserFailed);

constexpr Command move_quantity(int32_t code, const text::FixedText &failure) {
  return command(code)
      .put(F::Body, In::Text0)
      .put(F::Param1, In::Text1)
      .put(F::Param2, In::Text2)
      .take_body()
      .take_code()
      .failure(failure);
}
inline constexpr Command kIncreaseSubBuy = move_quantity(113, text::kIncreaseSubBuyFailed);
inline constexpr Command kReduceSubBuy = move_quantity(114, text::kReduceSubBuyFailed);

inline constexpr Command kFindAllSubs =
    command(115).take_body().take_code().failure(text::kFindAllSubsFailed);
inline constexpr Command kFindAllSubsEx = three_numbers(1150).failure(text::kFindAllSubsFailed);
inline constexpr Command kFindAllEmplyee = three_numbers(141).failure(text::kFindAllEmplyeeFailed);
inline constexpr Command kTransfer = three_numbers(140).failure(text::kTransferFailed);

constexpr Command one_text(int32_t code, const text::FixedText &failure) {
  return command(code).put(F::Body, In::Text0).take_body().take_code().failure(failure);
}
inline constexpr Command kFindSubInfo = one_text(116, text::kFindSubInfoFailed);
inline constexpr Command kFindSubInfoEx = one_text(1160, text::kFindSubInfoFailed);
inline constexpr Command kFindSubAllOrders = one_text(117, text::kFindSubAllOrdersFailed);

inline constexpr Command kFindSubOrderInfo = command(118)
                                                 .put(F::Body, In::Text0)
                                                 .put(F::Param1, In::Text1)
                                                 .take_body()
                                                 .take_code()
                                                 .failure(text::kFindSubOrderInfoFailed);

// The sub-account's password in use and the new one twice.
inline constexpr Command kEditSubPWD =
    four_texts(119).secret(F::Param1).secret(F::Param2).secret(F::Param3).failure(
        text::kEditSubPwdFailed);

inline constexpr Command kAddSubGwNumEx = command(1310)
                                              .put(F::Body, In::Text0)
                                              .take_code()
                                              .take_body()
                                              .take_text(F::Param1, Out::Out0)
                                              .take_text(F::Param2, Out::Out1)
                                              .failure(text::kAddSubGwNumFailed);

inline constexpr Command kDelSubGwNum = command(132)
                                            .put(F::Body, In::Text0)
                                            .take_code()
                                            .take_body()
                                            .take_text(F::Param1, Out::Out0)
                                            .failure(text::kDelSubGwNumFailed);

}  // namespace qv::record
