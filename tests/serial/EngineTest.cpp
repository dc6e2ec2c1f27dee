// The I/O engine against real pseudo-terminals.

#include "PtyPair.h"
#include "serial/ETalonCommError.h"
#include "serial/TTalonComm.h"

#include <atomic>
#include <gtest/gtest.h>
#include <string>

using namespace TalonComm;
using evbtest::PtyPair;
using evbtest::WaitFor;

namespace {

std::string readAll(TTalonComm& comm, size_t n) {
    std::string got;
    WaitFor([&] {
        char buf[256];
        const long k = comm.Read(buf, sizeof buf);
        if (k > 0) got.append(buf, static_cast<size_t>(k));
        return got.size() >= n;
    });
    return got;
}

} // namespace

TEST(EngineOpen, OpensPseudoTerminalAndMovesBytesBothWays) {
    PtyPair pty;
    TTalonComm comm;
    comm.fSetPortName(pty.SlavePath());
    comm.fSetActive(true);
    ASSERT_TRUE(comm.fGetActive());

    EXPECT_EQ(comm.Write("hello", 5), 5);
    const auto out = pty.ReadMaster(5);
    EXPECT_EQ(std::string(out.begin(), out.end()), "hello");

    pty.WriteMaster("world");
    EXPECT_EQ(readAll(comm, 5), "world");
}

TEST(EngineOpen, MissingDeviceRaisesCode4WithPortPrefixAndStaysClosed) {
    TTalonComm comm;
    comm.fSetPortName("/dev/evb-no-such-port");
    try {
        comm.fSetActive(true);
        FAIL() << "open of a missing device succeeded";
    } catch (const ETalonCommError& e) {
        EXPECT_EQ(e.ErrorCode(), 4);
        EXPECT_EQ(e.PortName(), "/dev/evb-no-such-port");
        EXPECT_FALSE(e.OsReason().empty());
    }
    EXPECT_FALSE(comm.fGetActive());
}
