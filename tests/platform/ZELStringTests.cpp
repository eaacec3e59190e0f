#include <gtest/gtest.h>

#include "zel/platform/ZELError.h"
#include "zel/platform/ZELString.h"
#include "zel/platform/ZELValue.h"

// UTF-8 round trips keep every plane; ill-formed input becomes replacement characters.
TEST(ZELString, UTF8Conversions) {
    const std::string text = "a\xC3\xA9\xE6\x97\xA5\xF0\x9F\x98\x80";  // a, é, 日, 😀
    const ZELString utf16 = ZELStringFromUTF8(text);
    EXPECT_EQ(utf16, (ZELString{u'a', 0x00E9, 0x65E5, 0xD83D, 0xDE00}));
    EXPECT_EQ(ZELStringToUTF8(utf16), text);

    EXPECT_EQ(ZELStringFromUTF8("a\xFF" "b"), (ZELString{u'a', 0xFFFD, u'b'}));
    EXPECT_EQ(ZELStringFromUTF8("\xC0\xAF"), (ZELString{0xFFFD, 0xFFFD}));  // overlong
    EXPECT_EQ(ZELStringFromUTF8("\xED\xA0\x80"), (ZELString{0xFFFD, 0xFFFD, 0xFFFD}));  // surrogate
    EXPECT_EQ(ZELStringFromUTF8("\xE6\x97"), (ZELString{0xFFFD, 0xFFFD}));  // truncated
    EXPECT_EQ(ZELStringToUTF8(ZELString{0xD800, u'x'}), "\xEF\xBF\xBDx");
    EXPECT_FALSE(ZELStringIsValidUTF8("\xF4\x90\x80\x80"));  // past U+10FFFF
    EXPECT_TRUE(ZELStringIsValidUTF8("plain \xE2\x82\xAC"));
}

TEST(ZELError, MatchesOnlyItsOwnDomain) {
    const ZELError error = ZELError::errorWithZELErrorCode(ZELErrorCodeInvalidData, "bad");
    EXPECT_TRUE(error.matchesZELErrorCode(ZELErrorCodeInvalidData));
    EXPECT_FALSE(error.matchesZELErrorCode(ZELErrorCodeIOFailure));
    EXPECT_FALSE(ZELError::errorWithDomain("OtherDomain", 3, "bad").matchesZELErrorCode(3));
    EXPECT_EQ(error.failureReason(), "bad");
    EXPECT_STREQ(ZELErrorCodeName(ZELErrorCodeUnsupportedOperation),
                 "ZELErrorCodeUnsupportedOperation");

    ZELError out;
    EXPECT_FALSE(ZELSetError(&out, error));
    EXPECT_EQ(out, error);
    EXPECT_FALSE(ZELSetError(nullptr, error));
}

TEST(ZELValue, TypedLookupNamesTheProblem) {
    ZELValue::Dictionary dictionary;
    dictionary[u"Name"] = ZELValue(u"x");
    const ZELValue value(dictionary);
    ZELError error;
    EXPECT_NE(value.valueForKey("Name", ZELValue::Kind::String, &error), nullptr);
    EXPECT_EQ(value.valueForKey("Name", ZELValue::Kind::Integer, &error), nullptr);
    EXPECT_EQ(error.failureReason(), "value for key \"Name\" is a string, expected a integer");
    EXPECT_EQ(value.valueForKey("Missing", ZELValue::Kind::String, &error), nullptr);
    EXPECT_EQ(error.failureReason(), "missing value for key \"Missing\"");
}
