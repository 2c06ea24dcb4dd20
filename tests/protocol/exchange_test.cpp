#include <gtest/gtest.h>

#include <string>

#include "protocol/crc.h"
#include "protocol/text.h"
#include "support/model_fixture.h"

namespace busdesk::testing {
namespace {

const Bytes kPoll0 = {0x31, 0x00, 0xF0, 0x01};
const Bytes kTagPoll0 = {0x31, 0x00, 0xE0, 0x7A, 0x7A, 0x7A, 0x7A, 0x12};

Bytes WithCrc(Bytes b) {
    b.push_back(Crc8(b));
    return b;
}

// A 22-byte reader data reply carrying `current` and mode byte 0x02.
Bytes ReaderReply(std::uint8_t address, std::uint8_t current) {
    Bytes rx = {0x3E, address, 0xF0, 0x19, 0x00, 0x02, current, 0, 0, 0};
    rx.resize(20, 0);
    rx.push_back(0x02);
    return WithCrc(rx);
}

class ExchangeTest : public ModelTest {
  protected:
    void Tick() { ASSERT_TRUE(form.Tick()); }
    const Bytes& LastWrite() const { return port.writes.back(); }
};

TEST_F(ExchangeTest, IdlePollsAlternateStartingWithReaderData) {
    OpenPort();
    const Bytes expected[] = {kPoll0, kTagPoll0, kPoll0, kTagPoll0};
    for (const Bytes& frame : expected) {
        Tick();
        EXPECT_EQ(LastWrite(), frame);
    }
    // The tag half of the idle poll is the search request byte for byte.
    form.Find_metki_Click();
    EXPECT_EQ(form.wrs, kTagPoll0);
}

TEST_F(ExchangeTest, ReplyToTheFrameOfTickNIsDecodedInTickNPlusOne) {
    OpenPort();
    Tick();
    EXPECT_EQ(LastWrite(), kPoll0);
    EXPECT_EQ(form.tek.caption, "нет данных");
    // The device answers after the write; the next tick reads it before writing.
    port.QueueReception(ReaderReply(0, 7));
    Tick();
    EXPECT_EQ(LastWrite(), kTagPoll0);
    EXPECT_EQ(form.tek.caption, "7");
    EXPECT_EQ(form.R_a.value, 1);
    EXPECT_FALSE(form.mode_yes);
    EXPECT_EQ(port.reads, 2);
    EXPECT_EQ(form.Pic.fillColor, lamp::kRed);
}

TEST_F(ExchangeTest, NewSelectionSendsTheSerialRequestFirst) {
    OpenPort();
    SetDevices({"1"});
    Tick();
    EXPECT_EQ(LastWrite(), (Bytes{0x31, 0x01, 0xFC, 0x66}));
    EXPECT_EQ(form.last_addr, 1);
    Tick();
    EXPECT_EQ(LastWrite(), (Bytes{0x31, 0x01, 0xF0, 0xC5}));

    // A pending command is replaced by the serial request of the new device.
    form.wrs = {0x31, 0x01, 0xF5, 0x00};
    SetDevices({"5"});
    Tick();
    EXPECT_EQ(LastWrite(), (Bytes{0x31, 0x05, 0xFC, 0x5D}));
}

TEST_F(ExchangeTest, CommandFrameGoesOutOnceAndDoesNotAdvanceTheAlternation) {
    OpenPort();
    Tick();  // reader data poll; the tag poll is next
    form.wrs = {0x31, 0x00, 0xFA, 0x44};
    Tick();
    EXPECT_EQ(LastWrite(), (Bytes{0x31, 0x00, 0xFA, 0x44}));
    EXPECT_TRUE(form.wrs.empty());
    Tick();
    EXPECT_EQ(LastWrite(), kTagPoll0);
    EXPECT_EQ(form.CmdBoxText.caption, "31_0_E0_7A_7A_7A_7A_12_");
}

TEST_F(ExchangeTest, NoSelectionSendsNothingButStillBlinks) {
    OpenPort();
    form.CmbNet.listIndex = -1;
    form.Pic.fillColor = lamp::kWhite;
    Tick();
    ASSERT_EQ(port.writes.size(), 1U);
    EXPECT_TRUE(LastWrite().empty());
    EXPECT_EQ(form.Pic.fillColor, lamp::kGrey);
    EXPECT_EQ(form.CmdBoxText.caption, "");
    EXPECT_EQ(form.CointWrs, 0);
    EXPECT_EQ(form.MsgCom.caption, "Нет данных с датчика с номером ");
    EXPECT_TRUE(dialogs.messages.empty());
}

TEST_F(ExchangeTest, LampBlinksWhileSilentAndTurnsRedOnData) {
    OpenPort();
    const std::uint32_t silent[] = {lamp::kWhite, lamp::kGrey, lamp::kWhite};
    for (std::uint32_t colour : silent) {
        Tick();
        EXPECT_EQ(form.Pic.fillColor, colour);
    }
    const int flushesBefore = port.flushes;
    port.QueueReception({0x3E, 0x00, 0xFB, 0x00});
    Tick();
    EXPECT_EQ(form.Pic.fillColor, lamp::kRed);
    EXPECT_EQ(port.flushes, flushesBefore + 1);
    Tick();
    EXPECT_EQ(form.Pic.fillColor, lamp::kWhite);
}

TEST_F(ExchangeTest, SilentDeviceIsNamedAndTheStatusComesBackWithData) {
    OpenPort();
    SetDevices({"5"});
    form.last_addr = 5;
    form.MsgCom.caption = " Установлен сетевой номер.";
    for (int i = 0; i < 3; ++i) {
        Tick();
        EXPECT_EQ(form.MsgCom.caption, "Нет данных с датчика с номером 5");
        EXPECT_TRUE(form.no_data);
    }
    EXPECT_EQ(form.last_msg, " Установлен сетевой номер.");
    // A reply whose decoding leaves the status line alone shows the saved text.
    port.QueueReception(WithCrc({0x3E, 0x05, 0xFC, 1, 0, 0, 0}));
    Tick();
    EXPECT_FALSE(form.no_data);
    EXPECT_EQ(form.MsgCom.caption, " Установлен сетевой номер.");
    EXPECT_EQ(form.sn.caption, "1");
}

TEST_F(ExchangeTest, ReceiveDump) {
    OpenPort();
    Tick();  // reader data poll; the next tick sends the tag poll
    port.QueueReception({0x3E, 0x00, 0xFB, 0x5D});
    Tick();
    const std::string c = HexText(Crc8({0x3E, 0x00, 0xFB}));
    // The tag poll tick built no reader data poll: the dump ends in 0.
    EXPECT_EQ(form.txtRec.caption, "3E 0 FB 5D " + c + " \r\n\r\n>@ы<ACK>0");

    // A one-byte reception in a reader data poll tick ends with that poll's CRC.
    port.QueueReception({0x0D});
    Tick();
    EXPECT_EQ(form.txtRec.caption, "D 0 \r\n\r\n<CR>1");
}

TEST_F(ExchangeTest, OnlyReceptionsUnder50BytesAreDumped) {
    OpenPort();
    form.net_opr = false;
    for (std::size_t size : {49U, 50U, 51U}) {
        SCOPED_TRACE(size);
        form.txtRec.caption = "kept";
        Bytes rx(size, 0x41);
        port.QueueReception(rx);
        Tick();
        const bool dumped = form.txtRec.caption != "kept";
        EXPECT_EQ(dumped, size < 50);
        if (dumped) {
            EXPECT_EQ(form.txtRec.caption.rfind("41 41 ", 0), 0U);
        }
        EXPECT_EQ(form.Pic.fillColor, lamp::kRed);
    }
}

TEST_F(ExchangeTest, FourthWriteFailureInARowClosesThePort) {
    OpenPort();
    port.FailWrites(4);
    port.QueueReception(ReaderReply(0, 9));
    for (int i = 1; i <= 3; ++i) {
        Tick();
        EXPECT_EQ(form.wr_err, i);
        EXPECT_TRUE(form.TMRComm.enabled);
        EXPECT_TRUE(form.wrs.empty());
    }
    // The reception read in the first failing tick was dropped.
    EXPECT_EQ(form.tek.caption, "нет данных");
    EXPECT_NE(form.Pic.fillColor, lamp::kRed);
    Tick();
    EXPECT_EQ(dialogs.Texts(), std::vector<std::string>(4, "Ошибка записи в порт"));
    EXPECT_FALSE(form.TMRComm.enabled);
    EXPECT_EQ(port.closes, 1);
    EXPECT_TRUE(form.BTNOpenCom.enabled);
    EXPECT_EQ(form.Pic.fillColor, lamp::kClosed);
    EXPECT_FALSE(form.Tick());
    // Reopening starts the count afresh.
    OpenPort();
    EXPECT_EQ(form.wr_err, 0);
}

TEST_F(ExchangeTest, GoodWriteResetsTheFailureCount) {
    OpenPort();
    port.FailWrites(3);
    for (int i = 0; i < 3; ++i) Tick();
    EXPECT_EQ(form.wr_err, 3);
    Tick();
    EXPECT_EQ(form.wr_err, 0);
    port.FailWrites(3);
    for (int i = 0; i < 3; ++i) Tick();
    EXPECT_TRUE(form.TMRComm.enabled);
    EXPECT_EQ(port.closes, 0);
}

TEST_F(ExchangeTest, FirstTickAfterReopeningAsksAddress0ForItsSerial) {
    OpenPort();
    SetDevices({"5"});
    Tick();
    EXPECT_EQ(form.last_addr, 5);
    form.wrs = {0x31, 0x05, 0xF5, 0xC1};
    ASSERT_EQ(form.UserClick("BTNCloseCom"), frmSerial::Raised::Handled);
    EXPECT_EQ(form.wrs.size(), 4U);
    OpenPort();
    Tick();
    EXPECT_EQ(LastWrite(), (Bytes{0x31, 0x00, 0xFC, 0xA2}));
}

TEST_F(ExchangeTest, SurveyOverTheWire) {
    OpenPort();
    ASSERT_EQ(form.UserClick("Opros"), frmSerial::Raised::Handled);
    Tick();
    EXPECT_EQ(LastWrite(), (Bytes{0x31, 0xFF, 0xDC}));
    port.QueueReception({0x01, 0x05, 0x07});
    Tick();  // reads the answer; the serial request to 1 is queued for the next
    EXPECT_EQ(form.txtRec.caption, "1 5 7 ");
    Tick();
    EXPECT_EQ(LastWrite(), (Bytes{0x31, 0x01, 0xFC, 0x66}));
    // The answer's tick polled reader data, so the tag poll is next.
    Tick();
    EXPECT_EQ(LastWrite(), (Bytes{0x31, 0x01, 0xE0, 0x7A, 0x7A, 0x7A, 0x7A, 0x25}));
}

}  // namespace
}  // namespace busdesk::testing
