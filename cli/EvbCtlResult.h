#pragma once
// One command's result. The command's logic fills it once; it leaves either as text for people,
// written as it comes so that it keeps its place among the board's console lines, or, with
// --json, as one JSON object on standard output when the command ends:
//   {"ok": true, "cmd": "read", "reg": 26, "name": "ADC_VOL_L", "value": 5}
//   {"ok": false, "cmd": "read", "exit": 1, "error": "the board did not answer within 1000 ms"}
// Warnings and file diagnostics stay on the error stream in both forms.

#include <nlohmann/json.hpp>

#include <iosfwd>
#include <string>
#include <vector>

namespace evb {
struct ConfigDiagnostic;
}

namespace evbctl {

using Json = nlohmann::ordered_json;

// [{"file": …, "line": 2, "severity": "error", "message": …}, …]
Json DiagnosticsJson(const std::vector<evb::ConfigDiagnostic>& diagnostics, const std::string& file);

class Result {
  public:
    // head: the fields that lead the object (a session's "id" and "board").
    Result(std::ostream& out, std::ostream& err, bool json, Json head = Json::object());

    bool json() const { return m_json; }
    std::ostream& out() const { return m_out; }
    std::ostream& err() const { return m_err; }
    void setCommand(const std::string& cmd) { m_cmd = cmd; }
    // Text for people; nothing with --json (the fields say it).
    void say(const std::string& text);
    // A field of the JSON object.
    Json& operator[](const std::string& key) { return m_fields[key]; }
    // A failure: "evbctl: message" on the error stream (unless tell is false: the text has said
    // it), or the object's "error" (the first one given). Returns rc.
    int fail(int rc, const std::string& message, bool tell = true);
    // Ends the command with its exit status; with --json the object is written. Returns rc.
    int finish(int rc);

  private:
    std::ostream& m_out;
    std::ostream& m_err;
    bool m_json;
    Json m_head;
    std::string m_cmd;
    Json m_fields = Json::object();
    std::string m_error;
    bool m_finished = false;
};

} // namespace evbctl
