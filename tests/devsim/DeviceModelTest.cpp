#include "devsim/DeviceModel.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace korv::devsim {
namespace {

std::string patternImage() {
    std::string image(kImageSize, '\0');
    for (int i = 0; i < kImageSize; ++i) {
        image[i] = static_cast<char>((i * 7 + i / 256) & 0xFF);
    }
    return image;
}

std::string ackOf(std::uint16_t crc) {
    return {static_cast<char>(crc >> 8), static_cast<char>(crc & 0xFF)};
}

std::string joined(const Output& out) {
    std::string all;
    for (const std::string& w : out.writes) {
        all += w;
    }
    return all;
}

bool hasEvent(const Output& out, EventKind kind) {
    for (const Event& e : out.events) {
        if (e.kind == kind) {
            return true;
        }
    }
    return false;
}

// Identifies the model and returns it ready for image bytes.
DeviceModel identified(DeviceOptions options = {}) {
    DeviceModel model(std::move(options));
    model.feed("VERS");
    return model;
}

TEST(Crc16Modbus, MatchesTheCatalogueCheckValue) {
    EXPECT_EQ(crc16Modbus("123456789"), 0x4B37);
    EXPECT_EQ(crc16Modbus(""), 0xFFFF);
}

TEST(Crc16Modbus, RunsOnFromAGivenValue) {
    EXPECT_EQ(crc16Modbus("6789", crc16Modbus("12345")), 0x4B37);
}

TEST(DeviceModel, AnswersTheIdentityRequest) {
    DeviceModel model;
    const Output out = model.feed("VERS");
    ASSERT_EQ(out.writes.size(), 1u);
    EXPECT_EQ(out.writes[0], "KORVANTEMIS KV-12 8.6");
    EXPECT_TRUE(hasEvent(out, EventKind::Identified));
    EXPECT_EQ(model.stage(), DeviceModel::Stage::Receiving);
}

TEST(DeviceModel, UsesTheGivenNameAndVersion) {
    DeviceOptions options;
    options.name = "KV-7";
    options.version = "1.05";
    DeviceModel model(options);
    EXPECT_EQ(joined(model.feed("VERS")), "KORVANTEMIS KV-7 1.05");
}

TEST(DeviceModel, FindsTheRequestAcrossReadsAndAfterNoise) {
    DeviceModel model;
    const Output first = model.feed("xVVE");
    EXPECT_TRUE(first.writes.empty());
    ASSERT_EQ(first.events.size(), 1u);
    EXPECT_EQ(first.events[0].kind, EventKind::Unexpected);
    EXPECT_EQ(first.events[0].bytes, "xV");
    EXPECT_EQ(joined(model.feed("RS")), "KORVANTEMIS KV-12 8.6");
}

TEST(DeviceModel, SaysNothingBeforeTheRequest) {
    DeviceModel model;
    EXPECT_TRUE(model.feed(std::string(300, 'A')).writes.empty());
    EXPECT_EQ(model.stage(), DeviceModel::Stage::AwaitingIdentity);
}

TEST(DeviceModel, AcknowledgesBlockZeroWithTheCrcOfItsBytes) {
    DeviceModel model = identified();
    std::string block = "123456789";
    block.resize(kBlockSize, '\x5A');
    EXPECT_TRUE(model.feed(block.substr(0, kBlockSize - 1)).writes.empty());
    const Output out = model.feed(block.substr(kBlockSize - 1));
    EXPECT_EQ(joined(out), ackOf(crc16Modbus(block)));
    ASSERT_FALSE(out.events.empty());
    EXPECT_EQ(out.events[0].kind, EventKind::BlockReceived);
    EXPECT_EQ(out.events[0].block, 0);
}

TEST(DeviceModel, SendsTheHighByteFirst) {
    DeviceModel model = identified();
    const std::string block(kBlockSize, '\x01');
    const std::uint16_t crc = crc16Modbus(block);
    ASSERT_NE(crc >> 8, crc & 0xFF);
    const std::string ack = joined(model.feed(block));
    ASSERT_EQ(ack.size(), 2u);
    EXPECT_EQ(static_cast<unsigned char>(ack[0]), crc >> 8);
    EXPECT_EQ(static_cast<unsigned char>(ack[1]), crc & 0xFF);
}

TEST(DeviceModel, CompletesAWholeUpdate) {
    const std::string image = patternImage();
    DeviceModel model = identified();
    for (int block = 0; block < kBlockCount; ++block) {
        const std::string bytes = image.substr(block * kBlockSize, kBlockSize);
        const std::uint16_t crc = crc16Modbus(image.substr(0, (block + 1) * kBlockSize));
        const Output out = model.feed(bytes);
        if (block + 1 < kBlockCount) {
            ASSERT_EQ(joined(out), ackOf(crc)) << "block " << block;
        } else {
            EXPECT_EQ(joined(out), ackOf(crc) + "FZ");
            EXPECT_TRUE(hasEvent(out, EventKind::Finished));
        }
    }
    EXPECT_EQ(model.stage(), DeviceModel::Stage::AwaitingStart);
    EXPECT_EQ(model.image(), image);
    EXPECT_EQ(model.crc(), crc16Modbus(image));

    const Output start = model.feed("PUSK");
    EXPECT_TRUE(start.writes.empty());
    EXPECT_TRUE(hasEvent(start, EventKind::Started));
    EXPECT_EQ(model.stage(), DeviceModel::Stage::AwaitingIdentity);
    EXPECT_EQ(joined(model.feed("VERS")), "KORVANTEMIS KV-12 8.6");
    EXPECT_EQ(model.crc(), 0xFFFF);
}

TEST(DeviceModel, ByteByByteGivesTheSameReplies) {
    const std::string image = patternImage().substr(0, 3 * kBlockSize);
    DeviceModel whole = identified();
    DeviceModel single = identified();
    const std::string expected = joined(whole.feed(image));
    std::string got;
    for (char c : image) {
        got += joined(single.feed(std::string_view(&c, 1)));
    }
    EXPECT_EQ(got.size(), 6u);
    EXPECT_EQ(got, expected);
}

TEST(DeviceModel, ReportsBytesOtherThanTheStartCommand) {
    DeviceModel model = identified();
    model.feed(patternImage());
    const Output out = model.feed("PUSH");
    EXPECT_FALSE(hasEvent(out, EventKind::Started));
    ASSERT_TRUE(hasEvent(out, EventKind::Unexpected));
    EXPECT_EQ(model.stage(), DeviceModel::Stage::AwaitingStart);
    EXPECT_TRUE(hasEvent(model.feed("PUSK"), EventKind::Started));
}

TEST(DeviceModelFaults, WrongCrcOnlyAtTheChosenBlock) {
    DeviceOptions options;
    options.wrongCrcAt = 1;
    DeviceModel model = identified(options);
    const std::string image = patternImage();
    for (int block = 0; block < 3; ++block) {
        const std::uint16_t crc = crc16Modbus(image.substr(0, (block + 1) * kBlockSize));
        const Output out = model.feed(image.substr(block * kBlockSize, kBlockSize));
        ASSERT_EQ(out.writes.size(), 1u);
        if (block == 1) {
            EXPECT_NE(out.writes[0], ackOf(crc));
            EXPECT_EQ(out.writes[0].size(), 2u);
            EXPECT_TRUE(hasEvent(out, EventKind::WrongAck));
        } else {
            EXPECT_EQ(out.writes[0], ackOf(crc)) << "block " << block;
        }
    }
}

TEST(DeviceModelFaults, WrongCrcAtTheLastBlockStillSaysFinished) {
    DeviceOptions options;
    options.wrongCrcAt = kBlockCount - 1;
    DeviceModel model = identified(options);
    const std::string image = patternImage();
    model.feed(image.substr(0, kImageSize - kBlockSize));
    const std::string last = joined(model.feed(image.substr(kImageSize - kBlockSize)));
    ASSERT_EQ(last.size(), 4u);
    EXPECT_NE(last.substr(0, 2), ackOf(crc16Modbus(image)));
    EXPECT_EQ(last.substr(2), "FZ");
}

TEST(DeviceModelFaults, SilentFromTheChosenBlockOn) {
    DeviceOptions options;
    options.silentAt = 2;
    DeviceModel model = identified(options);
    const std::string image = patternImage();
    EXPECT_EQ(joined(model.feed(image.substr(0, 2 * kBlockSize))).size(), 4u);
    const Output out = model.feed(image.substr(2 * kBlockSize, kBlockSize));
    EXPECT_TRUE(out.writes.empty());
    EXPECT_TRUE(hasEvent(out, EventKind::WentSilent));
    EXPECT_TRUE(model.feed(image.substr(3 * kBlockSize)).writes.empty());
    EXPECT_TRUE(model.feed("VERS").writes.empty());
}

TEST(DeviceModelFaults, HangsUpAtTheChosenBlock) {
    DeviceOptions options;
    options.hangupAt = 0;
    DeviceModel model = identified(options);
    const Output out = model.feed(patternImage().substr(0, 2 * kBlockSize));
    EXPECT_TRUE(out.hangUp);
    EXPECT_TRUE(out.writes.empty());
    EXPECT_TRUE(hasEvent(out, EventKind::HangUp));
    EXPECT_EQ(model.stage(), DeviceModel::Stage::HungUp);
    EXPECT_EQ(model.image().size(), static_cast<std::size_t>(kBlockSize));
}

TEST(DeviceModelFaults, SplitRepliesComeInTwoHalves) {
    DeviceOptions options;
    options.splitReplies = true;
    DeviceModel model(options);
    const Output identity = model.feed("VERS");
    ASSERT_EQ(identity.writes.size(), 2u);
    EXPECT_EQ(identity.writes[0] + identity.writes[1], "KORVANTEMIS KV-12 8.6");
    EXPECT_EQ(identity.writes[0], "KORVANTEMI");

    const std::string image = patternImage();
    const Output ack = model.feed(image.substr(0, kBlockSize));
    ASSERT_EQ(ack.writes.size(), 2u);
    EXPECT_EQ(ack.writes[0].size(), 1u);
    EXPECT_EQ(ack.writes[0] + ack.writes[1], ackOf(crc16Modbus(image.substr(0, kBlockSize))));

    model.feed(image.substr(kBlockSize, kImageSize - 2 * kBlockSize));
    const Output finished = model.feed(image.substr(kImageSize - kBlockSize));
    ASSERT_EQ(finished.writes.size(), 2u);
    EXPECT_EQ(finished.writes[0], ackOf(crc16Modbus(image)));
    EXPECT_EQ(finished.writes[1], "FZ");
}

// The writes for "VERS", then for each block of `image` in turn.
std::vector<std::vector<std::string>> repliesPerStep(const DeviceOptions& options,
                                               const std::string& image) {
    DeviceModel model(options);
    std::vector<std::vector<std::string>> steps{model.feed("VERS").writes};
    for (int block = 0; block < kBlockCount; ++block) {
        steps.push_back(model.feed(image.substr(block * kBlockSize, kBlockSize)).writes);
    }
    return steps;
}

// What a device without faults answers at each step of repliesPerStep().
std::vector<std::string> plainReplies(const std::string& image) {
    std::vector<std::string> replies{"KORVANTEMIS KV-12 8.6"};
    for (int block = 0; block < kBlockCount; ++block) {
        const std::string ack = ackOf(crc16Modbus(image.substr(0, (block + 1) * kBlockSize)));
        replies.push_back(block + 1 < kBlockCount ? ack : ack + "FZ");
    }
    return replies;
}

struct FaultCase {
    const char* name;
    std::function<void(DeviceOptions&)> set;
    int step; // 0 for the identity reply, block + 1 for a block's
    std::function<std::vector<std::string>(const std::string& plain)> writes;
};

TEST(DeviceModelFaults, EachFaultChangesOnlyItsOwnReply) {
    const std::string junk(1, '\0');
    const std::vector<FaultCase> cases = {
        {"split ack", [](DeviceOptions& o) { o.splitAckAt = 3; }, 4,
         [](const std::string& p) { return std::vector<std::string>{p.substr(0, 1), p.substr(1)}; }},
        {"split ack of the last block keeps FZ with the low byte",
         [](DeviceOptions& o) { o.splitAckAt = kBlockCount - 1; }, kBlockCount,
         [](const std::string& p) { return std::vector<std::string>{p.substr(0, 1), p.substr(1, 3)}; }},
        {"junk before an ack", [](DeviceOptions& o) { o.junkBeforeAckAt = 0; }, 1,
         [&](const std::string& p) { return std::vector<std::string>{junk, p}; }},
        {"junk before the finished reply",
         [](DeviceOptions& o) { o.junkBeforeAckAt = kBlockCount - 1; }, kBlockCount,
         [&](const std::string& p) { return std::vector<std::string>{junk, p}; }},
        {"split finished", [](DeviceOptions& o) { o.splitFinished = true; }, kBlockCount,
         [](const std::string& p) { return std::vector<std::string>{p.substr(0, 2), "FZ"}; }},
        {"split identity", [](DeviceOptions& o) { o.splitIdentity = true; }, 0,
         [](const std::string&) { return std::vector<std::string>{"KORVA", "NTEMIS KV-12 8.6"}; }},
    };
    const std::string image = patternImage();
    const std::vector<std::string> plain = plainReplies(image);
    for (const FaultCase& c : cases) {
        SCOPED_TRACE(c.name);
        DeviceOptions options;
        c.set(options);
        const std::vector<std::vector<std::string>> steps = repliesPerStep(options, image);
        ASSERT_EQ(steps.size(), plain.size());
        for (std::size_t step = 0; step < steps.size(); ++step) {
            const std::vector<std::string> expected =
                static_cast<int>(step) == c.step ? c.writes(plain[step])
                                                 : std::vector<std::string>{plain[step]};
            ASSERT_EQ(steps[step], expected) << "step " << step;
        }
    }
}

TEST(DeviceModelFaults, FinishesEarlyAtTheChosenBlockAndThenWaitsForTheStart) {
    DeviceOptions options;
    options.finishAt = 1;
    DeviceModel model = identified(options);
    const std::string image = patternImage();
    EXPECT_EQ(joined(model.feed(image.substr(0, kBlockSize))),
              ackOf(crc16Modbus(image.substr(0, kBlockSize))));
    const Output finished = model.feed(image.substr(kBlockSize, kBlockSize));
    EXPECT_EQ(joined(finished), ackOf(crc16Modbus(image.substr(0, 2 * kBlockSize))) + "FZ");
    EXPECT_TRUE(hasEvent(finished, EventKind::Finished));
    EXPECT_EQ(model.stage(), DeviceModel::Stage::AwaitingStart);
    // Further image bytes are no step of the exchange any more.
    const Output more = model.feed(image.substr(2 * kBlockSize, kBlockSize));
    EXPECT_TRUE(more.writes.empty());
    EXPECT_TRUE(hasEvent(more, EventKind::Unexpected));
    EXPECT_TRUE(hasEvent(model.feed("PUSK"), EventKind::Started));
    EXPECT_EQ(model.image().size(), static_cast<std::size_t>(2 * kBlockSize));
}

TEST(DeviceModelFaults, WithheldIdentityLeavesTheDeviceWaitingForIt) {
    DeviceOptions options;
    options.noIdentity = true;
    DeviceModel model(options);
    for (int attempt = 0; attempt < 2; ++attempt) {
        const Output out = model.feed("VERS");
        EXPECT_TRUE(out.writes.empty());
        EXPECT_TRUE(hasEvent(out, EventKind::IdentityWithheld));
        EXPECT_FALSE(hasEvent(out, EventKind::Identified));
    }
    EXPECT_EQ(model.stage(), DeviceModel::Stage::AwaitingIdentity);
    EXPECT_TRUE(model.feed(patternImage().substr(0, kBlockSize)).writes.empty());
    EXPECT_TRUE(model.image().empty());
}

} // namespace
} // namespace korv::devsim
