#include "serial/ETalonCommError.h"

#include "serial/TTalonCommLanguage.h"

#include <array>
#include <utility>

namespace TalonComm {

namespace {

struct MessageStrings {
    std::array<const char*, 15> texts; // index = code, 0 unused
    const char* prefixOpen;            // text before the port name
    const char* prefixClose;           // text after it
    const char* unknown;
};

const MessageStrings kEnglish{
    {nullptr, "Out of memory", "Cannot initialize read buffer", "Cannot initialize write buffer",
     "Cannot open COM port", "Cannot set comm-mask", "Cannot set COM port buffer size",
     "Cannot read COM port parameters", "Cannot set COM port parameters",
     "Cannot create COM port asynchronize read event", "Cannot create COM port asynchronize write event",
     "Cannot create COM port read thread", "Cannot create COM port write thread",
     "Cannot close COM port read thread", "Cannot close COM port write thread"},
    "Serial port: \"",
    "\" - ",
    "Unknown error"};

const MessageStrings kSimplified{{nullptr, "内存不够", "不能初始化读缓存", "不能初始化写缓存",
                                  "不能打开串行口", "不能设置串行口事件MASK", "不能设置串行口缓存",
                                  "不能得到串行口参数", "不能设置串行口参数", "不能创建串行口异步读事件",
                                  "不能创建串行口异步写事件", "不能创建串行口读线程", "不能创建串行口写线程",
                                  "不能关闭串行口读线程", "不能关闭串行口写线程"},
                                 "串行口:“",
                                 "”- ",
                                 "未知错误"};

const MessageStrings kTraditional{
    {nullptr, "記憶體不夠", "不能初始化讀緩存", "不能初始化寫緩存", "不能打開序列埠",
     "不能設置序列埠事件MASK", "不能設置序列埠緩存", "不能得到序列埠參數", "不能設置序列埠參數",
     "不能創建序列埠非同步讀事件", "不能創建序列埠非同步寫事件", "不能創建序列埠讀執行緒",
     "不能創建序列埠寫執行緒", "不能關閉序列埠讀執行緒", "不能關閉序列埠寫執行緒"},
    "序列埠:『",
    "』- ",
    "未知錯誤"};

const MessageStrings& tableFor(int lcid) {
    if (lcid == TTalonCommLanguage::kTraditionalChinese) return kTraditional;
    if (lcid == TTalonCommLanguage::kSimplifiedChinese) return kSimplified;
    return kEnglish;
}

} // namespace

std::string ETalonCommError::FormatMessage(TErrorCode code, const std::string& portName, int lcid) {
    const MessageStrings& table = tableFor(lcid);
    std::string text;
    if (!portName.empty()) text = table.prefixOpen + portName + table.prefixClose;
    text += (code >= 1 && code < table.texts.size()) ? table.texts[code] : table.unknown;
    return text;
}

ETalonCommError::ETalonCommError(TErrorCode code) : ETalonCommError(code, std::string()) {}

ETalonCommError::ETalonCommError(TErrorCode code, const std::string& portName)
    : ETalonCommError(code, portName, std::string()) {}

ETalonCommError::ETalonCommError(TErrorCode code, const std::string& portName, std::string osReason)
    : std::runtime_error(FormatMessage(code, portName, TTalonCommLanguage().Lcid())), m_code(code),
      m_portName(portName), m_osReason(std::move(osReason)) {}

} // namespace TalonComm
