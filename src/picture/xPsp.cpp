// Paint Shop Pro images (.psp, file format 3 and later): the first raster layer, placed on the
// canvas, with its transparency mask. A layer keeps each colour channel in a block of its own,
// uncompressed, run-length encoded or deflated; a channel is decoded as a stream and only the
// rows the sink wants are kept.

#include <zlib.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

#include "xOwnFormats.h"

namespace {

constexpr char Signature[32] = "Paint Shop Pro Image File\n\x1a";
enum TBlock : std::uint16_t { ImageBlock = 0, ColourBlock = 2, LayerBank = 3, LayerBlock = 4, ChannelBlock = 5 };
enum TCompression : std::uint16_t { None = 0, Rle = 1, Lz77 = 2 };
constexpr int MaxSide = 1 << 16;

struct TBlockHeader {
  std::uint16_t Id = 0;
  std::int64_t Start = 0;    // first byte after the header
  std::int64_t Initial = 0;  // format 3: length of the block's fixed part
  std::int64_t End = 0;
};

bool ReadBlockHeader(TFileReader& file, int major, std::int64_t limit, TBlockHeader& block) {
  char magic[4] = {};
  file.Read(magic, 4);
  block.Id = file.U16LE();
  block.Initial = major < 4 ? file.U32LE() : 0;
  const std::int64_t total = file.U32LE();
  block.Start = file.Tell();
  block.End = block.Start + total;
  return file.Good() && std::memcmp(magic, "~BK\0", 4) == 0 && block.End <= limit && block.Initial <= total;
}

// The compressed bytes of one channel, read in chunks.
class TSource {
public:
  TSource(TFileReader& file, std::int64_t start, std::int64_t length) : File(file), Next(start), Left(length) {}
  // The next chunk; false at the end of the channel or on a read error.
  bool Fill() {
    if (Left <= 0) return false;
    const auto count = static_cast<std::size_t>(std::min<std::int64_t>(Left, 1 << 16));
    Buffer.resize(count);
    if (!File.Seek(Next) || !File.Read(Buffer.data(), static_cast<std::int64_t>(count))) return false;
    Next += static_cast<std::int64_t>(count);
    Left -= static_cast<std::int64_t>(count);
    At = 0;
    return true;
  }
  bool Byte(std::uint8_t& value) {
    if (At >= Buffer.size() && !Fill()) return false;
    value = Buffer[At++];
    return true;
  }
  std::vector<std::uint8_t> Buffer;
  std::size_t At = 0;

private:
  TFileReader& File;
  std::int64_t Next;
  std::int64_t Left;
};

// Hands out the rows of one channel from the top.
class TChannelRows {
public:
  TChannelRows(TFileReader& file, std::uint16_t compression, std::int64_t start, std::int64_t length)
      : Compression(compression), Source(file, start, length) {
    if (Compression == Lz77) Ready = inflateInit(&Stream) == Z_OK;
  }
  ~TChannelRows() {
    if (Compression == Lz77 && Ready) inflateEnd(&Stream);
  }
  TChannelRows(const TChannelRows&) = delete;
  TChannelRows& operator=(const TChannelRows&) = delete;

  bool Next(std::uint8_t* row, std::size_t width) {
    switch (Compression) {
      case None: return Plain(row, width);
      case Rle: return RunLength(row, width);
      case Lz77: return Inflate(row, width);
      default: return false;
    }
  }

private:
  bool Plain(std::uint8_t* row, std::size_t width) {
    for (std::size_t o = 0; o < width;) {
      if (Source.At >= Source.Buffer.size() && !Source.Fill()) return false;
      const std::size_t count = std::min(width - o, Source.Buffer.size() - Source.At);
      std::memcpy(row + o, &Source.Buffer[Source.At], count);
      Source.At += count;
      o += count;
    }
    return true;
  }

  // A count above 128 repeats the next byte count - 128 times; otherwise count bytes follow as
  // they are. Runs may cross rows.
  bool RunLength(std::uint8_t* row, std::size_t width) {
    for (std::size_t o = 0; o < width;) {
      if (Repeat > 0) {
        const std::size_t count = std::min<std::size_t>(Repeat, width - o);
        std::memset(row + o, Value, count);
        Repeat -= static_cast<unsigned>(count);
        o += count;
      } else if (Literal > 0) {
        if (!Source.Byte(row[o])) return false;
        --Literal;
        ++o;
      } else {
        std::uint8_t count = 0;
        if (!Source.Byte(count)) return false;
        if (count > 128) {
          if (!Source.Byte(Value)) return false;
          Repeat = count - 128U;
        } else {
          Literal = count;
        }
      }
    }
    return true;
  }

  bool Inflate(std::uint8_t* row, std::size_t width) {
    if (!Ready) return false;
    Stream.next_out = row;
    Stream.avail_out = static_cast<uInt>(width);
    while (Stream.avail_out > 0) {
      if (Stream.avail_in == 0) {
        if (!Source.Fill()) return false;
        Stream.next_in = Source.Buffer.data();
        Stream.avail_in = static_cast<uInt>(Source.Buffer.size());
      }
      const int status = inflate(&Stream, Z_NO_FLUSH);
      if (status == Z_STREAM_END) return Stream.avail_out == 0;
      if (status != Z_OK) return false;
    }
    return true;
  }

  std::uint16_t Compression;
  TSource Source;
  unsigned Repeat = 0, Literal = 0;
  std::uint8_t Value = 0;
  z_stream Stream{};
  bool Ready = false;
};

struct TImage {
  int Width = 0, Height = 0;
  std::uint16_t Compression = 0;
  int Depth = 0;
  bool Grey = false;
  std::vector<std::uint8_t> Palette;  // RGB triples
};

// The kept rows of a layer's channels: for each wanted layer row, its slot.
struct TLayerRows {
  int Left = 0, Top = 0, Width = 0, Height = 0;
  std::vector<int> Slot;  // per layer row, -1 when no canvas row wants it
  int Slots = 0;
  int LastRow = -1;
  std::array<std::vector<std::uint8_t>, 5> Planes;  // composite, red, green, blue, mask
  std::array<bool, 5> Present{};
};

bool ReadChannel(TFileReader& file, const TImage& image, const TPictureSink& sink, TLayerRows& layer, int plane,
                 std::int64_t start, std::int64_t length, std::int64_t uncompressed) {
  if (uncompressed != static_cast<std::int64_t>(layer.Width) * layer.Height) return false;
  auto& store = layer.Planes[static_cast<std::size_t>(plane)];
  store.assign(static_cast<std::size_t>(layer.Slots) * static_cast<std::size_t>(layer.Width), 0);
  TChannelRows rows(file, image.Compression, start, length);
  std::vector<std::uint8_t> row(static_cast<std::size_t>(layer.Width));
  for (int y = 0; y <= layer.LastRow; ++y) {
    if (sink.Cancelled() || !rows.Next(row.data(), row.size())) return false;
    const int slot = layer.Slot[static_cast<std::size_t>(y)];
    if (slot >= 0) std::copy(row.begin(), row.end(), store.begin() + static_cast<std::ptrdiff_t>(slot) * layer.Width);
  }
  layer.Present[static_cast<std::size_t>(plane)] = true;
  return true;
}

// Reads the channels of a layer block whose channel sub-blocks run from `from` to `to`.
bool ReadChannels(TFileReader& file, int major, const TImage& image, const TPictureSink& sink, TLayerRows& layer,
                  std::int64_t from, std::int64_t to) {
  if (!file.Seek(from)) return false;
  while (file.Tell() < to) {
    TBlockHeader channel;
    if (!ReadBlockHeader(file, major, to, channel)) return false;
    if (channel.Id == ChannelBlock) {
      const std::int64_t chunk = major >= 4 ? file.U32LE() : channel.Initial;
      const std::int64_t compressed = file.U32LE();
      const std::int64_t uncompressed = file.U32LE();
      const std::uint16_t bitmapType = file.U16LE();
      const std::uint16_t channelType = file.U16LE();
      const std::int64_t data = channel.Start + chunk;
      if (!file.Good() || chunk < 12 || data > channel.End || compressed > channel.End - data) return false;
      int plane = -1;
      if (bitmapType == 0 && channelType <= 3) plane = channelType;  // the layer's colours
      if (bitmapType == 1) plane = 4;                                // its transparency mask
      if (plane >= 0 && !ReadChannel(file, image, sink, layer, plane, data, compressed, uncompressed)) return false;
    }
    if (!file.Seek(channel.End)) return false;
  }
  return true;
}

// The first raster layer of a layer bank, if any: true with `found` set when read.
bool ReadFirstRasterLayer(TFileReader& file, int major, const TImage& image, const TPictureSink& sink,
                          const TBlockHeader& bank, TLayerRows& layer, bool& found) {
  if (!file.Seek(bank.Start)) return false;
  while (file.Tell() < bank.End) {
    TBlockHeader block;
    if (!ReadBlockHeader(file, major, bank.End, block)) return false;
    if (block.Id != LayerBlock) {
      if (!file.Seek(block.End)) return false;
      continue;
    }
    std::int64_t channels = 0;
    std::uint8_t type = 0;
    std::int32_t rect[4] = {};
    if (major >= 4) {
      const std::int64_t infoLength = file.U32LE();
      file.Skip(file.U16LE());  // name
      type = file.U8();
      file.Skip(16);  // the layer's rectangle; the saved one is what the bitmaps cover
      for (auto& r : rect) r = static_cast<std::int32_t>(file.U32LE());
      if (!file.Good() || infoLength < 4 || !file.Seek(block.Start + infoLength)) return false;
      const std::int64_t bitmapLength = file.U32LE();
      channels = block.Start + infoLength + bitmapLength;
      if (!file.Good() || bitmapLength < 4) return false;
    } else {
      file.Skip(256);
      type = file.U8();
      file.Skip(16);
      for (auto& r : rect) r = static_cast<std::int32_t>(file.U32LE());
      channels = block.Start + block.Initial;
    }
    if (!file.Good() || channels > block.End) return false;
    const bool raster = major >= 4 ? (type == 1 || type == 2) : (type == 0 || type == 1);
    const std::int64_t width = static_cast<std::int64_t>(rect[2]) - rect[0];
    const std::int64_t height = static_cast<std::int64_t>(rect[3]) - rect[1];
    if (raster && width > 0 && height > 0) {
      if (width > MaxSide || height > MaxSide || width * height > MaxPicturePixels) return false;
      layer.Left = rect[0];
      layer.Top = rect[1];
      layer.Width = static_cast<int>(width);
      layer.Height = static_cast<int>(height);
      layer.Slot.assign(static_cast<std::size_t>(layer.Height), -1);
      const int last = std::min(sink.LastWantedRow(), image.Height - 1);
      for (int y = 0; y <= last; ++y) {
        const std::int64_t ly = static_cast<std::int64_t>(y) - layer.Top;
        if (!sink.WantsRow(y) || ly < 0 || ly >= layer.Height) continue;
        layer.Slot[static_cast<std::size_t>(ly)] = layer.Slots++;
        layer.LastRow = static_cast<int>(ly);
      }
      found = true;
      return ReadChannels(file, major, image, sink, layer, channels, block.End);
    }
    if (!file.Seek(block.End)) return false;
  }
  return true;
}

}  // namespace

TDecodeResult DecodePsp(const std::string& path, TPictureSink& sink) {
  TFileReader file(path);
  char signature[32] = {};
  file.Read(signature, 32);
  const int major = file.U16LE();
  file.U16LE();
  if (!file.Good() || std::memcmp(signature, Signature, sizeof Signature) != 0 || major < 3 || major > 20)
    return TDecodeResult::Failed;

  TImage image;
  bool haveImage = false;
  TLayerRows layer;
  bool found = false;
  while (file.Tell() < file.Size() && !found) {
    TBlockHeader block;
    if (!ReadBlockHeader(file, major, file.Size(), block)) return TDecodeResult::Failed;
    if (block.Id == ImageBlock) {
      if (major >= 4) file.Skip(4);
      const auto width = static_cast<std::int32_t>(file.U32LE());
      const auto height = static_cast<std::int32_t>(file.U32LE());
      file.Skip(9);  // resolution and its unit
      image.Compression = file.U16LE();
      image.Depth = file.U16LE();
      file.Skip(6);  // planes, colour count
      image.Grey = file.U8() != 0;
      if (!file.Good() || haveImage) return TDecodeResult::Failed;
      if (width == 0 || height == 0) return TDecodeResult::Empty;
      if (width < 0 || height < 0 || width > MaxSide || height > MaxSide) return TDecodeResult::Failed;
      if (image.Compression > Lz77 || (image.Depth != 8 && image.Depth != 24)) return TDecodeResult::Failed;
      image.Width = width;
      image.Height = height;
      if (!sink.Begin(width, height)) return TDecodeResult::Failed;
      haveImage = true;
    } else if (!haveImage) {
      return TDecodeResult::Failed;
    } else if (block.Id == ColourBlock) {
      std::int64_t entries = 0;
      if (major >= 4) {
        const std::int64_t chunk = file.U32LE();
        entries = file.U32LE();
        file.Seek(block.Start + chunk);
      } else {
        entries = file.U32LE();
      }
      if (!file.Good() || entries > 256) return TDecodeResult::Failed;
      image.Palette.resize(static_cast<std::size_t>(entries) * 3);
      for (std::int64_t i = 0; i < entries; ++i) {
        std::uint8_t entry[4] = {};  // blue, green, red, unused
        file.Read(entry, 4);
        image.Palette[static_cast<std::size_t>(i) * 3] = entry[2];
        image.Palette[static_cast<std::size_t>(i) * 3 + 1] = entry[1];
        image.Palette[static_cast<std::size_t>(i) * 3 + 2] = entry[0];
      }
      if (!file.Good()) return TDecodeResult::Failed;
    } else if (block.Id == LayerBank) {
      if (!ReadFirstRasterLayer(file, major, image, sink, block, layer, found)) return TDecodeResult::Failed;
    }
    if (!found && !file.Seek(block.End)) return TDecodeResult::Failed;
  }
  if (!found) return TDecodeResult::Failed;
  const bool colour = image.Depth == 24;
  if (colour ? !(layer.Present[1] && layer.Present[2] && layer.Present[3]) : !layer.Present[0])
    return TDecodeResult::Failed;
  if (!colour && !image.Grey && image.Palette.empty()) return TDecodeResult::Failed;

  std::vector<std::uint8_t> row(static_cast<std::size_t>(image.Width) * 4);
  const int last = std::min(sink.LastWantedRow(), image.Height - 1);
  for (int y = 0; y <= last; ++y) {
    if (sink.Cancelled()) return TDecodeResult::Failed;
    if (!sink.WantsRow(y)) continue;
    std::fill(row.begin(), row.end(), 0);  // off the layer: transparent
    const std::int64_t ly = static_cast<std::int64_t>(y) - layer.Top;
    const int slot = ly >= 0 && ly < layer.Height ? layer.Slot[static_cast<std::size_t>(ly)] : -1;
    for (int x = 0; x < image.Width && slot >= 0; ++x) {
      const std::int64_t lx = static_cast<std::int64_t>(x) - layer.Left;
      if (lx < 0 || lx >= layer.Width) continue;
      const std::size_t at = static_cast<std::size_t>(slot) * static_cast<std::size_t>(layer.Width) + static_cast<std::size_t>(lx);
      std::uint8_t* out = &row[static_cast<std::size_t>(x) * 4];
      if (colour) {
        for (int c = 0; c < 3; ++c) out[c] = layer.Planes[static_cast<std::size_t>(c) + 1][at];
      } else if (image.Grey) {
        out[0] = out[1] = out[2] = layer.Planes[0][at];
      } else {
        const std::size_t index = layer.Planes[0][at];
        if (index * 3 < image.Palette.size()) std::copy_n(&image.Palette[index * 3], 3, out);
      }
      out[3] = layer.Present[4] ? layer.Planes[4][at] : 255;
    }
    sink.PutRow(y, row.data(), TPixelFormat::RGBA8);
  }
  return TDecodeResult::Ok;
}
