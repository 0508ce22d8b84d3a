#include "plot/SampleText.h"

#include "common/Text.h"

#include <array>
#include <string>
#include <string_view>

namespace {

struct Offset {
    int X;
    int Y;
};

// Where each circle's pen goes down, in drawing order (thousandths of an
// inch). The start point is the circle's rightmost point.
constexpr std::array<Offset, 51> StartPoints{{
    {415, 1231}, {254, 1179}, {135, 1045}, {120, 866},  {215, 712},  {338, 576},  {434, 423},  {415, 245},  {294, 111},
    {132, 60},   {878, 800},  {889, 626},  {889, 441},  {889, 255},  {900, 81},   {1967, 209}, {1827, 104}, {1639, 86},
    {1468, 163}, {1324, 420}, {1368, 588}, {1489, 731}, {1662, 803}, {1847, 770}, {1994, 651}, {1825, 490}, {1643, 339},
    {1364, 269}, {2431, 81},  {2420, 283}, {2420, 497}, {2467, 700}, {2635, 815}, {3032, 81},  {3021, 283}, {3021, 497},
    {3067, 700}, {3236, 815}, {4136, 99},  {3955, 81},  {3782, 150}, {3663, 292}, {3633, 474}, {3695, 649}, {3833, 773},
    {4013, 819}, {4189, 761}, {4315, 626}, {4365, 446}, {4366, 257}, {4377, 81},
}};

// A 16-sided circle of radius 60 around the centre, counter-clockwise from
// just past the start point and ending on it again.
constexpr std::array<Offset, 16> CircleOffsets{{
    {55, 23},
    {42, 42},
    {23, 55},
    {0, 60},
    {-23, 55},
    {-42, 42},
    {-55, 23},
    {-60, 0},
    {-55, -23},
    {-42, -42},
    {-23, -55},
    {0, -60},
    {23, -55},
    {42, -42},
    {55, -23},
    {60, 0},
}};

constexpr int CircleRadius = 60;

// "PU415 1231;": written plainly, since every Cut builds these lines first
// and a general pattern costs more than the rest of reading them.
std::string Command(std::string_view name, int x, int y)
{
    std::string line(name);
    line += std::to_string(x);
    line += ' ';
    line += std::to_string(y);
    line += ';';
    return line;
}

} // namespace

std::vector<std::string> BuiltInSampleLines()
{
    std::vector<std::string> lines;
    lines.reserve(2 + StartPoints.size() * (2 + CircleOffsets.size()));
    lines.push_back("IN;");
    for (const Offset& start : StartPoints) {
        lines.push_back("SP1;");
        lines.push_back(Command("PU", start.X, start.Y));
        const int centreX = start.X - CircleRadius;
        for (const Offset& o : CircleOffsets)
            lines.push_back(Command("PD", centreX + o.X, start.Y + o.Y));
    }
    lines.push_back("SP0;");
    return lines;
}

std::string BuiltInSampleText()
{
    return Join(BuiltInSampleLines(), "\n");
}
