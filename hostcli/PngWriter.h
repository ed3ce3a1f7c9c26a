// Writes 24-bit RGB pixels as a PNG file, compressed with zlib.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// rgb holds width * height * 3 bytes, rows top to bottom. False with a message on failure.
bool writePng(const std::string& path, int width, int height, const std::vector<uint8_t>& rgb, std::string* error);

// Encodes to memory (empty when zlib fails); exposed for tests.
std::vector<uint8_t> encodePng(int width, int height, const std::vector<uint8_t>& rgb);
