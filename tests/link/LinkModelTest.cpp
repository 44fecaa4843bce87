#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "link/Elements.h"

namespace korv {
namespace {

class LinkModel : public ::testing::Test {
protected:
    void SetUp() override
    {
        delivery::reset();
        delivery::switchOn();
    }
    void TearDown() override { delivery::reset(); }

    Operation record(const std::string& name)
    {
        return [this, name](TData v) { log.push_back(name + "=" + v.toText()); };
    }
    std::vector<std::string> log;
};

TEST_F(LinkModel, FanOutFiresDepthFirstInOutputOrderWithOwnCopies)
{
    FanOut outer(2, 2);
    FanOut inner(1, 2);
    connect(outer.out(0), inner.in(0));
    connect(inner.out(0), [this](TData v) {
        v = TData("changed");  // a receiver may change its copy
        log.push_back("inner0");
    });
    connect(inner.out(1), record("inner1"));
    connect(outer.out(1), record("outer1"));

    outer.in(1)(TData("x"));
    EXPECT_EQ(log, (std::vector<std::string>{"inner0", "inner1=x", "outer1=x"}));
}

TEST_F(LinkModel, UnconnectedOutputsAndInputs)
{
    EventOut out;
    out.fire(TData("nothing happens"));
    DataIn in;
    EXPECT_TRUE(in.read().isNoValue());
}

TEST_F(LinkModel, FixedSourcePrefersItsDataInputUnlessItYieldsNoValue)
{
    FixedSource plain(TData(std::int32_t{1}));
    connect(plain.out(), record("plain"));
    plain.in()(TData("discarded"));

    ValueCell cell;
    FixedSource fromCell(TData(std::int32_t{1}));
    connect(fromCell.data(), cell.read());
    connect(fromCell.out(), record("cell"));
    fromCell.in()(TData());  // the empty cell is a value: it wins over the fixed 1
    cell.put(TData(std::int32_t{0}));
    fromCell.in()(TData());

    FixedSource noValue(TData("fixed"));
    connect(noValue.data(), [] { return TData::noValue(); });
    connect(noValue.out(), record("none"));
    noValue.in()(TData());

    EXPECT_EQ(log, (std::vector<std::string>{"plain=1", "cell=", "cell=0", "none=fixed"}));
}

TEST_F(LinkModel, ValueCellKeepsTheWholeChainAndReadsLeaveItUnchanged)
{
    ValueCell cell;
    EXPECT_TRUE(cell.get().isEmpty());
    TData v("COM3");
    v.append(TData("rest"));
    cell.store()(v);
    EXPECT_EQ(cell.get(), v);
    EXPECT_EQ(cell.read()(), v);
}

TEST_F(LinkModel, RoutingSwitchReadsTheRouteForEveryValue)
{
    std::int32_t route = 0;
    RoutingSwitch sw(2);
    connect(sw.route(), [&] { return TData(route); });
    connect(sw.out(0), record("r0"));
    connect(sw.out(1), record("r1"));
    sw.in()(TData("a"));
    route = 1;
    sw.in()(TData("b"));
    route = 7;
    sw.in()(TData("c"));
    EXPECT_EQ(log, (std::vector<std::string>{"r0=a", "r1=b"}));
}

TEST_F(LinkModel, TakeValueFollowsTheSourceRule)
{
    DataIn unconnected;
    DataIn connected;
    connect(connected, [] { return TData("from input"); });
    DataIn noValue;
    connect(noValue, [] { return TData::noValue(); });

    TData incoming("first");
    incoming.append(TData("second"));

    EXPECT_EQ(takeValue(connected, TData("default"), incoming).toText(), "from input");
    EXPECT_EQ(takeValue(noValue, TData("default"), incoming).toText(), "default");
    EXPECT_EQ(takeValue(unconnected, TData(std::int32_t{0}), incoming).toText(), "first");
    EXPECT_EQ(takeValue(unconnected, TData(), incoming).toText(), "second");
    EXPECT_EQ(takeValue(unconnected, TData(), incoming).toText(), "");
}

TEST_F(LinkModel, DeliveryOffSilencesEventsAndEmptiesReads)
{
    EventOut out;
    connect(out, record("out"));
    DataIn in;
    connect(in, [] { return TData("value"); });
    DataIn unconnected;

    delivery::reset();  // building
    out.fire(TData("during build"));
    EXPECT_TRUE(in.read().isEmpty());

    delivery::switchOn();
    out.fire(TData("on"));
    EXPECT_EQ(in.read().toText(), "value");

    delivery::switchOffForGood();
    delivery::switchOn();  // off for good stays off
    out.fire(TData("after close"));
    EXPECT_TRUE(in.read().isEmpty());
    EXPECT_TRUE(unconnected.read().isEmpty());

    EXPECT_EQ(log, (std::vector<std::string>{"out=on"}));
}

} // namespace
} // namespace korv
