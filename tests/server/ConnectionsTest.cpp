#include <gtest/gtest.h>

#include "Connection.h"

using tavo::hostd::Connections;

namespace {

struct Fake : tavo::hostd::Connection {
    void Start() override {}
    void Stop() override { stopped = true; }
    bool stopped = false;
};

// A table of four: each test fills it, then a newcomer comes to `door`.
struct Table {
    std::shared_ptr<Fake> Add(const std::string& address, const void* door) {
        auto c = std::make_shared<Fake>();
        connections.Add(c, address, door);
        return c;
    }
    Connections connections{{.max = 4}};
    const int tcp = 0, mapper = 0; // two listeners
};

} // namespace

TEST(Connections, AFullTableDropsAStrangerForANewcomerNeverOneSignedOn) {
    Table t;
    auto oldest = t.Add("10.0.0.1", &t.tcp), signedOn = t.Add("10.0.0.2", &t.tcp);
    auto next = t.Add("10.0.0.3", &t.tcp);
    t.Add("10.0.0.4", &t.tcp);
    ASSERT_TRUE(t.connections.SignedOn(signedOn.get(), "OPER"));
    EXPECT_EQ(t.connections.MakeRoom(&t.tcp), "10.0.0.1");
    EXPECT_TRUE(oldest->stopped);
    t.Add("10.0.0.5", &t.tcp);
    EXPECT_EQ(t.connections.MakeRoom(&t.tcp), "10.0.0.3");
    EXPECT_FALSE(signedOn->stopped);
    EXPECT_TRUE(next->stopped);
}

TEST(Connections, AFloodGivesUpItsOwnPlacesFirst) {
    Table t;
    auto real = t.Add("10.0.0.1", &t.tcp); // waited longest, but alone
    auto flood = t.Add("10.0.0.9", &t.mapper), other = t.Add("10.0.0.8", &t.mapper);
    t.Add("10.0.0.7", &t.mapper);
    // The port mapper's strangers hold the most places: one of them goes, not tcp's.
    EXPECT_EQ(t.connections.MakeRoom(&t.tcp), "10.0.0.9");
    t.connections.Remove(other.get());
    t.Add("10.0.0.9", &t.tcp);
    t.Add("10.0.0.9", &t.tcp);
    // Now tcp's do; in it, the address that holds the most gives one up.
    EXPECT_EQ(t.connections.MakeRoom(&t.mapper), "10.0.0.9");
    EXPECT_TRUE(flood->stopped);
    EXPECT_FALSE(real->stopped);
}
