#include "cli/EvbCtlResult.h"

#include "protocol/ConfigCheck.h"

#include <ostream>

namespace evbctl {

Json DiagnosticsJson(const std::vector<evb::ConfigDiagnostic>& diagnostics, const std::string& file) {
    Json a = Json::array();
    for (const evb::ConfigDiagnostic& d : diagnostics)
        a.push_back({{"file", file},
                     {"line", d.line},
                     {"severity", d.severity == evb::ConfigSeverity::Error ? "error" : "warning"},
                     {"message", d.message}});
    return a;
}

Result::Result(std::ostream& out, std::ostream& err, bool json, Json head)
    : m_out(out), m_err(err), m_json(json), m_head(std::move(head)) {}

void Result::say(const std::string& text) {
    if (!m_json) m_out << text << std::flush;
}

int Result::fail(int rc, const std::string& message, bool tell) {
    if (!m_json && tell)
        m_err << "evbctl: " << message << std::endl;
    else if (m_error.empty())
        m_error = message;
    return rc;
}

int Result::finish(int rc) {
    if (!m_json || m_finished) return rc;
    m_finished = true;
    Json o = m_head;
    o["ok"] = rc == 0;
    if (!m_cmd.empty()) o["cmd"] = m_cmd;
    if (rc != 0) o["exit"] = rc;
    for (auto& [key, value] : m_fields.items())
        o[key] = value;
    if (rc != 0) o["error"] = m_error;
    m_out << o.dump(-1, ' ', false, Json::error_handler_t::replace) << "\n" << std::flush;
    return rc;
}

} // namespace evbctl
