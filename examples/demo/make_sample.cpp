// Generates the demo's sample content procedurally: animated sprites and UI images as PNG
// frames, a few text files, and a manifest that tells the demo script how to turn the PNGs
// into tiled images and where each image goes (into the package or onto the disk).
//
// Usage: korvo_demo_sample <work-dir>
//   <work-dir>/png/          PNG frames
//   <work-dir>/pak/data/...  text files (the demo adds the images, then packs pak/)
//   <work-dir>/manifest.txt  one line per image: where name format tile|- frame.png...
//                            where: pak (the main package), extra (a second package that the
//                            host mounts with AddPackage) or disk
#include <spng.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

struct Color {
  float r, g, b, a;
};

Color Mix(Color x, Color y, float t) {
  return {x.r + (y.r - x.r) * t, x.g + (y.g - x.g) * t, x.b + (y.b - x.b) * t,
          x.a + (y.a - x.a) * t};
}

// An RGBA image with straight alpha, composited with "over".
struct Canvas {
  int width, height;
  std::vector<Color> pixels;
  Canvas(int w, int h) : width(w), height(h), pixels(static_cast<size_t>(w * h), {0, 0, 0, 0}) {}

  void Blend(int x, int y, Color c, float coverage) {
    if (x < 0 || y < 0 || x >= width || y >= height) return;
    float a = std::clamp(c.a * coverage, 0.0f, 1.0f);
    if (a <= 0.0f) return;
    Color& d = pixels[static_cast<size_t>(y * width + x)];
    float outA = a + d.a * (1.0f - a);
    auto channel = [&](float s, float t) { return (s * a + t * d.a * (1.0f - a)) / outA; };
    d = {channel(c.r, d.r), channel(c.g, d.g), channel(c.b, d.b), outA};
  }

  // Fills where the signed distance (negative inside) is below zero, anti-aliased over one
  // pixel; the colour may vary with the position.
  void Fill(const std::function<float(float, float)>& distance,
            const std::function<Color(float, float)>& color) {
    for (int y = 0; y < height; ++y) {
      for (int x = 0; x < width; ++x) {
        float px = static_cast<float>(x) + 0.5f;
        float py = static_cast<float>(y) + 0.5f;
        float coverage = std::clamp(0.5f - distance(px, py), 0.0f, 1.0f);
        if (coverage > 0.0f) Blend(x, y, color(px, py), coverage);
      }
    }
  }
  void Fill(const std::function<float(float, float)>& distance, Color color) {
    Fill(distance, [color](float, float) { return color; });
  }

  std::vector<uint8_t> Rgba() const {
    std::vector<uint8_t> out;
    out.reserve(pixels.size() * 4);
    for (const Color& c : pixels) {
      for (float v : {c.r, c.g, c.b, c.a}) {
        out.push_back(static_cast<uint8_t>(std::lround(std::clamp(v, 0.0f, 1.0f) * 255.0f)));
      }
    }
    return out;
  }
};

// Signed distances.
float Circle(float x, float y, float cx, float cy, float r) {
  return std::hypot(x - cx, y - cy) - r;
}
float Ellipse(float x, float y, float cx, float cy, float rx, float ry) {
  float k = std::hypot((x - cx) / rx, (y - cy) / ry);
  return (k - 1.0f) * std::min(rx, ry);
}
float RoundedBox(float x, float y, float x0, float y0, float x1, float y1, float r) {
  float cx = (x0 + x1) / 2, cy = (y0 + y1) / 2;
  float hx = (x1 - x0) / 2 - r, hy = (y1 - y0) / 2 - r;
  float qx = std::fabs(x - cx) - hx, qy = std::fabs(y - cy) - hy;
  return std::hypot(std::max(qx, 0.0f), std::max(qy, 0.0f)) + std::min(std::max(qx, qy), 0.0f) - r;
}
// Distance to a convex polygon given counter-clockwise or clockwise; negative inside.
float Polygon(float x, float y, const std::vector<std::pair<float, float>>& p) {
  float best = 1e9f;
  bool inside = false;
  for (size_t i = 0, j = p.size() - 1; i < p.size(); j = i++) {
    float ex = p[i].first - p[j].first, ey = p[i].second - p[j].second;
    float wx = x - p[j].first, wy = y - p[j].second;
    float t = std::clamp((wx * ex + wy * ey) / (ex * ex + ey * ey), 0.0f, 1.0f);
    best = std::min(best, std::hypot(wx - ex * t, wy - ey * t));
    if (((p[i].second > y) != (p[j].second > y)) &&
        (x < (p[j].first - p[i].first) * (y - p[i].second) / (p[j].second - p[i].second) +
                 p[i].first)) {
      inside = !inside;
    }
  }
  return inside ? -best : best;
}

constexpr float Pi = 3.14159265f;

// A 5x7 pixel font for the few capitals the sample writes.
const char* Glyph(char c) {
  switch (c) {
    case 'A':
      return " ### #   ##   #######   ##   ##   #";
    case 'K':
      return "#   ##  # # #  ##   # #  #  #   #";
    case 'L':
      return "#    #    #    #    #    #    #####";
    case 'O':
      return " ### #   ##   ##   ##   ##   # ### ";
    case 'P':
      return "#### #   ##   ##### #    #    #    ";
    case 'R':
      return "#### #   ##   ##### # #  #  # #   #";
    case 'V':
      return "#   ##   ##   ##   ##   # # #   #  ";
    case 'Y':
      return "#   ##   # # #   #    #    #    #  ";
    default:
      return "                                   ";
  }
}

void Text(Canvas& canvas, const std::string& text, int x0, int y0, int scale, Color color) {
  for (size_t i = 0; i < text.size(); ++i) {
    const char* glyph = Glyph(text[i]);
    std::string bits(glyph);
    bits.resize(35, ' ');
    for (int gy = 0; gy < 7; ++gy) {
      for (int gx = 0; gx < 5; ++gx) {
        if (bits[static_cast<size_t>(gy * 5 + gx)] != '#') continue;
        for (int sy = 0; sy < scale; ++sy) {
          for (int sx = 0; sx < scale; ++sx) {
            canvas.Blend(x0 + static_cast<int>(i) * 6 * scale + gx * scale + sx,
                         y0 + gy * scale + sy, color, 1.0f);
          }
        }
      }
    }
  }
}

Canvas Coin(int frame, int frames) {
  Canvas c(32, 32);
  float angle = 2 * Pi * static_cast<float>(frame) / static_cast<float>(frames);
  float rx = std::max(1.5f, 13.0f * std::fabs(std::cos(angle)));
  Color rim{0.62f, 0.42f, 0.05f, 1}, face{1.0f, 0.82f, 0.2f, 1}, shine{1.0f, 0.97f, 0.7f, 1};
  c.Fill([&](float x, float y) { return Ellipse(x, y, 16, 16, rx + 1.5f, 14.5f); }, rim);
  c.Fill([&](float x, float y) { return Ellipse(x, y, 16, 16, rx, 13); },
         [&](float, float y) { return Mix(face, rim, std::clamp((y - 6) / 30, 0.0f, 1.0f)); });
  if (rx > 4) {
    c.Fill([&](float x, float y) { return Ellipse(x, y, 16, 16, rx * 0.45f, 7); },
           Color{0.85f, 0.6f, 0.1f, 1});
    c.Fill([&](float x, float y) { return Ellipse(x, y, 16 - rx * 0.4f, 10, rx * 0.15f, 3); },
           shine);
  }
  return c;
}

Canvas Slime(int frame, int frames) {
  Canvas c(48, 48);
  float t = static_cast<float>(frame) / static_cast<float>(frames);
  float hop = std::fabs(std::sin(Pi * t));  // 0 on the ground, 1 at the top
  float squash = 1.0f - 0.35f * (1.0f - hop) * (1.0f - hop);
  float ry = 13.0f * squash + 3.0f * hop, rx = 26.0f - ry;
  float cy = 44.0f - ry - 14.0f * hop;
  c.Fill([&](float x, float y) { return Ellipse(x, y, 24, 46, 14 - 4 * hop, 2.5f); },
         Color{0, 0, 0, 0.35f});
  Color light{0.55f, 0.95f, 0.45f, 1}, dark{0.1f, 0.55f, 0.2f, 1};
  c.Fill([&](float x, float y) { return Ellipse(x, y, 24, cy, rx, ry); },
         [&](float, float y) {
           return Mix(light, dark, std::clamp((y - cy + ry) / (2 * ry), 0.0f, 1.0f));
         });
  c.Fill([&](float x, float y) { return Ellipse(x, y, 17, cy - ry * 0.45f, 4, 2.2f); },
         Color{1, 1, 1, 0.7f});
  for (float ex : {19.0f, 29.0f}) {
    c.Fill([&](float x, float y) { return Ellipse(x, y, ex, cy - 1, 3, 3.8f * squash); },
           Color{1, 1, 1, 1});
    c.Fill([&](float x, float y) { return Circle(x, y, ex + 0.8f, cy, 1.7f); },
           Color{0.05f, 0.1f, 0.05f, 1});
  }
  return c;
}

Canvas Flame(int frame, int frames) {
  Canvas c(32, 48);
  float t = 2 * Pi * static_cast<float>(frame) / static_cast<float>(frames);
  struct Layer {
    float scale;
    Color color;
  } layers[] = {{1.0f, {0.85f, 0.15f, 0.05f, 0.9f}},
                {0.72f, {1.0f, 0.55f, 0.05f, 1}},
                {0.45f, {1.0f, 0.92f, 0.4f, 1}}};
  for (const Layer& layer : layers) {
    float r = 11.0f * layer.scale;
    float height = 34.0f * layer.scale + 3.0f * std::sin(t + layer.scale * 3);
    float baseY = 44.0f - r;
    c.Fill(
        [&](float x, float y) {
          // A teardrop: a circle at the base drawn up into a point that sways.
          float up = std::clamp((baseY - y) / height, 0.0f, 1.0f);
          float sway = 3.0f * std::sin(t * 1.0f + up * 3.0f) * up;
          float width = r * (1.0f - up) * std::sqrt(std::max(0.0f, 1.0f - up * 0.2f));
          float dx = std::fabs(x - 16 - sway);
          if (y > baseY) return Circle(x, y, 16, baseY, r);
          return std::max(dx - width, baseY - height - y);
        },
        layer.color);
  }
  return c;
}

Canvas Button() {
  Canvas c(96, 32);
  c.Fill([](float x, float y) { return RoundedBox(x, y, 1, 2, 95, 31, 7); }, Color{0, 0, 0, 0.4f});
  c.Fill([](float x, float y) { return RoundedBox(x, y, 0, 0, 94, 29, 7); },
         Color{0.1f, 0.2f, 0.45f, 1});
  Color top{0.35f, 0.6f, 1.0f, 1}, bottom{0.12f, 0.3f, 0.75f, 1};
  c.Fill([](float x, float y) { return RoundedBox(x, y, 1.5f, 1.5f, 92.5f, 27.5f, 6); },
         [&](float, float y) { return Mix(top, bottom, std::clamp(y / 28, 0.0f, 1.0f)); });
  c.Fill([](float x, float y) { return RoundedBox(x, y, 4, 3, 90, 12, 5); }, Color{1, 1, 1, 0.18f});
  c.Fill(
      [](float x, float y) {
        return Polygon(x, y, {{12, 8}, {12, 22}, {24, 15}});
      },
      Color{1, 1, 1, 1});
  Text(c, "PLAY", 34, 8, 2, Color{1, 1, 1, 1});
  return c;
}

Canvas Panel() {
  Canvas c(128, 96);
  c.Fill([](float x, float y) { return RoundedBox(x, y, 0, 0, 128, 96, 10); },
         Color{0.75f, 0.65f, 0.45f, 1});
  c.Fill([](float x, float y) { return RoundedBox(x, y, 3, 3, 125, 93, 8); },
         [](float, float y) {
           return Mix(Color{0.25f, 0.2f, 0.3f, 0.95f}, Color{0.12f, 0.1f, 0.16f, 0.95f},
                      std::clamp(y / 96, 0.0f, 1.0f));
         });
  c.Fill([](float x, float y) { return RoundedBox(x, y, 3, 3, 125, 22, 8); },
         Color{0.55f, 0.25f, 0.25f, 1});
  for (int i = 0; i < 4; ++i) {
    float y0 = 32.0f + 15.0f * static_cast<float>(i);
    c.Fill([=](float x, float y) { return RoundedBox(x, y, 12, y0, 116, y0 + 9, 3); },
           Color{1, 1, 1, 0.12f});
  }
  return c;
}

Canvas Icon(int which) {
  Canvas c(24, 24);
  switch (which) {
    case 0:  // heart
      c.Fill(
          [](float x, float y) {
            float d = std::min(Circle(x, y, 8, 9, 5.5f), Circle(x, y, 16, 9, 5.5f));
            return std::min(d, Polygon(x, y, {{3, 11}, {21, 11}, {12, 21}}));
          },
          Color{0.9f, 0.15f, 0.25f, 1});
      c.Fill([](float x, float y) { return Circle(x, y, 7, 8, 1.8f); }, Color{1, 1, 1, 0.8f});
      break;
    case 1: {  // star
      std::vector<std::pair<float, float>> points;
      for (int k = 0; k < 10; ++k) {
        float a = -Pi / 2 + static_cast<float>(k) * Pi / 5;
        float r = k % 2 == 0 ? 11.0f : 4.6f;
        points.push_back({12 + r * std::cos(a), 12.5f + r * std::sin(a)});
      }
      // The star is not convex: fill each point's triangle with the centre.
      for (int k = 0; k < 10; ++k) {
        auto a = points[static_cast<size_t>(k)], b = points[static_cast<size_t>((k + 1) % 10)];
        c.Fill(
            [=](float x, float y) {
              return Polygon(x, y, {{12, 12.5f}, a, b}) + 0.3f;
            },
            Color{1.0f, 0.8f, 0.1f, 1});
      }
      break;
    }
    case 2:  // gem
      c.Fill(
          [](float x, float y) {
            return Polygon(x, y, {{6, 4}, {18, 4}, {22, 10}, {12, 21}, {2, 10}});
          },
          Color{0.2f, 0.75f, 0.95f, 1});
      c.Fill(
          [](float x, float y) {
            return Polygon(x, y, {{6, 4}, {18, 4}, {22, 10}, {2, 10}});
          },
          Color{0.6f, 0.92f, 1.0f, 1});
      break;
    default:  // shield
      c.Fill(
          [](float x, float y) {
            return std::min(RoundedBox(x, y, 4, 2, 20, 12, 2),
                            Polygon(x, y, {{4, 10}, {20, 10}, {12, 22}}));
          },
          Color{0.55f, 0.58f, 0.65f, 1});
      c.Fill(
          [](float x, float y) {
            return Polygon(x, y, {{12, 4}, {18, 4}, {18, 12}, {12, 19}});
          },
          Color{0.3f, 0.35f, 0.75f, 1});
      break;
  }
  return c;
}

Canvas Logo() {
  Canvas c(100, 30);
  c.Fill([](float x, float y) { return RoundedBox(x, y, 0, 0, 100, 30, 6); },
         [](float x, float) {
           return Mix(Color{0.55f, 0.1f, 0.6f, 1}, Color{0.95f, 0.45f, 0.15f, 1},
                      std::clamp(x / 100, 0.0f, 1.0f));
         });
  Text(c, "KORVO", 6, 5, 3, Color{0, 0, 0, 0.35f});
  Text(c, "KORVO", 5, 4, 3, Color{1, 1, 1, 1});
  return c;
}

Canvas Cursor() {
  Canvas c(16, 16);
  std::vector<std::pair<float, float>> arrow = {{1, 1},  {1, 14},      {4.5f, 10.5f}, {7, 15},
                                                {9, 14}, {6.8f, 9.5f}, {11.5f, 9.5f}};
  c.Fill([&](float x, float y) { return Polygon(x, y, arrow) - 0.9f; }, Color{0, 0, 0, 1});
  c.Fill([&](float x, float y) { return Polygon(x, y, arrow) + 0.4f; }, Color{1, 1, 1, 1});
  return c;
}

bool WritePng(const fs::path& path, const Canvas& canvas) {
  std::vector<uint8_t> rgba = canvas.Rgba();
  spng_ctx* context = spng_ctx_new(SPNG_CTX_ENCODER);
  if (context == nullptr) return false;
  spng_set_option(context, SPNG_ENCODE_TO_BUFFER, 1);
  spng_ihdr header{};
  header.width = static_cast<uint32_t>(canvas.width);
  header.height = static_cast<uint32_t>(canvas.height);
  header.bit_depth = 8;
  header.color_type = SPNG_COLOR_TYPE_TRUECOLOR_ALPHA;
  int error = spng_set_ihdr(context, &header);
  if (error == 0) {
    error =
        spng_encode_image(context, rgba.data(), rgba.size(), SPNG_FMT_PNG, SPNG_ENCODE_FINALIZE);
  }
  size_t length = 0;
  void* data = error == 0 ? spng_get_png_buffer(context, &length, &error) : nullptr;
  spng_ctx_free(context);
  if (data == nullptr) {
    std::fprintf(stderr, "korvo_demo_sample: %s: %s\n", path.string().c_str(),
                 spng_strerror(error));
    return false;
  }
  std::ofstream out(path, std::ios::binary);
  out.write(static_cast<const char*>(data), static_cast<std::streamsize>(length));
  std::free(data);
  return static_cast<bool>(out);
}

struct Image {
  std::string where;  // "pak", "extra" or "disk"
  std::string name;   // resource name
  int format;
  std::string tile;  // "WxH", or "-" to let the writer choose
  std::vector<Canvas> frames;
};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: korvo_demo_sample <work-dir>\n");
    return 2;
  }
  fs::path work(argv[1]);
  std::error_code ec;
  fs::create_directories(work / "png", ec);
  fs::create_directories(work / "pak" / "data" / "text", ec);
  fs::create_directories(work / "pak" / "data" / "config", ec);

  std::vector<Image> images;
  auto animate = [](int count, Canvas (*draw)(int, int)) {
    std::vector<Canvas> frames;
    for (int i = 0; i < count; ++i) frames.push_back(draw(i, count));
    return frames;
  };
  images.push_back({"pak", "data/sprites/coin.img", 3, "16x16", animate(8, Coin)});
  images.push_back({"pak", "data/sprites/slime.img", 1, "16x16", animate(6, Slime)});
  images.push_back({"pak", "data/sprites/flame.img", 3, "32x16", animate(8, Flame)});
  images.push_back({"pak", "data/ui/button.img", 3, "32x32", {Button()}});
  images.push_back({"pak", "data/ui/panel.img", 1, "32x32", {Panel()}});
  images.push_back({"pak", "data/ui/icons.img", 3, "8x8", {Icon(0), Icon(1), Icon(2), Icon(3)}});
  images.push_back({"extra", "data/ui/logo.img", 3, "-", {Logo()}});
  images.push_back({"disk", "data/ui/cursor.img", 1, "8x8", {Cursor()}});

  std::ofstream manifest(work / "manifest.txt");
  for (const Image& image : images) {
    std::string stem = fs::path(image.name).stem().string();
    manifest << image.where << ' ' << image.name << ' ' << image.format << ' ' << image.tile;
    for (size_t i = 0; i < image.frames.size(); ++i) {
      fs::path png = work / "png" / (stem + "_" + std::to_string(i) + ".png");
      if (!WritePng(png, image.frames[i])) return 1;
      manifest << ' ' << png.string();
    }
    manifest << '\n';
  }

  std::ofstream(work / "pak" / "data" / "text" / "readme.txt")
      << "KorvoLoader sample content\n"
         "==========================\n"
         "Sprites: coin (8 frames), slime (6 frames), flame (8 frames).\n"
         "UI: button, panel, icons (4 frames); the logo comes in extra.pak; the cursor stays on "
         "disk.\n";
  std::ofstream(work / "pak" / "data" / "text" / "strings_en.txt")
      << "menu.play=Play\nmenu.options=Options\nmenu.quit=Quit\nhud.coins=Coins: %d\n";
  std::ofstream(work / "pak" / "data" / "config" / "game.ini")
      << "[video]\nwidth=1280\nheight=720\n\n[audio]\nvolume=80\n";
  if (!manifest) {
    std::fprintf(stderr, "korvo_demo_sample: cannot write %s\n",
                 (work / "manifest.txt").string().c_str());
    return 1;
  }
  std::printf("sample written to %s: %zu images\n", work.string().c_str(), images.size());
  return 0;
}
