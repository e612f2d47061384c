// What the server knows about the client: products, information packages,
// notices, recent orders and scheduled orders.
#pragma once

#include "record/command.h"

namespace qv::record {

// A query that sends only its code and answers with Code and Body.
constexpr Command plain_query(int32_t code) { return command(code).take_code().take_body(); }

inline constexpr Command kClientInfo = plain_query(121).failure(text::kClientInfoFailed);
inline constexpr Command kAllProductId = plain_query(122).failure(text::kAllProductIdFailed);
inline constexpr Command kCltProductId = plain_query(1220).failure(text::kCltProductIdFailed);
inline constexpr Command kCltAllPrdIdName = plain_query(1221);
inline constexpr Command kCltAllMmsInfo = plain_query(1222);
inline constexpr Command kCltAllIdNameType = plain_query(1223);
inline constexpr Command kProductInfo =
    plain_query(123).put(Field::Body, Input::Text0).failure(text::kProductInfoFailed);
inline constexpr Command kAllInfoPackId = plain_query(124).failure(text::kAllProductIdFailed);
inline constexpr Command kInfoPackStatus =
    plain_query(125).put(Field::Body, Input::Text0).failure(text::kInfoPackStatusFailed);
inline constexpr Command kInfoPackStatusEx =
    plain_query(1250).put(Field::Body, Input::Text0).failure(text::kInfoPackStatusFailed);
inline constexpr Command kGetMessage = plain_query(127).failure(text::kGetMessageFailed);
inline constexpr Command kLastDetails = plain_query(128)
                                            .put(Field::Body, Input::Text0)
                                            .put(Field::Param1, Input::Number0)
                                            .failure(text::kLastDetailsFailed);
inline constexpr Command kGetProductLen = plain_query(129).failure(text::kGetProductLenFailed);
inline constexpr Command kPQOrderList = plain_query(1500)
                                            .put(Field::Param1, Input::Text0)
                                            .put(Field::Param2, Input::Text1)
                                            .failure(text::kPQOrderListFailed);
inline constexpr Command kPQOrderInfoByID = plain_query(1510)
                                                .put(Field::Param1, Input::Text0)
                                                .put(Field::Param2, Input::Text1)
                                                .put(Field::Param3, Input::Text2)
                                                .failure(text::kPQOrderInfoFailed);
inline constexpr Command kPQGetAbilityURL = plain_query(1520).failure(text::kPQAbilityUrlFailed);

}  // namespace qv::record
