#include <gtest/gtest.h>

#include <string>

#include "protocol/crc.h"
#include "support/model_fixture.h"

namespace busdesk::testing {
namespace {

// Tag ping: serial BE32, ID (4 bytes), level; then CRC.
Bytes Ping(const Bytes& serial, const Bytes& id, std::uint8_t level) {
    Bytes rx = {0x3E, 0x01, 0xE0};
    for (const Bytes* part : {&serial, &id}) {
        for (std::uint8_t b : *part) rx.push_back(b);
    }
    rx.push_back(level);
    rx.push_back(Crc8(rx));
    return rx;
}

// Tag data reply of 20 bytes with the given ID, interval, mode, power, version,
// sleep time and level.
Bytes Data(const Bytes& id, std::uint16_t interval, std::uint8_t version, std::uint8_t level) {
    Bytes rx = {0x3E, 0x01, 0xE3, 0x00, 0x01, 0x02, 0x03};
    for (std::uint8_t b : id) rx.push_back(b);
    rx.push_back(static_cast<std::uint8_t>(interval >> 8));
    rx.push_back(static_cast<std::uint8_t>(interval));
    rx.push_back(2);    // mode
    rx.push_back(200);  // power
    rx.push_back(version);
    rx.push_back(0xFF);  // sleep time 65534
    rx.push_back(0xFE);
    rx.push_back(level);
    rx.push_back(Crc8(rx));
    return rx;
}

class TagReplyTest : public ModelTest {
  protected:
    void Decode(const Bytes& rx) { form.DecodeReply(rx, Crc8(rx, rx.size() - 1)); }
};

TEST_F(TagReplyTest, PingShowsSerialIdAndSignedLevel) {
    struct Row {
        Bytes serial;
        Bytes id;
        std::uint8_t level;
        const char* serialText;
        const char* idText;
        const char* levelText;
    };
    const Row rows[] = {
        {{0, 0, 1, 0}, {0x12, 0x34, 0x56, 0x78}, 0xC4, "256", "12345678", "-60"},
        {{0xFF, 0xFF, 0xFF, 0xFF}, {0x0A, 0x0B, 0x0C, 0x0D}, 0x20, "4294967295", "A0B0C0D", "32"},
        {{0x01, 0, 0, 0}, {0, 0, 0, 1}, 0x80, "16777216", "0000001", "-128"},
        {{0, 0, 0, 0}, {0xFF, 0x00, 0xF0, 0x0F}, 0x7F, "0", "FF00F00F", "127"},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.idText);
        Decode(Ping(r.serial, r.id, r.level));
        EXPECT_EQ(form.MsgCom.caption, "Был ПИНГ.");
        EXPECT_EQ(form.textOutCmd.caption, "E0");
        EXPECT_EQ(form.SerNumMetki.caption, r.serialText);
        EXPECT_EQ(form.outID.caption, r.idText);
        EXPECT_EQ(form.UrPr.caption, r.levelText);
        EXPECT_EQ(form.ID_Metki.caption, "0");  // fill_id is 0: the user's text stays
        EXPECT_EQ(form.outSN.caption, "0");     // the data reply's field
    }
}

TEST_F(TagReplyTest, DataReplyFillsDisplaysAndInputBoxes) {
    form.ID_Metki.caption = "typed";
    Decode(Data({0x01, 0x23, 0x45, 0x67}, 0x012C, 25, 0xFB));
    EXPECT_EQ(form.MsgCom.caption, "Считаны данные.");
    EXPECT_EQ(form.textOutCmd.caption, "E3");
    EXPECT_EQ(form.outSN.caption, "66051");
    EXPECT_EQ(form.outID.caption, "1234567");
    EXPECT_EQ(form.ID_Metki.caption, "1234567");
    EXPECT_EQ(form.outTime.caption, "300");
    EXPECT_EQ(form.IntervalMetki.caption, "300");
    EXPECT_EQ(form.outMode.caption, "2");
    EXPECT_EQ(form.ModeMetki.caption, "2");
    EXPECT_EQ(form.outPower.caption, "200");
    EXPECT_EQ(form.PowerMetki.caption, "200");
    EXPECT_EQ(form.outVer.caption, "2.5..");
    EXPECT_EQ(form.sleep_time.caption, "65534");
    EXPECT_EQ(form.UrPr.caption, "-5");
    EXPECT_EQ(form.SerNumMetki.caption, "0");  // the ping's field
}

TEST_F(TagReplyTest, ReadThenPingThenDataReply) {
    form.fill_id = 1;
    Decode(Ping({0, 0, 0, 9}, {0xAB, 0xCD, 0xEF, 0x01}, 1));
    EXPECT_EQ(form.ID_Metki.caption, "ABCDEF01");
    EXPECT_EQ(form.fill_id, 0);
    form.ID_Metki.caption = "edited";
    Decode(Ping({0, 0, 0, 9}, {0x11, 0x22, 0x33, 0x44}, 1));
    EXPECT_EQ(form.ID_Metki.caption, "edited");
    Decode(Data({0x00, 0x00, 0x00, 0x02}, 1, 134, 0));
    EXPECT_EQ(form.ID_Metki.caption, "0000002");
    EXPECT_EQ(form.outVer.caption, "1.3.4.");
}

TEST_F(TagReplyTest, SettingConfirmationOnlySetsTheStatusLine) {
    const Bytes rx = {0x3E, 0x01, 0xE1, 0x55, 0x55, 0x55, 0x55, 0x55, 0x55, 0x55, 0x55, 0x55};
    std::vector<Control> before = form.Snapshot();
    Decode(rx);
    for (Control& c : before) {
        if (c.name == "MsgCom") c.caption = "Установка параметров метки.";
    }
    EXPECT_EQ(form.Snapshot(), before);
}

TEST_F(TagReplyTest, ShortPingKeepsWhatIsMissingAndWaitsForAnId) {
    form.fill_id = 1;
    form.outID.caption = "old";
    form.UrPr.caption = "old";
    // Serial present, ID cut after two bytes.
    form.DecodeTagReply({0x3E, 0x01, 0xE0, 0, 0, 0, 5, 0x12, 0x34}, 0xE0);
    EXPECT_EQ(form.SerNumMetki.caption, "5");
    EXPECT_EQ(form.outID.caption, "old");
    EXPECT_EQ(form.UrPr.caption, "old");
    EXPECT_EQ(form.fill_id, 1);
    // Eleven bytes: the ID is there, the level is not.
    form.DecodeTagReply({0x3E, 0x01, 0xE0, 0, 0, 0, 5, 0x12, 0x34, 0x56, 0x78}, 0xE0);
    EXPECT_EQ(form.ID_Metki.caption, "12345678");
    EXPECT_EQ(form.fill_id, 0);
    EXPECT_EQ(form.UrPr.caption, "old");
}

TEST_F(TagReplyTest, ShortDataReplyStopsAtTheLastWholeField) {
    Bytes rx = Data({0x01, 0x02, 0x03, 0x04}, 0x0102, 131, 3);
    rx.resize(17);  // sleep time cut after one byte, level missing
    form.DecodeTagReply(rx, 0xE3);
    EXPECT_EQ(form.outVer.caption, "1.3.1.");
    EXPECT_EQ(form.outTime.caption, "258");
    EXPECT_EQ(form.sleep_time.caption, "0");
    EXPECT_EQ(form.UrPr.caption, "0");
}

}  // namespace
}  // namespace busdesk::testing
