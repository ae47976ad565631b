#include "platform/socket_wait.h"

#include <gtest/gtest.h>

#include <chrono>

#include "support/system.h"

namespace {

using Clock = std::chrono::steady_clock;
using platform::SocketReady;
using platform::WaitForSocket;
using testsupport::system::CloseSocket;

// Both ends of a connection, closed with the test.
class SocketWait : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_pair = testsupport::system::ConnectedSockets();
        ASSERT_NE(m_pair.first, -1) << "no connected sockets";
    }
    void TearDown() override
    {
        CloseSocket(m_pair.first);
        CloseSocket(m_pair.second);
    }
    // A bound that only guards against hanging; every wait below that should
    // succeed succeeds as soon as the socket is ready.
    static Clock::time_point Bound() { return Clock::now() + std::chrono::minutes(2); }

    testsupport::system::SocketPair m_pair;
};

TEST_F(SocketWait, AnIdleConnectionIsWritableButHasNothingToRead)
{
    EXPECT_TRUE(WaitForSocket(m_pair.first, SocketReady::Writable, Bound()));
    // Nothing is ever sent here, so the wait can only end at its deadline.
    EXPECT_FALSE(WaitForSocket(m_pair.first, SocketReady::Readable, Clock::now() + std::chrono::milliseconds(100)));
    EXPECT_FALSE(WaitForSocket(m_pair.first, SocketReady::Readable, Clock::now() - std::chrono::seconds(1)))
        << "a deadline that has passed ends the wait";
}

TEST_F(SocketWait, DataFromThePeerOrItsEndMakesTheSocketReadable)
{
    ASSERT_TRUE(testsupport::system::SendByte(m_pair.second));
    EXPECT_TRUE(WaitForSocket(m_pair.first, SocketReady::Readable, Bound()));
    EXPECT_TRUE(WaitForSocket(m_pair.first, SocketReady::Readable, Clock::time_point::max()))
        << "without a deadline the wait still ends when the socket is ready";

    // A reader waiting for a reply must learn that the connection ended.
    ASSERT_TRUE(WaitForSocket(m_pair.second, SocketReady::Writable, Bound()));
    CloseSocket(m_pair.first);
    m_pair.first = -1;
    EXPECT_TRUE(WaitForSocket(m_pair.second, SocketReady::Readable, Bound()));
}

}  // namespace
