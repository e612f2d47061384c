// The local number classification: the number's form, the carrier list's
// entries, and the length-prefixed argument layout.  No server is involved.
#include <quorvex.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "gbk.h"

namespace qvtest {
namespace {

using Bytes = std::string;

// A length-prefixed argument laid out by hand: the length as four
// little-endian bytes, then the text, then `tail` (bytes that lie beyond
// the length and must not be read as part of the text).
class Prefixed {
 public:
  Prefixed(const Bytes &text, int32_t length, const Bytes &tail = "\x7f\x7f\x7f\x7f") {
    const auto v = static_cast<uint32_t>(length);
    storage_ = {char(v & 0xff), char((v >> 8) & 0xff), char((v >> 16) & 0xff), char(v >> 24)};
    storage_ += text;
    storage_ += tail;
  }
  explicit Prefixed(const Bytes &text) : Prefixed(text, static_cast<int32_t>(text.size())) {}
  const char *get() const { return storage_.data() + 4; }
  const Bytes &storage() const { return storage_; }

 private:
  Bytes storage_;
};

int32_t classify(const Bytes &number, const Bytes &list) {
  const Prefixed n(number), l(list);
  return CheckTels(n.get(), l.get());
}

const Bytes kMobile = gbk(",移动");
const Bytes kUnicom = gbk(",联通");
Bytes mobile(const Bytes &prefix) { return prefix + kMobile; }
Bytes unicom(const Bytes &prefix) { return prefix + kUnicom; }

struct TelCase {
  const char *name;
  Bytes number;
  Bytes list;
  int32_t expected;
};

void PrintTo(const TelCase &c, std::ostream *os) { *os << c.name; }

class CheckTelsClass : public ::testing::TestWithParam<TelCase> {};

TEST_P(CheckTelsClass, Classifies) {
  EXPECT_EQ(GetParam().expected, classify(GetParam().number, GetParam().list));
}

// A list under which every prefix of the tests is a first-carrier number,
// so that only the number's form can make the result 0.
const Bytes kEveryPrefix = mobile("139") + ";" + mobile("101") + ";" + mobile("010");

// By length and first digit: only 11 digits reach the list; 8 to 12 digits
// beginning with 0 are 3 whatever the list says.
INSTANTIATE_TEST_SUITE_P(
    Form, CheckTelsClass,
    ::testing::Values(TelCase{"Seven", "1391234", kEveryPrefix, 0},
                      TelCase{"Eight", "13912345", kEveryPrefix, 0},
                      TelCase{"Nine", "139123456", kEveryPrefix, 0},
                      TelCase{"Ten", "1391234567", kEveryPrefix, 0},
                      TelCase{"Eleven", "13912345678", kEveryPrefix, 1},
                      TelCase{"Twelve", "139123456789", kEveryPrefix, 0},
                      TelCase{"Thirteen", "1391234567890", kEveryPrefix, 0},
                      TelCase{"ZeroSeven", "0101234", kEveryPrefix, 0},
                      TelCase{"ZeroEight", "01012345", kEveryPrefix, 3},
                      TelCase{"ZeroNine", "010123456", "", 3},
                      TelCase{"ZeroTen", "0101234567", kEveryPrefix, 3},
                      TelCase{"ZeroEleven", "01012345678", kEveryPrefix, 3},
                      TelCase{"ZeroTwelve", "010123456789", "", 3},
                      TelCase{"ZeroThirteen", "0101234567890", kEveryPrefix, 0},
                      TelCase{"AllZeros", "00000000", "", 3}, TelCase{"Empty", "", kEveryPrefix, 0},
                      TelCase{"LetterLast", "1391234567a", kEveryPrefix, 0},
                      TelCase{"LetterFirst", "a3912345678", kEveryPrefix, 0},
                      TelCase{"LetterAfterZero", "0101234567x", kEveryPrefix, 0},
                      TelCase{"Space", "139 1234567", kEveryPrefix, 0},
                      TelCase{"PlusSign", "+8613912345", kEveryPrefix, 0},
                      TelCase{"ZeroByte",
                              Bytes("139\0"
                                    "1234567",
                                    11),
                              kEveryPrefix, 0},
                      TelCase{"FullWidthDigits", gbk("１３９１２"), kEveryPrefix, 0},
                      TelCase{"ByteAboveDigits", "1391234567:", kEveryPrefix, 0},
                      TelCase{"ByteBelowDigits", "1391234567/", kEveryPrefix, 0}),
    [](const auto &info) { return std::string(info.param.name); });

// By the carrier list: whole entries between semicolons, empty pieces
// skipped, nothing trimmed, the first carrier winning over the second.
INSTANTIATE_TEST_SUITE_P(
    List, CheckTelsClass,
    ::testing::Values(
        TelCase{"FirstCarrier", "13912345678", mobile("139"), 1},
        TelCase{"SecondCarrier", "13912345678", unicom("139"), 2},
        TelCase{"BothFirstListedFirst", "13912345678", mobile("139") + ";" + unicom("139"), 1},
        TelCase{"BothSecondListedFirst", "13912345678", unicom("139") + ";" + mobile("139"), 1},
        TelCase{"OtherPrefixes", "13912345678", mobile("138") + ";" + unicom("130"), 0},
        TelCase{"EmptyList", "13912345678", "", 0},
        TelCase{"PrefixOfTheNumber", "13012345678", mobile("139") + ";" + unicom("130"), 2},
        TelCase{"LeadingSemicolon", "13912345678", ";" + mobile("139"), 1},
        TelCase{"DoubleSemicolon", "13912345678", unicom("130") + ";;" + unicom("139"), 2},
        TelCase{"TrailingSemicolon", "13912345678", unicom("139") + ";", 2},
        TelCase{"OnlySemicolons", "13912345678", ";;;", 0},
        TelCase{"Repeated", "13912345678", unicom("139") + ";" + unicom("139"), 2},
        TelCase{"SpaceBefore", "13912345678", " " + mobile("139"), 0},
        TelCase{"SpaceAfter", "13912345678", mobile("139") + " ", 0},
        TelCase{"SpaceAfterComma", "13912345678", "139, " + gbk("移动"), 0},
        TelCase{"SpacesAroundAnInnerEntry", "13912345678",
                " " + mobile("139") + " ;" + unicom("130"), 0},
        TelCase{"TabBefore", "13912345678", unicom("130") + ";\t" + mobile("139"), 0},
        TelCase{"MoreAfterCarrier", "13912345678", mobile("139") + gbk(",备用"), 0},
        TelCase{"CarrierCut", "13912345678", "139," + gbk("移"), 0},
        TelCase{"TwoDigitPrefix", "13912345678", mobile("13"), 0},
        TelCase{"FourDigitPrefix", "13912345678", mobile("1391"), 0},
        TelCase{"PrefixAlone", "13912345678", "139", 0},
        TelCase{"CarrierAlone", "13912345678", kMobile, 0},
        TelCase{"NoComma", "13912345678", "139" + gbk("移动"), 0},
        TelCase{"FullWidthComma", "13912345678", "139" + gbk("，移动"), 0},
        TelCase{"ThirdCarrier", "13912345678", "139" + gbk(",电信"), 0},
        TelCase{"OtherEntriesIgnored", "13912345678",
                gbk("说明") + ";139;" + kMobile + ";x;" + unicom("139") + ";" + gbk("电信"), 2},
        // Bytes 0xD2 0xC6 of the carrier word fold to 0xF2 0xE6 in Latin-1;
        // only ASCII letters compare without regard to case.
        TelCase{"NonAsciiBytesNotFolded", "13912345678", "139,\xf2\xe6\xb6\xaf", 0},
        // The list is taken by its length: a zero byte is an ordinary byte.
        TelCase{"ZeroByteInAnEarlierEntry", "13912345678",
                unicom("130") + Bytes(1, '\0') + ";" + mobile("139"), 1},
        TelCase{"ZeroByteAfterTheCarrier", "13912345678", mobile("139") + Bytes(1, '\0'), 0}),
    [](const auto &info) { return std::string(info.param.name); });

// A realistic list of a few hundred entries: every prefix from 130 to 199
// under one carrier or the other, with other entries between them.
TEST(CheckTelsWords, LongListFindsEachPrefixUnderItsCarrier) {
  Bytes list = gbk("运营商号段表") + ";";
  for (int p = 130; p <= 199; ++p) {
    list += (p % 3 == 0 ? unicom(std::to_string(p)) : mobile(std::to_string(p))) + ";";
    list += std::to_string(p) + gbk(",电信") + ";";
  }
  for (int p = 130; p <= 199; ++p)
    EXPECT_EQ(p % 3 == 0 ? 2 : 1, classify(std::to_string(p) + "12345678", list)) << p;
  EXPECT_EQ(0, classify("12912345678", list));
  EXPECT_EQ(0, classify("20012345678", list));
}

// ------------------------------------------------------------ argument layout

// The length is read from the four bytes before the text; the bytes after
// it are never part of the text.
TEST(CheckTelsLayout, TextsAreTakenByTheirLengthAlone) {
  const Prefixed list(mobile("139"));
  // Digits beyond the length do not lengthen the number...
  const Prefixed eleven("13912345678", 11, "9999");
  EXPECT_EQ(1, CheckTels(eleven.get(), list.get()));
  // ...and a shorter length shortens it.
  const Prefixed ten("13912345678", 10);
  EXPECT_EQ(0, CheckTels(ten.get(), list.get()));
  // A list cut inside its carrier word no longer matches.
  const Bytes entry = mobile("139");
  const Prefixed cut(entry, static_cast<int32_t>(entry.size() - 1));
  EXPECT_EQ(0, CheckTels(eleven.get(), cut.get()));
  // A list cut before its second entry loses it.
  const Bytes two = unicom("130") + ";" + mobile("139");
  const Prefixed first_only(two, static_cast<int32_t>(unicom("130").size()));
  EXPECT_EQ(0, CheckTels(eleven.get(), first_only.get()));
}

TEST(CheckTelsLayout, NullAndNegativeLengthsAreEmpty) {
  const Prefixed number("13912345678");
  const Prefixed zero_number("01012345678");
  const Prefixed list(mobile("139"));
  EXPECT_EQ(0, CheckTels(nullptr, list.get()));
  EXPECT_EQ(0, CheckTels(number.get(), nullptr));
  EXPECT_EQ(3, CheckTels(zero_number.get(), nullptr));
  EXPECT_EQ(0, CheckTels(nullptr, nullptr));
  const Prefixed negative_number("13912345678", -11);
  EXPECT_EQ(0, CheckTels(negative_number.get(), list.get()));
  const Prefixed negative_list(mobile("139"), -1);
  EXPECT_EQ(0, CheckTels(number.get(), negative_list.get()));
  const Prefixed most_negative(mobile("139"), INT32_MIN);
  EXPECT_EQ(0, CheckTels(number.get(), most_negative.get()));
}

TEST(CheckTelsLayout, NeitherTextIsChanged) {
  const Prefixed number("13912345678");
  const Prefixed list(";" + unicom("130") + ";;" + mobile("139") + ";");
  const Bytes number_before = number.storage(), list_before = list.storage();
  EXPECT_EQ(1, CheckTels(number.get(), list.get()));
  EXPECT_EQ(number_before, number.storage());
  EXPECT_EQ(list_before, list.storage());
}

// The header's helper lays out the same bytes as the hand-made layout.
TEST(CheckTelsLayout, HelperWritesLengthThenText) {
  const Bytes text = mobile("139");
  char storage[64];
  std::memset(storage, 'Z', sizeof storage);
  const char *p = qv_length_prefixed(storage, text.data(), static_cast<int32_t>(text.size()));
  EXPECT_EQ(storage + 4, p);
  const Prefixed by_hand(text, static_cast<int32_t>(text.size()), "");
  EXPECT_EQ(by_hand.storage(), Bytes(storage, 4 + text.size()));
  EXPECT_EQ('Z', storage[4 + text.size()]);  // no terminator added

  char number[4 + 11];
  EXPECT_EQ(1, CheckTels(qv_length_prefixed(number, "13912345678", 11), p));
  char empty[4];
  EXPECT_EQ(0, CheckTels(qv_length_prefixed(empty, nullptr, 0), p));
  EXPECT_EQ(Bytes(4, '\0'), Bytes(empty, 4));
}

}  // namespace
}  // namespace qvtest
