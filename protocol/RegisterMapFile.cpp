#include "protocol/RegisterMapFile.h"

#include "protocol/TextConv.h"

#include <nlohmann/json.hpp>
#include <pugixml.hpp>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>

namespace evb {

namespace {

constexpr const char* kJsonFormat = "evbconsole-regmap-1";

// --- the raw description both formats are read into ---

struct RawValue {
    long long value = 0;
    std::string name;
    int line = 0;
};

struct RawField {
    std::string name, description;
    int line = 0;
    long long msb = -1, lsb = -1; // < 0: not given (the parser has said so)
    int bitsLine = 0;
    std::vector<RawValue> values;
};

struct RawRegister {
    std::string name, description;
    int line = 0, nameLine = 0;
    long long address = -1;
    bool addressGiven = false;
    bool addressRead = true; // false: its text was no number (already reported)
    int addressLine = 0;
    std::string access = "read-write";
    int accessLine = 0;
    long long reset = 0;
    int resetLine = 0;
    bool isVolatile = false;
    std::vector<RawField> fields;
};

struct RawMap {
    std::string chip;
    std::vector<RawRegister> registers;
};

class Diagnostics {
  public:
    explicit Diagnostics(std::vector<ConfigDiagnostic>& out) : m_out(out) {}
    void error(int line, std::string message) {
        m_out.push_back({line, ConfigSeverity::Error, std::move(message)});
    }
    void warning(int line, std::string message) {
        m_out.push_back({line, ConfigSeverity::Warning, std::move(message)});
    }

  private:
    std::vector<ConfigDiagnostic>& m_out;
};

std::string hex(long long v) {
    return v < 0 ? std::to_string(v) : "0x" + Hex2(static_cast<unsigned>(v));
}

std::string bitsText(long long msb, long long lsb) {
    return msb == lsb ? std::to_string(msb) : std::to_string(msb) + ":" + std::to_string(lsb);
}

// "7", "6:0", "[7:4]" -> msb, lsb
bool parseBits(std::string_view text, long long& msb, long long& lsb) {
    if (text.size() >= 2 && text.front() == '[' && text.back() == ']') text = text.substr(1, text.size() - 2);
    const auto colon = text.find(':');
    const auto hi = ParseMapNumber(text.substr(0, colon));
    const auto lo = colon == std::string_view::npos ? hi : ParseMapNumber(text.substr(colon + 1));
    if (!hi || !lo) return false;
    msb = *hi;
    lsb = *lo;
    return true;
}

// --- the validator both formats share ---

std::optional<RegisterMap> Validate(const RawMap& raw, Diagnostics& diag) {
    bool ok = true;
    const auto error = [&](int line, std::string message) {
        diag.error(line, std::move(message));
        ok = false;
    };
    std::map<std::string, const RawRegister*> byName;
    std::map<long long, const RawRegister*> byAddress;
    std::vector<RegisterInfo> registers;
    for (const RawRegister& r : raw.registers) {
        if (r.name.empty()) {
            error(r.line, "register without a name");
        } else {
            std::string key = r.name;
            std::transform(key.begin(), key.end(), key.begin(),
                           [](unsigned char c) { return std::toupper(c); });
            const auto [it, fresh] = byName.emplace(key, &r);
            if (!fresh)
                error(r.nameLine, "duplicate register name " + r.name + " (first at line " +
                                      std::to_string(it->second->nameLine) + ")");
        }
        const std::string who = r.name.empty() ? std::string("the register") : "register " + r.name;
        if (!r.addressGiven) {
            error(r.line, who + " has no address");
        } else if (r.address < 0 || r.address > 0xFF) {
            error(r.addressLine, "address " + hex(r.address) + " of " + who +
                                     (r.address < 0 ? " is negative" : " is above 0xFF"));
        } else if (r.addressRead) {
            const auto [it, fresh] = byAddress.emplace(r.address, &r);
            if (!fresh)
                error(r.addressLine, "duplicate address " + hex(r.address) + ": " + who + " and " +
                                         it->second->name + " (line " +
                                         std::to_string(it->second->addressLine) + ")");
        }
        const auto access = AccessFromName(r.access);
        if (!access)
            error(r.accessLine,
                  "unknown access '" + r.access + "' of " + who + " (read-write, read-only or write-only)");

        RegisterInfo info;
        info.address = static_cast<std::uint8_t>(r.address & 0xFF);
        info.name = r.name;
        info.description = r.description;
        info.access = access.value_or(RegisterAccess::ReadWrite);
        info.isVolatile = r.isVolatile;
        unsigned used = 0;
        std::map<std::string, int> fieldNames;
        for (const RawField& f : r.fields) {
            const int bitsLine = f.bitsLine ? f.bitsLine : f.line;
            const std::string fieldWho = f.name.empty() ? std::string("the field") : "field " + f.name;
            if (f.name.empty()) error(f.line, "field without a name in " + who);
            std::string key = f.name;
            std::transform(key.begin(), key.end(), key.begin(),
                           [](unsigned char c) { return std::toupper(c); });
            if (const auto [it, fresh] = fieldNames.emplace(key, f.line); !fresh && !f.name.empty())
                error(f.line, "duplicate field name " + f.name + " in " + who + " (first at line " +
                                  std::to_string(it->second) + ")");
            if (f.msb < 0 || f.lsb < 0) continue; // the parser reported the missing bits
            if (f.msb > 7 || f.lsb > 7) {
                error(bitsLine,
                      "bits " + bitsText(f.msb, f.lsb) + " of " + fieldWho + " lie outside 7..0");
                continue;
            }
            if (f.msb < f.lsb) {
                error(bitsLine, "bits " + bitsText(f.msb, f.lsb) + " of " + fieldWho +
                                    ": the higher bit comes first");
                continue;
            }
            RegisterField field;
            field.name = f.name;
            field.description = f.description;
            field.msb = static_cast<int>(f.msb);
            field.lsb = static_cast<int>(f.lsb);
            if ((used & field.mask()) != 0) {
                for (const RegisterField& other : info.fields)
                    if ((other.mask() & field.mask()) != 0) {
                        error(bitsLine,
                              "field " + field.label() + " overlaps field " + other.label() + " of " + who);
                        break;
                    }
            }
            used |= field.mask();
            for (const RawValue& v : f.values) {
                if (v.value < 0 || static_cast<unsigned long long>(v.value) > field.maxValue())
                    error(v.line, "value " + hex(v.value) + " (" + v.name + ") does not fit the " +
                                      std::to_string(field.width()) + "-bit field " + field.label() +
                                      " (0.." + std::to_string(field.maxValue()) + ")");
                else
                    field.values.push_back({static_cast<unsigned>(v.value), v.name});
            }
            std::stable_sort(field.values.begin(), field.values.end(),
                             [](const FieldValue& a, const FieldValue& b) { return a.value < b.value; });
            info.fields.push_back(std::move(field));
        }
        if (r.reset < 0 || r.reset > 0xFF) {
            error(r.resetLine, "reset value " + hex(r.reset) + " of " + who + " does not fit 8 bits");
        } else {
            info.reset = static_cast<std::uint8_t>(r.reset);
            const unsigned reserved = info.fields.empty() ? 0u : info.reservedMask();
            if ((info.reset & reserved) != 0)
                error(r.resetLine, "reset value " + hex(r.reset) + " of " + who + " sets reserved bits " +
                                       hex(info.reset & reserved) + " (bits no field names)");
        }
        registers.push_back(std::move(info));
    }
    if (!ok) return std::nullopt;
    return RegisterMap(raw.chip, std::move(registers));
}

// --- JSON ---

// Counts lines as the JSON parser takes characters, so each parse event knows the line of the
// token it reports: the line of the last non-blank character read.
struct LineTracker {
    int line = 1;
    int tokenLine = 1;
};

class LineCountingIterator {
  public:
    using iterator_category = std::input_iterator_tag;
    using value_type = char;
    using difference_type = std::ptrdiff_t;
    using pointer = const char*;
    using reference = const char&;

    LineCountingIterator(const char* p, LineTracker* tracker) : m_p(p), m_tracker(tracker) {}
    reference operator*() const { return *m_p; }
    LineCountingIterator& operator++() {
        const char c = *m_p++;
        if (c == '\n')
            ++m_tracker->line;
        else if (c != ' ' && c != '\t' && c != '\r')
            m_tracker->tokenLine = m_tracker->line;
        return *this;
    }
    LineCountingIterator operator++(int) {
        LineCountingIterator before = *this;
        ++*this;
        return before;
    }
    bool operator==(const LineCountingIterator& o) const { return m_p == o.m_p; }
    bool operator!=(const LineCountingIterator& o) const { return m_p != o.m_p; }

  private:
    const char* m_p;
    LineTracker* m_tracker;
};

struct JNode {
    enum Kind { Null, Bool, Integer, Float, String, Object, Array } kind = Null;
    int line = 0;
    std::string key; // the member's key, in an object
    int keyLine = 0;
    bool boolean = false;
    long long integer = 0;
    std::string text;
    std::vector<JNode> children;

    const char* kindName() const {
        static const char* const names[] = {"null",     "a boolean", "a number", "a number",
                                            "a string", "an object", "an array"};
        return names[kind];
    }
};

JNode node(JNode::Kind kind) {
    JNode n;
    n.kind = kind;
    return n;
}

class TreeBuilder {
  public:
    using json = nlohmann::json;
    explicit TreeBuilder(const LineTracker& tracker) : m_tracker(tracker) {}

    JNode root;
    std::optional<ConfigDiagnostic> error;

    bool null() { return add(JNode{}); }
    bool boolean(bool v) {
        JNode n = node(JNode::Bool);
        n.boolean = v;
        return add(std::move(n));
    }
    bool number_integer(json::number_integer_t v) {
        JNode n = node(JNode::Integer);
        n.integer = v;
        return add(std::move(n));
    }
    bool number_unsigned(json::number_unsigned_t v) {
        JNode n = node(JNode::Integer);
        n.integer =
            v > static_cast<json::number_unsigned_t>(LLONG_MAX) ? LLONG_MAX : static_cast<long long>(v);
        return add(std::move(n));
    }
    bool number_float(json::number_float_t, const json::string_t& s) {
        JNode n = node(JNode::Float);
        n.text = s;
        return add(std::move(n));
    }
    bool string(json::string_t& s) {
        JNode n = node(JNode::String);
        n.text = std::move(s);
        return add(std::move(n));
    }
    bool binary(json::binary_t&) { return add(JNode{}); }
    bool start_object(std::size_t) { return open(JNode::Object); }
    bool start_array(std::size_t) { return open(JNode::Array); }
    bool end_object() { return close(); }
    bool end_array() { return close(); }
    bool key(json::string_t& k) {
        m_key = std::move(k);
        m_keyLine = m_tracker.tokenLine;
        return true;
    }
    bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception& e) {
        // "[json.exception.parse_error.101] parse error at line 3, column 5: syntax error ...",
        // "[json.exception.out_of_range.406] number overflow parsing '1e999'"
        std::string what = e.what();
        if (const auto bracket = what.find("] ");
            !what.empty() && what[0] == '[' && bracket != std::string::npos)
            what = what.substr(bracket + 2);
        if (what.rfind("parse error", 0) == 0)
            if (const auto colon = what.find(": "); colon != std::string::npos) what = what.substr(colon + 2);
        error = ConfigDiagnostic{m_tracker.tokenLine, ConfigSeverity::Error, "malformed JSON: " + what};
        return false;
    }

  private:
    bool open(JNode::Kind kind) {
        JNode n = node(kind);
        stamp(n);
        m_stack.push_back(std::move(n));
        return true;
    }
    bool close() {
        JNode n = std::move(m_stack.back());
        m_stack.pop_back();
        return attach(std::move(n));
    }
    bool add(JNode n) {
        stamp(n);
        return attach(std::move(n));
    }
    void stamp(JNode& n) {
        n.line = m_tracker.tokenLine;
        if (!m_stack.empty() && m_stack.back().kind == JNode::Object) {
            n.key = std::move(m_key);
            n.keyLine = m_keyLine;
        }
    }
    bool attach(JNode n) {
        if (m_stack.empty())
            root = std::move(n);
        else
            m_stack.back().children.push_back(std::move(n));
        return true;
    }

    const LineTracker& m_tracker;
    std::vector<JNode> m_stack;
    std::string m_key;
    int m_keyLine = 0;
};

class JsonReader {
  public:
    explicit JsonReader(Diagnostics& diag) : m_diag(diag) {}

    RawMap read(const JNode& root) {
        RawMap map;
        if (root.kind != JNode::Object) {
            m_diag.error(root.line, "a register map is a JSON object, not " + std::string(root.kindName()));
            return map;
        }
        for (const JNode& m : root.children) {
            if (m.key == "format") {
                if (m.kind != JNode::String || m.text != kJsonFormat)
                    m_diag.error(m.line, "unknown format " + shown(m) + ": this program reads \"" +
                                             kJsonFormat + "\"");
            } else if (m.key == "chip") {
                map.chip = text(m);
            } else if (m.key == "registers") {
                if (m.kind != JNode::Array) {
                    m_diag.error(m.line, "\"registers\" must be an array");
                    continue;
                }
                for (const JNode& r : m.children)
                    map.registers.push_back(reg(r));
            } else {
                unknownKey(m);
            }
        }
        return map;
    }

  private:
    static std::string shown(const JNode& n) {
        if (n.kind == JNode::String) return "'" + n.text + "'";
        if (n.kind == JNode::Integer) return std::to_string(n.integer);
        if (n.kind == JNode::Float) return n.text;
        return n.kindName();
    }

    void unknownKey(const JNode& m) { m_diag.warning(m.keyLine, "unknown key \"" + m.key + "\" is ignored"); }

    std::string text(const JNode& n) {
        if (n.kind == JNode::String) return n.text;
        m_diag.error(n.line, "\"" + n.key + "\" must be a string, not " + n.kindName());
        return {};
    }

    std::optional<long long> numberOf(const JNode& n) {
        if (n.kind == JNode::Integer) return n.integer;
        if (n.kind == JNode::String)
            if (const auto v = ParseMapNumber(n.text)) return *v;
        m_diag.error(n.line, "\"" + n.key + "\" is not a number: " + shown(n));
        return std::nullopt;
    }
    long long number(const JNode& n) { return numberOf(n).value_or(0); }

    RawRegister reg(const JNode& node) {
        RawRegister r;
        r.line = r.nameLine = r.addressLine = r.accessLine = r.resetLine = node.line;
        if (node.kind != JNode::Object) {
            m_diag.error(node.line, "a register is a JSON object, not " + std::string(node.kindName()));
            r.name = "?";
            r.address = 0;
            r.addressGiven = true;
            r.addressRead = false;
            return r;
        }
        for (const JNode& m : node.children) {
            if (m.key == "address") {
                const auto address = numberOf(m);
                r.address = address.value_or(0);
                r.addressRead = address.has_value();
                r.addressGiven = true;
                r.addressLine = m.line;
            } else if (m.key == "name") {
                r.name = text(m);
                r.nameLine = m.line;
            } else if (m.key == "description") {
                r.description = text(m);
            } else if (m.key == "access") {
                r.access = text(m);
                r.accessLine = m.line;
            } else if (m.key == "reset") {
                r.reset = number(m);
                r.resetLine = m.line;
            } else if (m.key == "volatile") {
                if (m.kind == JNode::Bool)
                    r.isVolatile = m.boolean;
                else
                    m_diag.error(m.line,
                                 "\"volatile\" must be true or false, not " + std::string(m.kindName()));
            } else if (m.key == "fields") {
                if (m.kind != JNode::Array)
                    m_diag.error(m.line, "\"fields\" must be an array");
                else
                    for (const JNode& f : m.children)
                        r.fields.push_back(field(f));
            } else {
                unknownKey(m);
            }
        }
        return r;
    }

    RawField field(const JNode& node) {
        RawField f;
        f.line = node.line;
        if (node.kind != JNode::Object) {
            m_diag.error(node.line, "a field is a JSON object, not " + std::string(node.kindName()));
            return f;
        }
        for (const JNode& m : node.children) {
            if (m.key == "name") {
                f.name = text(m);
            } else if (m.key == "description") {
                f.description = text(m);
            } else if (m.key == "bits") {
                f.bitsLine = m.line;
                const bool read = m.kind == JNode::Integer  ? (f.msb = f.lsb = m.integer, true)
                                  : m.kind == JNode::String ? parseBits(m.text, f.msb, f.lsb)
                                                            : false;
                if (!read) {
                    f.msb = f.lsb = -1;
                    m_diag.error(m.line, "\"bits\" must read \"7\" or \"6:0\", not " + shown(m));
                }
            } else if (m.key == "values") {
                if (m.kind != JNode::Object) {
                    m_diag.error(m.line, "\"values\" must be an object of value: name");
                    continue;
                }
                for (const JNode& v : m.children) {
                    const auto value = ParseMapNumber(v.key);
                    if (!value)
                        m_diag.error(v.keyLine, "the value \"" + v.key + "\" is not a number");
                    else
                        f.values.push_back({*value, text(v), v.keyLine});
                }
            } else {
                unknownKey(m);
            }
        }
        if (f.bitsLine == 0) m_diag.error(f.line, "field " + f.name + " has no \"bits\"");
        return f;
    }

    Diagnostics& m_diag;
};

RawMap ReadJson(std::string_view text, Diagnostics& diag, bool& malformed) {
    LineTracker tracker;
    TreeBuilder builder(tracker);
    const char* begin = text.data();
    nlohmann::json::sax_parse(LineCountingIterator(begin, &tracker),
                              LineCountingIterator(begin + text.size(), &tracker), &builder);
    if (builder.error) {
        diag.error(builder.error->line, builder.error->message);
        malformed = true;
        return {};
    }
    return JsonReader(diag).read(builder.root);
}

// --- CMSIS-SVD ---

class SvdReader {
  public:
    SvdReader(std::string_view text, Diagnostics& diag) : m_diag(diag) {
        for (std::size_t i = 0; i < text.size(); ++i)
            if (text[i] == '\n') m_lineFeeds.push_back(static_cast<std::ptrdiff_t>(i));
    }

    int lineOf(std::ptrdiff_t offset) const {
        return 1 + static_cast<int>(std::lower_bound(m_lineFeeds.begin(), m_lineFeeds.end(), offset) -
                                    m_lineFeeds.begin());
    }
    int lineOf(const pugi::xml_node& n) const { return lineOf(n.offset_debug()); }

    RawMap read(const pugi::xml_document& doc) {
        RawMap map;
        const pugi::xml_node device = doc.child("device");
        if (!device) {
            m_diag.error(1, "an SVD file's root element is <device>");
            return map;
        }
        map.chip = clean(device.child_value("name"));
        Inherited deviceDefaults = inherit({}, device);
        for (const pugi::xml_node p : device.child("peripherals").children("peripheral")) {
            const Inherited defaults = inherit(deviceDefaults, p);
            long long base = 0;
            if (const pugi::xml_node b = p.child("baseAddress")) base = number(b);
            for (const pugi::xml_node r : p.child("registers").children()) {
                if (std::string_view(r.name()) == "register")
                    map.registers.push_back(reg(r, base, defaults));
                else
                    m_diag.warning(lineOf(r),
                                   "<" + std::string(r.name()) + "> is not read; only <register> is");
            }
        }
        return map;
    }

  private:
    struct Inherited {
        long long size = 8, reset = 0;
        std::string access = "read-write";
        int sizeLine = 0, resetLine = 0, accessLine = 0;
    };

    static std::string clean(const char* s) {
        std::string out;
        for (const char* p = s; *p; ++p) {
            const bool blank = std::isspace(static_cast<unsigned char>(*p)) != 0;
            if (!blank)
                out += *p;
            else if (!out.empty() && out.back() != ' ')
                out += ' ';
        }
        if (!out.empty() && out.back() == ' ') out.pop_back();
        return out;
    }

    std::optional<long long> numberOf(const pugi::xml_node& n) {
        const std::string t = clean(n.child_value());
        if (const auto v = ParseMapNumber(t)) return *v;
        m_diag.error(lineOf(n), "<" + std::string(n.name()) + "> is not a number: '" + t + "'");
        return std::nullopt;
    }
    long long number(const pugi::xml_node& n) { return numberOf(n).value_or(0); }

    Inherited inherit(Inherited d, const pugi::xml_node& n) {
        if (const pugi::xml_node s = n.child("size")) d.size = number(s), d.sizeLine = lineOf(s);
        if (const pugi::xml_node s = n.child("resetValue")) d.reset = number(s), d.resetLine = lineOf(s);
        if (const pugi::xml_node s = n.child("access"))
            d.access = clean(s.child_value()), d.accessLine = lineOf(s);
        return d;
    }

    RawRegister reg(const pugi::xml_node& n, long long base, const Inherited& defaults) {
        RawRegister r;
        r.line = lineOf(n);
        const Inherited own = inherit(defaults, n);
        r.access = own.access;
        r.reset = own.reset;
        r.accessLine = own.accessLine ? own.accessLine : r.line;
        r.resetLine = own.resetLine ? own.resetLine : r.line;
        r.nameLine = r.addressLine = r.line;
        for (const pugi::xml_node c : n.children()) {
            const std::string_view tag = c.name();
            if (tag == "name") {
                r.name = clean(c.child_value());
                r.nameLine = lineOf(c);
            } else if (tag == "description") {
                r.description = clean(c.child_value());
            } else if (tag == "addressOffset") {
                const auto offset = numberOf(c);
                r.address = base + offset.value_or(0);
                r.addressRead = offset.has_value();
                r.addressGiven = true;
                r.addressLine = lineOf(c);
            } else if (tag == "fields") {
                for (const pugi::xml_node f : c.children("field"))
                    r.fields.push_back(field(f));
            } else if (tag != "size" && tag != "access" && tag != "resetValue" && tag != "resetMask" &&
                       tag != "displayName") {
                m_diag.warning(lineOf(c), "<" + std::string(tag) + "> is not read");
            }
        }
        if (own.size != 8)
            m_diag.error(own.sizeLine ? own.sizeLine : r.line, "register " + r.name + " has " +
                                                                   std::to_string(own.size) +
                                                                   " bits; a codec register has 8");
        return r;
    }

    RawField field(const pugi::xml_node& n) {
        RawField f;
        f.line = lineOf(n);
        f.name = clean(n.child_value("name"));
        f.description = clean(n.child_value("description"));
        if (const pugi::xml_node off = n.child("bitOffset")) {
            f.bitsLine = lineOf(off);
            const pugi::xml_node width = n.child("bitWidth");
            f.lsb = number(off);
            f.msb = f.lsb + (width ? number(width) : 1) - 1;
        } else if (const pugi::xml_node range = n.child("bitRange")) {
            f.bitsLine = lineOf(range);
            if (!parseBits(clean(range.child_value()), f.msb, f.lsb)) {
                f.msb = f.lsb = -1;
                m_diag.error(f.bitsLine,
                             "<bitRange> must read [msb:lsb], not '" + clean(range.child_value()) + "'");
            }
        } else if (const pugi::xml_node lsb = n.child("lsb")) {
            f.bitsLine = lineOf(lsb);
            f.lsb = number(lsb);
            f.msb = n.child("msb") ? number(n.child("msb")) : f.lsb;
        } else {
            m_diag.error(f.line, "field " + f.name + " has no bits (<bitOffset>, <bitRange> or <lsb>/<msb>)");
        }
        for (const pugi::xml_node e : n.child("enumeratedValues").children("enumeratedValue")) {
            const pugi::xml_node v = e.child("value");
            if (!v) continue; // an isDefault entry names no single value
            f.values.push_back({number(v), clean(e.child_value("name")), lineOf(v)});
        }
        return f;
    }

    Diagnostics& m_diag;
    std::vector<std::ptrdiff_t> m_lineFeeds;
};

RawMap ReadSvd(std::string_view text, Diagnostics& diag, bool& malformed) {
    pugi::xml_document doc;
    const pugi::xml_parse_result result = doc.load_buffer(text.data(), text.size(), pugi::parse_default);
    SvdReader reader(text, diag);
    if (!result) {
        diag.error(reader.lineOf(result.offset), std::string("malformed XML: ") + result.description());
        malformed = true;
        return {};
    }
    return reader.read(doc);
}

} // namespace

std::optional<long long> ParseMapNumber(std::string_view text) {
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front())))
        text.remove_prefix(1);
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back())))
        text.remove_suffix(1);
    int base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X'))
        base = 16, text.remove_prefix(2);
    else if (text.size() > 2 && text[0] == '0' && (text[1] == 'b' || text[1] == 'B'))
        base = 2, text.remove_prefix(2);
    else if (text.size() > 1 && text[0] == '#')
        base = 2, text.remove_prefix(1);
    if (text.empty() || text.size() > 12) return std::nullopt;
    long long v = 0;
    for (const char c : text) {
        const int d = std::isdigit(static_cast<unsigned char>(c))    ? c - '0'
                      : std::isxdigit(static_cast<unsigned char>(c)) ? (std::tolower(c) - 'a' + 10)
                                                                     : 99;
        if (d >= base) return std::nullopt;
        v = v * base + d;
    }
    return v;
}

bool RegisterMapLoad::hasErrors() const {
    return errorCount() > 0;
}

int RegisterMapLoad::errorCount() const {
    return static_cast<int>(
        std::count_if(diagnostics.begin(), diagnostics.end(),
                      [](const ConfigDiagnostic& d) { return d.severity == ConfigSeverity::Error; }));
}

std::string RegisterMapLoad::format(const std::string& file) const {
    std::string out;
    for (const ConfigDiagnostic& d : diagnostics)
        out += file + (d.line > 0 ? ":" + std::to_string(d.line) : std::string()) + ": " +
               (d.severity == ConfigSeverity::Error ? "error: " : "warning: ") + d.message + "\n";
    return out;
}

RegisterMapFormat GuessRegisterMapFormat(std::string_view text) {
    const auto first = text.find_first_not_of(" \t\r\n\xEF\xBB\xBF");
    return first != std::string_view::npos && text[first] == '<' ? RegisterMapFormat::Svd
                                                                 : RegisterMapFormat::Json;
}

RegisterMapLoad ParseRegisterMap(std::string_view text, RegisterMapFormat format) {
    RegisterMapLoad load;
    Diagnostics diag(load.diagnostics);
    bool malformed = false;
    const RawMap raw =
        format == RegisterMapFormat::Svd ? ReadSvd(text, diag, malformed) : ReadJson(text, diag, malformed);
    if (!malformed) {
        std::optional<RegisterMap> map = Validate(raw, diag);
        if (!load.hasErrors()) load.map = std::move(map);
    }
    std::stable_sort(load.diagnostics.begin(), load.diagnostics.end(),
                     [](const ConfigDiagnostic& a, const ConfigDiagnostic& b) { return a.line < b.line; });
    return load;
}

RegisterMapLoad ParseRegisterMap(std::string_view text) {
    return ParseRegisterMap(text, GuessRegisterMapFormat(text));
}

RegisterMapLoad LoadRegisterMapFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    if (in) text << in.rdbuf();
    if (!in || in.bad()) {
        RegisterMapLoad load;
        load.diagnostics.push_back(
            {0, ConfigSeverity::Error, std::string("cannot be read: ") + std::strerror(errno)});
        return load;
    }
    return ParseRegisterMap(text.str());
}

std::string RegisterMapFileName(const std::string& chip) {
    return chip + ".regmap.json";
}

} // namespace evb
