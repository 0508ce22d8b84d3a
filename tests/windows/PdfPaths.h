#pragma once

// Reads back the strokes of a PDF job (what the private server's driver
// queue keeps of a GDI job): every page content stream, inflated, with its
// transforms applied. Enough of the format for checking where lines land.

#include <zlib.h>

#include <array>
#include <cstdlib>
#include <optional>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

struct PdfPointMm {
    double X = 0;
    double Y = 0;
};
using PdfStroke = std::vector<PdfPointMm>;

inline std::string InflatePdfStream(const std::string& data)
{
    z_stream z{};
    if (inflateInit(&z) != Z_OK)
        return {};
    std::string out;
    char buffer[65536];
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    z.avail_in = static_cast<uInt>(data.size());
    int status = Z_OK;
    while (status == Z_OK) {
        z.next_out = reinterpret_cast<Bytef*>(buffer);
        z.avail_out = sizeof buffer;
        status = inflate(&z, Z_NO_FLUSH);
        out.append(buffer, sizeof buffer - z.avail_out);
    }
    inflateEnd(&z);
    return out;
}

// Every stroked subpath, in mm from the page's lower-left corner.
inline std::vector<PdfStroke> ReadPdfStrokesMm(const std::string& pdf)
{
    using Matrix = std::array<double, 6>;
    const auto times = [](const Matrix& a, const Matrix& b) {
        return Matrix{a[0] * b[0] + a[1] * b[2], a[0] * b[1] + a[1] * b[3],        a[2] * b[0] + a[3] * b[2],
                      a[2] * b[1] + a[3] * b[3], a[4] * b[0] + a[5] * b[2] + b[4], a[4] * b[1] + a[5] * b[3] + b[5]};
    };
    std::vector<PdfStroke> strokes;
    for (size_t at = pdf.find("stream"); at != std::string::npos; at = pdf.find("stream", at + 1)) {
        if (at >= 3 && pdf.compare(at - 3, 3, "end") == 0)
            continue;
        size_t begin = at + 6;
        begin += pdf[begin] == '\r' ? 2 : 1;
        const size_t end = pdf.find("endstream", begin);
        if (end == std::string::npos)
            break;
        const bool flate =
            pdf.rfind("/FlateDecode", at) != std::string::npos && pdf.rfind("/FlateDecode", at) > pdf.rfind("obj", at);
        std::istringstream content(flate ? InflatePdfStream(pdf.substr(begin, end - begin))
                                         : pdf.substr(begin, end - begin));
        Matrix ctm{1, 0, 0, 1, 0, 0};
        std::vector<Matrix> saved;
        std::vector<double> numbers;
        std::vector<PdfStroke> path;
        const auto mm = [&](double x, double y) {
            constexpr double MmPerPt = 25.4 / 72;
            return PdfPointMm{(x * ctm[0] + y * ctm[2] + ctm[4]) * MmPerPt,
                              (x * ctm[1] + y * ctm[3] + ctm[5]) * MmPerPt};
        };
        for (std::string token; content >> token;) {
            char* rest = nullptr;
            const double value = std::strtod(token.c_str(), &rest);
            if (rest && *rest == '\0' && rest != token.c_str()) {
                numbers.push_back(value);
                continue;
            }
            const size_t n = numbers.size();
            if (token == "q") {
                saved.push_back(ctm);
            } else if (token == "Q" && !saved.empty()) {
                ctm = saved.back();
                saved.pop_back();
            } else if (token == "cm" && n >= 6) {
                ctm = times(
                    {numbers[n - 6], numbers[n - 5], numbers[n - 4], numbers[n - 3], numbers[n - 2], numbers[n - 1]},
                    ctm);
            } else if (token == "m" && n >= 2) {
                path.push_back({mm(numbers[n - 2], numbers[n - 1])});
            } else if (token == "l" && n >= 2 && !path.empty()) {
                path.back().push_back(mm(numbers[n - 2], numbers[n - 1]));
            } else if (token == "h" && !path.empty() && !path.back().empty()) {
                path.back().push_back(path.back().front());
            } else if (token == "S" || token == "s") {
                strokes.insert(strokes.end(), path.begin(), path.end());
                path.clear();
            } else if (token == "n" || token == "f" || token == "B") {
                path.clear();
            }
            numbers.clear();
        }
    }
    return strokes;
}

// The first page's size in mm (its MediaBox, turned by its Rotate); nullopt
// when the PDF gives none.
inline std::optional<PdfPointMm> ReadPdfPageSizeMm(const std::string& pdf)
{
    const size_t box = pdf.find("/MediaBox");
    if (box == std::string::npos)
        return std::nullopt;
    std::istringstream numbers(pdf.substr(pdf.find('[', box) + 1));
    double x0 = 0, y0 = 0, x1 = 0, y1 = 0;
    if (!(numbers >> x0 >> y0 >> x1 >> y1))
        return std::nullopt;
    constexpr double MmPerPt = 25.4 / 72;
    PdfPointMm size{(x1 - x0) * MmPerPt, (y1 - y0) * MmPerPt};
    if (const size_t rotate = pdf.find("/Rotate"); rotate != std::string::npos) {
        const int degrees = std::atoi(pdf.c_str() + rotate + 7);
        if (degrees % 180 != 0)
            std::swap(size.X, size.Y);
    }
    return size;
}
