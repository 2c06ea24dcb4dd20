#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "protocol/crc.h"
#include "support/model_fixture.h"

namespace busdesk::testing {
namespace {

// A reply frame: start byte, address, code, fields, CRC.
Bytes Reply(std::uint8_t address, std::uint8_t code, const Bytes& fields) {
    Bytes rx;
    rx.reserve(fields.size() + 4);
    rx.push_back(0x3E);
    rx.push_back(address);
    rx.push_back(code);
    for (std::uint8_t b : fields) rx.push_back(b);
    rx.push_back(Crc8(rx));
    return rx;
}

// Reader data fields: temperature, level LE16, current LE32, lo LE32, hi LE32, K LE16.
Bytes ReaderFields(std::uint8_t temp, std::uint16_t level, std::uint32_t current,
                   std::uint32_t lo = 0, std::uint32_t hi = 0, std::uint16_t k = 0) {
    Bytes f = {temp};
    auto le = [&f](std::uint32_t v, int n) {
        for (int i = 0; i < n; ++i) f.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
    };
    le(level, 2);
    le(current, 4);
    le(lo, 4);
    le(hi, 4);
    le(k, 2);
    return f;
}

class DecodeTest : public ModelTest {
  protected:
    void Decode(const Bytes& rx) { form.DecodeReply(rx, Crc8(rx, rx.size() - 1)); }
};

TEST_F(DecodeTest, EveryCodeGetsItsStatusTextAndOnlyUnknownCodesGetTheBox) {
    struct Row {
        std::uint8_t code;
        const char* status;  // nullptr: left unchanged
    };
    const Row rows[] = {
        {0xF0, nullptr},
        {0xFC, nullptr},
        {0xE0, "Был ПИНГ."},
        {0xE1, "Установка параметров метки."},
        {0xE3, "Считаны данные."},
        {0xFA, " Установлен нижний уровень."},
        {0xF2, " Установлен новый режим."},
        {0xF5, " Установлен верхний уровень."},
        {0xFB, " Установлен сетевой номер."},
        {0xF8, " Установлено кол. усреднение."},
        {0xF3, " Снято усреднение."},
        {0xF6, "Установлен серийный номер."},
        {0xFD, "Изменена инверсия."},
    };
    for (int code = 0; code < 256; ++code) {
        SCOPED_TRACE(code);
        form.MsgCom.caption = "before";
        dialogs.messages.clear();
        const auto c = static_cast<std::uint8_t>(code);
        Decode(Reply(1, c, Bytes(20, 0x00)));
        const Row* row = nullptr;
        for (const Row& r : rows) {
            if (r.code == c) row = &r;
        }
        if (row == nullptr) {
            EXPECT_EQ(form.MsgCom.caption, " Непонятно что пришло! ");
            ASSERT_EQ(dialogs.messages.size(), 1U);
            EXPECT_EQ(dialogs.messages[0].text, "Пришла какая-то фигня");
            EXPECT_EQ(dialogs.messages[0].buttons, MsgButtons::Ok);
            EXPECT_EQ(dialogs.messages[0].caption, "BusDesk");
        } else {
            EXPECT_EQ(form.MsgCom.caption, row->status ? row->status : "before");
            EXPECT_TRUE(dialogs.messages.empty());
        }
    }
}

TEST_F(DecodeTest, ReaderDataWorkedExample) {
    Decode(Reply(5, 0xF0, ReaderFields(0x19, 512, 1, 70000, 4294967295U, 65535)));
    EXPECT_EQ(form.ne.caption, "5");
    EXPECT_EQ(form.temp.caption,
              "25 \xC2\xB0"
              "C");
    EXPECT_EQ(form.uroven.caption, "512");
    EXPECT_EQ(form.ProgressBar1.value, 512);
    EXPECT_EQ(form.tek.caption, "1");
    EXPECT_EQ(form.lo.caption, "70000");
    EXPECT_EQ(form.hi.caption, "4294967295");
    EXPECT_EQ(form.ko.caption, "65535");
}

TEST_F(DecodeTest, TemperatureIsSignedAndTheBarStopsBelow1024) {
    struct Row {
        std::uint8_t temp;
        std::uint16_t level;
        const char* tempText;
        int bar;  // the bar starts at 7
    };
    const Row rows[] = {
        {0xFB, 1024, "-5 °C", 7},  {0x80, 1023, "-128 °C", 1023}, {0x7F, 0, "127 °C", 0},
        {0xFF, 65535, "-1 °C", 7}, {0x00, 1025, "0 °C", 7},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.tempText);
        form.ProgressBar1.value = 7;
        Decode(Reply(1, 0xF0, ReaderFields(r.temp, r.level, 9)));
        EXPECT_EQ(form.temp.caption, r.tempText);
        EXPECT_EQ(form.uroven.caption, std::to_string(r.level));
        EXPECT_EQ(form.ProgressBar1.value, r.bar);
    }
}

TEST_F(DecodeTest, ZeroCurrentKeepsTheReadingsButUpdatesTheSettings) {
    Decode(Reply(3, 0xF0, ReaderFields(0x10, 100, 0, 11, 22, 33)));
    for (const Control* c : {&form.tek, &form.temp, &form.ne, &form.uroven})
        EXPECT_EQ(c->caption, "нет данных") << c->name;
    EXPECT_EQ(form.ProgressBar1.value, 0);
    EXPECT_EQ(form.lo.caption, "11");
    EXPECT_EQ(form.hi.caption, "22");
    EXPECT_EQ(form.ko.caption, "33");
}

TEST_F(DecodeTest, ReaderDataWithABadCrcChangesNothing) {
    Bytes rx = Reply(5, 0xF0, ReaderFields(0x19, 512, 1, 1, 1, 1));
    rx.back() ^= 0x01;
    const std::vector<Control> before = form.Snapshot();
    Decode(rx);
    EXPECT_EQ(form.Snapshot(), before);
    EXPECT_TRUE(dialogs.messages.empty());
    // The decoder trusts the CRC it is given, not one of its own.
    form.DecodeReply(rx, rx.back());
    EXPECT_EQ(form.tek.caption, "1");
}

TEST_F(DecodeTest, ModeByteOfAReaderDataReplyIsShownOncePerRequest) {
    Bytes fields = ReaderFields(0x19, 1, 1);
    Decode(Reply(1, 0xF0, fields));  // 21 bytes: no mode byte
    EXPECT_TRUE(form.mode_yes);
    EXPECT_EQ(form.R_a.value, 1);

    fields.push_back(0x01);  // Считыватель-индикатор
    Decode(Reply(1, 0xF0, fields));
    EXPECT_FALSE(form.mode_yes);
    EXPECT_EQ(form.R_f.value, 1);

    fields.back() = 0x40;  // Мост; not shown while mode_yes is false
    Decode(Reply(1, 0xF0, fields));
    EXPECT_EQ(form.R_f.value, 1);
    EXPECT_EQ(form.R485.value, 0);
}

TEST_F(DecodeTest, ModeConfirmationShowsTheModeWhateverModeYesSays) {
    form.mode_yes = false;
    Decode(Reply(1, 0xF2, {0xC0}));
    EXPECT_EQ(form.MsgCom.caption, " Установлен новый режим.");
    EXPECT_EQ(form.R485.value, 1);
    EXPECT_EQ(form.iinv.value, 1);
    EXPECT_EQ(form.usredn.value, 1);
}

TEST_F(DecodeTest, SerialNumberReplies) {
    // Controls with version codes, to see which version groups were enabled.
    form.num_bytes.tag = "130";
    form.OutKolBytes.tag = "131";
    form.Label10.tag = "214";
    form.Label11.tag = "215";
    struct Row {
        Bytes fields;
        const char* sn;
        const char* vv;
        bool g130, g131, g134;
    };
    const char* keep = "--------------------";
    const Row rows[] = {
        {{0x01, 0x00, 0x00, 0x00}, "1", keep, false, false, false},
        {{0x00, 0x00, 0x00, 0x01}, "16777216", keep, false, false, false},
        {{0x01, 0x00, 0x00, 0x00, 131, 0}, "1", "1.3.1.", true, true, false},
        {{0x01, 0x00, 0x00, 0x00, 134, 2}, "1", "21.3.4.", true, true, true},
        {{0x01, 0x00, 0x00, 0x00, 130, 0}, "1", "1.3.0.", true, false, false},
        {{0x01, 0x00, 0x00, 0x00, 129, 0}, "1", "1.2.9.", false, false, false},
        {{0x01, 0x00, 0x00, 0x00, 7, 255}, "1", "2557...", false, false, false},
        // 9 and 11 bytes: not a versioned reply
        {{0x01, 0x00, 0x00, 0x00, 134}, "1", keep, false, false, false},
        {{0x01, 0x00, 0x00, 0x00, 134, 0, 0xAA}, "1", keep, false, false, false},
        // 7 bytes still hold the serial number; 6 do not
        {{0x02, 0x00, 0x00}, "520093698", keep, false, false, false},
        {{0x01, 0x00}, "????????", keep, false, false, false},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.sn);
        form.vv.caption = keep;
        for (Control* c : {&form.num_bytes, &form.OutKolBytes, &form.Label10, &form.Label11})
            c->enabled = false;
        Decode(Reply(1, 0xFC, r.fields));
        EXPECT_EQ(form.sn.caption, r.sn);
        EXPECT_EQ(form.vv.caption, r.vv);
        EXPECT_EQ(form.num_bytes.enabled, r.g130);
        EXPECT_EQ(form.OutKolBytes.enabled, r.g131);
        EXPECT_EQ(form.Label10.enabled, r.g134);
        EXPECT_FALSE(form.Label11.enabled);
    }
}

TEST_F(DecodeTest, SurveyAnswerFillsTheDeviceListAndAsksTheFirstForItsSerial) {
    form.net_opr = true;
    Decode({0x01, 0x05, 0x07});
    EXPECT_EQ(form.CmbNet.list, (std::vector<std::string>{"1", "5", "7"}));
    EXPECT_EQ(form.CmbNet.SelectedEntry(), "1");
    EXPECT_EQ(form.netdev.caption, "1 5 7 ");
    EXPECT_EQ(form.txtRec.caption, "1 5 7 ");
    EXPECT_EQ(form.wrs, (Bytes{0x31, 0x01, 0xFC, 0x66}));
    EXPECT_EQ(form.MsgCom.caption, "Произошел опрос сети.");
    EXPECT_FALSE(form.net_opr);
}

TEST_F(DecodeTest, WhatCountsAsASurveyAnswer) {
    struct Row {
        Bytes rx;
        bool pending;
        bool taken;
    };
    const Row rows[] = {
        {{0x3E, 0x05, 0xF0}, true, true},  // framed but too short
        {Bytes(19, 0x02), true, true},    {Bytes(20, 0x02), true, false},
        {{0x05}, false, false},           {{0x3E}, true, true},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.rx.size());
        SetDevices({"0"});
        form.wrs.clear();
        form.net_opr = r.pending;
        Decode(r.rx);
        EXPECT_FALSE(form.net_opr);
        EXPECT_EQ(form.CmbNet.list.size(), r.taken ? r.rx.size() : 1U);
        EXPECT_EQ(form.wrs.empty(), !r.taken);
        EXPECT_TRUE(dialogs.messages.empty());
    }
}

TEST_F(DecodeTest, AFramedReplyLeavesASurveyPending) {
    form.net_opr = true;
    Decode(Reply(1, 0xFB, {}));
    EXPECT_TRUE(form.net_opr);
}

TEST_F(DecodeTest, ACutReaderDataReplyUpdatesOnlyTheFieldsWhollyPresent) {
    const Bytes full = Reply(1, 0xF0, ReaderFields(1, 2, 3, 4, 5, 6));
    struct Field {
        Control* control;
        std::size_t needs;  // reply length that holds the whole field
        const char* text;
    };
    const Field fields[] = {
        {&form.tek, 10, "3"},    {&form.temp, 10, "1 °C"}, {&form.ne, 10, "1"},
        {&form.uroven, 10, "2"}, {&form.lo, 14, "4"},      {&form.hi, 18, "5"},
        {&form.ko, 20, "6"},
    };
    for (std::size_t n = 4; n <= full.size(); ++n) {
        SCOPED_TRACE(n);
        for (const Field& f : fields) f.control->caption = "x";
        // Cut replies still pass a CRC check: hand over the CRC they end in.
        const Bytes rx(full.begin(), full.begin() + static_cast<std::ptrdiff_t>(n));
        form.DecodeReply(rx, rx.back());
        for (const Field& f : fields)
            EXPECT_EQ(f.control->caption, n >= f.needs ? f.text : "x") << f.control->name;
    }
}

}  // namespace
}  // namespace busdesk::testing
