#include "link/telnet.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace busdesk::telnet {
namespace {

// Feeds `stream` cut at every offset in `cuts` and returns the data seen.
Bytes DecodeInPieces(Codec& codec, const Bytes& stream, const std::vector<std::size_t>& cuts) {
    Bytes data;
    std::size_t from = 0;
    for (const std::size_t cut : cuts) {
        codec.Decode(stream.data() + from, cut - from, data);
        from = cut;
    }
    codec.Decode(stream.data() + from, stream.size() - from, data);
    return data;
}

Codec Client() {
    return Codec({kBinary, kComPort}, {kBinary, kSuppressGoAhead});
}

TEST(Telnet, DataSurvivesAnyReadBoundary) {
    // The survey frame holds 0xFF; a sub-negotiation and a command sit in the
    // middle of the data. Every way of cutting the stream in two and in three
    // must give the same data and the same one sub-negotiation.
    Bytes stream{0x31, kIac, kIac, 0xDC};
    const Bytes sub = ComPortBaud(19200, true);
    stream.insert(stream.end(), sub.begin(), sub.end());
    stream.insert(stream.end(), {0x05, kIac, 241 /* NOP */, kIac, kIac, kIac, kIac, 0x00});
    const Bytes want{0x31, kIac, 0xDC, 0x05, kIac, kIac, 0x00};
    for (std::size_t a = 0; a <= stream.size(); ++a) {
        for (std::size_t b = a; b <= stream.size(); ++b) {
            Codec c = Client();
            EXPECT_EQ(DecodeInPieces(c, stream, {a, b}), want) << "cuts " << a << "," << b;
            const std::vector<SubNeg> subs = c.TakeSubNegs();
            ASSERT_EQ(subs.size(), 1u) << "cuts " << a << "," << b;
            EXPECT_EQ(subs[0].option, kComPort);
            EXPECT_EQ(subs[0].payload, (Bytes{101, 0x00, 0x00, 0x4B, 0x00}));
        }
    }
}

TEST(Telnet, EscapedSubNegotiationValues) {
    // A baud rate with 0xFF in it is doubled inside the sub-negotiation and
    // read back whole.
    const Bytes msg = ComPortBaud(0x0000FFFF);
    EXPECT_EQ(msg, (Bytes{kIac, kSb, kComPort, 1, 0, 0, kIac, kIac, kIac, kIac, kIac, kSe}));
    Codec c = Client();
    Bytes data;
    c.Decode(msg.data(), msg.size(), data);
    EXPECT_TRUE(data.empty());
    const auto m = ReadComPort(c.TakeSubNegs().at(0));
    ASSERT_TRUE(m);
    EXPECT_EQ(m->command, 1);
    EXPECT_EQ(m->value, (Bytes{0, 0, kIac, kIac}));
}

TEST(Telnet, Escape) {
    EXPECT_EQ(Escape({0x31, 0xFF, 0xDC}), (Bytes{0x31, 0xFF, 0xFF, 0xDC}));
    EXPECT_EQ(Escape({0xFF, 0xFF}), (Bytes{0xFF, 0xFF, 0xFF, 0xFF}));
    EXPECT_EQ(Escape({}), Bytes{});
}

TEST(Telnet, Negotiation) {
    struct Row {
        const char* what;
        Bytes in;
        Bytes replies;
    };
    const std::vector<Row> rows = {
        {"accepted option is agreed to once",
         {kIac, kWill, kBinary, kIac, kWill, kBinary},
         {kIac, kDo, kBinary}},
        {"unwanted option refused once",
         {kIac, kWill, kEcho, kIac, kWill, kEcho},
         {kIac, kDont, kEcho}},
        {"unwanted local option refused", {kIac, kDo, 24 /* terminal type */}, {kIac, kWont, 24}},
        {"we offer com port: DO agrees", {kIac, kDo, kComPort}, {kIac, kWill, kComPort}},
        {"WONT for an option that is off says nothing",
         {kIac, kWont, kEcho, kIac, kDont, kEcho},
         {}},
        {"turning off an enabled option is acknowledged",
         {kIac, kWill, kBinary, kIac, kWont, kBinary},
         {kIac, kDo, kBinary, kIac, kDont, kBinary}},
    };
    for (const Row& r : rows) {
        Codec c = Client();
        Bytes data;
        c.Decode(r.in.data(), r.in.size(), data);
        EXPECT_EQ(c.TakeReplies(), r.replies) << r.what;
        EXPECT_TRUE(data.empty()) << r.what;
    }
}

TEST(Telnet, RequestAnsweredWithoutEcho) {
    Codec c = Client();
    c.OfferLocal(kComPort);
    c.AskRemote(kBinary);
    c.OfferLocal(kComPort);  // already asked: nothing more
    EXPECT_EQ(c.TakeReplies(), (Bytes{kIac, kWill, kComPort, kIac, kDo, kBinary}));
    const Bytes answer{kIac, kDo, kComPort, kIac, kWont, kBinary};
    Bytes data;
    c.Decode(answer.data(), answer.size(), data);
    EXPECT_TRUE(c.LocalOn(kComPort));
    EXPECT_FALSE(c.RemoteOn(kBinary));
    EXPECT_TRUE(c.RemoteRefused(kBinary));
    // The answers to our own requests are not answered again.
    EXPECT_TRUE(c.TakeReplies().empty());
}

TEST(Telnet, WillDoStormStaysBounded) {
    // A server that repeats every request thousands of times (or two ends
    // that echo each other) must not get an answer per request: the replies
    // to a long storm are those to a short one.
    const auto replies = [](int rounds) {
        Bytes storm;
        for (int i = 0; i < rounds; ++i)
            for (const std::uint8_t verb : {kWill, kDo, kWont, kDont})
                for (const std::uint8_t opt : {kBinary, kEcho, kComPort, std::uint8_t{200}})
                    storm.insert(storm.end(), {kIac, verb, opt});
        storm.push_back(0x42);
        Codec c = Client();
        Bytes data;
        c.Decode(storm.data(), storm.size(), data);
        EXPECT_EQ(data, Bytes{0x42});
        return c.TakeReplies();
    };
    const Bytes shortStorm = replies(2 * Codec::kMaxToggles);
    EXPECT_FALSE(shortStorm.empty());
    EXPECT_EQ(replies(5000), shortStorm);
}

TEST(Telnet, ResetMidFrameLeavesNoState) {
    // The connection drops inside a sub-negotiation; a new codec (a new
    // connection) starts clean, and the half-read one has not made anything
    // up from the half it saw.
    const Bytes half{0x10, kIac, kSb, kComPort, 101, 0x00};
    Codec c = Client();
    Bytes data;
    c.Decode(half.data(), half.size(), data);
    EXPECT_EQ(data, Bytes{0x10});
    EXPECT_TRUE(c.TakeSubNegs().empty());
    Codec fresh = Client();
    const Bytes next{0x31, kIac, kIac, 0xDC};
    Bytes again;
    fresh.Decode(next.data(), next.size(), again);
    EXPECT_EQ(again, (Bytes{0x31, 0xFF, 0xDC}));
}

TEST(Telnet, OverlongSubNegotiationIsCut) {
    Bytes stream{kIac, kSb, kComPort};
    stream.insert(stream.end(), 10'000, 0x07);
    stream.insert(stream.end(), {kIac, kSe, 0x55});
    Codec c = Client();
    Bytes data;
    c.Decode(stream.data(), stream.size(), data);
    EXPECT_EQ(data, Bytes{0x55});
    const auto subs = c.TakeSubNegs();
    ASSERT_EQ(subs.size(), 1u);
    EXPECT_EQ(subs[0].payload.size(), Codec::kMaxSubNeg);
}

LineSettings Line19200() {
    return *ParseModeString("19200,n,8,1");
}

TEST(LineSetup, Answers) {
    struct Row {
        const char* what;
        std::vector<Bytes> answers;  // com-port payloads from the server
        bool done;
        std::string unanswered;
        std::string refused;
    };
    const std::vector<Row> rows = {
        {"server never answers",
         {},
         false,
         "скорость, биты данных, чётность, стоповые биты, управление потоком",
         ""},
        {"all answered",
         {{101, 0, 0, 0x4B, 0}, {102, 8}, {103, 1}, {104, 1}, {105, 1}},
         true,
         "",
         ""},
        {"some answered, order free",
         {{104, 1}, {101, 0, 0, 0x4B, 0}},
         false,
         "биты данных, чётность, управление потоком",
         ""},
        {"other baud",
         {{101, 0, 0, 0x25, 0x80}},
         false,
         "биты данных, чётность, стоповые биты, управление потоком",
         "скорость 9600 вместо 19200"},
        {"client-side commands and other messages ignored",
         {{1, 0, 0, 0x4B, 0}, {106, 0}},
         false,
         "скорость, биты данных, чётность, стоповые биты, управление потоком",
         ""},
    };
    for (const Row& r : rows) {
        LineSetup s(Line19200());
        for (const Bytes& a : r.answers) s.Take(*ReadComPort(SubNeg{kComPort, a}));
        EXPECT_EQ(s.Done(), r.done) << r.what;
        EXPECT_EQ(s.Unanswered(), r.unanswered) << r.what;
        EXPECT_EQ(s.Refused(), r.refused) << r.what;
    }
}

TEST(LineSetup, RequestsDecodeAsTheFiveSettings) {
    const Bytes req = LineSetup(*ParseModeString("9600,e,7,2")).Requests();
    Codec server({kComPort}, {kComPort});
    Bytes data;
    server.Decode(req.data(), req.size(), data);
    EXPECT_TRUE(data.empty());
    const auto subs = server.TakeSubNegs();
    ASSERT_EQ(subs.size(), 5u);
    EXPECT_EQ(subs[0].payload, (Bytes{1, 0, 0, 0x25, 0x80}));
    EXPECT_EQ(subs[1].payload, (Bytes{2, 7}));
    EXPECT_EQ(subs[2].payload, (Bytes{3, kParityEven}));
    EXPECT_EQ(subs[3].payload, (Bytes{4, kStopTwo}));
    EXPECT_EQ(subs[4].payload, (Bytes{5, kControlNoFlow}));
}

}  // namespace
}  // namespace busdesk::telnet
