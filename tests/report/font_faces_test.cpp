// The report's compiled-in faces: two well-formed @font-face rules whose data
// decodes to a whole TrueType font that carries the report's characters, its
// new name and its licence.
#include "report/fonts/font_faces.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace {

using busdesk::report::FontFaceCss;
using Bytes = std::vector<std::uint8_t>;

std::optional<Bytes> DecodeBase64(std::string_view text) {
    static constexpr std::string_view kAlphabet =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    if (text.size() % 4 != 0) return std::nullopt;
    Bytes out;
    std::uint32_t bits = 0;
    int count = 0;
    std::size_t padding = 0;
    for (char c : text) {
        if (c == '=') {
            ++padding;
            bits <<= 6;
        } else {
            const auto v = kAlphabet.find(c);
            if (v == std::string_view::npos || padding > 0) return std::nullopt;
            bits = (bits << 6) | static_cast<std::uint32_t>(v);
        }
        if (++count == 4) {
            out.push_back(static_cast<std::uint8_t>(bits >> 16));
            out.push_back(static_cast<std::uint8_t>(bits >> 8));
            out.push_back(static_cast<std::uint8_t>(bits));
            bits = 0;
            count = 0;
        }
    }
    if (padding > 2) return std::nullopt;
    out.resize(out.size() - padding);
    return out;
}

std::uint32_t Be(const Bytes& b, std::size_t at, int size) {
    std::uint32_t v = 0;
    for (int i = 0; i < size; ++i) v = (v << 8) | b.at(at + static_cast<std::size_t>(i));
    return v;
}

struct Table {
    std::size_t offset = 0;
    std::size_t length = 0;
};

std::optional<Table> FindTable(const Bytes& font, std::string_view tag) {
    const auto tables = Be(font, 4, 2);
    for (std::uint32_t i = 0; i < tables; ++i) {
        const std::size_t entry = 12 + 16 * std::size_t{i};
        if (std::string_view(reinterpret_cast<const char*>(font.data()) + entry, 4) == tag)
            return Table{Be(font, entry + 8, 4), Be(font, entry + 12, 4)};
    }
    return std::nullopt;
}

// The glyph of a BMP code point through the Windows Unicode cmap (format 4);
// 0 is .notdef, the box a missing character prints as.
std::uint32_t GlyphOf(const Bytes& font, const Table& cmap, char16_t c) {
    const auto subtables = Be(font, cmap.offset + 2, 2);
    for (std::uint32_t i = 0; i < subtables; ++i) {
        const std::size_t rec = cmap.offset + 4 + 8 * std::size_t{i};
        if (Be(font, rec, 2) != 3 || Be(font, rec + 2, 2) != 1) continue;
        const std::size_t sub = cmap.offset + Be(font, rec + 4, 4);
        if (Be(font, sub, 2) != 4) continue;
        const std::size_t segs = Be(font, sub + 6, 2) / 2;
        const std::size_t ends = sub + 14;
        const std::size_t starts = ends + 2 * segs + 2;
        const std::size_t deltas = starts + 2 * segs;
        const std::size_t ranges = deltas + 2 * segs;
        for (std::size_t s = 0; s < segs; ++s) {
            if (c > Be(font, ends + 2 * s, 2)) continue;
            const auto start = Be(font, starts + 2 * s, 2);
            if (c < start) return 0;
            const auto delta = Be(font, deltas + 2 * s, 2);
            const auto range = Be(font, ranges + 2 * s, 2);
            if (range == 0) return (c + delta) & 0xFFFF;
            const std::size_t at = ranges + 2 * s + range + 2 * (c - start);
            const auto glyph = Be(font, at, 2);
            return glyph == 0 ? 0 : (glyph + delta) & 0xFFFF;
        }
    }
    return 0;
}

// A name of the Windows English records, UTF-16 big-endian narrowed to ASCII
// (enough for the names checked here).
std::string NameOf(const Bytes& font, const Table& name, std::uint32_t id) {
    const auto count = Be(font, name.offset + 2, 2);
    const std::size_t strings = name.offset + Be(font, name.offset + 4, 2);
    for (std::uint32_t i = 0; i < count; ++i) {
        const std::size_t rec = name.offset + 6 + 12 * std::size_t{i};
        if (Be(font, rec, 2) != 3 || Be(font, rec + 6, 2) != id) continue;
        std::string out;
        const auto length = Be(font, rec + 8, 2);
        const auto at = strings + Be(font, rec + 10, 2);
        for (std::uint32_t k = 0; k + 1 < length; k += 2)
            out += static_cast<char>(Be(font, at + k, 2) & 0x7F);
        return out;
    }
    return {};
}

struct Face {
    std::string rule;
    Bytes font;
};

std::vector<Face> Faces() {
    std::vector<Face> faces;
    const std::string_view css = FontFaceCss();
    std::size_t at = 0;
    while ((at = css.find("@font-face", at)) != std::string_view::npos) {
        const auto open = css.find('{', at);
        const auto close = css.find('}', open);
        if (open == std::string_view::npos || close == std::string_view::npos) break;
        Face face{std::string(css.substr(at, close + 1 - at)), {}};
        const std::string_view head = "url(data:font/ttf;base64,";
        const auto data = face.rule.find(head);
        if (data != std::string::npos) {
            const auto from = data + head.size();
            const auto to = face.rule.find(')', from);
            if (auto bytes = DecodeBase64(std::string_view(face.rule).substr(from, to - from)))
                face.font = std::move(*bytes);
        }
        faces.push_back(std::move(face));
        at = close;
    }
    return faces;
}

TEST(FontFaces, TwoRulesOfOneFamilyAndNothingElse) {
    const auto faces = Faces();
    ASSERT_EQ(faces.size(), 2u);
    const char* weights[] = {"font-weight:400", "font-weight:700"};
    std::size_t total = 0;
    for (std::size_t i = 0; i < faces.size(); ++i) {
        SCOPED_TRACE(weights[i]);
        EXPECT_NE(faces[i].rule.find(R"(font-family:"BusDesk Sans")"), std::string::npos);
        EXPECT_NE(faces[i].rule.find(weights[i]), std::string::npos);
        EXPECT_NE(faces[i].rule.find(R"(format("truetype"))"), std::string::npos);
        total += faces[i].rule.size();
    }
    // Only the two rules and the line breaks between them: a stray brace or
    // quote would end the report's <style> early.
    EXPECT_LE(FontFaceCss().size(), total + 2);
    // Each report carries the faces; the cut keeps them small.
    EXPECT_LT(FontFaceCss().size(), 120u * 1024u);
}

TEST(FontFaces, EachDecodesToAWholeRenamedFontWithItsLicence) {
    const char* names[] = {"BusDeskSans", "BusDeskSans-Bold"};
    const auto faces = Faces();
    ASSERT_EQ(faces.size(), 2u);
    for (std::size_t i = 0; i < faces.size(); ++i) {
        SCOPED_TRACE(names[i]);
        const Bytes& font = faces[i].font;
        ASSERT_GT(font.size(), 12u);
        EXPECT_EQ(Be(font, 0, 4), 0x00010000u) << "not a TrueType font";
        // A truncated or mis-padded payload leaves tables pointing past the end.
        const auto tables = Be(font, 4, 2);
        ASSERT_LE(12 + 16 * std::size_t{tables}, font.size());
        for (std::uint32_t t = 0; t < tables; ++t) {
            const std::size_t entry = 12 + 16 * std::size_t{t};
            EXPECT_LE(Be(font, entry + 8, 4) + Be(font, entry + 12, 4), font.size());
        }
        const auto name = FindTable(font, "name");
        ASSERT_TRUE(name);
        EXPECT_EQ(NameOf(font, *name, 1), "BusDesk Sans");
        EXPECT_EQ(NameOf(font, *name, 6), names[i]);
        EXPECT_NE(NameOf(font, *name, 0).find("Bitstream"), std::string::npos);
        EXPECT_NE(NameOf(font, *name, 13).find("Permission is hereby granted"), std::string::npos);
    }
}

TEST(FontFaces, CarryEveryCharacterAReportPrints) {
    const std::u16string texts[] = {
        u"Отчёт о пусконаладке №",
        u"Ёё ЁЛКА ЩЪЫЬЭЮЯ щъыьэюя",
        u"0123456789 ABCxyz ±×µ°«»",
        u"– — … · → ← ↑ ↓ − ≤ ≥ ≈",
        u"✓ ✗ ▲ ▼ ●",
    };
    const auto faces = Faces();
    ASSERT_EQ(faces.size(), 2u);
    for (const auto& face : faces) {
        const auto cmap = FindTable(face.font, "cmap");
        ASSERT_TRUE(cmap);
        for (const auto& text : texts) {
            for (char16_t c : text)
                EXPECT_NE(GlyphOf(face.font, *cmap, c), 0u)
                    << "U+" << std::hex << static_cast<unsigned>(c) << " has no glyph";
        }
        // The cut is real: a script the report never prints is left out.
        EXPECT_EQ(GlyphOf(face.font, *cmap, u'\u0531'), 0u) << "Armenian kept";
    }
}

}  // namespace
