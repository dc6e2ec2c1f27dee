#pragma once
// The serial layer's exception: an error code, the port name, and a message in the language
// of the user's locale (English, simplified or traditional Chinese).

#include "CommTypes.h"

#include <stdexcept>
#include <string>

namespace TalonComm {

class ETalonCommError : public std::runtime_error {
  public:
    explicit ETalonCommError(TErrorCode code);
    ETalonCommError(TErrorCode code, const std::string& portName);
    // osReason: the operating system's reason (strerror text, with advice where useful),
    // shown by the application on a line of its own below the message.
    ETalonCommError(TErrorCode code, const std::string& portName, std::string osReason);

    // The message for a code in the language of a locale identifier (see TTalonCommLanguage);
    // the port-name prefix only when portName is not empty.
    static std::string FormatMessage(TErrorCode code, const std::string& portName, int lcid);

    TErrorCode ErrorCode() const { return m_code; }
    const std::string& PortName() const { return m_portName; }
    const std::string& OsReason() const { return m_osReason; }

  private:
    TErrorCode m_code;
    std::string m_portName;
    std::string m_osReason;
};

} // namespace TalonComm
