#include <gtest/gtest.h>

#include "Editor.h"
#include "PngWriter.h"

#include <zlib.h>

namespace {

uint32_t be32(const std::vector<uint8_t>& b, size_t at) {
    return uint32_t(b[at]) << 24 | uint32_t(b[at + 1]) << 16 | uint32_t(b[at + 2]) << 8 | b[at + 3];
}

// Bit by bit, independent of the writer's table.
uint32_t referenceCrc(const uint8_t* p, size_t n) {
    uint32_t c = 0xFFFFFFFFu;
    for (size_t i = 0; i < n; ++i) {
        c ^= p[i];
        for (int k = 0; k < 8; ++k) c = (c >> 1) ^ (0xEDB88320u & (0u - (c & 1)));
    }
    return ~c;
}

struct Chunk {
    std::string type;
    std::vector<uint8_t> body;
};

// Splits the file into chunks, checking every CRC.
std::vector<Chunk> chunks(const std::vector<uint8_t>& png) {
    std::vector<Chunk> out;
    size_t at = 8;
    while (at + 12 <= png.size()) {
        uint32_t length = be32(png, at);
        EXPECT_LE(at + 12 + length, png.size());
        if (at + 12 + length > png.size()) break;
        Chunk c;
        c.type.assign(png.begin() + long(at + 4), png.begin() + long(at + 8));
        c.body.assign(png.begin() + long(at + 8), png.begin() + long(at + 8 + length));
        EXPECT_EQ(be32(png, at + 8 + length), referenceCrc(png.data() + at + 4, length + 4)) << c.type;
        out.push_back(c);
        at += 12 + length;
    }
    EXPECT_EQ(at, png.size());
    return out;
}

std::vector<uint8_t> inflated(const std::vector<uint8_t>& z, size_t expected) {
    std::vector<uint8_t> out(expected + 1);
    uLongf size = uLongf(out.size());
    EXPECT_EQ(uncompress(out.data(), &size, z.data(), uLong(z.size())), Z_OK);
    out.resize(size);
    return out;
}

// Pixels either in a pattern or all alike; returns the IDAT size.
size_t checkImage(int width, int height, bool flat = false) {
    std::vector<uint8_t> rgb(size_t(width) * size_t(height) * 3, 0xC0);
    if (!flat)
        for (size_t i = 0; i < rgb.size(); ++i) rgb[i] = uint8_t(i * 7 + i / 3);
    std::vector<uint8_t> png = encodePng(width, height, rgb);
    const uint8_t signature[] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
    EXPECT_GE(png.size(), 8u);
    if (png.size() < 8) return 0;
    EXPECT_TRUE(std::equal(signature, signature + 8, png.begin()));
    std::vector<Chunk> c = chunks(png);
    EXPECT_EQ(c.size(), 3u);
    if (c.size() != 3) return 0;
    EXPECT_EQ(c[0].type, "IHDR");
    EXPECT_EQ(c[1].type, "IDAT");
    EXPECT_EQ(c[2].type, "IEND");
    EXPECT_EQ(c[0].body.size(), 13u);
    if (c[0].body.size() != 13) return 0;
    EXPECT_EQ(be32(c[0].body, 0), uint32_t(width));
    EXPECT_EQ(be32(c[0].body, 4), uint32_t(height));
    EXPECT_EQ(c[0].body[8], 8);  // bits per sample
    EXPECT_EQ(c[0].body[9], 2);  // RGB
    std::vector<uint8_t> raw = inflated(c[1].body, size_t(height) * (size_t(width) * 3 + 1));
    EXPECT_EQ(raw.size(), size_t(height) * (size_t(width) * 3 + 1));
    if (raw.size() != size_t(height) * (size_t(width) * 3 + 1)) return 0;
    for (int y = 0; y < height; ++y) {
        const uint8_t* row = raw.data() + size_t(y) * (size_t(width) * 3 + 1);
        EXPECT_EQ(row[0], 0) << "filter byte of row " << y;
        EXPECT_TRUE(std::equal(row + 1, row + 1 + width * 3, rgb.begin() + long(size_t(y) * size_t(width) * 3)))
            << "row " << y;
    }
    return c[1].body.size();
}

TEST(Png, SmallImageDecodesToItsPixels) { checkImage(3, 2); }

TEST(Png, LargerImagesDecodeToTheirPixels) { checkImage(300, 100); }

// A screenshot is mostly flat colour: compressed, it is a small part of its 90 KB of pixels.
TEST(Png, FlatPicturesAreCompressed) { EXPECT_LT(checkImage(300, 100, true), 2000u); }

TEST(Png, WritingRefusesAPictureOfTheWrongSize) {
    std::string error;
    EXPECT_FALSE(writePng("unused.png", 2, 2, std::vector<uint8_t>(11), &error));
    EXPECT_FALSE(error.empty());
}

TEST(EditorTemplate, TheModulesTemplateGivesBothViews) {
    std::string name, error;
    std::vector<TemplateView> views;
    ASSERT_TRUE(parseTemplate("<template name=\"editor\"><view name=\"host.PresetViewHorizontalSmall\" data=\"Preset\" "
                              "size=\"0,0,140,20\"/><view name=\"propertyPages\" size=\"0,20,320,-7\"/></template>",
                              name, views, error))
        << error;
    EXPECT_EQ(name, "editor");
    ASSERT_EQ(views.size(), 2u);
    EXPECT_EQ(views[0].name, "host.PresetViewHorizontalSmall");
    EXPECT_EQ(views[0].data, "Preset");
    EXPECT_EQ(views[0].width, 140);
    EXPECT_EQ(views[0].height, 20);
    EXPECT_EQ(views[1].name, "propertyPages");
    EXPECT_EQ(views[1].data, "");
    EXPECT_EQ(views[1].y, 20);
    EXPECT_EQ(views[1].width, 320);
    EXPECT_EQ(views[1].height, -7);
}

TEST(EditorTemplate, MalformedTemplatesAreRefused) {
    const char* table[] = {
        "",
        "<view name=\"a\" size=\"0,0,1,1\"/>",
        "<template name=\"editor\"><view name=\"a\" size=\"0,0,1,1\"/>",
        "<template name=\"editor\"><view name=\"a\" size=\"0,0,1\"/></template>",
        "<template name=\"editor\"><view name=\"a\" size=\"0,0,1,1,5\"/></template>",
        "<template name=\"editor\"><view size=\"0,0,1,1\"/></template>",
        "<template name=\"editor\"><view name=\"a\" size=\"0,0,1,1\"></template>",
    };
    for (const char* text : table) {
        std::string name = "kept", error;
        std::vector<TemplateView> views(1);
        EXPECT_FALSE(parseTemplate(text, name, views, error)) << text;
        EXPECT_FALSE(error.empty()) << text;
        EXPECT_EQ(name, "kept");
        EXPECT_EQ(views.size(), 1u);
    }
}

}  // namespace
