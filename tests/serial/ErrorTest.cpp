// The serial layer's error messages and their language.

#include "serial/ETalonCommError.h"
#include "serial/TTalonCommLanguage.h"

#include <cstdlib>
#include <gtest/gtest.h>

using namespace TalonComm;

struct MessageCase {
    int lcid;
    TErrorCode code;
    const char* port;
    const char* text;
};

class ErrorMessages : public ::testing::TestWithParam<MessageCase> {};

TEST_P(ErrorMessages, TextIsPrefixAndTableEntry) {
    const MessageCase& c = GetParam();
    EXPECT_EQ(ETalonCommError::FormatMessage(c.code, c.port, c.lcid), c.text);
}

INSTANTIATE_TEST_SUITE_P(
    Table, ErrorMessages,
    ::testing::Values(MessageCase{1033, 4, "COM7", "Serial port: \"COM7\" - Cannot open COM port"},
                      MessageCase{1033, 1, "", "Out of memory"},
                      MessageCase{1033, 14, "COM1",
                                  "Serial port: \"COM1\" - Cannot close COM port write thread"},
                      MessageCase{1033, 9, "", "Cannot create COM port asynchronize read event"},
                      MessageCase{1033, 0, "", "Unknown error"},
                      MessageCase{1033, 15, "X", "Serial port: \"X\" - Unknown error"},
                      MessageCase{2052, 4, "COM7", "串行口:“COM7”- 不能打开串行口"},
                      MessageCase{2052, 200, "", "未知错误"},
                      MessageCase{1028, 4, "COM7", "序列埠:『COM7』- 不能打開序列埠"},
                      MessageCase{1028, 13, "", "不能關閉序列埠讀執行緒"},
                      MessageCase{1041, 2, "", "Cannot initialize read buffer"}));

struct LocaleCase {
    const char* name;
    int lcid;
};

class LocaleLanguage : public ::testing::TestWithParam<LocaleCase> {};

TEST_P(LocaleLanguage, LocaleNameSelectsTable) {
    EXPECT_EQ(TTalonCommLanguage::LcidFromLocaleName(GetParam().name), GetParam().lcid);
}

INSTANTIATE_TEST_SUITE_P(Names, LocaleLanguage,
                         ::testing::Values(LocaleCase{"zh_CN.UTF-8", 2052}, LocaleCase{"zh_SG", 2052},
                                           LocaleCase{"zh_TW.UTF-8", 1028}, LocaleCase{"zh_HK.Big5", 1028},
                                           LocaleCase{"zh_MO", 1028}, LocaleCase{"en_US.UTF-8", 1033},
                                           LocaleCase{"C", 1033}, LocaleCase{"zh", 1033},
                                           LocaleCase{"de_DE@euro", 1033}));

TEST(ErrorLanguage, LcAllWinsOverLang) {
    const char* oldAll = std::getenv("LC_ALL");
    const std::string saved = oldAll ? oldAll : "";
    setenv("LANG", "en_US.UTF-8", 1);
    setenv("LC_ALL", "zh_TW.UTF-8", 1);
    const ETalonCommError e(4, "COM3");
    EXPECT_STREQ(e.what(), "序列埠:『COM3』- 不能打開序列埠");
    if (oldAll)
        setenv("LC_ALL", saved.c_str(), 1);
    else
        unsetenv("LC_ALL");
}

TEST(ErrorLanguage, ZeroLocaleMeansEnglish) {
    EXPECT_EQ(TTalonCommLanguage(0).Lcid(), 1033);
}
