// Writes the About box picture: a hill-shade of a terrain like the demo's (hills, a valley,
// a terrace edge), coloured by height. Build and run once:
//   g++ -O2 -std=c++20 make_about_picture.cpp -ljpeg -o /tmp/mkpic && /tmp/mkpic about.jpg
#include <cstddef>
#include <cstdio>

#include <jpeglib.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

namespace {

double Height(double x, double y) {  // x, y in 0..1000 m
    auto hill = [](double x, double y, double cx, double cy, double r, double h) {
        const double d2 = ((x - cx) * (x - cx) + (y - cy) * (y - cy)) / (r * r);
        return h * std::exp(-d2);
    };
    double z = 80.0 + 0.02 * x;
    z += hill(x, y, 300, 650, 180, 45) + hill(x, y, 720, 300, 220, 60) + hill(x, y, 820, 800, 120, 25);
    // A valley winding from the south-west to the north-east.
    const double vc = 200 + 0.6 * x + 60 * std::sin(x / 130.0);
    z -= 30.0 * std::exp(-((y - vc) * (y - vc)) / (2 * 45.0 * 45.0));
    // A terrace edge: a step of 6 m along a line.
    z += 6.0 / (1.0 + std::exp(-(x + 0.5 * y - 900.0) / 6.0));
    return z;
}

void Tint(double t, double& r, double& g, double& b) {  // t 0..1: green - ochre - brown - white
    const double stops[5][3] = {{70, 130, 70}, {150, 170, 90}, {200, 170, 100}, {150, 100, 60}, {240, 235, 225}};
    t = std::clamp(t, 0.0, 1.0) * 4.0;
    const int i = std::min(3, static_cast<int>(t));
    const double f = t - i;
    r = stops[i][0] + (stops[i + 1][0] - stops[i][0]) * f;
    g = stops[i][1] + (stops[i + 1][1] - stops[i][1]) * f;
    b = stops[i][2] + (stops[i + 1][2] - stops[i][2]) * f;
}

}  // namespace

int main(int argc, char** argv) {
    const char* out = argc > 1 ? argv[1] : "about.jpg";
    const int w = 112, h = 112;
    const double cell = 1000.0 / w;
    std::vector<double> z(static_cast<size_t>(w + 2) * (h + 2));
    double zmin = 1e9, zmax = -1e9;
    for (int j = 0; j < h + 2; ++j)
        for (int i = 0; i < w + 2; ++i) {
            const double v = Height((i - 1) * cell, 1000.0 - (j - 1) * cell);
            z[static_cast<size_t>(j) * (w + 2) + i] = v;
            zmin = std::min(zmin, v);
            zmax = std::max(zmax, v);
        }
    std::vector<unsigned char> rgb(static_cast<size_t>(w) * h * 3);
    const double az = 315.0 * M_PI / 180.0, alt = 40.0 * M_PI / 180.0;
    for (int j = 0; j < h; ++j)
        for (int i = 0; i < w; ++i) {
            auto Z = [&](int di, int dj) { return z[static_cast<size_t>(j + 1 + dj) * (w + 2) + (i + 1 + di)]; };
            const double dzdx = (Z(1, 0) - Z(-1, 0)) / (2 * cell) * 9.0;
            const double dzdy = (Z(0, -1) - Z(0, 1)) / (2 * cell) * 9.0;
            const double slope = std::atan(std::hypot(dzdx, dzdy));
            const double aspect = std::atan2(dzdy, -dzdx);
            double shade = std::cos(alt) * std::cos(slope) + std::sin(alt) * std::sin(slope) * std::cos(az - aspect);
            shade = std::clamp(0.35 + 0.75 * shade, 0.0, 1.15);
            double r, g, b;
            Tint((Z(0, 0) - zmin) / (zmax - zmin), r, g, b);
            unsigned char* p = &rgb[(static_cast<size_t>(j) * w + i) * 3];
            p[0] = static_cast<unsigned char>(std::clamp(r * shade, 0.0, 255.0));
            p[1] = static_cast<unsigned char>(std::clamp(g * shade, 0.0, 255.0));
            p[2] = static_cast<unsigned char>(std::clamp(b * shade, 0.0, 255.0));
        }

    FILE* f = std::fopen(out, "wb");
    if (!f) return 1;
    jpeg_compress_struct c;
    jpeg_error_mgr err;
    c.err = jpeg_std_error(&err);
    jpeg_create_compress(&c);
    jpeg_stdio_dest(&c, f);
    c.image_width = w;
    c.image_height = h;
    c.input_components = 3;
    c.in_color_space = JCS_RGB;
    jpeg_set_defaults(&c);
    jpeg_set_quality(&c, 90, TRUE);
    jpeg_start_compress(&c, TRUE);
    while (c.next_scanline < c.image_height) {
        JSAMPROW row = &rgb[static_cast<size_t>(c.next_scanline) * w * 3];
        jpeg_write_scanlines(&c, &row, 1);
    }
    jpeg_finish_compress(&c);
    jpeg_destroy_compress(&c);
    std::fclose(f);
    return 0;
}
