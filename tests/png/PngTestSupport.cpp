#include "PngTestSupport.h"

#include <png.h>
#include <zlib.h>

#include <algorithm>
#include <csetjmp>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <stdexcept>

void BitWriter::bits(unsigned value, unsigned count) {
  for (unsigned i = 0; i < count; ++i, ++bit) {
    if (bit / 8 >= bytes.size()) bytes.push_back(0);
    if ((value >> i) & 1) bytes[bit / 8] |= static_cast<unsigned char>(1u << (bit % 8));
  }
}

void BitWriter::code(unsigned value, unsigned length) {
  for (unsigned i = 0; i < length; ++i) bits((value >> (length - 1 - i)) & 1, 1);
}

void BitWriter::byte(unsigned char b) { bits(b, 8); }

void BitWriter::fixedLiteral(unsigned symbol) {
  if (symbol < 144) code(0x30 + symbol, 8);
  else if (symbol < 256) code(0x190 + symbol - 144, 9);
  else if (symbol < 280) code(symbol - 256, 7);
  else code(0xC0 + symbol - 280, 8);
}

void BitWriter::fixedBlock(bool final, std::initializer_list<FixedItem> items) {
  bits(final, 1);
  bits(1, 2);
  for (const FixedItem& item : items) {
    switch (item.kind) {
      case FixedItem::Symbol: fixedLiteral(item.value); break;
      case FixedItem::Distance: fixedDistance(item.value); break;
      case FixedItem::Extra: bits(item.value, item.count); break;
    }
  }
}

void BitWriter::storedHeader(bool final) {
  bits(final, 1);
  bits(0, 2);
  alignToByte();
}

void BitWriter::canonical(const std::vector<unsigned>& lengths, unsigned symbol) {
  unsigned count[16] = {}, next[16] = {};
  for (unsigned l : lengths) ++count[l];
  count[0] = 0;
  unsigned c = 0;
  for (int b = 1; b < 16; ++b) next[b] = c = (c + count[b - 1]) << 1;
  for (unsigned s = 0; s < lengths.size(); ++s) {
    if (!lengths[s]) continue;
    unsigned symbolCode = next[lengths[s]]++;
    if (s == symbol) {
      code(symbolCode, lengths[s]);
      return;
    }
  }
  throw std::logic_error("symbol has no code");
}

Bytes zlibWrap(const Bytes& deflate) {
  Bytes out = {0x78, 0x01};
  out.insert(out.end(), deflate.begin(), deflate.end());
  out.insert(out.end(), {0xDE, 0xAD, 0xBE, 0xEF});
  return out;
}

Bytes zlibCompress(const Bytes& data, int level, int windowBits, int memLevel, int strategy) {
  z_stream z{};
  if (deflateInit2(&z, level, Z_DEFLATED, windowBits, memLevel, strategy) != Z_OK)
    throw std::runtime_error("deflateInit2");
  Bytes out(deflateBound(&z, data.size()) + 64);
  z.next_in = const_cast<unsigned char*>(data.data());
  z.avail_in = static_cast<uInt>(data.size());
  z.next_out = out.data();
  z.avail_out = static_cast<uInt>(out.size());
  if (deflate(&z, Z_FINISH) != Z_STREAM_END) throw std::runtime_error("deflate");
  out.resize(z.total_out);
  deflateEnd(&z);
  return out;
}

static void putBigEndian32(Bytes& out, uint32_t v) {
  out.insert(out.end(), {static_cast<unsigned char>(v >> 24), static_cast<unsigned char>(v >> 16),
                         static_cast<unsigned char>(v >> 8), static_cast<unsigned char>(v)});
}

Bytes pngChunk(const char* type, const Bytes& data) {
  Bytes out;
  putBigEndian32(out, static_cast<uint32_t>(data.size()));
  out.insert(out.end(), type, type + 4);
  out.insert(out.end(), data.begin(), data.end());
  putBigEndian32(out, static_cast<uint32_t>(crc32(0, out.data() + 4, static_cast<uInt>(data.size() + 4))));
  return out;
}

Bytes pngHeader(uint32_t width, uint32_t height, int depth, int colourType, int interlace,
                int compression, int filter) {
  Bytes out = {137, 80, 78, 71, 13, 10, 26, 10};
  Bytes ihdr;
  putBigEndian32(ihdr, width);
  putBigEndian32(ihdr, height);
  ihdr.insert(ihdr.end(), {static_cast<unsigned char>(depth), static_cast<unsigned char>(colourType),
                           static_cast<unsigned char>(compression), static_cast<unsigned char>(filter),
                           static_cast<unsigned char>(interlace)});
  Bytes chunk = pngChunk("IHDR", ihdr);
  out.insert(out.end(), chunk.begin(), chunk.end());
  return out;
}

Bytes concat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

namespace {

int predictPaeth(int a, int b, int c) {
  int p = a + b - c, pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
  return (pa <= pb && pa <= pc) ? a : (pb <= pc ? b : c);
}

// Filters one line (the encoder side, written independently of the decoder).
void filterLine(Bytes& out, const Bytes& line, const Bytes* prior, size_t step, unsigned type) {
  out.push_back(static_cast<unsigned char>(type));
  for (size_t i = 0; i < line.size(); ++i) {
    int a = i >= step ? line[i - step] : 0;
    int b = prior ? (*prior)[i] : 0;
    int c = (prior && i >= step) ? (*prior)[i - step] : 0;
    int predicted = 0;
    switch (type) {
      case 1: predicted = a; break;
      case 2: predicted = b; break;
      case 3: predicted = (a + b) / 2; break;
      case 4: predicted = predictPaeth(a, b, c); break;
      default: predicted = 0;
    }
    out.push_back(static_cast<unsigned char>(line[i] - predicted));
  }
}

unsigned getPixelBits(const Bytes& raw, size_t rowBytes, uint32_t x, uint32_t y, unsigned bpp) {
  size_t bit = size_t{x} * bpp;
  const unsigned char* row = raw.data() + y * rowBytes;
  return (row[bit / 8] >> (8 - bpp - bit % 8)) & ((1u << bpp) - 1);
}

void setPixelBits(Bytes& line, uint32_t x, unsigned bpp, unsigned value) {
  size_t bit = size_t{x} * bpp;
  line[bit / 8] |= static_cast<unsigned char>(value << (8 - bpp - bit % 8));
}

}  // namespace

Bytes makeScanlines(const Bytes& raw, uint32_t width, uint32_t height, unsigned bpp, bool interlace,
                    unsigned (*filterOf)(int, uint32_t)) {
  const size_t rowBytes = (size_t{width} * bpp + 7) / 8;
  const size_t step = std::max(1u, bpp / 8);
  Bytes out;
  static const int passes[7][4] = {{0, 0, 8, 8}, {4, 0, 8, 8}, {0, 4, 4, 8}, {2, 0, 4, 4},
                                   {0, 2, 2, 4}, {1, 0, 2, 2}, {0, 1, 1, 2}};
  if (!interlace) {
    Bytes prior;
    for (uint32_t y = 0; y < height; ++y) {
      Bytes line(raw.begin() + y * rowBytes, raw.begin() + (y + 1) * rowBytes);
      filterLine(out, line, y ? &prior : nullptr, step, filterOf ? filterOf(0, y) : y % 5);
      prior = line;
    }
    return out;
  }
  for (int p = 0; p < 7; ++p) {
    const auto& pass = passes[p];
    uint32_t pw = width > uint32_t(pass[0]) ? (width - pass[0] + pass[2] - 1) / pass[2] : 0;
    uint32_t ph = height > uint32_t(pass[1]) ? (height - pass[1] + pass[3] - 1) / pass[3] : 0;
    if (!pw || !ph) continue;
    const size_t passRowBytes = (size_t{pw} * bpp + 7) / 8;
    Bytes prior;
    for (uint32_t r = 0; r < ph; ++r) {
      Bytes line(passRowBytes, 0);
      uint32_t y = pass[1] + r * pass[3];
      for (uint32_t i = 0; i < pw; ++i) {
        uint32_t x = pass[0] + i * pass[2];
        if (bpp >= 8)
          std::memcpy(&line[i * (bpp / 8)], &raw[y * rowBytes + x * (bpp / 8)], bpp / 8);
        else
          setPixelBits(line, i, bpp, getPixelBits(raw, rowBytes, x, y, bpp));
      }
      filterLine(out, line, r ? &prior : nullptr, step, filterOf ? filterOf(p, r) : (r + p) % 5);
      prior = line;
    }
  }
  return out;
}

Bytes makePng(const Bytes& raw, uint32_t width, uint32_t height, int depth, int colourType,
              bool interlace, const Bytes& palette, const Bytes& trns,
              unsigned (*filterOf)(int, uint32_t)) {
  static const int samples[7] = {1, 0, 3, 1, 2, 0, 4};
  const unsigned bpp = depth * samples[colourType];
  Bytes file = pngHeader(width, height, depth, colourType, interlace ? 1 : 0);
  if (!palette.empty()) file = concat({file, pngChunk("PLTE", palette)});
  if (!trns.empty()) file = concat({file, pngChunk("tRNS", trns)});
  Bytes scan = makeScanlines(raw, width, height, bpp, interlace, filterOf);
  return concat({file, pngChunk("IDAT", zlibCompress(scan, 6)), pngChunk("IEND", {})});
}

namespace {

struct LibpngReader {
  const Bytes* file;
  size_t pos;
  std::string* message;
};

void libpngRead(png_structp png, png_bytep data, png_size_t length) {
  auto* reader = static_cast<LibpngReader*>(png_get_io_ptr(png));
  if (reader->pos + length > reader->file->size()) png_error(png, "read past the end");
  std::memcpy(data, reader->file->data() + reader->pos, length);
  reader->pos += length;
}

void libpngError(png_structp png, png_const_charp text) {
  auto* message = static_cast<std::string*>(png_get_error_ptr(png));
  *message = text;
  png_longjmp(png, 1);
}

void libpngWarning(png_structp, png_const_charp) {}

}  // namespace

bool libpngDecode(const Bytes& file, Bytes& rgba, uint32_t& width, uint32_t& height,
                  std::string& message, bool ignoreCrc) {
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &message, libpngError, libpngWarning);
  png_infop info = png_create_info_struct(png);
  LibpngReader reader{&file, 0, &message};
  png_bytep* volatile rows = nullptr;  // survives the longjmp
  if (setjmp(png_jmpbuf(png))) {
    std::free(rows);
    png_destroy_read_struct(&png, &info, nullptr);
    return false;
  }
  png_set_read_fn(png, &reader, libpngRead);
  if (ignoreCrc) png_set_crc_action(png, PNG_CRC_QUIET_USE, PNG_CRC_QUIET_USE);
  png_read_info(png, info);
  // The transformations that give our decoder's output: palettes and low depths
  // expanded, tRNS as alpha, high byte of 16-bit samples, grey as RGB, opaque
  // alpha added where the file has none.
  png_set_expand(png);
  png_set_strip_16(png);
  png_set_gray_to_rgb(png);
  png_set_add_alpha(png, 0xFF, PNG_FILLER_AFTER);
  png_set_interlace_handling(png);
  png_read_update_info(png, info);
  width = png_get_image_width(png, info);
  height = png_get_image_height(png, info);
  if (png_get_rowbytes(png, info) != size_t{width} * 4) png_error(png, "unexpected row size");
  rgba.assign(size_t{width} * height * 4, 0);
  rows = static_cast<png_bytep*>(std::malloc(sizeof(png_bytep) * (height ? height : 1)));
  for (uint32_t y = 0; y < height; ++y) rows[y] = rgba.data() + size_t{y} * width * 4;
  png_read_image(png, rows);
  std::free(rows);
  png_destroy_read_struct(&png, &info, nullptr);
  return true;
}

Bytes readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

Bytes randomBytes(size_t count, uint32_t seed) {
  Bytes out(count);
  uint32_t x = seed * 2654435761u + 1;
  for (auto& b : out) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    b = static_cast<unsigned char>(x >> 24);
  }
  return out;
}
