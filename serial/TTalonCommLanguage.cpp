#include "serial/TTalonCommLanguage.h"

#include <cstdlib>

namespace TalonComm {

TTalonCommLanguage::TTalonCommLanguage() : m_lcid(kEnglish) {
    for (const char* var : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char* value = std::getenv(var);
        if (value && *value) {
            m_lcid = LcidFromLocaleName(value);
            return;
        }
    }
}

int TTalonCommLanguage::LcidFromLocaleName(const std::string& name) {
    const std::string territory = name.substr(0, name.find_first_of(".@"));
    if (territory == "zh_CN" || territory == "zh_SG") return kSimplifiedChinese;
    if (territory == "zh_TW" || territory == "zh_HK" || territory == "zh_MO") return kTraditionalChinese;
    return kEnglish;
}

} // namespace TalonComm
