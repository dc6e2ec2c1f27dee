// Assembly of packages by silence, driven by an injected clock: feeds, timer ticks, interval
// changes and resets in any order, checked step by step against a model of the rule (a package
// is due once the interval has passed since its last byte, or at once when it reached the
// maximum length; no byte is dropped).

#include "fuzz/FuzzInput.h"
#include "serial/TTimeoutAssembler.h"

#include <deque>
#include <string>

using TalonComm::TTimeoutAssembler;
using Clock = TTimeoutAssembler::Clock;
using evbfuzz::require;
using std::chrono::milliseconds;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    evbfuzz::FuzzInput in(data, size);
    // The model: every byte fed since the last package (none dropped; none: nothing pending),
    // and when the last came.
    std::uint32_t maxLength = in.byte() % 200u + 1u;
    milliseconds interval(in.byte() % 100 + 1);
    std::string fed;
    std::deque<std::string> full; // packages complete by their length, not taken yet
    Clock::time_point now = Clock::now(), last{};
    TTimeoutAssembler asmb(maxLength, interval);

    const auto checkTake = [&] {
        const bool due = !full.empty() || (!fed.empty() && now >= last + interval);
        std::vector<std::uint8_t> out(3, 0xAA); // what the caller's buffer held must not leak through
        const bool took = asmb.TakeIfDue(now, out);
        require(took == due, "a package is taken exactly when it is due");
        const std::string& expected = full.empty() ? fed : full.front();
        require(!took || std::string(out.begin(), out.end()) == expected,
                "the package holds the next bytes, at most the maximum length");
        if (took && !full.empty())
            full.pop_front();
        else if (took)
            fed.clear();
        require(asmb.Pending() == !fed.empty(), "pending follows the model");
        require(fed.empty() || asmb.Deadline() == last + interval, "deadline is last byte + interval");
    };

    while (!in.empty()) {
        const std::uint8_t op = in.byte();
        now += milliseconds(in.byte() % 128); // time only moves forward, by 0 ms or more
        const int kind = op % 8;              // 3 to 5: a timer tick
        if (kind < 3) {
            const std::string_view bytes = in.chunk(96);
            asmb.Feed(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size(), now);
            fed.append(bytes);
            for (; fed.size() >= maxLength; fed.erase(0, maxLength))
                full.push_back(fed.substr(0, maxLength));
            if (!bytes.empty()) last = now;
        } else if (kind == 6) {
            interval = milliseconds(in.byte() % 100 + 1);
            asmb.SetInterval(interval);
        } else if (kind == 7) {
            if (in.flag()) {
                asmb.Reset();
            } else {
                maxLength = in.byte() % 200u + 1u;
                asmb.SetMaxLength(maxLength);
            }
            fed.clear();
            full.clear();
        }
        checkTake();
    }
    now += interval; // the line goes quiet: whatever is pending comes out
    while (!full.empty())
        checkTake();
    checkTake();
    require(!asmb.Pending(), "silence always completes the last package");
    return 0;
}
