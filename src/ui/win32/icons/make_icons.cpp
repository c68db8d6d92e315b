// Draws the six server state icons of the configuration window and writes them as .ico files (16x16
// and 32x32, 32 bits with alpha): running, stopped and error, each once more with a small screen in the
// corner for a server that only this computer may reach. The .ico files are committed beside this
// program, so a build needs neither it nor a compiler for the build machine; run it again after a change:
//
//   g++ -std=c++20 -O2 -o /tmp/make_icons make_icons.cpp && /tmp/make_icons .

#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

namespace {

struct Color {
  double r, g, b, a;
};

// A shape answers whether a point (in units of a 32 x 32 square) lies inside it.
using Shape = std::function<bool(double x, double y)>;

struct Layer {
  Shape shape;
  Color color;
};

Shape Disc(double cx, double cy, double radius) {
  return [=](double x, double y) { return (x - cx) * (x - cx) + (y - cy) * (y - cy) <= radius * radius; };
}

Shape Box(double left, double top, double right, double bottom) {
  return [=](double x, double y) { return x >= left && x <= right && y >= top && y <= bottom; };
}

Shape Polygon(std::vector<std::array<double, 2>> points) {
  return [points](double x, double y) {
    bool inside = false;
    for (std::size_t i = 0, j = points.size() - 1; i < points.size(); j = i++) {
      const auto& a = points[i];
      const auto& b = points[j];
      if ((a[1] > y) != (b[1] > y) && x < (b[0] - a[0]) * (y - a[1]) / (b[1] - a[1]) + a[0]) inside = !inside;
    }
    return inside;
  };
}

constexpr Color kWhite{255, 255, 255, 1};

std::vector<Layer> Running() {
  return {{Disc(16, 16, 14.5), {20, 110, 40, 1}},
          {Disc(16, 16, 13), {46, 164, 70, 1}},
          {Polygon({{12, 9}, {12, 23}, {23.5, 16}}), kWhite}};
}

std::vector<Layer> Stopped() {
  return {{Disc(16, 16, 14.5), {140, 28, 28, 1}},
          {Disc(16, 16, 13), {204, 52, 52, 1}},
          {Box(10.5, 10.5, 21.5, 21.5), kWhite}};
}

std::vector<Layer> Error() {
  return {{Polygon({{16, 1.5}, {31, 29}, {1, 29}}), {170, 110, 0, 1}},
          {Polygon({{16, 4.5}, {28.4, 27.5}, {3.6, 27.5}}), {245, 185, 30, 1}},
          {Box(14.4, 10, 17.6, 20.5), {40, 30, 0, 1}},
          {Disc(16, 24.2, 1.9), {40, 30, 0, 1}}};
}

// A small screen on its stand in the lower right corner, on a white outline.
std::vector<Layer> WithScreen(std::vector<Layer> layers) {
  const Color blue{36, 84, 196, 1};
  layers.push_back({Box(15, 17, 32, 32), kWhite});
  layers.push_back({Box(16.5, 18.5, 31.5, 28), blue});
  layers.push_back({Box(18.5, 20.5, 29.5, 26), {200, 222, 255, 1}});
  layers.push_back({Box(22, 28, 26, 30.5), blue});
  layers.push_back({Box(19, 30, 29, 31.8), blue});
  return layers;
}

// The picture at `size` pixels, top row first, as premultiplied-free BGRA.
std::vector<std::uint8_t> Draw(const std::vector<Layer>& layers, int size) {
  constexpr int kSamples = 8;  // per axis
  std::vector<std::uint8_t> pixels(static_cast<std::size_t>(size * size * 4));
  const double scale = 32.0 / size;
  for (int py = 0; py < size; ++py) {
    for (int px = 0; px < size; ++px) {
      double r = 0, g = 0, b = 0, a = 0;
      for (int sy = 0; sy < kSamples; ++sy) {
        for (int sx = 0; sx < kSamples; ++sx) {
          double x = (px + (sx + 0.5) / kSamples) * scale;
          double y = (py + (sy + 0.5) / kSamples) * scale;
          Color c{0, 0, 0, 0};
          for (const Layer& layer : layers)
            if (layer.shape(x, y)) c = layer.color;
          r += c.r * c.a;
          g += c.g * c.a;
          b += c.b * c.a;
          a += c.a;
        }
      }
      std::uint8_t* out = &pixels[static_cast<std::size_t>((py * size + px) * 4)];
      if (a > 0) {
        out[0] = static_cast<std::uint8_t>(std::lround(b / a));
        out[1] = static_cast<std::uint8_t>(std::lround(g / a));
        out[2] = static_cast<std::uint8_t>(std::lround(r / a));
      }
      out[3] = static_cast<std::uint8_t>(std::lround(255 * a / (kSamples * kSamples)));
    }
  }
  return pixels;
}

void Put16(std::vector<std::uint8_t>& out, unsigned value) {
  out.push_back(static_cast<std::uint8_t>(value));
  out.push_back(static_cast<std::uint8_t>(value >> 8));
}

void Put32(std::vector<std::uint8_t>& out, unsigned value) {
  Put16(out, value & 0xFFFF);
  Put16(out, value >> 16);
}

// One image of an .ico file: a BITMAPINFOHEADER of twice the height, the colour rows bottom-up, then
// the AND mask (1: transparent), each row padded to 32 bits.
std::vector<std::uint8_t> IconImage(const std::vector<std::uint8_t>& pixels, int size) {
  std::vector<std::uint8_t> image;
  Put32(image, 40);
  Put32(image, static_cast<unsigned>(size));
  Put32(image, static_cast<unsigned>(size * 2));
  Put16(image, 1);
  Put16(image, 32);
  for (int i = 0; i < 6; ++i) Put32(image, 0);
  for (int y = size - 1; y >= 0; --y)
    image.insert(image.end(), pixels.begin() + y * size * 4, pixels.begin() + (y + 1) * size * 4);
  const int maskRow = ((size + 31) / 32) * 4;
  for (int y = size - 1; y >= 0; --y) {
    std::vector<std::uint8_t> row(static_cast<std::size_t>(maskRow), 0);
    for (int x = 0; x < size; ++x)
      if (pixels[static_cast<std::size_t>((y * size + x) * 4 + 3)] == 0)
        row[static_cast<std::size_t>(x / 8)] |= static_cast<std::uint8_t>(0x80 >> (x % 8));
    image.insert(image.end(), row.begin(), row.end());
  }
  return image;
}

bool WriteIcon(const std::string& path, const std::vector<Layer>& layers) {
  const int sizes[] = {16, 32};
  std::vector<std::vector<std::uint8_t>> images;
  for (int size : sizes) images.push_back(IconImage(Draw(layers, size), size));
  std::vector<std::uint8_t> file;
  Put16(file, 0);
  Put16(file, 1);
  Put16(file, 2);
  unsigned offset = 6 + 16 * 2;
  for (std::size_t i = 0; i < images.size(); ++i) {
    file.push_back(static_cast<std::uint8_t>(sizes[i]));
    file.push_back(static_cast<std::uint8_t>(sizes[i]));
    file.push_back(0);  // no palette
    file.push_back(0);
    Put16(file, 1);
    Put16(file, 32);
    Put32(file, static_cast<unsigned>(images[i].size()));
    Put32(file, offset);
    offset += static_cast<unsigned>(images[i].size());
  }
  for (const auto& image : images) file.insert(file.end(), image.begin(), image.end());
  std::FILE* out = std::fopen(path.c_str(), "wb");
  if (!out) return false;
  bool written = std::fwrite(file.data(), 1, file.size(), out) == file.size();
  return std::fclose(out) == 0 && written;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_icons FOLDER\n");
    return 2;
  }
  const std::string folder = argv[1];
  struct Icon {
    const char* name;
    std::vector<Layer> layers;
  } icons[] = {{"server_running", Running()},
               {"server_stopped", Stopped()},
               {"server_error", Error()},
               {"server_running_local", WithScreen(Running())},
               {"server_stopped_local", WithScreen(Stopped())},
               {"server_error_local", WithScreen(Error())}};
  for (const Icon& icon : icons) {
    std::string path = folder + "/" + icon.name + ".ico";
    if (!WriteIcon(path, icon.layers)) {
      std::fprintf(stderr, "make_icons: cannot write %s\n", path.c_str());
      return 1;
    }
  }
  return 0;
}
