#include "cli/EvbCtlSession.h"

#include "cli/EvbCtl.h"

#include <algorithm>
#include <cctype>
#include <condition_variable>
#include <deque>
#include <istream>
#include <map>
#include <mutex>
#include <optional>
#include <ostream>
#include <sstream>
#include <thread>

namespace evbctl {

namespace {

constexpr const char* kDefaultBoard = "default";

struct Request {
    Json id;           // the request's id, or its line number
    std::string board; // "" for the session's own commands (open, close, wait)
    std::vector<std::string> words;
};

// Where answers go: each one whole, whichever board's thread it comes from. Counts the commands
// not yet answered and keeps the worst exit status.
class Answers {
  public:
    Answers(std::ostream& out, std::ostream& err, bool json) : m_out(out), m_err(err), m_json(json) {}

    void posted() {
        std::lock_guard lock(m_mutex);
        ++m_outstanding;
    }

    // Runs command with a result of its own and writes the answer in one piece.
    void answer(const Request& r, const std::function<int(Result&)>& command, bool wasPosted = false) {
        std::ostringstream out, err;
        Json head = {{"id", r.id}, {"board", r.board.empty() ? Json() : Json(r.board)}};
        Result result(out, err, m_json, head);
        const int rc = result.finish(command(result));
        const std::string lead = r.id.dump() + " " + (r.board.empty() ? "-" : r.board) + ": ";
        std::lock_guard lock(m_mutex);
        m_out << (m_json ? out.str() : prefixed(out.str(), lead) + lead + "exit " + std::to_string(rc) + "\n")
              << std::flush;
        m_err << prefixed(err.str(), lead) << std::flush;
        m_worst = std::max(m_worst, rc);
        if (wasPosted && --m_outstanding == 0) m_idle.notify_all();
    }

    // An answer to a request that could not be read or not be given to a board.
    void refuse(const Request& r, int line, int rc, const std::string& message) {
        answer(r, [&](Result& result) {
            result["line"] = line;
            return result.fail(rc, "line " + std::to_string(line) + ": " + message);
        });
    }

    void waitIdle() {
        std::unique_lock lock(m_mutex);
        m_idle.wait(lock, [&] { return m_outstanding == 0; });
    }

    int worst() const {
        std::lock_guard lock(m_mutex);
        return m_worst;
    }

  private:
    static std::string prefixed(const std::string& text, const std::string& lead) {
        std::string s;
        std::istringstream lines(text);
        for (std::string line; std::getline(lines, line);)
            s += lead + line + "\n";
        return s;
    }

    std::ostream& m_out;
    std::ostream& m_err;
    const bool m_json;
    mutable std::mutex m_mutex;
    std::condition_variable m_idle;
    int m_outstanding = 0;
    int m_worst = 0;
};

// One board of the session: its port, held open on a thread of its own that runs the board's
// commands in the order they came.
class BoardWorker {
  public:
    BoardWorker(const SessionSetup& setup, const Request& open, const std::string& port, Answers& answers,
                std::ostream& err, TalonComm::TLineIo* line)
        : m_answers(answers), m_thread([=, this, &setup, &err] { run(setup, open, port, err, line); }) {}

    ~BoardWorker() {
        {
            std::lock_guard lock(m_mutex);
            m_ending = true;
        }
        m_wake.notify_all();
        m_thread.join();
    }

    void post(Request r) {
        m_answers.posted();
        {
            std::lock_guard lock(m_mutex);
            m_queue.push_back(std::move(r));
        }
        m_wake.notify_all();
    }

  private:
    void run(const SessionSetup& setup, const Request& open, const std::string& port, std::ostream& err,
             TalonComm::TLineIo* line) {
        HeldBoard board(setup, port, err, line);
        bool opened = false, closed = false;
        m_answers.answer(
            open,
            [&](Result& result) {
                result.setCommand("open");
                result["port"] = port.empty() ? Json() : Json(port);
                const int rc = board.open(result);
                opened = rc == kExitOk;
                return rc;
            },
            true);
        for (;;) {
            std::unique_lock lock(m_mutex);
            m_wake.wait(lock, [&] { return m_ending || !m_queue.empty(); });
            if (m_queue.empty()) return;
            const Request r = std::move(m_queue.front());
            m_queue.pop_front();
            lock.unlock();
            m_answers.answer(
                r,
                [&](Result& result) -> int {
                    if (r.words.front() == "close") {
                        result.setCommand("close");
                        closed = true;
                        return kExitOk;
                    }
                    if (!opened) {
                        result.setCommand(r.words.front());
                        return result.fail(kExitPort, "the board's port could not be opened");
                    }
                    return board.run(r.words, result);
                },
                true);
            if (closed) return;
        }
    }

    Answers& m_answers;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<Request> m_queue;
    bool m_ending = false;
    std::thread m_thread; // last: it starts once the rest is built
};

// Splits a line into words at blanks; "double quotes" keep blanks in a word.
std::optional<std::vector<std::string>> splitWords(const std::string& text) {
    std::vector<std::string> words;
    std::string word;
    bool inWord = false, quoted = false;
    for (const char c : text) {
        if (c == '"') {
            quoted = !quoted;
            inWord = true;
        } else if (!quoted && (c == ' ' || c == '\t' || c == '\r')) {
            if (inWord) words.push_back(word);
            word.clear();
            inWord = false;
        } else {
            word += c;
            inWord = true;
        }
    }
    if (quoted) return std::nullopt;
    if (inWord) words.push_back(word);
    return words;
}

bool validName(const std::string& name) {
    return !name.empty() && std::all_of(name.begin(), name.end(), [](char c) {
        return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '-' || c == '.';
    });
}

// The arguments a JSON request names, in the order of the command line.
const std::map<std::string, std::vector<std::string>>& namedArguments() {
    static const std::map<std::string, std::vector<std::string>> k = {
        {"read", {"reg"}},           {"write", {"reg", "value"}},
        {"fields", {"reg"}},         {"dump", {"count"}},
        {"send", {"file"}},          {"save", {"file", "count"}},
        {"diff", {"file", "count"}}, {"restore", {"file", "count"}},
        {"address", {"address"}},    {"mode", {"mode"}},
        {"mclk", {"source"}},        {"sdp", {"port", "direction"}},
        {"check", {"file"}},         {"open", {"name", "port"}},
        {"close", {"name"}},         {"record", {"action", "file"}},
    };
    return k;
}

std::string word(const Json& v, const std::string& key) {
    if (v.is_string()) return v.get<std::string>();
    if (v.is_number_integer()) return std::to_string(v.get<long long>());
    throw std::invalid_argument("\"" + key + "\" must be a string or a whole number");
}

// {"id": 7, "board": "b2", "cmd": "read", "reg": "0x1A"}; "args": [...] gives the words as they are.
// r takes the id and the board first, so that a request refused keeps them.
void fromJson(const std::string& text, Request& r) {
    const Json o = Json::parse(text);
    if (!o.is_object()) throw std::invalid_argument("a request is a JSON object");
    if (o.contains("id")) r.id = o["id"];
    if (o.contains("board")) r.board = word(o["board"], "board");
    if (!o.contains("cmd")) throw std::invalid_argument("the request has no \"cmd\"");
    r.words.push_back(word(o["cmd"], "cmd"));
    const auto named = namedArguments().find(r.words[0]);
    std::vector<std::string> positional;
    for (const auto& [key, value] : o.items()) {
        if (key == "id" || key == "board" || key == "cmd") continue;
        if (key == "args") {
            if (!value.is_array()) throw std::invalid_argument("\"args\" must be an array");
            for (const Json& a : value)
                r.words.push_back(word(a, "args"));
        } else if (key == "all" || key == "strict" || key == "dry_run") {
            if (value == true) r.words.push_back(key == "dry_run" ? "--dry-run" : "--" + key);
        } else if (key == "timeout" || key == "regmap" || key == "chip") {
            r.words.insert(r.words.end(), {"--" + key, word(value, key)});
        } else if (named == namedArguments().end() ||
                   std::find(named->second.begin(), named->second.end(), key) == named->second.end()) {
            throw std::invalid_argument("'" + r.words[0] + "' takes no \"" + key + "\"");
        }
    }
    // The named arguments in their order; one left out ends them (the rest keep their defaults).
    if (named != namedArguments().end())
        for (const std::string& key : named->second) {
            if (!o.contains(key)) break;
            positional.push_back(word(o[key], key));
        }
    r.words.insert(r.words.begin() + 1, positional.begin(), positional.end());
}

Request fromText(const std::string& text, int line) {
    auto words = splitWords(text);
    if (!words) throw std::invalid_argument("a quote is not closed");
    Request r;
    r.id = line;
    if (!words->empty() && words->front().size() > 1 && words->front().back() == ':') {
        r.board = words->front().substr(0, words->front().size() - 1);
        words->erase(words->begin());
    }
    if (words->empty()) throw std::invalid_argument("no command after the board's name");
    r.words = std::move(*words);
    return r;
}

} // namespace

int RunSession(const SessionSetup& setup, std::istream& in, std::ostream& out, std::ostream& err,
               TalonComm::TLineIo* line) {
    const InterruptWatch interrupt;
    Answers answers(out, err, setup.json);
    std::map<std::string, std::unique_ptr<BoardWorker>> boards;
    std::vector<std::unique_ptr<BoardWorker>> closing; // finishing their commands, then the close
    const auto open = [&](const Request& r, const std::string& name, const std::string& port) {
        answers.posted();
        boards[name] = std::make_unique<BoardWorker>(setup, r, port, answers, err, line);
    };
    if (setup.simulate || !setup.port.empty())
        open({Json(0), kDefaultBoard, {"open"}}, kDefaultBoard, setup.simulate ? "" : setup.port);

    std::string text;
    for (int lineNo = 1; std::getline(in, text); ++lineNo) {
        const std::size_t start = text.find_first_not_of(" \t\r");
        if (start == std::string::npos || text[start] == '#') continue;
        Request r;
        r.id = lineNo;
        try {
            if (text[start] == '{' && !setup.json)
                throw std::invalid_argument("a JSON request needs 'session --json'");
            if (text[start] == '{')
                fromJson(text, r);
            else
                r = fromText(text.substr(start), lineNo);
        } catch (const Json::exception& e) {
            answers.refuse(r, lineNo, kExitUsage, std::string("not a JSON request: ") + e.what());
            continue;
        } catch (const std::exception& e) {
            answers.refuse(r, lineNo, kExitUsage, e.what());
            continue;
        }
        const std::string& command = r.words.front();
        if (command == "wait") {
            answers.waitIdle();
            answers.answer(r, [](Result& result) {
                result.setCommand("wait");
                return kExitOk;
            });
        } else if (command == "open") {
            const std::string name = r.words.size() > 1 ? r.words[1] : "";
            if (r.words.size() != 3 || !validName(name))
                answers.refuse(r, lineNo, kExitUsage,
                               "open takes a board's name (letters, digits, _ - .) and a port");
            else if (boards.count(name))
                answers.refuse(r, lineNo, kExitUsage, "a board named " + name + " is open already");
            else
                open({r.id, name, r.words}, name, r.words[2]);
        } else if (command == "close") {
            const std::string name = r.words.size() == 2 ? r.words[1] : r.board;
            const auto it = boards.find(name);
            if (it == boards.end()) {
                answers.refuse(r, lineNo, kExitUsage, "no board named " + name);
            } else {
                r.board = name;
                r.words = {"close"};
                it->second->post(r);
                closing.push_back(std::move(it->second));
                boards.erase(it);
            }
        } else if (NeedsNoBoard(r.words)) {
            answers.answer(r, [&](Result& result) { return RunBoardless(r.words, setup, result); });
        } else {
            if (r.board.empty() && (setup.simulate || !setup.port.empty())) r.board = kDefaultBoard;
            const auto it = boards.find(r.board);
            if (it == boards.end())
                answers.refuse(r, lineNo, kExitUsage,
                               r.board.empty()
                                   ? "no board: name one (NAME: command) or start the session with --port"
                                   : "no board named " + r.board + "; open it with 'open " + r.board +
                                         " PORT'");
            else
                it->second->post(r);
        }
    }
    // Each board finishes what it was given, then closes its port.
    boards.clear();
    closing.clear();
    return interrupt.fired() ? std::max(answers.worst(), int{kExitInterrupted}) : answers.worst();
}

} // namespace evbctl
