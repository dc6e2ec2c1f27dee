#pragma once
// The language of the serial layer's messages, as a Windows-style locale identifier:
// 2052 simplified Chinese, 1028 traditional Chinese, 1033 English (and everything else).

#include <string>

namespace TalonComm {

class TTalonCommLanguage {
  public:
    static constexpr int kEnglish = 1033;
    static constexpr int kSimplifiedChinese = 2052;
    static constexpr int kTraditionalChinese = 1028;

    // From the process environment: LC_ALL, then LC_MESSAGES, then LANG (first one set).
    TTalonCommLanguage();
    explicit TTalonCommLanguage(int lcid) : m_lcid(lcid == 0 ? kEnglish : lcid) {}

    int Lcid() const { return m_lcid; }
    // "zh_CN.UTF-8" -> 2052, "zh_TW" -> 1028, anything else -> 1033.
    static int LcidFromLocaleName(const std::string& name);

  private:
    int m_lcid;
};

} // namespace TalonComm
